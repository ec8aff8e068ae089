#include <gtest/gtest.h>

#include <cstring>

#include "dataStructures_shared.h"
#include "payload_writer.h"

namespace {

TPayloadMember MemberNamed(const std::string& name, int32_t destination) {
  TPayloadMember m{};
  SetMemberFileName(m, name);
  m.Destination = destination;
  return m;
}

std::string DestinationName(const std::string& name, int32_t destination,
                            TDestinationFolder expectedFolder) {
  auto d = MemberDestination(MemberNamed(name, destination));
  EXPECT_TRUE(d.has_value());
  if (!d) return {};
  EXPECT_EQ(d->Folder, expectedFolder) << name << " with " << destination;
  return d->FileName;
}

TEST(PayloadDestination, SaverFolderCodesKeepTheName) {
  for (int code : {1, 4, 5, 6})
    EXPECT_EQ(DestinationName("agreement.txt", code, TDestinationFolder::Saver), "agreement.txt");
  EXPECT_EQ(DestinationName("My Saver.scr", 2, TDestinationFolder::Windows), "My Saver.scr");
}

TEST(PayloadDestination, CodeThreeMakesADllUnlessItIsTheFlashInstaller) {
  const auto win = TDestinationFolder::Windows;
  EXPECT_EQ(DestinationName("impborl.dat", 3, win), "impborl.dll");
  EXPECT_EQ(DestinationName("flashax.exe", 3, win), "flashax.exe");
  EXPECT_EQ(DestinationName("FlashAX.exe", 3, win), "FlashAX.dll");  // compared case-sensitively
  EXPECT_EQ(DestinationName("noextension", 3, win), "noextension.dll");
  EXPECT_EQ(DestinationName("a.b.c", 3, win), "a.b.dll");
}

TEST(PayloadDestination, OtherCodesCannotBePlaced) {
  for (int code : {0, 7, -1, 1000})
    EXPECT_FALSE(MemberDestination(MemberNamed("x.dat", code)).has_value()) << code;
}

TEST(PayloadRecords, NamesAreReadOnlyUpToTheirLength) {
  TPayloadMember m{};
  std::memset(m.FileName, 'Z', sizeof m.FileName);
  m.FileName[0] = 3;
  std::memcpy(m.FileName + 1, "abc", 3);
  EXPECT_EQ(MemberFileName(m), "abc");
  m.FileName[0] = 0;
  EXPECT_TRUE(IsEmptySlot(m));

  TPayloadHeader h{};
  std::memset(h.SaverName, 'N', sizeof h.SaverName);  // 64 characters, no NUL: used whole
  EXPECT_EQ(SaverNameOf(h), std::string(64, 'N'));
  std::memcpy(h.SaverName, "Aqua\0leftover", 13);
  EXPECT_EQ(SaverNameOf(h), "Aqua");
}

TEST(PayloadRecords, StoredLengthSurvivesExtremeOffsets) {
  TPayloadMember m{};
  m.StartOffset = INT32_MIN;
  m.EndOffset = INT32_MAX;
  EXPECT_EQ(StoredLength(m), int64_t{1} << 32);
  m.StartOffset = 100;
  m.EndOffset = 10;
  EXPECT_LT(StoredLength(m), 0);
}

TEST(PayloadRecords, PlainFileNames) {
  for (const char* good : {"a.txt", "My Saver.scr", "..a", "x..y"})
    EXPECT_TRUE(IsPlainFileName(good)) << good;
  for (const char* bad : {"", ".", "..", "a\\b", "../x", "c:x", "dir/x"})
    EXPECT_FALSE(IsPlainFileName(bad)) << bad;
}

TEST(PayloadWriter, LaysMembersBackToBackBehindTheHeader) {
  TPayloadOptions options;
  options.ContentMode = cmFlashMovieToo;
  options.HasLicense = 1;
  options.OpenDisplayProperties = 1;
  options.SaverName = "Aquarium";
  TMemberInputs members;
  members[msCompressionLib] = TMemberInput{"impborl.dat", std::vector<uint8_t>(10, 1), 3, false, 10, 10};
  members[msLicense] = TMemberInput{"agreement.txt", std::vector<uint8_t>(7, 2), 5, true, 30, 7};
  const std::vector<uint8_t> stub(1000, 0xCC);

  const auto image = BuildInstallerImage(stub, options, members);
  ASSERT_EQ(image.size(), size_t(kFirstMemberOffset) + 17);
  EXPECT_EQ(image[999], 0xCC);
  EXPECT_EQ(image[1000], 0);  // padding up to the payload offset

  const TPayloadHeader h = ParsePayloadHeader(image.data() + kPayloadOffset);
  EXPECT_EQ(h.ContentMode, 3);
  EXPECT_EQ(h.HasLicense, 1);
  EXPECT_EQ(h.OpenDisplayProperties, 1);
  EXPECT_EQ(SaverNameOf(h), "Aquarium");
  EXPECT_EQ(MemberFileName(h.Members[msStub]), "install.exe");
  EXPECT_EQ(h.Members[msStub].StartOffset, 0);
  EXPECT_EQ(h.Members[msStub].EndOffset, kPayloadOffset - 1);

  const auto& lib = h.Members[msCompressionLib];
  EXPECT_EQ(lib.StartOffset, kFirstMemberOffset);
  EXPECT_EQ(lib.EndOffset, kFirstMemberOffset + 9);
  const auto& licence = h.Members[msLicense];
  EXPECT_EQ(licence.StartOffset, kFirstMemberOffset + 10);
  EXPECT_EQ(StoredLength(licence), 7);
  EXPECT_EQ(licence.Compressed, 1);
  EXPECT_EQ(licence.FileSize, 30);
  EXPECT_EQ(image[licence.StartOffset], 2);

  const TPayloadMember empty{};
  EXPECT_EQ(std::memcmp(&h.Members[msFlashInstaller], &empty, sizeof empty), 0);
}

TEST(PayloadWriter, RefusesWhatTheFormatCannotHold) {
  TPayloadOptions options;
  TMemberInputs members;
  EXPECT_THROW(BuildInstallerImage(std::vector<uint8_t>(kPayloadOffset + 1), options, members),
               PayloadLayoutError);
  options.SaverName = std::string(65, 'x');
  EXPECT_THROW(LayoutPayloadHeader(options, members), PayloadLayoutError);
  options.SaverName = "ok";
  members[msContent] = TMemberInput{std::string(256, 'n'), {1}, 5, false, 1, 1};
  EXPECT_THROW(LayoutPayloadHeader(options, members), PayloadLayoutError);
}

}  // namespace
