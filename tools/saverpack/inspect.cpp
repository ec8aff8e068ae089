#include "inspect.h"

#include <algorithm>
#include <tuple>

#include "cp1252.h"
#include "dcl.h"
#include "file_io.h"
#include "signature.h"

namespace saverpack {
namespace {

std::string SlotLabel(int slot) {
  return "slot " + std::to_string(slot) + " (" + SlotRole(slot) + ")";
}

std::string SizeProblem(size_t got, int32_t expected) {
  return "expands to " + std::to_string(got) + " bytes, but its FileSize is " + std::to_string(expected);
}

// Stored bytes as the file they make: exploded when imploded, with the size checked.
MemberContent Expanded(std::span<const uint8_t> stored, bool imploded, int32_t fileSize) {
  MemberContent content;
  if (!imploded) {
    content.bytes.assign(stored.begin(), stored.end());
    return content;
  }
  // Expanded one byte past the size the record promises, never further: a few bytes can claim
  // gigabytes.
  const int32_t limit = std::max<int32_t>(fileSize, 0);
  auto result = dcl::Explode(stored, static_cast<size_t>(limit));
  if (result.pastLimit)
    content.problem = "expands to more than " + std::to_string(limit) + " bytes, but its FileSize is " +
                      std::to_string(fileSize);
  else if (result.code != CMP_NO_ERROR)
    content.problem = std::string("imploded data is damaged: ") + dcl::ResultText(result.code);
  else if (fileSize < 0 || result.data.size() != static_cast<size_t>(fileSize))
    content.problem = SizeProblem(result.data.size(), fileSize);
  content.bytes = std::move(result.data);
  return content;
}


bool CopiesTheMovie(const DataFileInfo& data) {
  const auto& entries = data.table.Entries;
  return CopiesContentMovie(data.table.Header.MovieSource, entries.size(),
                            entries.empty() ? 0 : entries[0].EntryKind,
                            !entries.empty() && entries[0].EntryName[0] != 0);
}

void VerifyDataFile(const TPayloadHeader& header, const DataFileInfo& data,
                    std::vector<std::string>& problems) {
  const std::string label = "data file";
  if (!data.problem.empty()) {
    problems.push_back(label + ": " + data.problem);
    return;
  }
  ChunkFiles files(data);
  for (size_t i = 0; i < data.table.Entries.size(); ++i) {
    const TDataFileEntry& entry = data.table.Entries[i];
    const std::string name = EntryNameOf(entry);
    const std::string entryLabel = label + " entry " + std::to_string(i + 1);
    if (name.empty()) continue;  // skipped by the installer
    if (!IsPlainFileName(LastPathComponent(name)))
      problems.push_back(entryLabel + ": name \"" + Cp1252ToUtf8(name) + "\" leaves no file name");
    const bool copied = entry.EntryKind == kCopiedEntry ||
                        (i == 0 && data.table.Header.MovieSource == kMovieFromContent);
    if (copied) continue;
    const DataChunkInfo& info = data.chunks[i];
    if (info.fault != TChunkFault::None) {
      problems.push_back(entryLabel + ": " + ChunkFaultText(info.fault));
      continue;
    }
    if (info.chunk.Header.FileSize == 0) continue;
    const MemberContent& content = files.Of(i);
    if (!content.problem.empty()) problems.push_back(entryLabel + ": " + content.problem);
  }
  if (CopiesTheMovie(data)) {
    const TPayloadMember& content = header.Members[msContent];
    if (IsEmptySlot(content) || MemberFileName(content) != "installer.scf" ||
        header.ContentMode == cmPicture || header.ContentMode == cmSilent)
      problems.push_back(label + ": copies the content movie, which the installer finds only as "
                         "installer.scf in a window that shows a movie");
  }
}

void WriteOrNote(const std::filesystem::path& path, const std::vector<uint8_t>& bytes,
                 std::vector<std::string>& problems) {
  try {
    WriteFile(path, bytes);
  } catch (const ToolError& e) {
    problems.push_back(e.what());
  }
}

void ExtractDataEntries(const TPayloadHeader& header, std::span<const uint8_t> file,
                        const std::filesystem::path& folder, std::vector<std::string>& problems) {
  const DataFileInfo data = DataFileOf(header, file);
  if (!data.problem.empty()) {
    problems.push_back("data file: " + data.problem);
    return;
  }
  const std::filesystem::path entries =
      folder / (Cp1252ToUtf8(MemberFileName(header.Members[msDataFile])) + ".entries");
  std::filesystem::create_directories(entries);
  ChunkFiles files(data);
  for (size_t i = 0; i < data.table.Entries.size(); ++i) {
    const TDataFileEntry& entry = data.table.Entries[i];
    const std::string label = "data file entry " + std::to_string(i + 1);
    const std::string name = LastPathComponent(EntryNameOf(entry));
    if (EntryNameOf(entry).empty() || entry.EntryKind == kCopiedEntry) continue;
    if (!IsPlainFileName(name)) {
      problems.push_back(label + ": name leaves no file name; not written");
      continue;
    }
    const DataChunkInfo& info = data.chunks[i];
    if (info.fault != TChunkFault::None) {
      problems.push_back(label + ": " + ChunkFaultText(info.fault));
      continue;
    }
    if (info.chunk.Header.FileSize == 0) continue;
    const MemberContent& content = files.Of(i);
    if (!content.problem.empty()) problems.push_back(label + ": " + content.problem);
    else WriteOrNote(entries / Cp1252ToUtf8(name), content.bytes, problems);
  }
}

}  // namespace

ChunkFiles::ChunkFiles(const DataFileInfo& data) : data_(data) {
  for (const TDataFileEntry& entry : data.table.Entries) ++usesLeft_[entry.ChunkOffset];
}

const MemberContent& ChunkFiles::Of(size_t i) {
  const int32_t offset = data_.table.Entries[i].ChunkOffset;
  size_t& left = usesLeft_[offset];
  if (left > 0) --left;
  auto kept = kept_.find(offset);
  if (kept == kept_.end()) {
    ++expansions_;
    kept = kept_.emplace(offset, ExpandChunk(data_.chunks[i].chunk)).first;
  }
  if (left > 0) return kept->second;
  last_ = std::move(kept->second);
  kept_.erase(kept);
  return last_;
}

MemberContent ExpandChunk(const TChunk& chunk) {
  return Expanded(chunk.Data, chunk.Header.Compressed != 0, chunk.Header.FileSize);
}

MemberContent ExpandMember(std::span<const uint8_t> file, const TPayloadMember& member) {
  const TMemberFault fault = CheckMemberRecord(member, static_cast<int64_t>(file.size()));
  if (fault != TMemberFault::None)
    return {{}, Cp1252ToUtf8(MemberFaultText(fault, member, static_cast<int64_t>(file.size())))};
  return Expanded(StoredBytes(file, member), member.Compressed != 0, member.FileSize);
}

int64_t PayloadEnd(const TPayloadHeader& header) {
  int64_t end = kFirstMemberOffset;
  for (int slot = 1; slot < kMemberCount; ++slot)
    if (!IsEmptySlot(header.Members[slot]))
      end = std::max<int64_t>(end, int64_t{header.Members[slot].EndOffset} + 1);
  return end;
}

int SameBytesAs(const TPayloadHeader& header, int slot) {
  const TPayloadMember& m = header.Members[slot];
  if (IsEmptySlot(m)) return 0;
  auto shares = [&](int other) {
    const TPayloadMember& o = header.Members[other];
    return other != slot && !IsEmptySlot(o) && o.StartOffset == m.StartOffset &&
           o.EndOffset == m.EndOffset;
  };
  // The data file owns its bytes; among other slots the first one does.
  if (slot == msDataFile) return 0;
  if (shares(msDataFile)) return msDataFile;
  for (int other = 1; other < slot; ++other)
    if (other != msDataFile && shares(other)) return other;
  return 0;
}

std::string StreamCoding(std::span<const uint8_t> stream, bool imploded) {
  if (!imploded) return "plain";
  if (stream.size() < 2 || stream[0] > CMP_ASCII || stream[1] < 4 || stream[1] > 6) return "damaged";
  return std::string(stream[0] == CMP_ASCII ? "ascii " : "binary ") + std::to_string(64u << stream[1]);
}

std::string CodingOf(std::span<const uint8_t> file, const TPayloadMember& member) {
  if (CheckMemberRecord(member, static_cast<int64_t>(file.size())) != TMemberFault::None)
    return "damaged";
  return StreamCoding(StoredBytes(file, member), member.Compressed != 0);
}

DataFileInfo DataFileOf(const TPayloadHeader& header, std::span<const uint8_t> file) {
  DataFileInfo data;
  const TPayloadMember& member = header.Members[msDataFile];
  data.present = !IsEmptySlot(member);
  if (!data.present) return data;
  MemberContent content = ExpandMember(file, member);
  if (!content.problem.empty()) {
    data.problem = content.problem;
    return data;
  }
  data.bytes = std::move(content.bytes);
  const TDataFileFault fault = ParseDataFile(data.bytes, data.table);
  if (fault != TDataFileFault::None) {
    data.problem = DataFileFaultText(fault, data.bytes);
    return data;
  }
  for (const TDataFileEntry& entry : data.table.Entries) {
    DataChunkInfo info;
    info.fault = ReadChunk(data.bytes, entry, info.chunk);
    data.chunks.push_back(info);
  }
  return data;
}

std::vector<std::string> VerifyInstaller(std::span<const uint8_t> file) {
  std::vector<std::string> problems;
  const auto header = HeaderOfInstaller(file);
  if (!header) {
    problems.push_back("truncated: " + std::to_string(file.size()) +
                       " bytes, but the payload header ends at " + std::to_string(kFirstMemberOffset));
    return problems;
  }
  if (!IsUsableSaverName(SaverNameOf(*header)))
    problems.push_back("SaverName \"" + Cp1252ToUtf8(SaverNameOf(*header)) +
                       "\" holds a character that a folder name cannot; the installer refuses it");
  for (int slot : NeededSlots(*header))
    if (IsEmptySlot(header->Members[slot]))
      problems.push_back(SlotLabel(slot) + " is empty, but the installer needs it with these options");
  // Slots that repeat another's record (saverpack's filled-in slots) are expanded once.
  std::map<std::tuple<int32_t, int32_t, uint8_t, int32_t>, std::string> problemOf;
  for (int slot = 1; slot < kMemberCount; ++slot) {
    const TPayloadMember& member = header->Members[slot];
    if (IsEmptySlot(member)) continue;
    const auto record = std::make_tuple(member.StartOffset, member.EndOffset, member.Compressed, member.FileSize);
    auto known = problemOf.find(record);
    if (known == problemOf.end()) known = problemOf.emplace(record, ExpandMember(file, member).problem).first;
    if (!known->second.empty()) {
      problems.push_back(SlotLabel(slot) + ": " + known->second);
    } else if (!member.Compressed && StoredLength(member) != member.FileSize) {
      problems.push_back(SlotLabel(slot) + ": stores " + std::to_string(StoredLength(member)) +
                         " bytes, but its FileSize is " + std::to_string(member.FileSize));
    }
  }
  if (!IsEmptySlot(header->Members[msDataFile])) VerifyDataFile(*header, DataFileOf(*header, file), problems);
  const SignatureInfo signature = ReadSignature(file, PayloadEnd(*header));
  if (!signature.problem.empty()) problems.push_back("signature: " + signature.problem);
  return problems;
}

std::vector<std::string> ExtractInstaller(std::span<const uint8_t> file,
                                          const std::filesystem::path& folder,
                                          const std::vector<int>& slots) {
  std::vector<std::string> problems;
  const auto header = HeaderOfInstaller(file);
  if (!header) return {"truncated: no payload header"};
  std::vector<int> chosen = slots;
  if (chosen.empty())
    for (int slot = 1; slot < kMemberCount; ++slot)
      if (!IsEmptySlot(header->Members[slot])) chosen.push_back(slot);
  std::filesystem::create_directories(folder);
  for (int slot : chosen) {
    const TPayloadMember& member = header->Members[slot];
    if (IsEmptySlot(member)) {
      problems.push_back(SlotLabel(slot) + " is empty");
      continue;
    }
    const MemberContent content = ExpandMember(file, member);
    if (!content.problem.empty()) {
      problems.push_back(SlotLabel(slot) + ": " + content.problem + "; not written");
      continue;
    }
    WriteOrNote(folder / Cp1252ToUtf8(MemberFileName(member)), content.bytes, problems);
    if (slot == msDataFile) ExtractDataEntries(*header, file, folder, problems);
  }
  return problems;
}

}  // namespace saverpack
