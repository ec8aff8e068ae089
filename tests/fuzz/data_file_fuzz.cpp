// Any bytes as a screen-saver data file: the table and every chunk header are checked before
// anything is trusted.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "payload_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> file(data, size);
  TDataFileTable table;
  if (ParseDataFile(file, table) != TDataFileFault::None) return 0;
  if (table.Entries.size() > static_cast<size_t>(kMaxDataEntries)) std::abort();
  for (const TDataFileEntry& entry : table.Entries) {
    TChunk chunk;
    if (ReadChunk(file, entry, chunk) != TChunkFault::None) continue;
    // The data lies inside the file.
    if (chunk.Data.size() && (chunk.Data.data() < data || chunk.Data.data() + chunk.Data.size() > data + size))
      std::abort();
  }
  return 0;
}
