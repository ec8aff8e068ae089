#include "opened_installer.h"

#include <algorithm>

#include "cp1252.h"
#include "dcl.h"
#include "file_io.h"

namespace saverpack {
namespace {

// Fetched in blocks, so that the bytes read here and there (the header, the streams' first
// bytes) cost a read a block; a small file whole at once, as one read costs less than several.
constexpr size_t kFetchBlock = 256 * 1024;
constexpr size_t kFetchWholeUpTo = 8 * 1024 * 1024;

std::string LimitProblem(int32_t limit, int32_t fileSize) {
  return "expands to more than " + std::to_string(limit) + " bytes, but its FileSize is " +
         std::to_string(fileSize);
}

// The problem of an explosion cut at limit, or empty when it made exactly fileSize bytes.
std::string ExplodeProblem(const dcl::ExplodeResult& result, int32_t limit, int32_t fileSize) {
  if (result.pastLimit) return LimitProblem(limit, fileSize);
  if (result.code != CMP_NO_ERROR)
    return std::string("imploded data is damaged: ") + dcl::ResultText(result.code);
  if (fileSize < 0 || result.data.size() != static_cast<size_t>(fileSize))
    return "expands to " + std::to_string(result.data.size()) + " bytes, but its FileSize is " +
           std::to_string(fileSize);
  return "";
}

}  // namespace

std::string StreamCoding(std::span<const uint8_t> stream, bool imploded) {
  if (!imploded) return "plain";
  if (stream.size() < 2 || stream[0] > CMP_ASCII || stream[1] < 4 || stream[1] > 6) return "damaged";
  return std::string(stream[0] == CMP_ASCII ? "ascii " : "binary ") + std::to_string(64u << stream[1]);
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

int64_t PayloadEnd(const TPayloadHeader& header) {
  int64_t end = kFirstMemberOffset;
  for (int slot = 1; slot < kMemberCount; ++slot)
    if (!IsEmptySlot(header.Members[slot]))
      end = std::max<int64_t>(end, int64_t{header.Members[slot].EndOffset} + 1);
  return end;
}

DataFileInfo ReadDataFile(std::span<const uint8_t> bytes) {
  DataFileInfo data;
  data.present = true;
  data.bytes = bytes;
  const TDataFileFault fault = ParseDataFile(bytes, data.table);
  if (fault != TDataFileFault::None) {
    data.problem = DataFileFaultText(fault, bytes);
    return data;
  }
  for (const TDataFileEntry& entry : data.table.Entries) {
    DataChunkInfo info;
    info.fault = ReadChunk(bytes, entry, info.chunk);
    data.chunks.push_back(info);
  }
  return data;
}

OpenedInstaller::OpenedInstaller(std::span<const uint8_t> file, ByteFetcher fetch)
    : file_(file), fetch_(std::move(fetch)) {
  if (fetch_) fetched_.resize((file.size() + kFetchBlock - 1) / kFetchBlock);
  if (fetch_ && file.size() <= kFetchWholeUpTo) Need(0, file.size());
  Need(kPayloadOffset, kPayloadHeaderSize);
  header_ = HeaderOfInstaller(file);
  if (!header_) return;
  for (int slot = 0; slot < kMemberCount; ++slot) ReadSlot(slot);
}

void OpenedInstaller::ReadSlot(int slot) {
  const auto fileSize = static_cast<int64_t>(file_.size());
  MemberInfo& member = members_[static_cast<size_t>(slot)];
  member.record = header_->Members[slot];
  member.used = !IsEmptySlot(member.record);
  member.fault = CheckMemberRecord(member.record, fileSize);
  member.stored = StoredBytes(file_, member.record);
  member.sameBytesAs = SameBytesAs(*header_, slot);
  const bool imploded = member.record.Compressed != 0;
  Need(member.stored.first(imploded ? std::min<size_t>(member.stored.size(), 2) : 0));  // its coding
  member.coding = member.fault != TMemberFault::None ? "damaged" : StreamCoding(member.stored, imploded);
  if (member.fault != TMemberFault::None)
    recordProblems_[static_cast<size_t>(slot)].problem =
        Cp1252ToUtf8(MemberFaultText(member.fault, member.record, fileSize));
}

// Made whole before it is kept, so that a failure (no memory) leaves no half-made file behind.
OpenedInstaller::Expanded OpenedInstaller::Expand(std::span<const uint8_t> stored, bool imploded,
                                                  int32_t fileSize) const {
  Expanded made;
  if (!imploded) {
    made.file.bytes = stored;
    return made;
  }
  ++expansions_;
  // Exploded one byte past the size the record promises, never further: a few bytes can claim
  // gigabytes.
  const int32_t limit = std::max<int32_t>(fileSize, 0);
  dcl::ExplodeResult result = dcl::Explode(stored, static_cast<size_t>(limit));
  made.file.problem = ExplodeProblem(result, limit, fileSize);
  made.owned = std::move(result.data);
  made.file.bytes = made.owned;  // the buffer stays where it is when made moves
  return made;
}

const ItemFile& OpenedInstaller::File(int slot) const {
  const MemberInfo& member = Member(slot);
  if (member.fault != TMemberFault::None) return recordProblems_[static_cast<size_t>(slot)];
  const TPayloadMember& r = member.record;
  const StreamKey key{r.StartOffset, r.EndOffset, r.Compressed, r.FileSize};
  auto known = memberFiles_.find(key);
  if (known == memberFiles_.end()) {
    Need(member.stored);
    known = memberFiles_.emplace(key, Expand(member.stored, r.Compressed != 0, r.FileSize)).first;
  }
  return known->second.file;
}

const std::string& OpenedInstaller::FileProblem(int slot) const {
  static const std::string kNone;
  const MemberInfo& member = Member(slot);
  if (member.fault == TMemberFault::None && !member.record.Compressed) return kNone;  // stored as it is
  return File(slot).problem;
}

std::span<const uint8_t> OpenedInstaller::FileHead(int slot, size_t count) const {
  const MemberInfo& member = Member(slot);
  if (member.fault != TMemberFault::None || member.record.Compressed) {
    const std::span<const uint8_t> bytes = File(slot).bytes;
    return bytes.first(std::min(count, bytes.size()));
  }
  const std::span<const uint8_t> head = member.stored.first(std::min(count, member.stored.size()));
  Need(head);
  return head;
}

void OpenedInstaller::Need(std::span<const uint8_t> part) const {
  if (!part.empty()) Need(static_cast<size_t>(part.data() - file_.data()), part.size());
}

void OpenedInstaller::Need(size_t offset, size_t count) const {
  if (!fetch_ || offset >= file_.size()) return;
  const size_t end = std::min(file_.size(), offset + std::min(count, file_.size()));
  for (size_t block = offset / kFetchBlock; block * kFetchBlock < end;) {
    if (fetched_[block]) {
      ++block;
      continue;
    }
    size_t last = block;  // a run of missing blocks, fetched at once
    while ((last + 1) * kFetchBlock < end && !fetched_[last + 1]) ++last;
    const size_t from = block * kFetchBlock, to = std::min(file_.size(), (last + 1) * kFetchBlock);
    if (!fetch_(from, to - from))
      throw ToolError("the file cannot be read at " + std::to_string(from) + ".." + std::to_string(to - 1));
    for (; block <= last; ++block) fetched_[block] = true;
  }
}

// What ReadSignature reads: the DOS header, the PE header it points to, and a certificate table,
// which counts only behind the payload.
void OpenedInstaller::NeedSignatureBytes() const {
  if (!fetch_) return;
  Need(0, 0x40);
  if (file_.size() < 0x40) return;
  const size_t pe = file_[0x3C] | file_[0x3D] << 8 | file_[0x3E] << 16 | size_t{file_[0x3F]} << 24;
  Need(pe, 24 + 96 + 5 * 8);
  const auto end = static_cast<size_t>(PayloadEnd());
  if (end < file_.size()) Need(end, file_.size() - end);
}

const DataFileInfo& OpenedInstaller::DataFile() const {
  if (data_) return *data_;
  DataFileInfo data;
  if (Member(msDataFile).used) {
    const ItemFile& file = File(msDataFile);
    if (file.Sound()) {
      data = ReadDataFile(file.bytes);
    } else {
      data.present = true;
      data.problem = file.problem;
    }
  }
  data_ = std::move(data);
  return *data_;
}

const ItemFile& OpenedInstaller::EntryFile(size_t i) const {
  const DataFileInfo& data = DataFile();
  const int32_t offset = data.table.Entries.at(i).ChunkOffset;
  auto known = chunkFiles_.find(offset);
  if (known != chunkFiles_.end()) return known->second.file;
  const DataChunkInfo& info = data.chunks.at(i);
  Expanded made;
  if (info.fault != TChunkFault::None) made.file.problem = ChunkFaultText(info.fault);
  else made = Expand(info.chunk.Data, info.chunk.Header.Compressed != 0, info.chunk.Header.FileSize);
  return chunkFiles_.emplace(offset, std::move(made)).first->second.file;
}

bool OpenedInstaller::IsCopied(size_t i) const {
  const TDataFileTable& table = DataFile().table;
  return table.Entries.at(i).EntryKind == kCopiedEntry || (i == 0 && table.Header.MovieSource == kMovieFromContent);
}

int64_t OpenedInstaller::PayloadEnd() const {
  return header_ ? saverpack::PayloadEnd(*header_) : kFirstMemberOffset;
}

const SignatureInfo& OpenedInstaller::Signature() const {
  if (signature_) return *signature_;
  NeedSignatureBytes();
  signature_ = ReadSignature(file_, PayloadEnd());
  return *signature_;
}

}  // namespace saverpack
