#include "pk_stuff.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "file_io.h"
#include "general_error.h"

char ExplodeWorkBuffer[EXP_BUFFER_SIZE];

namespace {

template <typename Fn>
Fn Resolve(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

std::string TCompressor::LibraryPath() { return WindowsFolderPath() + "impborl.dll"; }

TCompressor::TCompressor() {
  const std::string path = LibraryPath();
  if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) return;
  ModuleHandle module(LoadLibraryA(path.c_str()));
  if (!module) return;
  implode_ = Resolve<ImplodeFn>(module.Get(), "_implode");
  explode_ = Resolve<ExplodeFn>(module.Get(), "_explode");
  crc_ = Resolve<CrcFn>(module.Get(), "_crc32");
  if (implode_ && explode_ && crc_) {
    module_ = std::move(module);
    libraryLoaded_ = true;
  } else {
    implode_ = nullptr;
    explode_ = nullptr;
    crc_ = nullptr;
  }
}

void TCompressor::ExpandToFile(const std::string& path, const uint8_t* data, int32_t length, int64_t limit) {
  // Both streams are released on every path out of here.
  struct Release {
    TCompressor& c;
    ~Release() {
      if (c.output_ != INVALID_HANDLE_VALUE) CloseHandle(c.output_);
      c.output_ = INVALID_HANDLE_VALUE;
      std::vector<uint8_t>().swap(c.input_);
    }
  } release{*this};

  input_.assign(data, data + std::max<int32_t>(length, 0));
  inputPos_ = 0;
  room_ = limit == kNoLimit ? kNoLimit : limit + 1;
  output_ = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
  if (output_ == INVALID_HANDLE_VALUE) RaiseGeneralFailure("Cannot create file", path);
  explode_(&TCompressor::CompressorRead, &TCompressor::CompressorWrite, ExplodeWorkBuffer, this);
}

TStatus TCompressor::ExpandChecked(const std::string& path, const std::vector<uint8_t>& data,
                                   int64_t expectedSize) {
  try {
    ExpandToFile(path, data.data(), static_cast<int32_t>(data.size()), std::max<int64_t>(expectedSize, 0));
  } catch (const std::bad_alloc&) {
    return kNoMemory;
  }
  WIN32_FILE_ATTRIBUTE_DATA written;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &written)) return kExpandedFileMissing;
  const int64_t size = (int64_t{written.nFileSizeHigh} << 32) | written.nFileSizeLow;
  return size == expectedSize ? kOk : kWrongExpandedSize;
}

unsigned PK_CDECL TCompressor::CompressorRead(char* buffer, unsigned* size, void* param) {
  auto& self = *static_cast<TCompressor*>(param);
  // Past the limit the input ends, and with it the expansion.
  if (self.room_ == 0) return 0;
  const size_t n = std::min<size_t>(*size, self.input_.size() - self.inputPos_);
  if (n) std::memcpy(buffer, self.input_.data() + self.inputPos_, n);
  self.inputPos_ += n;
  return static_cast<unsigned>(n);
}

void PK_CDECL TCompressor::CompressorWrite(char* buffer, unsigned* size, void* param) {
  // A short or failed write is dropped: the caller's size check catches the short file.
  auto& self = *static_cast<TCompressor*>(param);
  DWORD count = *size;
  if (self.room_ != kNoLimit) {
    count = static_cast<DWORD>(std::min<int64_t>(count, self.room_));
    self.room_ -= count;
  }
  DWORD written = 0;
  if (count) WriteFile(self.output_, buffer, count, &written, nullptr);
}
