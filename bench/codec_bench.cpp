// Codec benchmark: implode and explode throughput and ratio, beside zlib on the same data.
//   codec_bench [--quick] [FILE...]
// Without files: a generated 24 MB corpus (text, records, bitmap). --quick: only binary mode
// with the 4096-byte dictionary, on the mixed corpus.
// Prints figures; asserts nothing. Throughput is the median of several runs, in MB/s of plain
// data (1 MB = 10^6 bytes).
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "dcl.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr int kRuns = 5;

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
  for (int i = 0; i < kRuns; ++i) {
    const auto start = std::chrono::steady_clock::now();
    work();
    times.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  return times[kRuns / 2];
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

bool quick = false;

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

void Report(const char* name, const Bytes& data) {
  const double mb = data.size() / 1e6;
  std::printf("\n%s: %.1f MB\n", name, mb);
  std::printf("  %-22s %8s %12s %12s\n", "codec", "ratio", "pack MB/s", "unpack MB/s");
  for (unsigned type : {CMP_BINARY, CMP_ASCII}) {
    for (unsigned dict : {1024u, 2048u, 4096u}) {
      if (quick && (type != CMP_BINARY || dict != 4096)) continue;
      Bytes stream;
      const double pack = MedianSeconds([&] { stream = dcl::Implode(data, type, dict); });
      Bytes out(data.size());
      const double unpack = MedianSeconds([&] { ExplodeInto(stream, out); });
      char label[64];
      std::snprintf(label, sizeof label, "implode %s %u", type == CMP_BINARY ? "binary" : "ascii", dict);
      std::printf("  %-22s %8.3f %12.1f %12.1f\n", label, double(stream.size()) / data.size(),
                  mb / pack, mb / unpack);
    }
  }
  for (int level : {1, 6}) {
    Bytes packed;
    const double pack = MedianSeconds([&] { packed = Deflate(data, level); });
    Bytes out(data.size());
    const double unpack = MedianSeconds([&] { Inflate(packed, out); });
    char label[64];
    std::snprintf(label, sizeof label, "zlib deflate %d", level);
    std::printf("  %-22s %8.3f %12.1f %12.1f\n", label, double(packed.size()) / data.size(),
                mb / pack, mb / unpack);
  }
}

}  // namespace

int main(int argc, char** argv) {
  int first = 1;
  if (argc > 1 && std::string(argv[1]) == "--quick") {
    quick = true;
    first = 2;
  }
  if (argc > first) {
    for (int i = first; i < argc; ++i) {
      std::ifstream in(argv[i], std::ios::binary);
      if (!in) {
        std::fprintf(stderr, "codec_bench: %s: cannot open\n", argv[i]);
        return 1;
      }
      Report(argv[i], Bytes(std::istreambuf_iterator<char>(in), {}));
    }
    return 0;
  }
  const size_t part = 8'000'000;
  const Bytes text = Text(part), records = Records(part), bitmap = Bitmap(part);
  Bytes mixed;
  for (const Bytes* b : {&text, &records, &bitmap}) mixed.insert(mixed.end(), b->begin(), b->end());
  if (!quick) {
    Report("text", text);
    Report("records", records);
    Report("bitmap", bitmap);
  }
  Report("mixed (all three)", mixed);
  return 0;
}
