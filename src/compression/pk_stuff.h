// TCompressor: expands an imploded block held in memory into a file, through the implode/explode
// library impborl.dll, loaded at run time from the Windows folder and nowhere else.
//
// Use: create one per expansion, test LibraryLoaded, call ExpandChecked (or ExpandToFile) once,
// destroy it. The outcome is judged by the file written (its existence and size); the library's
// own result is not examined. Only one expansion may run at a time: all share ExplodeWorkBuffer.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "pkware.h"
#include "status_codes.h"
#include "win32_handles.h"

// The library's scratch area for one _explode call, shared by every compressor.
extern char ExplodeWorkBuffer[EXP_BUFFER_SIZE];

class TCompressor {
 public:
  using ImplodeFn = unsigned(PK_CDECL*)(pk_read_buf, pk_write_buf, char*, void*, unsigned*,
                                        unsigned*);
  using ExplodeFn = unsigned(PK_CDECL*)(pk_read_buf, pk_write_buf, char*, void*);
  using CrcFn = unsigned long(PK_CDECL*)(char*, unsigned*, unsigned long*);

  // Loads the library; never fails: LibraryLoaded tells whether it is usable.
  TCompressor();
  TCompressor(const TCompressor&) = delete;
  TCompressor& operator=(const TCompressor&) = delete;

  bool LibraryLoaded() const { return libraryLoaded_; }

  static constexpr int64_t kNoLimit = -1;

  // Writes the expansion of length bytes at data to path, creating or truncating it. With a
  // limit (0 or more; kNoLimit for none), writing stops, and the expansion with it, once the file holds limit + 1
  // bytes: enough to tell that it is too long. Shows nothing; throws EGeneralFailure ("Cannot
  // create file <path>") when the file cannot be created, and std::bad_alloc when the input copy
  // cannot be had.
  void ExpandToFile(const std::string& path, const uint8_t* data, int32_t length, int64_t limit = kNoLimit);

  // ExpandToFile limited to expectedSize (a negative size counts as 0), then the check of what
  // it wrote: 0, -16 when no file is there, -13 when its size is not expectedSize, -7 when the
  // input copy cannot be had.
  TStatus ExpandChecked(const std::string& path, const std::vector<uint8_t>& data, int64_t expectedSize);

  // The full path the library is loaded from: the Windows folder + "impborl.dll".
  static std::string LibraryPath();

 private:
  static unsigned PK_CDECL CompressorRead(char* buffer, unsigned* size, void* param);
  static void PK_CDECL CompressorWrite(char* buffer, unsigned* size, void* param);

  ImplodeFn implode_ = nullptr;
  ExplodeFn explode_ = nullptr;
  CrcFn crc_ = nullptr;
  HANDLE output_ = INVALID_HANDLE_VALUE;  // only during ExpandToFile
  std::vector<uint8_t> input_;            // private copy of the imploded bytes
  size_t inputPos_ = 0;
  int64_t room_ = kNoLimit;               // bytes the output may still take; kNoLimit without a limit
  bool libraryLoaded_ = false;
  ModuleHandle module_;                   // held only while libraryLoaded_
};
