#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "codec_test_util.h"
#include "dcl.h"

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

// Callbacks that hand over one byte at a time and take the output in whatever pieces come:
// the codecs must not depend on how the caller's buffers are cut.
struct Trickle {
  const std::vector<uint8_t>* in;
  size_t pos = 0;
  std::vector<uint8_t> out;
};
unsigned PK_CDECL ReadOneByte(char* buf, unsigned int* size, void* param) {
  auto& t = *static_cast<Trickle*>(param);
  if (t.pos == t.in->size() || *size == 0) return 0;
  buf[0] = static_cast<char>((*t.in)[t.pos++]);
  return 1;
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
  ASSERT_EQ(dcl_implode(ReadOneByte, Collect, work.data() + 3, &imp, &type, &dict), 0u);
  EXPECT_EQ(imp.out, dcl::Implode(text, CMP_ASCII, 2048));

  Trickle exp{&imp.out};
  ASSERT_EQ(dcl_explode(ReadOneByte, Collect, work.data() + 1, &exp), 0u);
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
