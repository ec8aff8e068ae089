// Codec benchmark: saverpack's two implode levels beside zlib, explode beside inflate, and the
// distance to the exact optimum, all in one run.
//   codec_bench [--quick] [--vectors DIR] [--slice BYTES] [FILE...]
// For each file (without files: a generated corpus of text, records and a bitmap): the ratio of
// the default and fast levels and of zlib 1/6/9, implode MB/s of both levels and of zlib 1,
// explode MB/s beside inflate; then on the file's first --slice bytes (default 262144) the exact
// optimum, found by comparing every distance, beside the default level and zlib 9. All implode
// figures are binary literals with the 4096-byte dictionary. --vectors: each shared vector's
// default-level size against the reference size in its MANIFEST.tsv. --quick: one run per
// figure instead of the median of three, and no exact optimum.
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

double MedianSeconds(const std::function<void()>& work) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    work();
    times.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

Bytes Deflate(const Bytes& in, int level) {
  uLongf size = compressBound(in.size());
  Bytes out(size);
  compress2(out.data(), &size, in.data(), in.size(), level);
  out.resize(size);
  return out;
}

void Inflate(const Bytes& in, Bytes& out) {
  uLongf size = out.size();
  uncompress(out.data(), &size, in.data(), in.size());
}

// Explode into a buffer sized beforehand, as inflate gets one: the figure is the codec's alone.
struct Into {
  const Bytes* in;
  size_t inPos;
  uint8_t* out;
  size_t outPos;
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
  std::memcpy(io.out + io.outPos, buf, *size);
  io.outPos += *size;
}

void ExplodeInto(const Bytes& stream, Bytes& out) {
  static char work[EXP_BUFFER_SIZE];
  Into io{&stream, 0, out.data(), 0};
  dcl_explode(ReadInto, WriteInto, work, &io);
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
  Bytes out(data.size());
  const double explodeTime = MedianSeconds([&] { ExplodeInto(best, out); });
  if (out != data) std::printf("  !! the default level's stream does not explode to the file\n");
  const double inflateTime = MedianSeconds([&] { Inflate(zlib6, out); });

  std::printf("\n%s: %.2f MB\n", name.c_str(), mb);
  std::printf("  ratio    default %.4f  fast %.4f  zlib-1 %.4f  zlib-6 %.4f  zlib-9 %.4f\n",
              Ratio(best.size(), data.size()), Ratio(fast.size(), data.size()),
              Ratio(zlib1.size(), data.size()), Ratio(zlib6.size(), data.size()),
              Ratio(zlib9.size(), data.size()));
  std::printf("  implode  default %6.1f MB/s  fast %6.1f MB/s  zlib-1 %6.1f MB/s\n", mb / bestTime,
              mb / fastTime, mb / zlib1Time);
  std::printf("  expand   explode %6.1f MB/s  inflate %6.1f MB/s  (explode / inflate %.2f)\n",
              mb / explodeTime, mb / inflateTime, inflateTime / explodeTime);
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
