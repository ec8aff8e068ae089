// The catalogue of bad inputs: damaged, cut and hostile installers, each run for real. None may
// crash or hang; each shows its message and code, and nothing is written outside the Windows
// folder and the saver's folder.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "data_file_writer.h"
#include "dcl.h"
#include "installer_run.h"
#include "test_paths.h"
#include "win32_fixtures.h"

namespace {

const std::string kSaverDir = WindowsFolder() + "Aquarium dir\\";

TPayloadHeader* HeaderIn(std::vector<uint8_t>& image) {
  return reinterpret_cast<TPayloadHeader*>(image.data() + kPayloadOffset);
}

struct Row {
  const char* name;
  bool silent;                                        // install-time rows run silently
  std::function<void(TMemberInputs&)> members;        // changes before the image is built
  std::function<void(std::vector<uint8_t>&)> image;   // changes of the built image
  std::vector<std::string> boxes;                     // each box's text starts with this
  long exitCode;
};

std::vector<uint8_t> DataFileWith(std::function<void(std::vector<uint8_t>&)> change) {
  TDataEntryInput entry;
  entry.Name = "notes.txt";
  entry.Stored = dcl::Implode(TextBytes(800));
  entry.Compressed = true;
  entry.FileSize = 800;
  auto file = BuildDataFile({}, 0, {entry});
  change(file);
  return file;
}

void SetCount(std::vector<uint8_t>& file, int32_t count) {
  std::memcpy(file.data() + offsetof(TDataFileHeader, EntryCount), &count, 4);
}

const std::string kCorrupted = "Installer file is corrupted. Error ";
const std::string kProblem = "Installation Error: Problem using ";

std::vector<Row> Catalogue() {
  auto licence = [](std::function<void(TPayloadMember&)> change) {
    return [change](std::vector<uint8_t>& image) { change(HeaderIn(image)->Members[msLicense]); };
  };
  auto named = [](std::string name) {
    return [name](TMemberInputs& m) { m[msLicense]->Name = name; };
  };
  auto data = [](std::function<void(std::vector<uint8_t>&)> change) {
    return [change](TMemberInputs& m) { m[msDataFile] = Member("Aquarium.ssd", DataFileWith(change), 4); };
  };
  auto saverName = [](std::string name) {
    return [name](std::vector<uint8_t>& image) {
      char* field = HeaderIn(image)->SaverName;
      std::memset(field, 0, sizeof HeaderIn(image)->SaverName);
      std::memcpy(field, name.data(), name.size());
    };
  };
  // "QVF temp\\tempN.dat", or a fresh staging folder beside it where "QVF temp" is not ours.
  const std::string staging = WindowsFolder() + "TEMP\\QVF temp";
  return {
      {"cut inside the header", false, nullptr, [](auto& i) { i.resize(kPayloadOffset + 100); },
       {kProblem + staging, kCorrupted + "-31. "}, 2},
      {"cut inside the codec member", false, nullptr,
       [](auto& i) { i.resize(HeaderIn(i)->Members[msCompressionLib].StartOffset + 10); },
       {kProblem + WindowsFolder() + "impborl.dll. ", kProblem + staging, kCorrupted + "-30. "}, 2},
      {"cut inside the licence", false, nullptr,
       [](auto& i) { i.resize(HeaderIn(i)->Members[msLicense].StartOffset + 10); },
       {kProblem + kSaverDir + "agreement.txt. ", kCorrupted + "-30. "}, 2},
      // Start-up extracts the licence (slot 4, behind the cut) before the picture.
      {"cut inside the picture", false, nullptr,
       [](auto& i) { i.resize(HeaderIn(i)->Members[msContent].StartOffset + 10); },
       {kProblem + kSaverDir + "agreement.txt. ", kCorrupted + "-30. "}, 2},
      {"cut inside the program", true, nullptr,
       [](auto& i) { i.resize(HeaderIn(i)->Members[msSaverEngine].StartOffset + 10); },
       {kProblem + WindowsFolder() + "Aquarium.scr. ", kCorrupted + "-30. "}, 2},
      {"cut inside the last library", true, nullptr,
       [](auto& i) { i.resize(HeaderIn(i)->Members[msSaverLib2].StartOffset + 10); },
       {kProblem + kSaverDir + "saver2.dll. ", kCorrupted + "-30. "}, 2},
      {"negative offset", false, nullptr, licence([](auto& m) { m.StartOffset = -5; }),
       {kProblem + kSaverDir + "agreement.txt. ", kCorrupted + "-30. "}, 2},
      {"reversed offsets", false, nullptr, licence([](auto& m) { m.EndOffset = m.StartOffset - 100; }),
       {kProblem + kSaverDir + "agreement.txt. ", kCorrupted + "-30. "}, 2},
      {"stored length of 2 GiB", false, nullptr, licence([](auto& m) { m.EndOffset = 0x7FFFFFFF; }),
       {kProblem + kSaverDir + "agreement.txt. ", kCorrupted + "-30. "}, 2},
      {"negative FileSize", false, nullptr, licence([](auto& m) { m.FileSize = -1; }),
       {kProblem + kSaverDir + "agreement.txt. ", kCorrupted + "-13. "}, 2},
      {"huge FileSize", false, nullptr, licence([](auto& m) { m.FileSize = 0x7FFFFFFF; }),
       {kProblem + kSaverDir + "agreement.txt. ", kCorrupted + "-13. "}, 2},
      {"name with folder parts", false, named("..\\..\\evil.txt"), nullptr,
       {kProblem + "..\\..\\evil.txt. ", kCorrupted + "-533. "}, 2},
      {"name \"..\"", false, named(".."), nullptr, {kProblem + "... ", kCorrupted + "-533. "}, 2},
      {"name with a drive", false, named("C:evil.txt"), nullptr, {kProblem + "C:evil.txt. ", kCorrupted + "-533. "}, 2},
      // Silent, so that a run that took the name would install and end at once.
      {"saver name climbing out of the Windows folder", true, nullptr, saverName("..\\..\\Evil"),
       {kProblem + "..\\..\\Evil. ", kCorrupted + "-536. "}, 2},
      {"saver name with a drive", true, nullptr, saverName("C:\\Evil"), {kProblem + "C:\\Evil. ", kCorrupted + "-536. "}, 2},
      {"data file with EntryCount -1", true, data([](auto& f) { SetCount(f, -1); }), nullptr,
       {"Screen Saver Error: Problem opening screen saver data file:\r\n-535", kCorrupted + "-535. "}, 2},
      {"data file with EntryCount 109", true, data([](auto& f) { SetCount(f, 109); }), nullptr,
       {"Screen Saver Error: Problem opening screen saver data file:\r\n-535", kCorrupted + "-535. "}, 2},
      {"data file with EntryCount 100000", true, data([](auto& f) { SetCount(f, 100000); }), nullptr,
       {"Screen Saver Error: Problem opening screen saver data file:\r\n-535", kCorrupted + "-535. "}, 2},
      {"ChunkOffset beyond the end", true,
       data([](auto& f) { int32_t at = 1 << 30; std::memcpy(f.data() + kDataFileHeaderSize + 260, &at, 4); }), nullptr,
       {"Screen Saver Error: Problem reading a chunk of the screen saver data file:\r\n", kCorrupted + "100. "}, 2},
      {"negative PackedSize", true,
       data([](auto& f) { int32_t n = -4; std::memcpy(f.data() + kDataFileHeaderSize + kDataEntrySize + 12, &n, 4); }), nullptr,
       {"Screen Saver Error: Problem reading a chunk of the screen saver data file:\r\n", kCorrupted + "100. "}, 2},
      {"cut inside the data file", true, nullptr,
       [](auto& i) { i.resize(HeaderIn(i)->Members[msDataFile].StartOffset + 10); },
       {kProblem + kSaverDir + "Aquarium.ssd. ", kCorrupted + "-30. "}, 2},
  };
}

TPayloadOptions OptionsFor(bool silent) {
  TPayloadOptions options;
  options.ContentMode = silent ? cmSilent : cmPicture;
  options.HasLicense = 1;
  options.SaverName = "Aquarium";
  return options;
}

TMemberInputs MembersWithData() {
  TMemberInputs members = PictureMembers(true);
  TDataEntryInput entry;
  entry.Name = "notes.txt";
  entry.Stored = TextBytes(100);
  entry.FileSize = 100;
  members[msDataFile] = Member("Aquarium.ssd", BuildDataFile({}, 0, {entry}), 4);
  return members;
}

TEST(BadInput, EveryRowOfTheCatalogue) {
  const auto stagingBefore = StagingCopies();
  for (const Row& row : Catalogue()) {
    TMemberInputs members = MembersWithData();
    if (row.members) row.members(members);
    auto image = BuildInstallerImage(BuiltInstallExe(), OptionsFor(row.silent), members);
    if (row.image) row.image(image);
    DeleteFileA((WindowsFolder() + "Aquarium.scr").c_str());
    InstallerRun run(image);
    const auto texts = run.AnswerBoxesUntilExit(60000);
    const long code = run.WaitForExit(5000);
    EXPECT_EQ(code, row.exitCode) << row.name;
    ASSERT_EQ(texts.size(), row.boxes.size()) << row.name << ": " << (texts.empty() ? "" : texts[0]);
    for (size_t i = 0; i < texts.size(); ++i)
      EXPECT_EQ(texts[i].rfind(row.boxes[i], 0), 0u) << row.name << "\n got: " << texts[i];
    // Nothing outside the two folders; a failed installation takes the program back.
    EXPECT_FALSE(FileExists(WindowsFolder() + "evil.txt")) << row.name;
    EXPECT_FALSE(FileExists("C:\\evil.txt")) << row.name;
    EXPECT_FALSE(FileExists(WindowsFolder() + "Aquarium.scr")) << row.name;
    EXPECT_FALSE(FileExists("C:\\Evil dir")) << row.name;
    EXPECT_FALSE(UninstallEntryExists("..\\..\\Evil") || UninstallEntryExists("C:\\Evil")) << row.name;
    EXPECT_FALSE(FileExists(WindowsFolder() + "C")) << row.name;
    EXPECT_EQ(StagingCopies(), stagingBefore) << row.name;
  }
}

// Damage that the format cannot detect everywhere: the run ends in a code or in the window,
// never in a crash or a hang.
TEST(BadInput, DamagedImplodedMembersNeverCrash) {
  for (int position : {2, 5, 20, 60}) {
    auto image = BuildInstallerImage(BuiltInstallExe(), OptionsFor(false), MembersWithData());
    const auto& licence = HeaderIn(image)->Members[msLicense];
    image[licence.StartOffset + std::min<int32_t>(position, licence.EndOffset - licence.StartOffset)] ^= 0xA5;
    InstallerRun run(image);
    HWND window = nullptr;
    std::vector<std::string> texts;
    const DWORD start = GetTickCount();
    while (!window && WaitForSingleObject(run.process.handle, 50) == WAIT_TIMEOUT && GetTickCount() - start < 30000) {
      window = driver::WaitForWindow("Install Aquarium", run.process.id, 50);
      for (HWND w : driver::WindowsOf(run.process.id))
        if (driver::Text(w) == "Error") {
          texts.push_back(BoxText(w));
          driver::Click(driver::FindChild(w, "Button", "&Abort"));
          driver::WaitUntilGone(w, 5000);
        }
    }
    if (window) driver::PressCloseBox(window);
    const long code = run.WaitForExit(10000);
    EXPECT_TRUE(code == 1 || code == 2) << position << " ended with " << code;
    if (code == 2) EXPECT_EQ(texts.back().rfind(kCorrupted, 0), 0u) << position;
  }
}

TEST(BadInput, TextsAndPicturesThatAreNotWhatTheySeem) {
  {  // a licence of binary bytes: shown as far as it goes, nothing breaks
    TMemberInputs members = MembersWithData();
    members[msLicense] = Member("agreement.txt", {0x00, 0xFF, 0x1A, 'a', 0x00, 'b'}, 5);
    InstallerRun run(OptionsFor(false), members);
    HWND window = run.WaitForWindow("Install Aquarium");
    ASSERT_NE(window, nullptr);
    driver::PressCloseBox(window);
    EXPECT_EQ(run.WaitForExit(), 1);
  }
  {  // a picture that is not a bitmap: the general error display, then the window as reached
    TMemberInputs members = MembersWithData();
    members[msContent] = Member("installer.scf", TextBytes(300), 5);
    InstallerRun run(OptionsFor(false), members);
    EXPECT_EQ(run.AnswerBox("Install Aquarium", "OK"), "Bitmap image is not valid.");
    HWND window = run.WaitForWindow("Install Aquarium");
    ASSERT_NE(window, nullptr);
    driver::PressCloseBox(window);
    EXPECT_EQ(run.WaitForExit(), 2);
  }
  {  // a name of 64 characters with no NUL is used whole
    TPayloadOptions options = OptionsFor(false);
    options.SaverName = std::string(64, 'Q');
    InstallerRun run(options, MembersWithData());
    HWND window = run.WaitForWindow("Install " + std::string(64, 'Q'));
    ASSERT_NE(window, nullptr);
    driver::PressCloseBox(window);
    EXPECT_EQ(run.WaitForExit(), 1);
    EXPECT_TRUE(FileExists(WindowsFolder() + std::string(64, 'Q') + " dir\\agreement.txt"));
  }
  {  // a name of 255 characters makes a path past MAX_PATH: written where the system allows
     // it (Wine does), else reported with the system's text; never a crash or a hang
    TMemberInputs members = MembersWithData();
    members[msLicense]->Name = std::string(251, 'n') + ".txt";
    InstallerRun run(OptionsFor(false), members);
    // Whatever shows (the window, a message box titled like it, an error box) is closed in turn.
    const DWORD start = GetTickCount();
    while (WaitForSingleObject(run.process.handle, 100) == WAIT_TIMEOUT && GetTickCount() - start < 30000)
      for (HWND w : driver::WindowsOf(run.process.id)) {
        if (driver::Text(w) == "Error") driver::Click(driver::FindChild(w, "Button", "&Abort"));
        else driver::PressCloseBox(w);
      }
    const long code = run.WaitForExit(1000);
    EXPECT_TRUE(code == 1 || code == 2) << code;
  }
  {  // characters outside ASCII in a member name are a name like any other
    TMemberInputs members = MembersWithData();
    members[msLicense]->Name = "Lizenz\xE4.txt";
    InstallerRun run(OptionsFor(false), members);
    HWND window = run.WaitForWindow("Install Aquarium");
    ASSERT_NE(window, nullptr);
    driver::PressCloseBox(window);
    run.WaitForExit();
    EXPECT_TRUE(FileExists(kSaverDir + "Lizenz\xE4.txt"));
  }
}

}  // namespace
