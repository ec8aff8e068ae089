#include "dataFunctions_shared.h"

#include <cstring>
#include <new>
#include <vector>

#include "error_boxes.h"
#include "file_io.h"
#include "payload_checks.h"
#include "pk_stuff.h"

namespace {

const char kChunkError[] = "Screen Saver Error: Problem reading a chunk of the screen saver data file:\r\n";

TStatus ReadAll(HANDLE file, void* buffer, size_t count) { return ReadExactly(file, buffer, count, kShortRead); }

int64_t BytesLeft(HANDLE file) {
  LARGE_INTEGER size{}, here{}, zero{};
  if (!GetFileSizeEx(file, &size) || !SetFilePointerEx(file, zero, &here, FILE_CURRENT)) return 0;
  return size.QuadPart - here.QuadPart;
}

void ReportOpenError(TStatus code) {
  ShowErrorBox("Screen Saver Error: Problem opening screen saver data file:\r\n" + std::to_string(code));
}

TStatus ReadTable(HANDLE file) {
  for (int32_t i = 1; i <= DataFileReader.Header.EntryCount; ++i) {
    const TStatus status = ReadAll(file, &DataFileReader.Table[i], sizeof(TDataFileEntry));
    if (status != kOk) return status;
  }
  return kOk;
}

// The chunk's stored bytes, read in one piece; the size has been checked against the file.
TStatus ReadChunkData(HANDLE file, int32_t size, std::vector<uint8_t>& data) {
  try {
    data.resize(static_cast<size_t>(size));
  } catch (const std::bad_alloc&) {
    return kNoMemory;
  }
  return ReadAll(file, data.data(), data.size());
}

struct EntryWrite {
  const std::string& path;
  bool created = false;
};

TStatus ExpandChunk(HANDLE file, const TChunkHeader& chunk, EntryWrite& out) {
  std::vector<uint8_t> packed;
  const TStatus read = ReadChunkData(file, chunk.PackedSize, packed);
  if (read != kOk) return read;
  TCompressor compressor;
  if (!compressor.LibraryLoaded()) return kCompressorUnusable;
  const TStatus status = compressor.ExpandChecked(out.path, packed, chunk.FileSize);
  out.created = status != kExpandedFileMissing;
  return status;
}

TStatus CopyChunk(HANDLE file, const TChunkHeader& chunk, EntryWrite& out) {
  FileHandle target(CreateFileA(out.path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!target) return static_cast<TStatus>(GetLastError());
  out.created = true;
  std::vector<uint8_t> data;
  TStatus status = ReadChunkData(file, chunk.FileSize, data);
  if (status == kOk) status = WriteExactly(target.Get(), data.data(), data.size(), kShortWrite);
  if (!CloseHandle(target.Release()) && status == kOk) status = static_cast<TStatus>(GetLastError());
  return status;
}

TStatus WriteEntry(HANDLE file, const TChunkHeader& chunk, const std::string& folder,
                   EntryWrite& out, TFilesJournal& journal) {
  const DWORD attributes = GetFileAttributesA(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    if (CreateDirectoryA(folder.c_str(), nullptr)) journal.Record(folder);
    else return static_cast<TStatus>(GetLastError());
  }
  // Negative sizes, or more than the file holds, are a short read and are never allocated.
  if (CheckChunkHeader(chunk, BytesLeft(file)) != TChunkFault::None) return kShortRead;
  return chunk.Compressed ? ExpandChunk(file, chunk, out) : CopyChunk(file, chunk, out);
}

}  // namespace

TStatus ReadDataFileHeaderFrom(HANDLE file, TDataFileHeader& header) {
  return ReadAll(file, &header, sizeof header);
}

TStatus OpenDataFile(const std::string& path, bool report) {
  if (DataFileReader.Open) {
    ShowErrorBox("Screen Saver data file already in use.", TBoxKind::Information);
    return kOk;
  }
  FileHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  TStatus status = file ? ReadDataFileHeaderFrom(file.Get(), DataFileReader.Header) : static_cast<TStatus>(GetLastError());
  if (status != kOk) {
    if (report) ReportOpenError(status);
    return status;
  }
  std::memset(DataFileReader.Table, 0, sizeof DataFileReader.Table);
  // A count the table cannot hold is refused before anything is read into it.
  if (!EntryCountFits(DataFileReader.Header)) {
    ReportOpenError(kBadEntryCount);
    return kBadEntryCount;
  }
  DataFileReader.File = std::move(file);
  DataFileReader.Open = true;
  status = ReadTable(DataFileReader.File.Get());
  if (status != kOk && report) ReportOpenError(status);
  return status;
}

TStatus ExtractDataFileEntry(const std::string& folder, int32_t entry, TFilesJournal& journal,
                             uint8_t* kind) {
  if (kind) *kind = 0;
  TStatus status = kOk;
  std::string path;
  TChunkHeader chunk{};
  if (entry < 1 || entry > DataFileReader.Header.EntryCount) {
    status = kEntryBeyondTable;
  } else if (!DataFileReader.Open) {
    status = kNoDataFileOpen;
  } else {
    const TDataFileEntry& record = DataFileReader.Table[entry];
    HANDLE file = DataFileReader.File.Get();
    status = SeekTo(file, record.ChunkOffset);
    if (status == kOk) status = ReadAll(file, &chunk, sizeof chunk);
    const std::string name = LastPathComponent(EntryNameOf(record));
    if (status != kOk) {
      ShowErrorBox(kChunkError + SystemErrorText(status));
    } else if (chunk.FileSize != 0 && !IsPlainFileName(name)) {
      // "." or ".." would name a folder, not a file in it; an entry that writes no file is
      // recorded and passes whatever its name.
      status = kBadMemberName;
      ShowFileError(status, EntryNameOf(record));
    } else {
      path = folder + name;
    }
  }
  if (status == kOk && chunk.FileSize != 0) {
    EntryWrite out{path};
    status = WriteEntry(DataFileReader.File.Get(), chunk, folder, out, journal);
    if (status != kOk) {
      if (status > 0) ShowErrorBox(kChunkError + SystemErrorText(status));
      if (out.created) DeleteFileA(path.c_str());
    }
  }
  journal.Record(path);
  if (kind && status == kOk) *kind = chunk.ChunkKind;
  return status;
}

TStatus CloseDataFile() {
  if (!DataFileReader.Open) return kOk;
  HANDLE file = DataFileReader.File.Release();
  if (!CloseHandle(file)) {
    const auto code = static_cast<TStatus>(GetLastError());
    DataFileReader.File.Reset(file);
    ShowErrorBox("Quillview I/0 Error: Problem closing file:\r\n" + SystemErrorText(code));
    return code;
  }
  DataFileReader.Open = false;
  return kOk;
}
