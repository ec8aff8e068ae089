// An installer file read once into a model of what it holds: the payload header, each slot's
// record with its verdict, its stored bytes and its file (or why there is none), the aliases, the
// data file with its entries and their files, the signature and where the payload ends. list,
// verify, extract, extract --project and the studio's page are views of it: none of them parses
// the header or expands a stream itself, so each fact has one derivation.
//
// Streams are expanded when a view first asks for a file, once however many slots or entries
// name the same stored bytes, and never more than one byte past the size the record promises.
// A file stored plain is its stored bytes, never a copy. The model refers to the installer's
// bytes, which must outlive it; its caches fill as views ask, so it is not shared between threads.
//
// The bytes need not all be there: given a fetcher, the model reads each range of them only when
// a view first needs it (the header, the records' streams, the data file, the signature), so that
// the studio's page reads a few kilobytes of a 100 MB installer to report on it, and a plain
// member's bytes only when they are asked for. Views read the file through the model alone.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <tuple>
#include <vector>

#include "payload_checks.h"
#include "signature.h"

namespace saverpack {

// A file as the installer would write it, or why it cannot. bytes lies in the installer (stored
// plain) or in the model (expanded), and lives as long as the model.
struct ItemFile {
  std::span<const uint8_t> bytes;
  std::string problem;  // UTF-8; empty when sound
  bool Sound() const { return problem.empty(); }
};

// How a stream is coded, from its first two bytes: "binary 4096", "ascii 1024"; "plain" when it
// is stored as it is, "damaged" when those bytes are no stream header.
std::string StreamCoding(std::span<const uint8_t> stream, bool imploded);

// The slot whose stored bytes this slot's record repeats (saverpack fills the slots an author
// left out so, over the data file), or 0 when its bytes are its own.
int SameBytesAs(const TPayloadHeader& header, int slot);

// The first byte behind the header and every member's stored bytes.
int64_t PayloadEnd(const TPayloadHeader& header);

// One slot of the payload header.
struct MemberInfo {
  TPayloadMember record{};
  bool used = false;                        // the record names a file
  TMemberFault fault = TMemberFault::None;  // what keeps its stored bytes from being read
  std::span<const uint8_t> stored;          // empty unless used and its record is sound
  int sameBytesAs = 0;                      // see SameBytesAs
  std::string coding;                       // see StreamCoding; "damaged" for a faulty record
};

struct DataChunkInfo {
  TChunkFault fault = TChunkFault::None;
  TChunk chunk;  // Data points into DataFileInfo::bytes
};

// Slot 8's data file read into its table and chunks.
struct DataFileInfo {
  DataFileInfo() = default;
  DataFileInfo(DataFileInfo&&) = default;
  DataFileInfo& operator=(DataFileInfo&&) = default;
  DataFileInfo(const DataFileInfo&) = delete;  // chunks point into bytes

  bool present = false;               // slot 8 is used
  std::string problem;                // the member or the data file cannot be read
  std::span<const uint8_t> bytes;     // the data file as the installer writes it
  TDataFileTable table;
  std::vector<DataChunkInfo> chunks;  // one per table entry
};

// The table and chunks of a data file's bytes, which must outlive the result.
DataFileInfo ReadDataFile(std::span<const uint8_t> bytes);

// Puts count bytes of the installer from offset on into the model's buffer; false when they
// cannot be read.
using ByteFetcher = std::function<bool(size_t offset, size_t count)>;

class OpenedInstaller {
 public:
  // file: the installer's bytes; or, with fetch, a buffer of its size that fetch fills. A fetch
  // that fails throws ToolError.
  explicit OpenedInstaller(std::span<const uint8_t> file, ByteFetcher fetch = {});
  OpenedInstaller(const OpenedInstaller&) = delete;
  OpenedInstaller& operator=(const OpenedInstaller&) = delete;

  // The buffer; with a fetcher, only what views have asked for is in it, so views read the file
  // through the model alone.
  std::span<const uint8_t> Bytes() const { return file_; }
  // None when the file ends before the header does; then every slot reads as unused.
  const std::optional<TPayloadHeader>& Header() const { return header_; }
  const MemberInfo& Member(int slot) const { return members_.at(static_cast<size_t>(slot)); }  // 0..10

  // A used slot's file (1..10). Slots whose records repeat one another share one expansion.
  const ItemFile& File(int slot) const;
  // Why a used slot's file cannot be had, or empty; a file stored plain is not read for it.
  const std::string& FileProblem(int slot) const;
  // The first bytes (count at most) of a used slot's sound file, reading no more of it.
  std::span<const uint8_t> FileHead(int slot, size_t count) const;
  // Read on the first call; not present without a header or without slot 8.
  const DataFileInfo& DataFile() const;
  // Entry i's chunk's file (from 0, of a data file without a problem): the chunk's fault, or its
  // stored bytes expanded, once for every entry that names the chunk.
  const ItemFile& EntryFile(size_t i) const;
  // Whether the installation makes entry i as a copy rather than from its chunk: kind 3, or the
  // first entry of a data file whose MovieSource copies the content movie.
  bool IsCopied(size_t i) const;

  int64_t PayloadEnd() const;
  const SignatureInfo& Signature() const;

  // How many streams have been exploded so far: each distinct one once at most.
  size_t Expansions() const { return expansions_; }

 private:
  // A member's stream: its offsets, whether imploded, and the size it must expand to.
  using StreamKey = std::tuple<int32_t, int32_t, uint8_t, int32_t>;
  struct Expanded {
    std::vector<uint8_t> owned;  // the exploded bytes, when the stream was imploded
    ItemFile file;
  };

  void ReadSlot(int slot);
  Expanded Expand(std::span<const uint8_t> stored, bool imploded, int32_t fileSize) const;
  // Makes the bytes of part (a span of file_) present.
  void Need(std::span<const uint8_t> part) const;
  void Need(size_t offset, size_t count) const;
  void NeedSignatureBytes() const;

  std::span<const uint8_t> file_;
  ByteFetcher fetch_;
  mutable std::vector<bool> fetched_;  // by block of kFetchBlock bytes, with a fetcher
  std::optional<TPayloadHeader> header_;
  std::array<MemberInfo, kMemberCount> members_{};
  std::array<ItemFile, kMemberCount> recordProblems_{};  // for slots whose record is faulty
  mutable std::map<StreamKey, Expanded> memberFiles_;
  mutable std::optional<DataFileInfo> data_;
  mutable std::map<int32_t, Expanded> chunkFiles_;  // by chunk offset
  mutable std::optional<SignatureInfo> signature_;
  mutable size_t expansions_ = 0;
};

}  // namespace saverpack
