#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "codec_test_util.h"
#include "dcl.h"
#include "dcl_tables.h"

namespace {

struct Shape {
  const char* name;
  std::vector<uint8_t> data;
};

std::vector<Shape> GeneratedShapes() {
  std::vector<Shape> shapes;
  shapes.push_back({"empty", {}});
  shapes.push_back({"one byte", {0x41}});
  shapes.push_back({"run", std::vector<uint8_t>(20000, 0x5A)});
  shapes.push_back({"incompressible", RandomBytes(30000, 7)});
  // A 600-byte block repeated: copies longer than the longest code, cut at 518.
  auto block = RandomBytes(600, 3);
  std::vector<uint8_t> repeated;
  for (int i = 0; i < 6; ++i) repeated.insert(repeated.end(), block.begin(), block.end());
  shapes.push_back({"long copies", repeated});
  // A block that recurs exactly 4096 bytes later: the furthest distance of the largest
  // dictionary, and for the smaller dictionaries a block they must not reach.
  auto far = RandomBytes(4096 + 64, 11);
  std::memcpy(far.data() + 4096, far.data(), 64);
  shapes.push_back({"furthest distance", far});
  // Short repeats: two-byte copies at small distances.
  std::vector<uint8_t> pairs;
  auto noise = RandomBytes(4000, 5);
  for (size_t i = 0; i + 3 < noise.size(); i += 4) {
    pairs.insert(pairs.end(), {noise[i], noise[i + 1], 0x10, 0x20, noise[i + 2]});
  }
  shapes.push_back({"two-byte copies", pairs});
  std::string text;
  for (int i = 0; i < 2000; ++i)
    text += "Line " + std::to_string(i * 7919 % 1000) + ": the quick brown fox jumps.\r\n";
  shapes.push_back({"text", {text.begin(), text.end()}});
  std::vector<uint8_t> all(256 * 3);
  for (size_t i = 0; i < all.size(); ++i) all[i] = static_cast<uint8_t>(i);
  shapes.push_back({"every byte value", all});
  return shapes;
}

TEST(ImplodeRoundTrip, EveryModeAndDictionaryOnEveryShape) {
  for (const auto& shape : GeneratedShapes()) {
    for (unsigned mode : {CMP_BINARY, CMP_ASCII}) {
      for (unsigned dict : {1024u, 2048u, 4096u}) {
        const auto stream = dcl::Implode(shape.data, mode, dict);
        const auto result = dcl::Explode(stream);
        EXPECT_EQ(result.code, unsigned(CMP_NO_ERROR)) << shape.name << " " << mode << " " << dict;
        EXPECT_EQ(result.data, shape.data) << shape.name << " " << mode << " " << dict;
      }
    }
  }
}

TEST(ImplodeRoundTrip, CompressesWhatRepeats) {
  const auto run = dcl::Implode(std::vector<uint8_t>(20000, 0x5A));
  EXPECT_LT(run.size(), 200u);
  const std::vector<uint8_t> empty;
  EXPECT_EQ(dcl::Implode(empty).size(), 4u);  // header and end code
  EXPECT_EQ(dcl::Explode(dcl::Implode(empty)).data.size(), 0u);
}

TEST(ImplodeRoundTrip, RefusesUnknownModesAndSizes) {
  const std::vector<uint8_t> data(10, 1);
  EXPECT_THROW(dcl::Implode(data, 2, 4096), std::invalid_argument);
  EXPECT_THROW(dcl::Implode(data, CMP_BINARY, 8192), std::invalid_argument);
  unsigned type = 0, dict = 3000;
  std::vector<char> work(CMP_BUFFER_SIZE);
  EXPECT_EQ(dcl_implode(nullptr, nullptr, work.data(), nullptr, &type, &dict),
            unsigned(CMP_INVALID_DICTSIZE));
  type = 7;
  dict = 1024;
  EXPECT_EQ(dcl_implode(nullptr, nullptr, work.data(), nullptr, &type, &dict),
            unsigned(CMP_INVALID_MODE));
}

// Callbacks that hand over a few bytes at a time (one, unless told) and take the output in
// whatever pieces come: the codecs must not depend on how the caller's buffers are cut.
struct Trickle {
  const std::vector<uint8_t>* in;
  size_t pos = 0;
  std::vector<uint8_t> out;
  size_t piece = 1;  // the most a read hands over
};
unsigned PK_CDECL ReadPiece(char* buf, unsigned int* size, void* param) {
  auto& t = *static_cast<Trickle*>(param);
  const size_t n = std::min({size_t{*size}, t.piece, t.in->size() - t.pos});
  std::memcpy(buf, t.in->data() + t.pos, n);
  t.pos += n;
  return static_cast<unsigned>(n);
}
void PK_CDECL Collect(char* buf, unsigned int* size, void* param) {
  auto& t = *static_cast<Trickle*>(param);
  t.out.insert(t.out.end(), buf, buf + *size);
}

TEST(CodecCallbacks, OneByteReadsGiveTheSameStreams) {
  const auto data = RandomBytes(3000, 9);
  std::vector<uint8_t> text(data);
  text.insert(text.end(), data.begin(), data.end());
  std::vector<char> work(CMP_BUFFER_SIZE + 7);
  Trickle imp{&text};
  unsigned type = CMP_ASCII, dict = 2048;
  ASSERT_EQ(dcl_implode(ReadPiece, Collect, work.data() + 3, &imp, &type, &dict), 0u);
  EXPECT_EQ(imp.out, dcl::Implode(text, CMP_ASCII, 2048));

  Trickle exp{&imp.out};
  ASSERT_EQ(dcl_explode(ReadPiece, Collect, work.data() + 1, &exp), 0u);
  EXPECT_EQ(exp.out, text);
}

TEST(ExplodeErrors, HeaderFaultsHaveTheirOwnCodes) {
  EXPECT_EQ(dcl::Explode(std::vector<uint8_t>{2, 6, 0, 0}).code, unsigned(CMP_INVALID_MODE));
  EXPECT_EQ(dcl::Explode(std::vector<uint8_t>{0, 7, 0, 0}).code, unsigned(CMP_INVALID_DICTSIZE));
  EXPECT_EQ(dcl::Explode(std::vector<uint8_t>{0, 3, 0, 0}).code, unsigned(CMP_INVALID_DICTSIZE));
  EXPECT_EQ(dcl::Explode(std::vector<uint8_t>{}).code, unsigned(CMP_ABORT));
  EXPECT_EQ(dcl::Explode(std::vector<uint8_t>{0}).code, unsigned(CMP_ABORT));
}

TEST(ExplodeErrors, TruncatedStreamsAbortWithTheOutputSoFar) {
  const auto text = ReadFileBytes(std::string(DCL_TESTDATA_DIR) + "/mixed48k-asc-4096.plain");
  const auto stream = dcl::Implode(text, CMP_ASCII, 4096);
  for (size_t cut : {size_t(2), size_t(3), stream.size() / 3, stream.size() - 2}) {
    const std::vector<uint8_t> part(stream.begin(), stream.begin() + cut);
    const auto result = dcl::Explode(part);
    EXPECT_EQ(result.code, unsigned(CMP_ABORT)) << cut;
    ASSERT_LE(result.data.size(), text.size());
    EXPECT_TRUE(std::equal(result.data.begin(), result.data.end(), text.begin())) << cut;
  }
}

TEST(ExplodeErrors, ACopyBeforeTheStartIsBadData) {
  // Binary, 1024: a copy of length 3 at distance 1 with nothing written yet. Bits, first
  // lowest: 1 (a copy), 1 1 (length 3: code 00 sent inverted), 1 1 (distance symbol 0: code 00
  // sent inverted), 0 0 0 0 (the low distance bits).
  const std::vector<uint8_t> stream{0, 4, 0x1F, 0x00, 0x00};
  EXPECT_EQ(dcl::Explode(stream).code, unsigned(CMP_BAD_DATA));
}

TEST(ExplodeErrors, DamagedStreamsNeverReadOutsideTheirBuffers) {
  // Every single-byte change of a real stream: a code comes back, and the output never grows
  // past what the stream could describe (the run is caught by the sanitizers in the fuzz build).
  const auto plain = ReadFileBytes(std::string(DCL_TESTDATA_DIR) + "/image96x64-bin-4096.plain");
  const auto stream = dcl::Implode(plain, CMP_BINARY, 4096);
  for (size_t i = 2; i < stream.size(); i += 7) {
    auto damaged = stream;
    damaged[i] ^= 0x5A;
    const auto result = dcl::Explode(damaged);
    EXPECT_LE(result.code, unsigned(CMP_ABORT));
    EXPECT_LE(result.data.size(), damaged.size() * 8 * 518 / 9);
  }
}

}  // namespace

namespace {

TEST(ImplodeLevels, EveryLevelAndCodingRoundTripsOnEveryShape) {
  for (const auto& shape : GeneratedShapes()) {
    for (auto level : {dcl::Level::Fast, dcl::Level::Best}) {
      size_t smallest = SIZE_MAX;
      for (unsigned mode : {CMP_BINARY, CMP_ASCII}) {
        for (unsigned dict : {1024u, 2048u, 4096u}) {
          const auto stream = dcl::Implode(shape.data, mode, dict, level);
          const auto result = dcl::Explode(stream);
          EXPECT_EQ(result.code, unsigned(CMP_NO_ERROR)) << shape.name << " " << mode << " " << dict;
          EXPECT_EQ(result.data, shape.data) << shape.name << " " << mode << " " << dict;
          smallest = std::min(smallest, stream.size());
        }
      }
      // The smallest of the six, with its coding in its first two bytes.
      const auto best = dcl::ImplodeSmallest(shape.data, level);
      EXPECT_EQ(best.bytes.size(), smallest) << shape.name;
      EXPECT_EQ(best.bytes[0], best.type) << shape.name;
      EXPECT_EQ(64u << best.bytes[1], best.dict) << shape.name;
      EXPECT_EQ(dcl::Explode(best.bytes).data, shape.data) << shape.name;
    }
  }
  EXPECT_THROW(dcl::Implode({}, 2, 4096, dcl::Level::Best), std::invalid_argument);
  EXPECT_THROW(dcl::Implode({}, CMP_BINARY, 512, dcl::Level::Fast), std::invalid_argument);
}

// Text codes its letters cheaply: the build's choice for it.
TEST(ImplodeLevels, TextTakesAsciiLiterals) {
  const std::string text = "Bubbles rise past the treasure chest while the angelfish turns.\r\n";
  const auto best = dcl::ImplodeSmallest({reinterpret_cast<const uint8_t*>(text.data()), text.size()});
  EXPECT_EQ(best.type, unsigned(CMP_ASCII));
}

}  // namespace

namespace {

// Streams written token by token, with the copies a test chooses rather than an encoder: binary
// literals, the 4096-byte dictionary.
struct TokenWriter {
  std::vector<uint8_t> bytes{CMP_BINARY, 6};
  uint64_t pending = 0;
  unsigned pendingBits = 0;

  void Put(uint32_t bits, unsigned count) {
    pending |= uint64_t{bits} << pendingBits;
    for (pendingBits += count; pendingBits >= 8; pendingBits -= 8, pending >>= 8)
      bytes.push_back(static_cast<uint8_t>(pending));
  }
  void Literal(uint8_t byte) { Put(unsigned{byte} << 1, 9); }
  void Copy(unsigned length, unsigned distance) {
    const uint32_t lengthCode = dcl::gTables.lengthEncoding[length];
    Put(lengthCode & 0xFFFFFF, lengthCode >> 24);
    if (length == dcl::kEndCode) return;
    const unsigned lowBits = length == 2 ? 2 : 6;
    const unsigned high = (distance - 1) >> lowBits;
    Put(dcl::gTables.distance.bits[high], dcl::gTables.distance.length[high]);
    Put((distance - 1) & ((1u << lowBits) - 1), lowBits);
  }
  std::vector<uint8_t> Finish() {
    Copy(dcl::kEndCode, 0);
    Put(0, 7);
    return bytes;
  }
};

// Through the library's callbacks, reading the stream in pieces of the given size.
Trickle ExplodeInPieces(const std::vector<uint8_t>& stream, size_t piece, unsigned& code) {
  Trickle t{&stream};
  t.piece = piece;
  std::vector<char> work(EXP_BUFFER_SIZE);
  code = dcl_explode(ReadPiece, Collect, work.data(), &t);
  return t;
}

// Copies by words must give what a copy byte by byte gives, however near their source: the
// pattern of a copy nearer than a word repeats, and every length ends where it should.
TEST(ExplodeCopies, EveryNearDistanceAndLengthGivesTheBytesOfAByteByByteCopy) {
  TokenWriter writer;
  std::vector<uint8_t> expected = RandomBytes(40, 21);
  for (uint8_t byte : expected) writer.Literal(byte);
  for (unsigned distance = 1; distance <= 40; ++distance) {
    for (unsigned length : {2u, 3u, 7u, 8u, 9u, 15u, 16u, 17u, 24u, 33u, 100u, 517u, 518u}) {
      writer.Copy(length, distance);
      for (unsigned i = 0; i < length; ++i) expected.push_back(expected[expected.size() - distance]);
      writer.Literal(static_cast<uint8_t>(distance * 31 + length));
      expected.push_back(static_cast<uint8_t>(distance * 31 + length));
    }
  }
  const auto stream = writer.Finish();
  const auto inMemory = dcl::Explode(stream);
  EXPECT_EQ(inMemory.code, unsigned(CMP_NO_ERROR));
  EXPECT_EQ(inMemory.data, expected);
  unsigned code = 0;
  EXPECT_EQ(ExplodeInPieces(stream, 2048, code).out, expected);
  EXPECT_EQ(code, unsigned(CMP_NO_ERROR));
}

// The in-memory decoder and the callbacks' share one token loop but not their input: the same
// code and bytes wherever the input is cut, including streams that end within the last word.
TEST(ExplodePaths, MemoryAndCallbacksAgreeWhereverTheInputEnds) {
  for (const auto& v : ReadDclManifest()) {
    const auto stream = ReadFileBytes(DclPath(v, ".imploded"));
    std::vector<size_t> cuts{stream.size(), stream.size() * 2 / 3};
    for (size_t back = 1; back <= 9 && back < stream.size(); ++back) cuts.push_back(stream.size() - back);
    for (size_t cut : cuts) {
      const std::vector<uint8_t> part(stream.begin(), stream.begin() + cut);
      const auto inMemory = dcl::Explode(part);
      for (size_t piece : {1, 7, 8, 9, 2048}) {
        unsigned code = 0;
        EXPECT_EQ(ExplodeInPieces(part, piece, code).out, inMemory.data) << v.name << " " << cut << " " << piece;
        EXPECT_EQ(code, inMemory.code) << v.name << " " << cut << " " << piece;
      }
    }
  }
}

// The output grows as the stream fills it, and stops one byte past the limit: a record's size
// bounds what a stream that claims more can cost.
TEST(ExplodeLimit, KeepsOneBytePastTheLimitAndNoMore) {
  std::vector<uint8_t> data;
  const auto block = RandomBytes(1000, 13);
  while (data.size() < 3'000'000) data.insert(data.end(), block.begin(), block.end());
  const auto stream = dcl::Implode(data);
  const auto whole = dcl::Explode(stream, data.size());
  EXPECT_EQ(whole.code, unsigned(CMP_NO_ERROR));
  EXPECT_FALSE(whole.pastLimit);
  EXPECT_EQ(whole.data, data);
  for (size_t limit : {size_t{0}, size_t{1'000'000}, data.size() - 1}) {
    const auto cut = dcl::Explode(stream, limit);
    EXPECT_EQ(cut.code, unsigned(CMP_ABORT)) << limit;
    EXPECT_TRUE(cut.pastLimit) << limit;
    ASSERT_EQ(cut.data.size(), limit + 1);
    EXPECT_TRUE(std::equal(cut.data.begin(), cut.data.end(), data.begin())) << limit;
  }
}

}  // namespace
