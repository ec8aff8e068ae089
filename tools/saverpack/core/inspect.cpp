#include "inspect.h"

#include "cp1252.h"
#include "file_io.h"

namespace saverpack {
namespace {

std::string SlotLabel(int slot) {
  return "slot " + std::to_string(slot) + " (" + SlotRole(slot) + ")";
}

bool CopiesTheMovie(const DataFileInfo& data) {
  const auto& entries = data.table.Entries;
  return CopiesContentMovie(data.table.Header.MovieSource, entries.size(),
                            entries.empty() ? 0 : entries[0].EntryKind,
                            !entries.empty() && entries[0].EntryName[0] != 0);
}

// The file of a data file entry that stores its own chunk, or null with the problem noted (a fault
// of the chunk's record or its bytes) or none (an empty file).
const ItemFile* SoundEntryFile(const OpenedInstaller& opened, size_t i, const std::string& label,
                               std::vector<std::string>& problems) {
  const DataChunkInfo& info = opened.DataFile().chunks[i];
  if (info.fault != TChunkFault::None) {
    problems.push_back(label + ": " + ChunkFaultText(info.fault));
    return nullptr;
  }
  if (info.chunk.Header.FileSize == 0) return nullptr;
  const ItemFile& file = opened.EntryFile(i);
  if (file.Sound()) return &file;
  problems.push_back(label + ": " + file.problem);
  return nullptr;
}

void VerifyEntry(const OpenedInstaller& opened, size_t i, std::vector<std::string>& problems) {
  const DataFileInfo& data = opened.DataFile();
  const std::string name = EntryNameOf(data.table.Entries[i]);
  const std::string label = "data file entry " + std::to_string(i + 1);
  if (name.empty()) return;  // skipped by the installer
  if (!IsPlainFileName(LastPathComponent(name)))
    problems.push_back(label + ": name \"" + Cp1252ToUtf8(name) + "\" leaves no file name");
  if (!opened.IsCopied(i)) SoundEntryFile(opened, i, label, problems);
}

void VerifyDataFile(const OpenedInstaller& opened, std::vector<std::string>& problems) {
  const DataFileInfo& data = opened.DataFile();
  if (!data.problem.empty()) {
    problems.push_back("data file: " + data.problem);
    return;
  }
  for (size_t i = 0; i < data.table.Entries.size(); ++i) VerifyEntry(opened, i, problems);
  if (CopiesTheMovie(data)) {
    const TPayloadHeader& header = *opened.Header();
    const TPayloadMember& content = header.Members[msContent];
    if (IsEmptySlot(content) || MemberFileName(content) != "installer.scf" ||
        header.ContentMode == cmPicture || header.ContentMode == cmSilent)
      problems.push_back("data file: copies the content movie, which the installer finds only as "
                         "installer.scf in a window that shows a movie");
  }
}

void VerifyMembers(const OpenedInstaller& opened, std::vector<std::string>& problems) {
  for (int slot = 1; slot < kMemberCount; ++slot) {
    const MemberInfo& member = opened.Member(slot);
    if (!member.used) continue;
    if (const std::string& problem = opened.FileProblem(slot); !problem.empty()) {
      problems.push_back(SlotLabel(slot) + ": " + problem);
    } else if (!member.record.Compressed && StoredLength(member.record) != member.record.FileSize) {
      problems.push_back(SlotLabel(slot) + ": stores " + std::to_string(StoredLength(member.record)) +
                         " bytes, but its FileSize is " + std::to_string(member.record.FileSize));
    }
  }
}

void WriteOrNote(const std::filesystem::path& path, std::span<const uint8_t> bytes,
                 std::vector<std::string>& problems) {
  try {
    WriteFile(path, bytes);
  } catch (const ToolError& e) {
    problems.push_back(e.what());
  }
}

void ExtractEntry(const OpenedInstaller& opened, size_t i, const std::filesystem::path& entries,
                  std::vector<std::string>& problems) {
  const DataFileInfo& data = opened.DataFile();
  const TDataFileEntry& entry = data.table.Entries[i];
  const std::string label = "data file entry " + std::to_string(i + 1);
  const std::string name = LastPathComponent(EntryNameOf(entry));
  if (EntryNameOf(entry).empty() || entry.EntryKind == kCopiedEntry) return;
  if (!IsPlainFileName(name)) {
    problems.push_back(label + ": name leaves no file name; not written");
    return;
  }
  if (const ItemFile* file = SoundEntryFile(opened, i, label, problems))
    WriteOrNote(entries / Cp1252ToUtf8(name), file->bytes, problems);
}

void ExtractDataEntries(const OpenedInstaller& opened, const std::filesystem::path& folder,
                        std::vector<std::string>& problems) {
  const DataFileInfo& data = opened.DataFile();
  if (!data.problem.empty()) {
    problems.push_back("data file: " + data.problem);
    return;
  }
  const std::filesystem::path entries =
      folder / (Cp1252ToUtf8(MemberFileName(opened.Member(msDataFile).record)) + ".entries");
  std::filesystem::create_directories(entries);
  for (size_t i = 0; i < data.table.Entries.size(); ++i) ExtractEntry(opened, i, entries, problems);
}

}  // namespace

std::vector<std::string> VerifyInstaller(const OpenedInstaller& opened) {
  const auto& header = opened.Header();
  if (!header)
    return {"truncated: " + std::to_string(opened.Bytes().size()) +
            " bytes, but the payload header ends at " + std::to_string(kFirstMemberOffset)};
  std::vector<std::string> problems;
  if (!IsUsableSaverName(SaverNameOf(*header)))
    problems.push_back("SaverName \"" + Cp1252ToUtf8(SaverNameOf(*header)) +
                       "\" holds a character that a folder name cannot; the installer refuses it");
  for (int slot : NeededSlots(*header))
    if (!opened.Member(slot).used)
      problems.push_back(SlotLabel(slot) + " is empty, but the installer needs it with these options");
  VerifyMembers(opened, problems);
  if (opened.Member(msDataFile).used) VerifyDataFile(opened, problems);
  if (const SignatureInfo& signature = opened.Signature(); !signature.problem.empty())
    problems.push_back("signature: " + signature.problem);
  return problems;
}

std::vector<std::string> VerifyInstaller(std::span<const uint8_t> file) {
  return VerifyInstaller(OpenedInstaller(file));
}

std::vector<std::string> ExtractInstaller(const OpenedInstaller& opened, const std::filesystem::path& folder,
                                          const std::vector<int>& slots) {
  if (!opened.Header()) return {"truncated: no payload header"};
  std::vector<std::string> problems;
  std::vector<int> chosen = slots;
  if (chosen.empty())
    for (int slot = 1; slot < kMemberCount; ++slot)
      if (opened.Member(slot).used) chosen.push_back(slot);
  std::filesystem::create_directories(folder);
  for (int slot : chosen) {
    const MemberInfo& member = opened.Member(slot);
    if (!member.used) {
      problems.push_back(SlotLabel(slot) + " is empty");
      continue;
    }
    const ItemFile& file = opened.File(slot);
    if (!file.Sound()) {
      problems.push_back(SlotLabel(slot) + ": " + file.problem + "; not written");
      continue;
    }
    WriteOrNote(folder / Cp1252ToUtf8(MemberFileName(member.record)), file.bytes, problems);
    if (slot == msDataFile) ExtractDataEntries(opened, folder, problems);
  }
  return problems;
}

}  // namespace saverpack
