// saverpack list / verify / extract: reading an installer file someone was given.
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <memory>
#include <sstream>

#include "commands.h"
#include "cp1252.h"
#include "dcl.h"
#include "file_io.h"
#include "inspect.h"
#include "signature.h"
#include "path_rules.h"
#include "project_writer.h"
#include "payload_checks.h"
#include "report.h"

namespace saverpack {
namespace {

const char* ContentWords(uint8_t mode) {
  switch (mode) {
    case cmPicture: return "picture";
    case cmFlashMovie: case cmFlashMovieToo: return "Flash movie";
    case cmSilent: return "silent installation";
    default: return "nothing shown";
  }
}

void ThrowUnlessInstaller(const std::string& path, const OpenedInstaller& opened) {
  if (!opened.Header())
    throw ToolError(path + ": " + std::to_string(opened.Bytes().size()) +
                    " bytes: too short for an installer, whose payload header ends at " +
                    std::to_string(kFirstMemberOffset));
}

void ListDataFile(const DataFileInfo& data) {
  if (!data.present) return;
  if (!data.problem.empty()) {
    std::cout << "\nData file: " << data.problem << "\n";
    return;
  }
  std::cout << "\nData file: EntryCount " << data.table.Header.EntryCount << ", MovieSource "
            << data.table.Header.MovieSource << "\n";
  for (size_t i = 0; i < data.table.Entries.size(); ++i) {
    const TDataFileEntry& e = data.table.Entries[i];
    const DataChunkInfo& c = data.chunks[i];
    std::cout << "  entry " << i + 1 << ": " << JsonQuoted(EntryNameOf(e)) << ", kind "
              << int(e.EntryKind) << ", chunk at " << e.ChunkOffset;
    if (c.fault != TChunkFault::None) {
      std::cout << ": " << ChunkFaultText(c.fault) << "\n";
    } else {
      std::cout << ": FileSize " << c.chunk.Header.FileSize << ", "
                << (c.chunk.Header.Compressed
                        ? "imploded " + std::to_string(c.chunk.Header.PackedSize) + " bytes (" +
                              StreamCoding(c.chunk.Data, true) + ")"
                        : std::string("plain"))
                << ", chunk kind " << int(c.chunk.Header.ChunkKind) << "\n";
    }
  }
}

void ListText(const OpenedInstaller& opened) {
  const TPayloadHeader& h = *opened.Header();
  std::cout << "ContentMode " << int(h.ContentMode) << " (" << ContentWords(h.ContentMode)
            << "), HasLicense " << int(h.HasLicense) << ", ShowDocument " << int(h.ShowDocument)
            << ", OpenDisplayProperties " << int(h.OpenDisplayProperties) << "\n"
            << "SaverName " << JsonQuoted(SaverNameOf(h)) << "\n\n";
  char line[256];
  std::snprintf(line, sizeof line, "%-4s %-16s %-24s %4s %-11s %10s %10s %10s  %s\n", "slot", "role",
                "name", "dest", "coding", "stored", "file size", "packed", "offsets");
  std::cout << line;
  for (int slot = 0; slot < kMemberCount; ++slot) {
    const MemberInfo& member = opened.Member(slot);
    const TPayloadMember& m = member.record;
    if (!member.used) {
      std::snprintf(line, sizeof line, "%-4d %-16s (empty)\n", slot, SlotKey(slot));
    } else {
      std::snprintf(line, sizeof line, "%-4d %-16s %-24s %4d %-11s %10lld %10d %10d  %d..%d\n", slot,
                    SlotKey(slot), Cp1252ToUtf8(MemberFileName(m)).c_str(), int(m.Destination),
                    member.coding.c_str(), static_cast<long long>(StoredLength(m)),
                    int(m.FileSize), int(m.PackedSize), int(m.StartOffset), int(m.EndOffset));
    }
    std::cout << line;
    if (const int owner = member.sameBytesAs)
      std::cout << "     filled in: the same bytes as slot " << owner << "\n";
  }
  std::cout << "\n" << UninstallLine(opened) << "\n" << SignatureLine(opened) << "\n";
  ListDataFile(opened.DataFile());
}

void RunList(const std::string& path, bool json) {
  const auto file = ReadFile(path);
  const OpenedInstaller opened(file);
  ThrowUnlessInstaller(path, opened);
  if (json) std::cout << ListJson(opened);
  else ListText(opened);
}

void RunVerify(const std::string& path) {
  const auto file = ReadFile(path);
  const VerifyReport report = VerifyReportOf(OpenedInstaller(file));
  for (const auto& problem : report.problems) std::cerr << path << ": " << problem << "\n";
  if (!report.Sound()) throw QuietFailure();
  for (const auto& warning : report.warnings) std::cerr << path << ": warning: " << warning << "\n";
  std::cout << path << ": " << report.verdict << "\n";
}

struct ExtractOptions {
  std::string file;
  std::string folder = ".";
  std::vector<std::string> slots;
  bool project = false;
};

// The members as extract writes them, and beside them the project that builds the installer
// again with the files it names. Nothing is written for an unsound installer.
void RunExtractProject(const ExtractOptions& o, const OpenedInstaller& opened) {
  const std::filesystem::path input(o.file);
  const ExtractedProject project = ProjectOfInstaller(opened, input.filename().string());
  for (const auto& problem : project.problems) std::cerr << o.file << ": " << problem << "\n";
  if (!project.problems.empty()) {
    std::cerr << o.file << ": no project written\n";
    throw QuietFailure();
  }
  const std::filesystem::path folder(o.folder);
  const auto problems = ExtractInstaller(opened, folder, {});
  for (const auto& problem : problems) std::cerr << o.file << ": " << problem << "\n";
  for (const ProjectFile& f : project.files)
    WriteFile(folder / f.path, f.bytes);
  const std::filesystem::path projectFile = folder / (input.stem().string() + ".toml");
  WriteFile(projectFile, std::vector<uint8_t>(project.text.begin(), project.text.end()));
  std::cout << "saverpack: wrote " << projectFile.string() << " and the " << project.files.size()
            << " files it names; saverpack build " << projectFile.string()
            << " builds what saverpack repack builds of " << o.file << "\n";
  if (!problems.empty()) throw QuietFailure();
}

void RunExtract(const ExtractOptions& o) {
  const auto file = ReadFile(o.file);
  const OpenedInstaller opened(file);
  ThrowUnlessInstaller(o.file, opened);
  if (o.project) {
    if (!o.slots.empty()) throw CLI::ValidationError("--project", "takes the whole installer; leave out the slots");
    return RunExtractProject(o, opened);
  }
  std::vector<int> slots;
  for (const std::string& word : o.slots) {
    auto slot = SlotByKey(word);
    if (!slot) {
      try {
        size_t used = 0;
        const int number = std::stoi(word, &used);
        if (used == word.size() && number >= 0 && number < kMemberCount) slot = number;
      } catch (const std::exception&) {
      }
    }
    if (!slot) throw CLI::ValidationError("SLOT", word + " is neither a slot number 0..10 nor a role");
    slots.push_back(*slot);
  }
  const auto problems = ExtractInstaller(opened, o.folder, slots);
  for (const auto& problem : problems) std::cerr << o.file << ": " << problem << "\n";
  if (!problems.empty()) throw QuietFailure();
}

}  // namespace

void AddInspectCommands(CLI::App& app) {
  auto list = std::make_shared<std::pair<std::string, bool>>();
  CLI::App* l = app.add_subcommand("list", "Show an installer's options, slots and data file");
  l->add_option("FILE", list->first, "The installer")->required();
  l->add_flag("--json", list->second, "Machine-readable output");
  l->callback([list] { RunList(list->first, list->second); });

  auto verify = std::make_shared<std::string>();
  CLI::App* v = app.add_subcommand("verify", "Check an installer as the installer would, and more");
  v->add_option("FILE", *verify, "The installer")->required();
  v->callback([verify] { RunVerify(*verify); });

  auto extract = std::make_shared<ExtractOptions>();
  CLI::App* x = app.add_subcommand("extract", "Write an installer's members (expanded) into a folder");
  x->add_option("FILE", extract->file, "The installer")->required();
  x->add_option("-C,--directory", extract->folder, "Folder to write into (default: the current one)");
  x->add_option("SLOT", extract->slots, "Slots to extract, by number or role (default: all used)");
  x->add_flag("--project", extract->project,
              "Also write FILE's project (FILE's name with .toml) and the files it names, the data "
              "file's settings and entries among them: saverpack build of it makes exactly what "
              "saverpack repack makes of FILE (the codec is the one beside saverpack, the program "
              "slot as it is: uninstall = \"as-is\")");
  x->callback([extract] { RunExtract(*extract); });
}

}  // namespace saverpack
