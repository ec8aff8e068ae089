// Builds a screen-saver data file: the settings header, the table, and the chunks back to back.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "dataStructures_shared.h"
#include "payload_writer.h"

struct TDataEntryInput {
  std::string Name;            // at most 255 bytes
  uint8_t EntryKind = 0;       // kCopiedEntry: a copy made on the user's machine, no data
  uint8_t ChunkKind = 0;
  std::vector<uint8_t> Stored; // plain bytes, or an imploded stream
  bool Compressed = false;
  int32_t FileSize = 0;        // size of the file once written; 0: none is written
};

// settings: the 1224-byte header image (EntryCount and MovieSource are set here), or empty for
// zeros. Throws PayloadLayoutError when the entries do not fit the format.
std::vector<uint8_t> BuildDataFile(const std::vector<uint8_t>& settings, int32_t movieSource,
                                   const std::vector<TDataEntryInput>& entries);
