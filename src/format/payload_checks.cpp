#include "payload_checks.h"

#include <cstring>

std::optional<TPayloadHeader> HeaderOfInstaller(std::span<const uint8_t> file) {
  if (file.size() < static_cast<size_t>(kFirstMemberOffset)) return std::nullopt;
  return ParsePayloadHeader(file.data() + kPayloadOffset);
}

TMemberFault CheckMemberRecord(const TPayloadMember& member, int64_t fileSize) {
  if (!IsPlainFileName(MemberFileName(member))) return TMemberFault::NameNotPlain;
  if (!MemberDestination(member)) return TMemberFault::BadDestination;
  if (StoredLength(member) < 0) return TMemberFault::ReversedOffsets;
  if (member.StartOffset < 0 || int64_t{member.EndOffset} >= fileSize)
    return TMemberFault::OutsideFile;
  return TMemberFault::None;
}

std::string MemberFaultText(TMemberFault fault, const TPayloadMember& member, int64_t fileSize) {
  const std::string offsets = "offsets " + std::to_string(member.StartOffset) + ".." +
                              std::to_string(member.EndOffset);
  switch (fault) {
    case TMemberFault::None: return "sound";
    case TMemberFault::NameNotPlain:
      return "name \"" + MemberFileName(member) + "\" is not a plain file name";
    case TMemberFault::BadDestination:
      return "destination " + std::to_string(member.Destination) + " is not one of 1..6";
    case TMemberFault::ReversedOffsets: return offsets + " are reversed";
    case TMemberFault::OutsideFile:
      return offsets + " lie outside the file of " + std::to_string(fileSize) + " bytes";
  }
  return "unknown fault";
}

std::span<const uint8_t> StoredBytes(std::span<const uint8_t> file, const TPayloadMember& member) {
  if (IsEmptySlot(member) ||
      CheckMemberRecord(member, static_cast<int64_t>(file.size())) != TMemberFault::None)
    return {};
  return file.subspan(static_cast<size_t>(member.StartOffset),
                      static_cast<size_t>(StoredLength(member)));
}

std::vector<int> NeededSlots(const TPayloadHeader& header) {
  std::vector<int> slots{msCompressionLib};
  if (header.ContentMode != cmSilent) slots.push_back(msContent);
  if (header.ContentMode != cmSilent && header.HasLicense) slots.push_back(msLicense);
  if (header.ShowDocument) slots.push_back(msDocument);
  for (int slot = msSaverEngine; slot <= msSaverLib2; ++slot) slots.push_back(slot);
  return slots;
}

namespace {

struct SlotName {
  const char* role;
  const char* key;
};

constexpr SlotName kSlotNames[kMemberCount] = {
    {"installer program", "stub"},      {"codec library", "codec"},
    {"Flash runtime installer", "flash_installer"},
    {"content (picture or movie)", "content"},
    {"licence", "license"},             {"document", "document"},
    {"screen-saver program", "program"}, {"further file", "extra"},
    {"data file", "data"},              {"first library", "library1"},
    {"second library", "library2"},
};

}  // namespace

const char* SlotRole(int slot) {
  return slot >= 0 && slot < kMemberCount ? kSlotNames[slot].role : "unknown";
}

const char* SlotKey(int slot) {
  return slot >= 0 && slot < kMemberCount ? kSlotNames[slot].key : "unknown";
}

std::optional<int> SlotByKey(const std::string& key) {
  for (int slot = 0; slot < kMemberCount; ++slot)
    if (key == kSlotNames[slot].key) return slot;
  return std::nullopt;
}

bool EntryCountFits(const TDataFileHeader& header) {
  return header.EntryCount >= 0 && header.EntryCount <= kMaxDataEntries;
}

TDataFileFault ParseDataFile(std::span<const uint8_t> file, TDataFileTable& table) {
  table = {};
  if (file.size() < static_cast<size_t>(kDataFileHeaderSize)) return TDataFileFault::ShortHeader;
  std::memcpy(&table.Header, file.data(), kDataFileHeaderSize);
  if (!EntryCountFits(table.Header)) return TDataFileFault::BadEntryCount;
  const size_t count = static_cast<size_t>(table.Header.EntryCount);
  if (file.size() < kDataFileHeaderSize + count * kDataEntrySize) return TDataFileFault::ShortTable;
  table.Entries.resize(count);
  if (count)
    std::memcpy(table.Entries.data(), file.data() + kDataFileHeaderSize, count * kDataEntrySize);
  return TDataFileFault::None;
}

std::string DataFileFaultText(TDataFileFault fault, std::span<const uint8_t> file) {
  switch (fault) {
    case TDataFileFault::None: return "sound";
    case TDataFileFault::ShortHeader:
      return "has " + std::to_string(file.size()) + " bytes, fewer than its 1224-byte header";
    case TDataFileFault::BadEntryCount: {
      int32_t count;
      std::memcpy(&count, file.data() + offsetof(TDataFileHeader, EntryCount), 4);
      return "entry count " + std::to_string(count) + " is not one of 0.." +
             std::to_string(kMaxDataEntries);
    }
    case TDataFileFault::ShortTable: return "its file table runs past the end of the file";
  }
  return "unknown fault";
}

TChunkFault CheckChunkHeader(const TChunkHeader& header, int64_t bytesBehind) {
  if (header.FileSize < 0 || (header.Compressed && header.PackedSize < 0))
    return TChunkFault::NegativeSize;
  if (header.FileSize == 0) return TChunkFault::None;  // no file is written; no data read
  const int64_t stored = header.Compressed ? header.PackedSize : header.FileSize;
  return stored <= bytesBehind ? TChunkFault::None : TChunkFault::DataOutside;
}

TChunkFault ReadChunk(std::span<const uint8_t> file, const TDataFileEntry& entry, TChunk& chunk) {
  chunk = {};
  const int64_t size = static_cast<int64_t>(file.size());
  if (entry.ChunkOffset < 0 || int64_t{entry.ChunkOffset} + kChunkHeaderSize > size)
    return TChunkFault::HeaderOutside;
  std::memcpy(&chunk.Header, file.data() + entry.ChunkOffset, kChunkHeaderSize);
  const int64_t dataStart = int64_t{entry.ChunkOffset} + kChunkHeaderSize;
  const TChunkFault fault = CheckChunkHeader(chunk.Header, size - dataStart);
  if (fault != TChunkFault::None) return fault;
  if (chunk.Header.FileSize == 0) return TChunkFault::None;
  const int64_t stored = chunk.Header.Compressed ? chunk.Header.PackedSize : chunk.Header.FileSize;
  chunk.Data = file.subspan(static_cast<size_t>(dataStart), static_cast<size_t>(stored));
  return TChunkFault::None;
}

std::string ChunkFaultText(TChunkFault fault) {
  switch (fault) {
    case TChunkFault::None: return "sound";
    case TChunkFault::HeaderOutside: return "chunk header lies outside the data file";
    case TChunkFault::NegativeSize: return "chunk sizes are negative";
    case TChunkFault::DataOutside: return "chunk data runs past the end of the data file";
  }
  return "unknown fault";
}

bool CopiesContentMovie(int32_t movieSource, size_t entryCount, uint8_t firstKind, bool firstNamed) {
  return entryCount > 0 && firstNamed && (movieSource == kMovieFromContent || firstKind == kCopiedEntry);
}

bool IsUsableSaverName(std::string_view name) {
  for (char c : name)
    if (static_cast<unsigned char>(c) < 0x20 || std::string_view("\\/:*?\"<>|").find(c) != std::string_view::npos)
      return false;
  return true;
}
