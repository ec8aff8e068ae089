// An installer read once: every view of it together (list, verify, extract, extract --project,
// the studio's document and files) expands each distinct stream once, and only when a view needs
// its bytes.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <algorithm>

#include "data_file_writer.h"
#include "dcl.h"
#include "file_io.h"
#include "inspect.h"
#include "payload_writer.h"
#include "project_writer.h"
#include "report.h"
#include "studio_view.h"
#include "tool_runner.h"

namespace {

std::vector<uint8_t> Text(size_t n, const std::string& line) {
  std::vector<uint8_t> bytes;
  while (bytes.size() < n) bytes.insert(bytes.end(), line.begin(), line.end());
  bytes.resize(n);
  return bytes;
}

TMemberInput Imploded(const std::string& name, const std::vector<uint8_t>& plain, int32_t destination) {
  const auto stored = dcl::Implode(plain, CMP_ASCII, 2048);
  return {name, stored, destination, true, static_cast<int32_t>(plain.size()), static_cast<int32_t>(stored.size())};
}

TMemberInput Alias(const std::string& name, int32_t destination, int of) {
  return {name, {}, destination, false, 0, 0, of};
}

std::vector<uint8_t> Movie() {
  std::vector<uint8_t> movie = {'F', 'W', 'S', 6, 0, 0, 0, 0};
  const auto body = Text(6000, "frames of bubbles; ");
  movie.insert(movie.end(), body.begin(), body.end());
  return movie;
}

// Imploded members, slots that repeat the program's and the data file's records, and a data
// file whose first two entries name one chunk, beside an entry copied from the content movie.
std::vector<uint8_t> SharedInstaller() {
  const auto notes = Text(3000, "notes on the fish; "), more = Text(5000, "more on the weeds; ");
  auto data = BuildDataFile({}, kMovieFromContent,
                            {{"screensaver.swf", 0, 0, {}, false, 0},
                             {"notes.txt", 0, 0, dcl::Implode(notes, CMP_BINARY, 1024), true, 3000},
                             {"notes-too.txt", 0, 0, {'x'}, false, 1},
                             {"more.txt", 0, 0, dcl::Implode(more, CMP_ASCII, 4096), true, 5000}});
  const auto entry = [&](int i) { return data.data() + kDataFileHeaderSize + i * kDataEntrySize + offsetof(TDataFileEntry, ChunkOffset); };
  std::memcpy(entry(2), entry(1), sizeof(int32_t));  // entry 3 names entry 2's chunk
  TPayloadOptions options;
  options.ContentMode = cmFlashMovieToo;
  options.HasLicense = 1;
  options.SaverName = "Shared";
  TMemberInputs members;
  members[msCompressionLib] = {"impborl.dat", Text(4000, "codec"), 3, false, 4000, 4000};
  members[msContent] = Imploded("installer.scf", Movie(), 5);
  members[msLicense] = Imploded("licence.txt", Text(900, "You may share it. "), 5);
  members[msSaverEngine] = Imploded("Shared.scr", Text(20000, "the program's code "), 2);
  members[msDataFile] = Imploded("Shared.ssd", data, 4);
  members[msExtraFile] = Alias("Shared.ssd", 4, msDataFile);
  members[msSaverLib1] = Alias("saver1.dll", 5, msSaverEngine);
  members[msSaverLib2] = Alias("Shared.ssd", 4, msDataFile);
  return BuildInstallerImage(std::vector<uint8_t>(64, 'S'), options, members);
}

// The content, licence, program and data file, and the data file's two chunks.
constexpr size_t kDistinctStreams = 6;

TEST(OpenedInstaller, EveryViewTogetherExpandsEachDistinctStreamOnce) {
  const auto image = SharedInstaller();
  const saverpack::OpenedInstaller opened(image);
  ASSERT_TRUE(opened.Header());
  EXPECT_EQ(opened.Expansions(), 0u) << "opening expands nothing";
  saverpack::ListJson(opened);
  EXPECT_EQ(opened.Expansions(), 1u) << "the listing needs the data file's table alone";

  const saverpack::VerifyReport report = saverpack::VerifyReportOf(opened);
  EXPECT_EQ(report.problems, std::vector<std::string>{});
  EXPECT_EQ(opened.Expansions(), kDistinctStreams);

  const std::string document = saverpack::StudioReportJson(opened);
  EXPECT_NE(document.find("\"name\": \"installer.scf\", \"size\": 6008, \"flash\": true"), std::string::npos) << document;
  EXPECT_NE(document.find("\"name\": \"screensaver.swf\", \"size\": 6008, \"flash\": true"), std::string::npos) << document;
  for (int slot = 1; slot < kMemberCount; ++slot)
    if (opened.Member(slot).used) EXPECT_TRUE(saverpack::StudioSlotFile(opened, slot).Sound()) << slot;
  EXPECT_EQ(saverpack::StudioEntryFile(opened, 2).bytes.size(), 3000u);
  const auto shared = saverpack::StudioEntryFile(opened, 3).bytes;
  EXPECT_EQ(std::vector<uint8_t>(shared.begin(), shared.end()), Text(3000, "notes on the fish; "));
  EXPECT_EQ(saverpack::StudioEntryFile(opened, 4).bytes.size(), 5000u);
  ScratchDir dir;
  EXPECT_EQ(saverpack::ExtractInstaller(opened, dir.Path(), {}), std::vector<std::string>{});
  EXPECT_EQ(std::filesystem::file_size(dir / "Shared.ssd.entries/notes-too.txt"), 3000u);
  EXPECT_EQ(saverpack::ProjectOfInstaller(opened, "Shared.exe").problems, std::vector<std::string>{});
  EXPECT_EQ(opened.Expansions(), kDistinctStreams);
}

// The page's way: the model fetches what its report needs of the file, and a plain member only
// when its file is asked for; the report is the one of the whole file.
TEST(OpenedInstaller, TheStudiosReportReadsOnlyWhatItNeedsOfTheFile) {
  auto movie = Movie();
  movie.resize(12 << 20, 7);
  TPayloadOptions options;
  options.ContentMode = cmFlashMovieToo;
  options.SaverName = "Large";
  TMemberInputs members;
  members[msCompressionLib] = {"impborl.dat", Text(4000, "codec"), 3, false, 4000, 4000};
  members[msContent] = {"installer.scf", movie, 5, false, 12 << 20, 12 << 20};
  members[msSaverEngine] = Imploded("Large.scr", Text(20000, "the program's code "), 2);
  members[msSaverLib1] = {"big.dll", Text(2 << 20, "a library "), 5, false, 2 << 20, 2 << 20};
  for (const auto& image : {SharedInstaller(), BuildInstallerImage(std::vector<uint8_t>(64, 'S'), options, members)}) {
    std::vector<uint8_t> buffer(image.size());
    size_t fetched = 0;
    const saverpack::OpenedInstaller lazy(buffer, [&](size_t offset, size_t count) {
      std::memcpy(buffer.data() + offset, image.data() + offset, count);
      fetched += count;
      return true;
    });
    const saverpack::OpenedInstaller whole(image);
    EXPECT_EQ(saverpack::StudioReportJson(lazy), saverpack::StudioReportJson(whole));
    EXPECT_LT(fetched, size_t{1} << 20);
    EXPECT_TRUE(std::ranges::equal(saverpack::StudioSlotFile(lazy, msContent).bytes,
                                   saverpack::StudioSlotFile(whole, msContent).bytes));
  }
  const auto image = SharedInstaller();
  std::vector<uint8_t> buffer(image.size());
  try {
    saverpack::OpenedInstaller refused(buffer, [](size_t, size_t) { return false; });
    ADD_FAILURE() << "opened";
  } catch (const saverpack::ToolError& e) {
    EXPECT_STREQ(e.what(), "the file cannot be read at 0..427926");
  }
}

// A record that repeats a sound slot's offsets is still judged by its own name and destination,
// in either order: the installer refuses it whatever the other slot holds.
TEST(OpenedInstaller, ASlotThatRepeatsAnothersBytesIsJudgedByItsOwnRecord) {
  auto image = SharedInstaller();
  TPayloadHeader header = ParsePayloadHeader(image.data() + kPayloadOffset);
  for (int bad : {msSaverLib1, msSaverEngine}) {
    TPayloadHeader changed = header;
    SetMemberFileName(changed.Members[bad], "..\\evil.dll");
    std::memcpy(image.data() + kPayloadOffset, &changed, sizeof changed);
    const std::string label = bad == msSaverLib1 ? "slot 9 (first library)" : "slot 6 (screen-saver program)";
    EXPECT_EQ(saverpack::VerifyInstaller(image),
              std::vector<std::string>{label + ": name \"..\\evil.dll\" is not a plain file name"});
  }
}

}  // namespace
