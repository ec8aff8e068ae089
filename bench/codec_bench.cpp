// Codec benchmark: saverpack's two implode levels beside zlib, explode beside inflate, and the
// distance to the exact optimum, all in one run.
//   codec_bench [--quick] [--vectors DIR] [--slice BYTES] [FILE...]
// For each file (without files: a generated corpus of text, records and a bitmap): the ratio of
// the default and fast levels and of zlib 1/6/9, implode MB/s of both levels and of zlib 1;
// explode beside inflate, each on the stream of its own best encoder (the smallest of
// saverpack's six codings, as build stores a member; zlib 9), explode both in memory (saverpack,
// the studio) and through the library's callbacks (impborl.dll, the installer), in turns with
// inflate, each decoding into a buffer allocated beforehand and checked, with the median of the
// turns' speed ratios; then on the file's first --slice bytes (default 262144) the exact
// optimum, found by comparing every distance, beside the default level and zlib 9. The other
// implode figures are binary literals with the 4096-byte dictionary. --vectors: each shared
// vector's default-level size against the reference size in its MANIFEST.tsv. --quick: one run
// per implode figure instead of the median of three, 5 expand turns instead of 9, and no exact
// optimum.
// Prints figures; asserts nothing. Throughput is in MB/s of plain data (1 MB = 10^6 bytes).
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "dcl.h"
#include "explode.h"

namespace {

using Bytes = std::vector<uint8_t>;
int runs = 3;

struct Rng {
  uint32_t s;
  uint32_t Next() { s ^= s << 13; s ^= s >> 17; s ^= s << 5; return s; }
};

Bytes Text(size_t size) {
  static const char* words[] = {"the", "screen", "saver", "installer", "window", "bubbles",
                                "fish", "licence", "agreement", "shall", "not", "copy",
                                "software", "user", "display", "properties", "of", "and",
                                "a", "to", "in", "is", "with", "for", "this", "any"};
  Rng rng{12345};
  std::string out;
  while (out.size() < size) {
    const int line = 6 + static_cast<int>(rng.Next() % 10);
    for (int w = 0; w < line; ++w) {
      out += words[rng.Next() % std::size(words)];
      out += w + 1 < line ? " " : ".\r\n";
    }
  }
  out.resize(size);
  return {out.begin(), out.end()};
}

// Looks like the data and relocation tables of 32-bit code: small integers, addresses, opcodes.
Bytes Records(size_t size) {
  Rng rng{999};
  Bytes out;
  while (out.size() < size) {
    const uint32_t base = 0x00401000u + (rng.Next() % 4096) * 16;
    const uint8_t record[32] = {0x55, 0x8B, 0xEC, 0x83, 0xEC, uint8_t(rng.Next() % 64), 0x53, 0x56,
                                0x57, 0x8B, 0x45, 0x08, 0xE8, uint8_t(base), uint8_t(base >> 8),
                                uint8_t(base >> 16), 0x00, 0x85, 0xC0, 0x74, uint8_t(rng.Next() % 32),
                                0x8B, 0x4D, 0x0C, 0x89, 0x01, 0x5F, 0x5E, 0x5B, 0xC9, 0xC3, 0x90};
    out.insert(out.end(), record, record + 32);
  }
  out.resize(size);
  return out;
}

// An uncompressed 24-bit bitmap: gradients, with noise over part of it.
Bytes Bitmap(size_t size) {
  Rng rng{4242};
  Bytes out;
  const int width = 1024;
  for (int y = 0; out.size() < size; ++y) {
    for (int x = 0; x < width; ++x) {
      const uint8_t noise = (x > width / 3) ? static_cast<uint8_t>(rng.Next() % 8) : 0;
      out.push_back(static_cast<uint8_t>(x / 4 + noise));
      out.push_back(static_cast<uint8_t>(y / 2 + noise));
      out.push_back(static_cast<uint8_t>((x + y) / 8));
    }
  }
  out.resize(size);
  return out;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

double MedianSeconds(const std::function<void()>& work) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    work();
    times.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  return Median(times);
}

Bytes Deflate(const Bytes& in, int level) {
  uLongf size = compressBound(in.size());
  Bytes out(size);
  compress2(out.data(), &size, in.data(), in.size(), level);
  out.resize(size);
  return out;
}

// Both decoders write into a buffer allocated beforehand and report what they produced, so the
// figures are the codecs' alone and the bytes can be checked.
bool Inflate(const Bytes& in, Bytes& out) {
  uLongf size = out.size();
  return uncompress(out.data(), &size, in.data(), in.size()) == Z_OK && size == out.size();
}

// Through the library's callbacks, as impborl.dll and the installer use it.
struct Into {
  const Bytes* in;
  size_t inPos;
  uint8_t* out;
  size_t outPos;
  size_t room;
};

unsigned ReadInto(char* buf, unsigned* size, void* param) {
  auto& io = *static_cast<Into*>(param);
  const size_t n = std::min<size_t>(*size, io.in->size() - io.inPos);
  std::memcpy(buf, io.in->data() + io.inPos, n);
  io.inPos += n;
  return static_cast<unsigned>(n);
}

void WriteInto(char* buf, unsigned* size, void* param) {
  auto& io = *static_cast<Into*>(param);
  const size_t n = std::min<size_t>(*size, io.room - io.outPos);
  std::memcpy(io.out + io.outPos, buf, n);
  io.outPos += n;
}

bool ExplodeThroughCallbacks(const Bytes& stream, Bytes& out) {
  static char work[EXP_BUFFER_SIZE];
  Into io{&stream, 0, out.data(), 0, out.size()};
  return dcl_explode(ReadInto, WriteInto, work, &io) == CMP_NO_ERROR && io.outPos == out.size();
}

// In memory, as saverpack and the studio use it (dcl::Explode): the output is the window. The
// buffer has the room past the end that the decoder asks for.
bool ExplodeInMemory(const Bytes& stream, Bytes& out, size_t size) {
  dcl::MemoryExplode state(stream.data(), stream.size());
  return dcl::ExplodeInto(state, out.data(), size + 1) == CMP_NO_ERROR && state.written == size;
}

int expandTurns = 9;

// Seconds of one decode: repeated until the sample spans at least 16 MB of output, so that a
// small file is not timed at the clock's grain.
double DecodeSeconds(const std::function<bool()>& decode, size_t plainSize, bool& ok) {
  const size_t repeats = std::max<size_t>(1, 16'000'000 / std::max<size_t>(plainSize, 1));
  const auto start = std::chrono::steady_clock::now();
  for (size_t i = 0; i < repeats; ++i) ok = decode() && ok;
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() /
         double(repeats);
}

struct Expansion {
  // Medians: seconds of each decoder; speed ratios of each explode to inflate.
  double memorySeconds, callbackSeconds, inflateSeconds, memoryRatio, callbackRatio;
  bool memoryOk = true, callbackOk = true, inflateOk = true;  // every run gave back the file
};

// The three decoders in turns, each turn's ratios kept: the median of the ratios stays steady
// while other work on the machine slows some turns down. Every run must report the whole file.
Expansion CompareExpansion(const Bytes& data, const Bytes& imploded, const Bytes& deflated) {
  Bytes inMemory(data.size() + 1 + dcl::kExplodeOverrun), exploded(data.size()),
      inflated(data.size());
  Expansion e{};
  std::vector<double> memoryTimes, callbackTimes, inflateTimes, memoryRatios, callbackRatios;
  for (int i = 0; i < expandTurns; ++i) {
    memoryTimes.push_back(DecodeSeconds(
        [&] { return ExplodeInMemory(imploded, inMemory, data.size()); }, data.size(), e.memoryOk));
    callbackTimes.push_back(DecodeSeconds([&] { return ExplodeThroughCallbacks(imploded, exploded); },
                                          data.size(), e.callbackOk));
    inflateTimes.push_back(DecodeSeconds([&] { return Inflate(deflated, inflated); },
                                         data.size(), e.inflateOk));
    memoryRatios.push_back(inflateTimes.back() / memoryTimes.back());
    callbackRatios.push_back(inflateTimes.back() / callbackTimes.back());
    if (i > 0) continue;
    // The buffers held zeros before this first turn: what they hold now is the decoders' work.
    e.memoryOk = e.memoryOk && std::equal(data.begin(), data.end(), inMemory.begin());
    e.callbackOk = e.callbackOk && exploded == data;
    e.inflateOk = e.inflateOk && inflated == data;
  }
  e.memorySeconds = Median(memoryTimes);
  e.callbackSeconds = Median(callbackTimes);
  e.inflateSeconds = Median(inflateTimes);
  e.memoryRatio = Median(memoryRatios);
  e.callbackRatio = Median(callbackRatios);
  return e;
}

bool quick = false;
size_t sliceSize = 256 * 1024;

double Ratio(size_t packed, size_t plain) { return plain ? double(packed) / double(plain) : 0; }

void Report(const std::string& name, const Bytes& data) {
  const double mb = double(data.size()) / 1e6;
  Bytes best, fast, zlib1, zlib6, zlib9;
  const double bestTime = MedianSeconds([&] { best = dcl::Implode(data, CMP_BINARY, 4096, dcl::Level::Best); });
  const double fastTime = MedianSeconds([&] { fast = dcl::Implode(data, CMP_BINARY, 4096, dcl::Level::Fast); });
  const double zlib1Time = MedianSeconds([&] { zlib1 = Deflate(data, 1); });
  zlib6 = Deflate(data, 6);
  zlib9 = Deflate(data, 9);
  const dcl::Stream stored = dcl::ImplodeSmallest(data);
  const Expansion e = CompareExpansion(data, stored.bytes, zlib9);

  std::printf("\n%s: %.2f MB\n", name.c_str(), mb);
  std::printf("  ratio    default %.4f  fast %.4f  zlib-1 %.4f  zlib-6 %.4f  zlib-9 %.4f\n",
              Ratio(best.size(), data.size()), Ratio(fast.size(), data.size()),
              Ratio(zlib1.size(), data.size()), Ratio(zlib6.size(), data.size()),
              Ratio(zlib9.size(), data.size()));
  std::printf("  implode  default %6.1f MB/s  fast %6.1f MB/s  zlib-1 %6.1f MB/s\n", mb / bestTime,
              mb / fastTime, mb / zlib1Time);
  std::printf("  expand   %s literals, %u-byte dictionary; zlib-9; median of %d turns\n",
              stored.type == CMP_ASCII ? "ascii" : "binary", stored.dict, expandTurns);
  std::printf("    explode in memory    %7.1f MB/s  (explode / inflate %.2f)\n",
              mb / e.memorySeconds, e.memoryRatio);
  std::printf("    explode, callbacks   %7.1f MB/s  (explode / inflate %.2f)\n",
              mb / e.callbackSeconds, e.callbackRatio);
  std::printf("    inflate              %7.1f MB/s\n", mb / e.inflateSeconds);
  if (!e.memoryOk) std::printf("  !! explode in memory did not give back the file\n");
  if (!e.callbackOk) std::printf("  !! explode through callbacks did not give back the file\n");
  if (!e.inflateOk) std::printf("  !! inflate did not give back the file\n");
  if (quick) return;
  const Bytes slice(data.begin(), data.begin() + std::min(sliceSize, data.size()));
  const auto exact = dcl::Implode(slice, CMP_BINARY, 4096, dcl::Level::Exact);
  const auto sliceBest = dcl::Implode(slice, CMP_BINARY, 4096, dcl::Level::Best);
  const auto sliceZlib = Deflate(slice, 9);
  std::printf("  first %zu bytes: exact optimum %zu, default %zu (%+.3f%%), zlib-9 %zu\n",
              slice.size(), exact.size(), sliceBest.size(),
              100.0 * (double(sliceBest.size()) / double(exact.size()) - 1), sliceZlib.size());
}

Bytes ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "codec_bench: %s: cannot open\n", path.c_str());
    std::exit(1);
  }
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

// Our default level against the reference encoder's sizes, vector by vector.
void ReportVectors(const std::string& dir) {
  std::ifstream manifest(dir + "/MANIFEST.tsv");
  if (!manifest) {
    std::fprintf(stderr, "codec_bench: %s/MANIFEST.tsv: cannot open\n", dir.c_str());
    std::exit(1);
  }
  std::string line;
  std::getline(manifest, line);
  size_t reference = 0, best = 0, fast = 0;
  std::printf("\nshared vectors (origin encoder): reference, default, fast\n");
  while (std::getline(manifest, line)) {
    std::istringstream row(line);
    std::string name, mode, sha, origin;
    unsigned dict = 0;
    size_t plainSize = 0, refSize = 0;
    row >> name >> mode >> dict >> plainSize >> refSize >> sha >> origin;
    if (origin != "encoder") continue;
    const Bytes plain = ReadAll(dir + "/" + name + ".plain");
    const unsigned type = mode == "ascii" ? CMP_ASCII : CMP_BINARY;
    const size_t b = dcl::Implode(plain, type, dict, dcl::Level::Best).size();
    const size_t f = dcl::Implode(plain, type, dict, dcl::Level::Fast).size();
    std::printf("  %-24s %7zu %7zu %7zu  default/reference %.4f\n", name.c_str(), refSize, b, f,
                Ratio(b, refSize));
    reference += refSize;
    best += b;
    fast += f;
  }
  std::printf("  %-24s %7zu %7zu %7zu  default %.4f, fast %.4f of the reference\n", "total",
              reference, best, fast, Ratio(best, reference), Ratio(fast, reference));
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> files;
  std::string vectors;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--quick") {
      quick = true;
      runs = 1;
      expandTurns = 5;
    } else if (arg == "--vectors" && i + 1 < argc) {
      vectors = argv[++i];
    } else if (arg == "--slice" && i + 1 < argc) {
      sliceSize = std::stoul(argv[++i]);
    } else {
      files.push_back(arg);
    }
  }
  if (!vectors.empty()) ReportVectors(vectors);
  if (!files.empty()) {
    for (const auto& file : files) Report(file, ReadAll(file));
    return 0;
  }
  if (!vectors.empty()) return 0;
  const size_t part = 8'000'000;
  Report("generated text", Text(part));
  Report("generated records", Records(part));
  Report("generated bitmap", Bitmap(part));
  return 0;
}
