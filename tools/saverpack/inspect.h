// What list, verify and extract know about an installer file in memory. Nothing read from the
// file is trusted for a size, an offset or a count before it is checked.
#pragma once
#include <cstdint>
#include <filesystem>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "payload_checks.h"

namespace saverpack {

struct MemberContent {
  std::vector<uint8_t> bytes;  // the file as the installer would write it
  std::string problem;         // empty when sound
};

// The member's file: its stored bytes, exploded when imploded, with the size checked.
MemberContent ExpandMember(std::span<const uint8_t> file, const TPayloadMember& member);

// A data-file chunk's file, likewise.
MemberContent ExpandChunk(const TChunk& chunk);

struct DataChunkInfo {
  TChunkFault fault = TChunkFault::None;
  TChunk chunk;  // Data points into DataFileInfo::bytes
};

struct DataFileInfo {
  DataFileInfo() = default;
  DataFileInfo(DataFileInfo&&) = default;
  DataFileInfo(const DataFileInfo&) = delete;  // chunks point into bytes

  bool present = false;       // slot 8 is used
  std::string problem;        // the member or the data file cannot be read
  std::vector<uint8_t> bytes; // the data file, expanded
  TDataFileTable table;
  std::vector<DataChunkInfo> chunks;  // one per table entry
};

// A data file's chunk files, each expanded at most once however many entries name its chunk
// (a small file may point thousands of entries at one chunk). A result is kept while a later
// entry still names the chunk, and let go after the last one.
class ChunkFiles {
 public:
  explicit ChunkFiles(const DataFileInfo& data);
  // Entry i's file; valid until the next call. Entry i's chunk must be sound (no fault).
  const MemberContent& Of(size_t i);
  size_t Expansions() const { return expansions_; }

 private:
  const DataFileInfo& data_;
  std::map<int32_t, size_t> usesLeft_;  // by chunk offset: entries still to ask for it
  std::map<int32_t, MemberContent> kept_;
  MemberContent last_;
  size_t expansions_ = 0;
};

// How an imploded member or chunk is coded, from its stream's first two bytes: "binary 4096",
// "ascii 1024"; "plain" when it is stored as it is, "damaged" when the record or the header
// bytes are unsound.
std::string CodingOf(std::span<const uint8_t> file, const TPayloadMember& member);
std::string StreamCoding(std::span<const uint8_t> stream, bool imploded);

// The slot whose stored bytes this slot's record repeats (saverpack fills the slots an author
// left out so, over the data file), or 0 when its bytes are its own.
int SameBytesAs(const TPayloadHeader& header, int slot);

// The first byte behind the header and every member's stored bytes.
int64_t PayloadEnd(const TPayloadHeader& header);

DataFileInfo DataFileOf(const TPayloadHeader& header, std::span<const uint8_t> file);

// Every problem that would stop or spoil an installation, one line each; empty when sound.
std::vector<std::string> VerifyInstaller(std::span<const uint8_t> file);

// Writes the chosen slots (all used slots 1..10 when none are given) expanded under their payload
// names into folder, and the data file's entries into a folder of their own beside them. Never
// writes outside folder. Returns the problems met; what could be written is written.
std::vector<std::string> ExtractInstaller(std::span<const uint8_t> file,
                                          const std::filesystem::path& folder,
                                          const std::vector<int>& slots);

}  // namespace saverpack
