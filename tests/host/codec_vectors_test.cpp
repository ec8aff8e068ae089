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
