// TCompressor and impborl.dll under Wine, with the library placed in the prefix's Windows folder.
#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <sstream>

#include "dcl.h"
#include "driver.h"
#include "general_error.h"
#include "pk_stuff.h"
#include "test_paths.h"

namespace {

const std::string kBuiltLibrary = driver::HostPath(IMPBORL_DLL);
const std::string kLibraryWithoutCrc = driver::HostPath(NOCRC_DLL);

// Puts a file at the Windows folder's impborl.dll for one test, and takes it away afterwards.
class LibraryInWindowsFolder {
 public:
  explicit LibraryInWindowsFolder(const std::string& source) {
    EXPECT_TRUE(CopyFileA(source.c_str(), path_.c_str(), FALSE)) << GetLastError();
  }
  ~LibraryInWindowsFolder() { DeleteFileA(path_.c_str()); }
  const std::string& Path() const { return path_; }

 private:
  std::string path_ = WindowsFolder() + "impborl.dll";
};

std::vector<uint8_t> Text(size_t size) {
  std::string text;
  while (text.size() < size) text += "A screen saver with fish, bubbles and a treasure chest. ";
  return {text.begin(), text.begin() + size};
}

TEST(Compressor, LibraryPathHasExactlyOneBackslash) {
  EXPECT_EQ(TCompressor::LibraryPath(), WindowsFolder() + "impborl.dll");
  EXPECT_EQ(TCompressor::LibraryPath().find("\\\\"), std::string::npos);
}

TEST(Compressor, ExpandsOurImplodedMemberIntoAFileOfItsSize) {
  LibraryInWindowsFolder library(kBuiltLibrary);
  const auto plain = Text(100000);
  const auto stream = dcl::Implode(plain);
  const std::string out = TempFolder() + "agreement.txt";
  TCompressor compressor;
  ASSERT_TRUE(compressor.LibraryLoaded());
  compressor.ExpandToFile(out, stream.data(), static_cast<int32_t>(stream.size()));
  EXPECT_EQ(ReadAll(out), plain);
}

TEST(Compressor, ReplacesAnExistingFileAndWritesEmptyForLengthZero) {
  LibraryInWindowsFolder library(kBuiltLibrary);
  const std::string out = TempFolder() + "old.dat";
  WriteAll(out, std::vector<uint8_t>(5000, 0xEE));
  const auto stream = dcl::Implode(Text(10));
  TCompressor compressor;
  compressor.ExpandToFile(out, stream.data(), static_cast<int32_t>(stream.size()));
  EXPECT_EQ(ReadAll(out), Text(10));
  compressor.ExpandToFile(out, nullptr, 0);
  EXPECT_EQ(FileSizeOf(out), 0);
}

TEST(Compressor, DamagedDataLeavesAFileForTheCallersSizeCheck) {
  LibraryInWindowsFolder library(kBuiltLibrary);
  auto stream = dcl::Implode(Text(20000));
  stream.resize(stream.size() / 2);
  const std::string out = TempFolder() + "short.dat";
  TCompressor compressor;
  compressor.ExpandToFile(out, stream.data(), static_cast<int32_t>(stream.size()));
  EXPECT_GE(FileSizeOf(out), 0);
  EXPECT_LT(FileSizeOf(out), 20000);
}

TEST(Compressor, AnOutputThatCannotBeCreatedIsAGeneralFailure) {
  LibraryInWindowsFolder library(kBuiltLibrary);
  const std::string out = TempFolder() + "missing folder\\x.dat";
  TCompressor compressor;
  try {
    compressor.ExpandToFile(out, nullptr, 0);
    FAIL() << "no failure";
  } catch (const EGeneralFailure& failure) {
    EXPECT_EQ(std::string(failure.what()), "Cannot create file " + out);
  }
}

TEST(Compressor, ALibraryOnlyBesideTheProgramIsNotFound) {
  DeleteFileA((WindowsFolder() + "impborl.dll").c_str());
  char self[MAX_PATH];
  std::string beside(self, GetModuleFileNameA(nullptr, self, MAX_PATH));
  beside = beside.substr(0, beside.rfind('\\') + 1) + "impborl.dll";
  ASSERT_TRUE(CopyFileA(kBuiltLibrary.c_str(), beside.c_str(), FALSE));
  {
    TCompressor compressor;
    EXPECT_FALSE(compressor.LibraryLoaded());
  }
  DeleteFileA(beside.c_str());
}

TEST(Compressor, ALibraryWithoutCrc32IsRefusedAndUnloaded) {
  LibraryInWindowsFolder library(kLibraryWithoutCrc);
  {
    TCompressor compressor;
    EXPECT_FALSE(compressor.LibraryLoaded());
  }
  EXPECT_EQ(GetModuleHandleA(library.Path().c_str()), nullptr);
}

TEST(Compressor, TwoCompressorsAliveAtOnceBothWork) {
  LibraryInWindowsFolder library(kBuiltLibrary);
  const auto stream = dcl::Implode(Text(3000));
  const std::string folder = TempFolder();
  auto first = std::make_unique<TCompressor>();
  TCompressor second;
  ASSERT_TRUE(first->LibraryLoaded());
  ASSERT_TRUE(second.LibraryLoaded());
  first->ExpandToFile(folder + "1", stream.data(), static_cast<int32_t>(stream.size()));
  first.reset();
  second.ExpandToFile(folder + "2", stream.data(), static_cast<int32_t>(stream.size()));
  EXPECT_EQ(ReadAll(folder + "2"), Text(3000));
}

// A stream in memory for the library's callbacks.
struct Io {
  std::vector<uint8_t> in;
  size_t pos = 0;
  std::vector<uint8_t> out;
};

unsigned PK_CDECL ReadIo(char* buf, unsigned* size, void* param) {
  auto& s = *static_cast<Io*>(param);
  const size_t n = std::min<size_t>(*size, s.in.size() - s.pos);
  std::copy_n(s.in.begin() + static_cast<ptrdiff_t>(s.pos), n, buf);
  s.pos += n;
  return static_cast<unsigned>(n);
}

void PK_CDECL WriteIo(char* buf, unsigned* size, void* param) {
  auto& s = *static_cast<Io*>(param);
  s.out.insert(s.out.end(), buf, buf + *size);
}

// Every test vector through the DLL's own exports, called as any user of the library would.
TEST(ImpborlDll, ExplodesEveryVectorByteForByte) {
  HMODULE dll = LoadLibraryA(kBuiltLibrary.c_str());
  ASSERT_NE(dll, nullptr);
  auto explode = reinterpret_cast<TCompressor::ExplodeFn>(
      reinterpret_cast<void*>(GetProcAddress(dll, "_explode")));
  ASSERT_NE(explode, nullptr);
  const std::string dir = driver::HostPath(DCL_TESTDATA_DIR) + "\\";
  std::ifstream manifest(DCL_TESTDATA_DIR "/MANIFEST.tsv");
  std::string line;
  std::getline(manifest, line);
  int checked = 0;
  while (std::getline(manifest, line)) {
    const std::string name = line.substr(0, line.find('\t'));
    Io io{ReadAll(dir + name + ".imploded")};
    std::vector<char> work(EXP_BUFFER_SIZE);
    EXPECT_EQ(explode(ReadIo, WriteIo, work.data(), &io), 0u) << name;
    EXPECT_EQ(io.out, ReadAll(dir + name + ".plain")) << name;
    ++checked;
  }
  EXPECT_GE(checked, 13);
  FreeLibrary(dll);
}

// Both codings and every dictionary through the DLL's own exports: its encoder's streams and
// saverpack's smallest ones explode back, and its CRC is the usual one.
TEST(ImpborlDll, EveryCodingAndDictionaryRoundTripsThroughItsExports) {
  HMODULE dll = LoadLibraryA(kBuiltLibrary.c_str());
  ASSERT_NE(dll, nullptr);
  using ImplodeFn = unsigned(PK_CDECL*)(pk_read_buf, pk_write_buf, char*, void*, unsigned*, unsigned*);
  using CrcFn = unsigned long(PK_CDECL*)(char*, unsigned*, unsigned long*);
  auto implode = reinterpret_cast<ImplodeFn>(reinterpret_cast<void*>(GetProcAddress(dll, "_implode")));
  auto explode = reinterpret_cast<TCompressor::ExplodeFn>(
      reinterpret_cast<void*>(GetProcAddress(dll, "_explode")));
  auto crc32 = reinterpret_cast<CrcFn>(reinterpret_cast<void*>(GetProcAddress(dll, "_crc32")));
  ASSERT_TRUE(implode && explode && crc32);
  std::vector<uint8_t> plain = Text(20000);
  for (int i = 0; i < 20000; ++i) plain.push_back(static_cast<uint8_t>(i * 2654435761u >> 13));
  for (unsigned type : {0u, 1u}) {
    for (unsigned dict : {1024u, 2048u, 4096u}) {
      Io packed{plain};
      std::vector<char> work(CMP_BUFFER_SIZE);
      ASSERT_EQ(implode(ReadIo, WriteIo, work.data(), &packed, &type, &dict), 0u) << type << " " << dict;
      for (const auto& stream : {packed.out, dcl::Implode(plain, type, dict, dcl::Level::Best)}) {
        Io back{stream};
        std::vector<char> explodeWork(EXP_BUFFER_SIZE);
        EXPECT_EQ(explode(ReadIo, WriteIo, explodeWork.data(), &back), 0u) << type << " " << dict;
        EXPECT_EQ(back.out, plain) << type << " " << dict;
      }
    }
  }
  char check[] = "123456789";
  unsigned size = 9;
  unsigned long seed = 0xFFFFFFFFul;
  EXPECT_EQ(~crc32(check, &size, &seed) & 0xFFFFFFFFul, 0xCBF43926ul);
  FreeLibrary(dll);
}

}  // namespace
