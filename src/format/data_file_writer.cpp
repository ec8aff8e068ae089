#include "data_file_writer.h"

#include <cstring>
#include <limits>

std::vector<uint8_t> BuildDataFile(const std::vector<uint8_t>& settings, int32_t movieSource,
                                   const std::vector<TDataEntryInput>& entries) {
  if (!settings.empty() && settings.size() != static_cast<size_t>(kDataFileHeaderSize))
    throw PayloadLayoutError("the settings header has " + std::to_string(settings.size()) +
                             " bytes, not 1224");
  if (entries.size() > static_cast<size_t>(kMaxDataEntries))
    throw PayloadLayoutError("a data file holds at most 108 entries");

  TDataFileHeader header{};
  if (!settings.empty()) std::memcpy(&header, settings.data(), sizeof header);
  header.EntryCount = static_cast<int32_t>(entries.size());
  header.MovieSource = movieSource;

  std::vector<TDataFileEntry> table(entries.size());
  std::vector<uint8_t> chunks;
  int64_t next = kDataFileHeaderSize + int64_t{kDataEntrySize} * static_cast<int64_t>(entries.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    const TDataEntryInput& in = entries[i];
    if (in.Name.size() > 255) throw PayloadLayoutError("an entry name has more than 255 bytes");
    TDataFileEntry& entry = table[i];
    entry.EntryKind = in.EntryKind;
    std::memcpy(entry.EntryName, in.Name.data(), in.Name.size());
    if (next > std::numeric_limits<int32_t>::max())
      throw PayloadLayoutError("the data file would pass 2 GiB, beyond the format's offsets");
    entry.ChunkOffset = static_cast<int32_t>(next);

    TChunkHeader chunk{};
    std::memcpy(chunk.Tag, "CHUN", 4);
    chunk.ChunkKind = in.ChunkKind;
    chunk.FileSize = in.FileSize;
    chunk.Compressed = in.Compressed ? 1 : 0;
    chunk.PackedSize = in.Compressed ? static_cast<int32_t>(in.Stored.size()) : 0;
    const auto* bytes = reinterpret_cast<const uint8_t*>(&chunk);
    chunks.insert(chunks.end(), bytes, bytes + sizeof chunk);
    chunks.insert(chunks.end(), in.Stored.begin(), in.Stored.end());
    next += kChunkHeaderSize + static_cast<int64_t>(in.Stored.size());
  }

  std::vector<uint8_t> file(reinterpret_cast<const uint8_t*>(&header),
                            reinterpret_cast<const uint8_t*>(&header) + sizeof header);
  const auto* tableBytes = reinterpret_cast<const uint8_t*>(table.data());
  file.insert(file.end(), tableBytes, tableBytes + table.size() * sizeof(TDataFileEntry));
  file.insert(file.end(), chunks.begin(), chunks.end());
  return file;
}
