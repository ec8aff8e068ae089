#include "pk_stuff.h"

#include <algorithm>
#include <cstring>

#include "general_error.h"
#include "win32_handles.h"

char ExplodeWorkBuffer[EXP_BUFFER_SIZE];

namespace {

template <typename Fn>
Fn Resolve(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

std::string TCompressor::LibraryPath() {
  char folder[301];
  const UINT length = GetWindowsDirectoryA(folder, sizeof folder);
  std::string path(folder, length < sizeof folder ? length : 0);
  if (path.empty() || path.back() != '\\') path += '\\';
  return path + "impborl.dll";
}

TCompressor::TCompressor() {
  const std::string path = LibraryPath();
  if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) return;
  HMODULE module = LoadLibraryA(path.c_str());
  if (!module) return;
  implode_ = Resolve<ImplodeFn>(module, "_implode");
  explode_ = Resolve<ExplodeFn>(module, "_explode");
  crc_ = Resolve<CrcFn>(module, "_crc32");
  if (implode_ && explode_ && crc_) {
    module_ = module;
    libraryLoaded_ = true;
  } else {
    FreeLibrary(module);
    implode_ = nullptr;
    explode_ = nullptr;
    crc_ = nullptr;
  }
}

TCompressor::~TCompressor() { Destroy(); }

void TCompressor::Destroy() {
  if (libraryLoaded_) FreeLibrary(module_);
  module_ = nullptr;
  libraryLoaded_ = false;
}

void TCompressor::ExpandToFile(const std::string& path, const uint8_t* data, int32_t length) {
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
  output_ = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
  if (output_ == INVALID_HANDLE_VALUE) RaiseGeneralFailure("Cannot create file", path);
  explode_(&TCompressor::CompressorRead, &TCompressor::CompressorWrite, ExplodeWorkBuffer, this);
}

unsigned PK_CDECL TCompressor::CompressorRead(char* buffer, unsigned* size, void* param) {
  auto& self = *static_cast<TCompressor*>(param);
  const size_t n = std::min<size_t>(*size, self.input_.size() - self.inputPos_);
  if (n) std::memcpy(buffer, self.input_.data() + self.inputPos_, n);
  self.inputPos_ += n;
  return static_cast<unsigned>(n);
}

void PK_CDECL TCompressor::CompressorWrite(char* buffer, unsigned* size, void* param) {
  // A short or failed write is dropped: the caller's size check catches the short file.
  auto& self = *static_cast<TCompressor*>(param);
  DWORD written = 0;
  WriteFile(self.output_, buffer, *size, &written, nullptr);
}
