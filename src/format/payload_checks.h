// Checks of what is read from an installer file, on bytes already in memory: the installer runs
// them after its reads, saverpack list and verify run them on whole files, and the fuzz targets
// run them on anything. None of them trusts a size, an offset or a count it has not checked.
#pragma once
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "dataStructures_shared.h"

// ---- payload

// The header at kPayloadOffset, or nothing when the file ends before the header does.
std::optional<TPayloadHeader> HeaderOfInstaller(std::span<const uint8_t> file);

enum class TMemberFault {
  None,
  NameNotPlain,     // folder parts, ":", "." or ".."
  BadDestination,   // a code outside 1..6
  ReversedOffsets,  // EndOffset before StartOffset - 1
  OutsideFile,      // starts before the file or ends after it
};

// What keeps a used slot's record from being extracted from a file of fileSize bytes.
TMemberFault CheckMemberRecord(const TPayloadMember& member, int64_t fileSize);
std::string MemberFaultText(TMemberFault fault, const TPayloadMember& member, int64_t fileSize);

// The member's stored bytes; empty unless CheckMemberRecord found nothing.
std::span<const uint8_t> StoredBytes(std::span<const uint8_t> file, const TPayloadMember& member);

// The slots that a header's option bytes make the installer need.
std::vector<int> NeededSlots(const TPayloadHeader& header);

// The role of a slot in words ("codec library", "licence", ...), and its key in project files.
const char* SlotRole(int slot);
const char* SlotKey(int slot);
std::optional<int> SlotByKey(const std::string& key);

// ---- data file

enum class TDataFileFault {
  None,
  ShortHeader,    // fewer than 1224 bytes
  BadEntryCount,  // negative or more than kMaxDataEntries
  ShortTable,     // the table runs past the end of the file
};

struct TDataFileTable {
  TDataFileHeader Header{};
  std::vector<TDataFileEntry> Entries;  // entry i (1-based) at index i - 1
};

TDataFileFault ParseDataFile(std::span<const uint8_t> file, TDataFileTable& table);
std::string DataFileFaultText(TDataFileFault fault, std::span<const uint8_t> file);

// The entry count a header announces, judged alone: what the installer checks on opening.
bool EntryCountFits(const TDataFileHeader& header);

enum class TChunkFault {
  None,
  HeaderOutside,   // ChunkOffset negative, or the 44-byte header past the end
  NegativeSize,    // FileSize or, for an imploded chunk, PackedSize below 0
  DataOutside,     // the chunk's data runs past the end
};

// The chunk of an entry: its header, and the stored bytes that follow it.
struct TChunk {
  TChunkHeader Header{};
  std::span<const uint8_t> Data;
};

TChunkFault ReadChunk(std::span<const uint8_t> file, const TDataFileEntry& entry, TChunk& chunk);

// Whether a screen saver's name can stand in a folder name ("<Windows>\<name> dir\") and a
// registry key: none of \ / : * ? " < > | and no control character. An empty name passes.
bool IsUsableSaverName(std::string_view name);

// Whether the installer makes the data file's first entry by copying the content movie
// ("installer.scf" in the saver's folder): MovieSource 3, or entry 1 itself of kind 3, and entry
// 1 named (an unnamed entry is skipped). Later kind-3 entries copy entry 1's own file instead.
bool CopiesContentMovie(int32_t movieSource, size_t entryCount, uint8_t firstKind, bool firstNamed);
// Checks a chunk header alone, with the bytes left in the file behind it.
TChunkFault CheckChunkHeader(const TChunkHeader& header, int64_t bytesBehind);
std::string ChunkFaultText(TChunkFault fault);
