#include <gtest/gtest.h>

#include "codec_test_util.h"
#include "dcl.h"

namespace {

TEST(ExplodeVectors, EveryVectorExplodesByteForByte) {
  const auto vectors = ReadDclManifest();
  ASSERT_GE(vectors.size(), 13u);
  for (const auto& v : vectors) {
    const auto stream = ReadFileBytes(DclPath(v, ".imploded"));
    const auto plain = ReadFileBytes(DclPath(v, ".plain"));
    ASSERT_FALSE(stream.empty()) << v.name;
    const auto result = dcl::Explode(stream);
    EXPECT_EQ(result.code, unsigned(CMP_NO_ERROR)) << v.name;
    EXPECT_EQ(result.data, plain) << v.name;
  }
}

TEST(ImplodeVectors, OurStreamsOfEveryVectorRoundTrip) {
  for (const auto& v : ReadDclManifest()) {
    const auto plain = ReadFileBytes(DclPath(v, ".plain"));
    const auto stream = dcl::Implode(plain, v.mode, v.dict);
    EXPECT_EQ(stream[0], v.mode) << v.name;
    EXPECT_EQ(1u << (stream[1] + 6), v.dict) << v.name;
    const auto result = dcl::Explode(stream);
    EXPECT_EQ(result.code, unsigned(CMP_NO_ERROR)) << v.name;
    EXPECT_EQ(result.data, plain) << v.name;
  }
}

TEST(Crc32, ContinuesTheCallersValueWithoutInversion) {
  const std::string check = "123456789";
  EXPECT_EQ(dcl::Crc32({reinterpret_cast<const uint8_t*>(check.data()), check.size()}),
            0xCBF43926u);
  // In two pieces through the library call itself: the running value carries over.
  unsigned long crc = 0xFFFFFFFFul;
  unsigned int first = 4, rest = 5;
  crc = dcl_crc32(const_cast<char*>(check.data()), &first, &crc);
  crc = dcl_crc32(const_cast<char*>(check.data() + 4), &rest, &crc);
  EXPECT_EQ(~crc & 0xFFFFFFFFul, 0xCBF43926ul);
  unsigned int none = 0;
  unsigned long seed = 0x12345678;
  EXPECT_EQ(dcl_crc32(nullptr, &none, &seed), 0x12345678ul);
}

}  // namespace

namespace {

// The reference encoder's sizes are in the manifest: the default level must beat them in total
// and never lose by more than a rounding on a vector of some size; the fast level stays close.
TEST(ImplodeLevels, TheDefaultLevelIsSmallerThanTheReferenceEncoder) {
  size_t reference = 0, best = 0, fast = 0;
  for (const auto& v : ReadDclManifest()) {
    if (v.origin != "encoder") continue;
    const auto plain = ReadFileBytes(DclPath(v, ".plain"));
    const auto stream = dcl::Implode(plain, v.mode, v.dict, dcl::Level::Best);
    const auto quick = dcl::Implode(plain, v.mode, v.dict, dcl::Level::Fast);
    for (const auto* s : {&stream, &quick}) {
      const auto back = dcl::Explode(*s);
      EXPECT_EQ(back.code, unsigned(CMP_NO_ERROR)) << v.name;
      EXPECT_EQ(back.data, plain) << v.name;
    }
    if (plain.size() >= 1000)
      EXPECT_LE(double(stream.size()), 1.001 * double(v.referenceSize)) << v.name;
    reference += v.referenceSize;
    best += stream.size();
    fast += quick.size();
  }
  ASSERT_GT(reference, 200000u);
  EXPECT_LE(double(best), 0.996 * double(reference)) << best << " of " << reference;
  EXPECT_LE(double(fast), 1.01 * double(reference)) << fast << " of " << reference;
}

}  // namespace
