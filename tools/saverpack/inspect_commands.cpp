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
#include "payload_checks.h"

namespace saverpack {
namespace {

std::string Quoted(const std::string& cp1252) {
  std::string out = "\"";
  for (char c : Cp1252ToUtf8(cp1252)) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\u%04x", c);
          out += escape;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

const char* ContentWords(uint8_t mode) {
  switch (mode) {
    case cmPicture: return "picture";
    case cmFlashMovie: case cmFlashMovieToo: return "Flash movie";
    case cmSilent: return "silent installation";
    default: return "nothing shown";
  }
}

TPayloadHeader HeaderOrThrow(const std::string& path, const std::vector<uint8_t>& file) {
  const auto header = HeaderOfInstaller(file);
  if (!header)
    throw ToolError(path + ": " + std::to_string(file.size()) +
                    " bytes: too short for an installer, whose payload header ends at " +
                    std::to_string(kFirstMemberOffset));
  return *header;
}

std::string SignatureLine(const TPayloadHeader& h, std::span<const uint8_t> file) {
  const SignatureInfo s = ReadSignature(file, PayloadEnd(h));
  if (!s.signed_) return "Signature: none";
  std::string line = "Signature: Authenticode, " + std::to_string(s.size) + " bytes at " +
                     std::to_string(s.offset);
  if (!s.signer.empty()) line += ", signed by " + Quoted(s.signer);
  if (!s.problem.empty()) line += " (" + s.problem + ")";
  return line;
}

// Whether bytes hold our screen-saver launcher: its version record names it.
bool IsOurLauncher(const std::vector<uint8_t>& bytes) {
  static const std::string kWide = [] {
    std::string wide;
    for (char c : std::string("Screen Saver Launcher")) wide += {c, '\0'};
    return wide;
  }();
  return std::search(bytes.begin(), bytes.end(), kWide.begin(), kWide.end()) != bytes.end();
}

// Whether the uninstall entry, "<Windows>\<SaverName>.scr /u", runs the program slot's file.
bool EntryRunsTheProgram(const TPayloadHeader& h) {
  const TPayloadMember& program = h.Members[msSaverEngine];
  return SameFileName(MemberFileName(program), SaverNameOf(h) + ".scr") && program.Destination == 2;
}

// What the uninstall entry will run.
std::string UninstallLine(const TPayloadHeader& h, const std::vector<uint8_t>& file) {
  const std::string expected = SaverNameOf(h) + ".scr";
  const TPayloadMember& program = h.Members[msSaverEngine];
  if (IsEmptySlot(program)) return "Uninstall: no program in slot 6";
  if (!EntryRunsTheProgram(h))
    return "Uninstall: the entry runs " + Quoted("<Windows>\\" + expected + " /u") + ", which this installer does not "
           "place (slot 6 is " + Quoted(MemberFileName(program)) + ")";
  const MemberContent content = ExpandMember(file, program);
  if (!content.problem.empty() || !IsOurLauncher(content.bytes))
    return "Uninstall: the program in slot 6 handles " + Quoted("/u") + " itself";
  std::string where = "not found";
  if (SameFileName(MemberFileName(h.Members[msExtraFile]), expected)) where = "slot 7";
  const auto data = DataFileOf(h, file);
  for (size_t i = 0; where == "not found" && data.present && i < data.table.Entries.size(); ++i)
    if (SameFileName(EntryNameOf(data.table.Entries[i]), expected)) where = "data-file entry " + std::to_string(i + 1);
  return "Uninstall: slot 6 is the screen-saver launcher, which removes the screen saver; the author's program is " +
         Quoted(expected) + " in the saver's folder (" + where + ")";
}

void ListText(const TPayloadHeader& h, const std::vector<uint8_t>& file) {
  std::cout << "ContentMode " << int(h.ContentMode) << " (" << ContentWords(h.ContentMode)
            << "), HasLicense " << int(h.HasLicense) << ", ShowDocument " << int(h.ShowDocument)
            << ", OpenDisplayProperties " << int(h.OpenDisplayProperties) << "\n"
            << "SaverName " << Quoted(SaverNameOf(h)) << "\n\n";
  char line[256];
  std::snprintf(line, sizeof line, "%-4s %-16s %-24s %4s %-11s %10s %10s %10s  %s\n", "slot", "role",
                "name", "dest", "coding", "stored", "file size", "packed", "offsets");
  std::cout << line;
  for (int slot = 0; slot < kMemberCount; ++slot) {
    const TPayloadMember& m = h.Members[slot];
    if (IsEmptySlot(m)) {
      std::snprintf(line, sizeof line, "%-4d %-16s (empty)\n", slot, SlotKey(slot));
    } else {
      std::snprintf(line, sizeof line, "%-4d %-16s %-24s %4d %-11s %10lld %10d %10d  %d..%d\n", slot,
                    SlotKey(slot), Cp1252ToUtf8(MemberFileName(m)).c_str(), int(m.Destination),
                    CodingOf(file, m).c_str(), static_cast<long long>(StoredLength(m)),
                    int(m.FileSize), int(m.PackedSize), int(m.StartOffset), int(m.EndOffset));
    }
    std::cout << line;
    if (const int owner = SameBytesAs(h, slot))
      std::cout << "     filled in: the same bytes as slot " << owner << "\n";
  }
  std::cout << "\n" << UninstallLine(h, file) << "\n" << SignatureLine(h, file) << "\n";
  const auto data = DataFileOf(h, file);
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
    std::cout << "  entry " << i + 1 << ": " << Quoted(EntryNameOf(e)) << ", kind "
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

void ListJson(const TPayloadHeader& h, const std::vector<uint8_t>& file) {
  std::ostringstream out;
  out << "{\n  \"content_mode\": " << int(h.ContentMode) << ",\n  \"has_license\": "
      << int(h.HasLicense) << ",\n  \"show_document\": " << int(h.ShowDocument)
      << ",\n  \"open_display_properties\": " << int(h.OpenDisplayProperties)
      << ",\n  \"saver_name\": " << Quoted(SaverNameOf(h)) << ",\n  \"slots\": [";
  for (int slot = 0; slot < kMemberCount; ++slot) {
    const TPayloadMember& m = h.Members[slot];
    out << (slot ? "," : "") << "\n    {\"slot\": " << slot << ", \"role\": \"" << SlotKey(slot) << "\"";
    if (IsEmptySlot(m)) {
      out << ", \"empty\": true}";
      continue;
    }
    out << ", \"empty\": false, \"name\": " << Quoted(MemberFileName(m))
        << ", \"destination\": " << m.Destination
        << ", \"compressed\": " << (m.Compressed ? "true" : "false")
        << ", \"coding\": \"" << CodingOf(file, m) << "\""
        << ", \"stored_size\": " << StoredLength(m) << ", \"file_size\": " << m.FileSize
        << ", \"packed_size\": " << m.PackedSize << ", \"start_offset\": " << m.StartOffset
        << ", \"end_offset\": " << m.EndOffset << ", \"same_bytes_as\": " << SameBytesAs(h, slot)
        << "}";
  }
  out << "\n  ]";
  const SignatureInfo signature = ReadSignature(file, PayloadEnd(h));
  out << ",\n  \"signature\": ";
  if (signature.signed_)
    out << "{\"size\": " << signature.size << ", \"offset\": " << signature.offset
        << ", \"signer\": " << Quoted(signature.signer) << ", \"sound\": "
        << (signature.problem.empty() ? "true" : "false") << "}";
  else
    out << "null";
  const auto data = DataFileOf(h, file);
  if (data.present && data.problem.empty()) {
    out << ",\n  \"data_file\": {\"entry_count\": " << data.table.Header.EntryCount
        << ", \"movie_source\": " << data.table.Header.MovieSource << ", \"entries\": [";
    for (size_t i = 0; i < data.table.Entries.size(); ++i) {
      const TDataFileEntry& e = data.table.Entries[i];
      const TChunkHeader& c = data.chunks[i].chunk.Header;
      out << (i ? "," : "") << "\n    {\"index\": " << i + 1 << ", \"name\": " << Quoted(EntryNameOf(e))
          << ", \"kind\": " << int(e.EntryKind) << ", \"chunk_offset\": " << e.ChunkOffset;
      if (data.chunks[i].fault == TChunkFault::None)
        out << ", \"file_size\": " << c.FileSize << ", \"compressed\": " << (c.Compressed ? "true" : "false")
            << ", \"packed_size\": " << c.PackedSize << ", \"coding\": \""
            << StreamCoding(data.chunks[i].chunk.Data, c.Compressed) << "\"" << ", \"chunk_kind\": " << int(c.ChunkKind);
      out << "}";
    }
    out << "\n  ]}";
  }
  out << "\n}\n";
  std::cout << out.str();
}

void RunList(const std::string& path, bool json) {
  const auto file = ReadFile(path);
  const TPayloadHeader header = HeaderOrThrow(path, file);
  if (json) ListJson(header, file);
  else ListText(header, file);
}

void RunVerify(const std::string& path) {
  const auto file = ReadFile(path);
  const auto problems = VerifyInstaller(file);
  for (const auto& problem : problems) std::cerr << path << ": " << problem << "\n";
  if (!problems.empty()) throw QuietFailure();
  const auto header = HeaderOfInstaller(file);
  // Sound, but the user's Uninstall would find no file: a warning, not a failure.
  if (!EntryRunsTheProgram(*header)) std::cerr << path << ": warning: " << UninstallLine(*header, file) << "\n";
  std::cout << path << ": sound; " << SignatureLine(*header, file) << "\n";
}

struct ExtractOptions {
  std::string file;
  std::string folder = ".";
  std::vector<std::string> slots;
};

void RunExtract(const ExtractOptions& o) {
  const auto file = ReadFile(o.file);
  HeaderOrThrow(o.file, file);
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
  const auto problems = ExtractInstaller(file, o.folder, slots);
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
  x->callback([extract] { RunExtract(*extract); });
}

}  // namespace saverpack
