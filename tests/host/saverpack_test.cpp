// saverpack as an author and a recipient use it: build from a project file, then list, verify
// and extract, with the installer's own records read back.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <tuple>

#include "codec_test_util.h"
#include "dataStructures_shared.h"
#include "inspect.h"
#include "picture.h"
#include "file_io.h"
#include "payload_checks.h"
#include "payload_writer.h"
#include "tool_runner.h"
#include "data_file_writer.h"
#include "dcl.h"

#include <map>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wconversion"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#include "stb_image_write.h"
#pragma GCC diagnostic pop

namespace {

void Write(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
void Write(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::string TextOfSize(size_t n) {
  std::string s;
  while (s.size() < n) s += "Bubbles rise past the treasure chest; the angelfish turns. ";
  return s.substr(0, n);
}

// A folder with every file a project needs, and a project file shaped like a real payload.
class SaverProject : public ::testing::Test {
 protected:
  void SetUp() override {
    Write(dir / "stub.exe", std::string(3000, 'S'));
    Write(dir / "impborl.dll", RandomBytes(4000, 1));
    Write(dir / "movie.swf", RandomBytes(9000, 2));
    Write(dir / "licence.txt", TextOfSize(2500));
    Write(dir / "saver.scr", TextOfSize(40000));
    Write(dir / "extra.scf", RandomBytes(1404, 3));
    Write(dir / "lib1.dll", TextOfSize(36864));
    Write(dir / "lib2.dll", TextOfSize(18192));
    Write(dir / "notes.txt", TextOfSize(700));
  }

  // compress: the choice for every slot but the codec; empty leaves the defaults (auto, and
  // always for the second library).
  std::string Project(const std::string& top, const std::string& extraTables = "",
                      const std::string& compress = "") {
    const std::string choice = compress.empty() ? "" : "compress = \"" + compress + "\"\n";
    const std::string lib2 = compress.empty() ? "compress = \"always\"\n" : choice;
    // The program handles /u itself, as these fixtures' programs are placed where they say.
    return top + R"(uninstall = "program"
[files.codec]
path = "impborl.dll"
name = "impborl.dat"
[files.content]
path = "movie.swf"
name = "installer.scf"
)" + choice + R"([files.license]
path = "licence.txt"
name = "agreement.txt"
)" + choice + R"([files.program]
path = "saver.scr"
name = "Aquarium.scr"
)" + choice + R"([files.extra]
path = "extra.scf"
)" + choice + R"([files.library1]
path = "lib1.dll"
name = "saver1.dll"
)" + choice + R"([files.library2]
path = "lib2.dll"
name = "saver2.dll"
)" + lib2 + extraTables;
  }

  std::string DataTables(const std::string& compress = "auto") {
    return R"(
[data]
movie_source = 3
[[data.entries]]
name = "screensaver.swf"
[[data.entries]]
name = 'docs\notes.txt'
path = "notes.txt"
compress = ")" + compress + "\"\n";
  }

  ToolRun Build(const std::string& project, const std::string& out = "out.exe") {
    Write(dir / "p.toml", project);
    return RunSaverpack("build -q --stub " + (dir / "stub.exe") + " -o " + (dir / out) + " " + (dir / "p.toml"));
  }

  const std::string kTop = "name = \"Aquarium\"\ncontent = \"flash\"\nopen_display_properties = true\n";
  ScratchDir dir;
};

TEST_F(SaverProject, ReferenceShapedBuildVerifiesAndListsWhatWasAsked) {
  const auto build = Build(Project(kTop, DataTables()));
  ASSERT_EQ(build.exitCode, 0) << build.output;
  const auto verify = RunSaverpack("verify " + (dir / "out.exe"));
  EXPECT_EQ(verify.exitCode, 0) << verify.output;

  const auto image = ReadFileBytes(dir / "out.exe");
  const auto header = HeaderOfInstaller(image);
  ASSERT_TRUE(header);
  EXPECT_EQ(header->ContentMode, 3);
  EXPECT_EQ(header->HasLicense, 1);
  EXPECT_EQ(header->ShowDocument, 0);
  EXPECT_EQ(header->OpenDisplayProperties, 1);
  EXPECT_EQ(std::string(image.begin(), image.begin() + 3000), std::string(3000, 'S'));
  const auto& m = header->Members;
  EXPECT_EQ(MemberFileName(m[msCompressionLib]), "impborl.dat");
  EXPECT_EQ(m[msCompressionLib].Destination, 3);
  EXPECT_EQ(m[msCompressionLib].Compressed, 0);
  EXPECT_EQ(m[msSaverEngine].Destination, 2);
  EXPECT_EQ(m[msSaverEngine].Compressed, 1);  // text implodes smaller
  EXPECT_EQ(m[msContent].Compressed, 0);      // random bytes do not
  EXPECT_GT(m[msContent].PackedSize, m[msContent].FileSize);
  EXPECT_EQ(m[msDataFile].Destination, 4);
  EXPECT_EQ(MemberFileName(m[msDataFile]), "Aquarium.ssd");
  EXPECT_TRUE(IsEmptySlot(m[msFlashInstaller]));
  EXPECT_EQ(m[msFlashInstaller].StartOffset, 0);
  EXPECT_EQ(m[msCompressionLib].StartOffset, kFirstMemberOffset);
  for (int slot = 2; slot < kMemberCount; ++slot)  // back to back in slot order
    if (!IsEmptySlot(m[slot]) && slot > msCompressionLib) {
      int before = slot - 1;
      while (IsEmptySlot(m[before])) --before;
      EXPECT_EQ(m[slot].StartOffset, m[before].EndOffset + 1) << slot;
    }
  EXPECT_EQ(m[msSaverLib2].EndOffset + 1, static_cast<int32_t>(image.size()));

  const auto list = RunSaverpack("list --json " + (dir / "out.exe"));
  ASSERT_EQ(list.exitCode, 0);
  for (const char* text : {"\"content_mode\": 3", "\"name\": \"installer.scf\"",
                           "\"name\": \"Aquarium.scr\", \"destination\": 2, \"compressed\": true",
                           "\"role\": \"flash_installer\", \"empty\": true", "\"movie_source\": 3",
                           "\"name\": \"docs\\\\notes.txt\"",
                           // text: coded literals, for the members and the data file's chunks alike
                           "\"name\": \"agreement.txt\", \"destination\": 5, \"compressed\": true, \"coding\": \"ascii",
                           "\"name\": \"installer.scf\", \"destination\": 5, \"compressed\": false, \"coding\": \"plain\""})
    EXPECT_NE(list.output.find(text), std::string::npos) << text << "\n" << list.output;
  const size_t notes = list.output.find("\"name\": \"docs\\\\notes.txt\"");
  ASSERT_NE(notes, std::string::npos);
  const std::string entry = list.output.substr(notes, list.output.find('\n', notes) - notes);
  EXPECT_NE(entry.find("\"compressed\": true"), std::string::npos) << entry;
  EXPECT_NE(entry.find("\"coding\": \"ascii "), std::string::npos) << entry;
}

TEST_F(SaverProject, ExtractGivesBackEveryInputForEveryCompressionChoice) {
  for (const char* choice : {"auto", "always", "never"}) {
    const auto build = Build(Project(kTop, DataTables(choice), choice));
    ASSERT_EQ(build.exitCode, 0) << choice << build.output;
    const auto extract = RunSaverpack("extract " + (dir / "out.exe") + " -C " + (dir / "x"));
    ASSERT_EQ(extract.exitCode, 0) << choice << extract.output;
    const std::pair<const char*, const char*> files[] = {
        {"impborl.dat", "impborl.dll"}, {"installer.scf", "movie.swf"}, {"agreement.txt", "licence.txt"},
        {"Aquarium.scr", "saver.scr"},  {"extra.scf", "extra.scf"},     {"saver1.dll", "lib1.dll"},
        {"saver2.dll", "lib2.dll"},     {"Aquarium.ssd.entries/notes.txt", "notes.txt"}};
    for (const auto& [extracted, source] : files)
      EXPECT_EQ(ReadFileBytes(dir / ("x/" + std::string(extracted))), ReadFileBytes(dir / source))
          << choice << " " << extracted;
    std::filesystem::remove_all(dir / "x");
  }
}

TEST_F(SaverProject, TwoBuildsAreByteIdentical) {
  ASSERT_EQ(Build(Project(kTop, DataTables()), "a.exe").exitCode, 0);
  ASSERT_EQ(Build(Project(kTop, DataTables()), "b.exe").exitCode, 0);
  EXPECT_EQ(ReadFileBytes(dir / "a.exe"), ReadFileBytes(dir / "b.exe"));
}

// Each check names the project file and the line, and nothing is written.
TEST_F(SaverProject, ChecksNameTheLineAndWriteNothing) {
  struct Case {
    std::string project;
    std::string message;
  } cases[] = {
      {Project("name = \"" + std::string(65, 'N') + "\"\ncontent = \"flash\"\n"), "p.toml:1: name has 65 bytes"},
      {Project("name = \"Aquarium \u4e00\"\ncontent = \"flash\"\n"), "p.toml:1: name \"Aquarium \u4e00\" has characters outside the Windows-1252"},
      {Project(kTop, "[files.document]\npath = \"notes.txt\"\nname = \"..\\\\evil.txt\"\n"), "must be a plain file name"},
      {Project(kTop, "[files.document]\npath = \"notes.txt\"\nname = \"" + std::string(256, 'n') + "\"\n"), "must be a plain file name of 1 to 255 bytes"},
      {Project("name = \"Aquarium\"\ncontent = \"picture\"\n"), "movie.swf: cannot be decoded as a PNG, JPEG, GIF or BMP picture"},
      {kTop + "[files.codec]\npath = \"impborl.dll\"\n", "with these options the installer needs [files.program]: the screen-saver program"},
      {Project(kTop, "[data]\n" + [] {
         std::string entries;
         for (int i = 0; i < 109; ++i) entries += "[[data.entries]]\nname = \"e" + std::to_string(i) + "\"\nkind = 3\n";
         return entries;
       }()), "109 entries; the installer reads at most 108"},
      {Project("name = \"A\"\ncontent = \"movie\"\n"), "p.toml:2: content must be"},
  };
  for (const auto& c : cases) {
    const auto run = Build(c.project);
    EXPECT_EQ(run.exitCode, 1) << c.message;
    EXPECT_NE(run.output.find(c.message), std::string::npos) << "want: " << c.message << "\ngot: " << run.output;
    EXPECT_FALSE(std::filesystem::exists(dir / "out.exe"));
  }
}

TEST_F(SaverProject, VerifyReportsEachProblemOnItsOwnLine) {
  ASSERT_EQ(Build(Project(kTop, DataTables())).exitCode, 0);
  auto image = ReadFileBytes(dir / "out.exe");
  auto header = *HeaderOfInstaller(image);

  auto truncated = image;
  truncated.resize(kPayloadOffset + 100);
  Write(dir / "truncated.exe", truncated);
  auto run = RunSaverpack("verify " + (dir / "truncated.exe"));
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.output.find("truncated"), std::string::npos) << run.output;

  // The program says it expands to one byte more than it does; library 2 lies past the end.
  header.Members[msSaverEngine].FileSize += 1;
  header.Members[msSaverLib2].EndOffset += 10;
  std::memcpy(image.data() + kPayloadOffset, &header, sizeof header);
  Write(dir / "bad.exe", image);
  run = RunSaverpack("verify " + (dir / "bad.exe"));
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.output.find("slot 6 (screen-saver program): expands to 40000 bytes, but its FileSize is 40001"),
            std::string::npos) << run.output;
  EXPECT_NE(run.output.find("slot 10 (second library): offsets"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("lie outside the file"), std::string::npos) << run.output;
  EXPECT_EQ(std::count(run.output.begin(), run.output.end(), '\n'), 2) << run.output;
}

TEST_F(SaverProject, ExtractNeverWritesOutsideItsFolder) {
  TPayloadOptions options;
  options.SaverName = "Evil";
  TMemberInputs members;
  members[msCompressionLib] = TMemberInput{"..", {1, 2}, 3, false, 2, 2};
  members[msLicense] = TMemberInput{"../../escape.txt", {'x'}, 5, false, 1, 1};
  members[msSaverEngine] = TMemberInput{"C:evil.scr", {'y'}, 2, false, 1, 1};
  members[msExtraFile] = TMemberInput{"fine.txt", {'z'}, 5, false, 1, 1};
  ScratchDir own;
  Write(own / "evil.exe", BuildInstallerImage(std::vector<uint8_t>(10), options, members));
  std::filesystem::create_directories(own / "deep/inside");
  const auto run = RunSaverpack("extract " + (own / "evil.exe") + " -C " + (own / "deep/inside"));
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.output.find("is not a plain file name"), std::string::npos) << run.output;
  std::vector<std::string> written;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(own.Path()))
    if (entry.is_regular_file()) written.push_back(entry.path().lexically_relative(own.Path()).string());
  std::sort(written.begin(), written.end());
  EXPECT_EQ(written, (std::vector<std::string>{"deep/inside/fine.txt", "evil.exe"}));
}

}  // namespace

namespace {

size_t CountOf(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

void WritePng(const std::string& path, int width, int height) {
  std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
  for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<uint8_t>(i * 7 / 3);
  ASSERT_TRUE(stbi_write_png(path.c_str(), width, height, 3, rgb.data(), width * 3));
}

// A name, a program and a PNG: the slots the installer needs and the author has not are filled
// with the data file's own record, an empty data file that the installer removes at the end.
TEST_F(SaverProject, AProgramAndAPictureMakeAnInstallerThatStoresNothingTwice) {
  WritePng(dir / "photo.png", 1200, 900);
  const std::string project = "name = \"Mini\"\ncontent = \"picture\"\nuninstall = \"program\"\n[files.codec]\npath = \"impborl.dll\"\n"
                              "[files.program]\npath = \"saver.scr\"\n[files.content]\npath = \"photo.png\"\n";
  const auto build = Build(project);
  ASSERT_EQ(build.exitCode, 0) << build.output;
  EXPECT_EQ(RunSaverpack("verify " + (dir / "out.exe")).exitCode, 0);
  const auto image = ReadFileBytes(dir / "out.exe");
  const auto header = *HeaderOfInstaller(image);
  const auto& m = header.Members;
  EXPECT_EQ(MemberFileName(m[msDataFile]), "Mini.ssd");
  for (int slot : {msExtraFile, msSaverLib1, msSaverLib2}) {
    EXPECT_EQ(MemberFileName(m[slot]), "Mini.ssd") << slot;
    EXPECT_EQ(m[slot].StartOffset, m[msDataFile].StartOffset) << slot;
    EXPECT_EQ(m[slot].EndOffset, m[msDataFile].EndOffset) << slot;
    EXPECT_EQ(m[slot].Compressed, m[msDataFile].Compressed) << slot;
  }
  EXPECT_EQ(m[msDataFile].EndOffset + 1, static_cast<int32_t>(image.size()));
  EXPECT_EQ(m[msDataFile].FileSize, 1224);  // no entries: the header alone

  const auto list = RunSaverpack("list " + (dir / "out.exe"));
  EXPECT_EQ(CountOf(list.output, "filled in: the same bytes as slot 8"), 3) << list.output;
  EXPECT_NE(list.output.find("EntryCount 0"), std::string::npos) << list.output;

  // The picture: a 24-bit bitmap of the window's box, named for what the installer writes.
  ASSERT_EQ(RunSaverpack("extract " + (dir / "out.exe") + " -C " + (dir / "x") + " 3").exitCode, 0);
  const auto bmp = ReadFileBytes(dir / "x/photo.bmp");
  ASSERT_EQ(bmp.size(), 54u + 1052u * 150u);
  EXPECT_EQ(bmp[0], 'B');
  EXPECT_EQ(bmp[18] | bmp[19] << 8, 350);
  EXPECT_EQ(bmp[22] | bmp[23] << 8, 150);
  EXPECT_EQ(bmp[28], 24);
}

// Only entry 1 can be made from the content movie; a later copy is of entry 1's own file.
TEST_F(SaverProject, ALaterCopiedEntryIsACopyOfTheFirstEntryNotOfTheMovie) {
  const std::string data = "[data]\n[[data.entries]]\nname = \"first.dat\"\npath = \"notes.txt\"\n"
                           "[[data.entries]]\nname = \"second.dat\"\nkind = 3\n";
  const auto build = Build(Project("name = \"Aquarium\"\ncontent = \"silent\"\n", data));
  ASSERT_EQ(build.exitCode, 0) << build.output;
  const auto verify = RunSaverpack("verify " + (dir / "out.exe"));
  EXPECT_EQ(verify.exitCode, 0) << verify.output;
  // Entry 1 of kind 3 does copy the movie, which a silent installation never extracts.
  const std::string first = "[data]\n[[data.entries]]\nname = \"first.dat\"\nkind = 3\n";
  const auto refused = Build(Project("name = \"Aquarium\"\ncontent = \"silent\"\n", first));
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_NE(refused.output.find("copies the content movie"), std::string::npos) << refused.output;
}

}  // namespace

namespace {

// The smallest program a signing tool accepts: headers and one section, 1024 bytes.
std::vector<uint8_t> SmallestProgram() {
  std::vector<uint8_t> pe(1024, 0);
  auto put = [&](size_t at, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) pe[at + i] = static_cast<uint8_t>(value >> (8 * i));
  };
  pe[0] = 'M', pe[1] = 'Z';
  put(0x3C, 0x40, 4);
  put(0x40, 0x00004550, 4);                   // "PE\0\0"
  put(0x44, 0x14C, 2), put(0x46, 1, 2);       // i386, one section
  put(0x54, 224, 2), put(0x56, 0x0102, 2);    // optional header size; executable, 32-bit
  const size_t opt = 0x58;
  put(opt, 0x10B, 2);                         // PE32
  put(opt + 16, 0x1000, 4);                   // entry point
  put(opt + 28, 0x400000, 4);                 // image base
  put(opt + 32, 0x1000, 4), put(opt + 36, 0x200, 4);  // section and file alignment
  put(opt + 40, 4, 2), put(opt + 48, 4, 2);   // OS and subsystem versions
  put(opt + 56, 0x2000, 4), put(opt + 60, 0x200, 4);  // image size, header size
  put(opt + 68, 2, 2);                        // GUI
  put(opt + 92, 16, 4);                       // data directories
  const size_t section = opt + 224;
  std::memcpy(&pe[section], ".text", 5);
  put(section + 8, 0x200, 4), put(section + 12, 0x1000, 4);
  put(section + 16, 0x200, 4), put(section + 20, 0x200, 4);
  put(section + 36, 0x60000020, 4);
  pe[0x200] = 0xC3;                           // ret
  return pe;
}

// Signing as a build step, with a test certificate made here and the tools authors use.
TEST_F(SaverProject, ABuildSignsWithEitherStyleOfCommandAndChecksThePayload) {
  if (std::system("command -v osslsigncode >/dev/null && command -v openssl >/dev/null") != 0)
    GTEST_SKIP() << "osslsigncode and openssl are installed by scripts/setup";
  Write(dir / "stub.exe", SmallestProgram());
  const std::string key = dir / "key.pem", cert = dir / "cert.pem";
  ASSERT_EQ(std::system(("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj '/CN=Aquarium Author' "
                         "-keyout " + key + " -out " + cert + " 2>/dev/null").c_str()), 0);
  const std::string sign = "osslsigncode sign -certs " + cert + " -key " + key;
  Write(dir / "p.toml", Project(kTop, DataTables()));
  const std::string build = "build -q --stub " + (dir / "stub.exe") + " " + (dir / "p.toml");
  // osslsigncode's style: {in} and {out}; signtool's: {file}, signed in place.
  for (const std::string& command :
       {sign + " -in {in} -out {out} >/dev/null", sign + " -in {file} -out {file}.s >/dev/null && mv {file}.s {file}"}) {
    std::filesystem::remove(dir / "signed.exe");
    const auto run = RunSaverpack(build + " -o " + (dir / "signed.exe") + " --sign \"" + command + "\"");
    ASSERT_EQ(run.exitCode, 0) << command << run.output;
    EXPECT_EQ(std::system(("osslsigncode verify -CAfile " + cert + " -in " + (dir / "signed.exe") +
                           " >/dev/null 2>&1").c_str()), 0) << command;
    const auto verify = RunSaverpack("verify " + (dir / "signed.exe"));
    EXPECT_EQ(verify.exitCode, 0) << verify.output;
    EXPECT_NE(verify.output.find("signed by \"Aquarium Author\""), std::string::npos) << verify.output;
  }
  // The payload is the unsigned build's, byte for byte.
  ASSERT_EQ(Build(Project(kTop, DataTables()), "plain.exe").exitCode, 0);
  const auto plain = ReadFileBytes(dir / "plain.exe"), signedFile = ReadFileBytes(dir / "signed.exe");
  EXPECT_TRUE(std::equal(plain.begin() + kPayloadOffset, plain.end(), signedFile.begin() + kPayloadOffset));

  // A cut signed file: its security entry no longer agrees with the file.
  Write(dir / "cut.exe", std::vector<uint8_t>(signedFile.begin(), signedFile.end() - 100));
  const auto cut = RunSaverpack("verify " + (dir / "cut.exe"));
  EXPECT_EQ(cut.exitCode, 1);
  EXPECT_NE(cut.output.find("security entry"), std::string::npos) << cut.output;
}

TEST_F(SaverProject, ASignCommandThatFailsOrSignsNothingLeavesNoFile) {
  Write(dir / "p.toml", Project(kTop, DataTables()));
  const std::string build = "build -q --stub " + (dir / "stub.exe") + " -o " + (dir / "s.exe") + " " + (dir / "p.toml");
  const std::pair<std::string, std::string> cases[] = {
      {"false {file}", "the sign command failed (exit status 1)"},
      {"true {in} {out}", "the sign command wrote nothing"},
      {"cp {in} {out}", "left no signature behind the payload"},
      {"sign-it-somehow", "names neither {in} and {out} nor {file}"},
  };
  for (const auto& [command, message] : cases) {
    const auto run = RunSaverpack(build + " --sign \"" + command + "\"");
    EXPECT_EQ(run.exitCode, 1) << command;
    EXPECT_NE(run.output.find(message), std::string::npos) << run.output;
    for (const char* left : {"s.exe", "s.exe.unsigned", "s.exe.signed"})
      EXPECT_FALSE(std::filesystem::exists(dir / left)) << command << " left " << left;
  }
}

}  // namespace

namespace {

std::map<std::string, std::vector<uint8_t>> FilesUnder(const std::filesystem::path& folder) {
  std::map<std::string, std::vector<uint8_t>> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
    if (entry.is_regular_file())
      files[entry.path().lexically_relative(folder).string()] = ReadFileBytes(entry.path());
  return files;
}

// An installer another tool made: members imploded by the library's own encoder in settings
// that are not ours, a data file with an imploded chunk and a copied entry.
TEST_F(SaverProject, RepackMakesASmallerInstallerThatExtractsToTheSameFiles) {
  const auto text = ReadFileBytes(dir / "saver.scr");
  const auto lib = ReadFileBytes(dir / "lib1.dll");
  const auto notes = ReadFileBytes(dir / "notes.txt");
  auto imploded = [](const std::vector<uint8_t>& plain, unsigned dict) {
    return dcl::Implode(plain, CMP_BINARY, dict);  // not the smallest stream
  };
  TDataEntryInput first{"first.dat", 0, 7, imploded(notes, 1024), true, static_cast<int32_t>(notes.size())};
  TDataEntryInput copy{"copy.dat", kCopiedEntry, 0, {}, false, 0};
  const auto data = BuildDataFile({}, 0, {first, copy});
  TPayloadOptions options;
  options.ContentMode = 0;
  options.SaverName = "Old Aquarium";
  TMemberInputs members;
  const auto codec = ReadFileBytes(dir / "impborl.dll");
  auto member = [&](const char* name, const std::vector<uint8_t>& plain, int32_t destination, bool implode) {
    const auto stored = implode ? imploded(plain, 1024) : plain;
    return TMemberInput{name, stored, destination, implode, static_cast<int32_t>(plain.size()),
                        static_cast<int32_t>(stored.size())};
  };
  members[msCompressionLib] = member("impborl.dat", codec, 3, false);
  members[msContent] = member("installer.scf", ReadFileBytes(dir / "extra.scf"), 5, false);
  members[msSaverEngine] = member("Old.scr", text, 2, true);
  members[msExtraFile] = member("extra.txt", text, 5, true);
  members[msDataFile] = member("Old.ssd", data, 4, false);
  members[msSaverLib1] = member("saver1.dll", lib, 5, true);
  members[msSaverLib2] = member("saver2.dll", lib, 5, false);
  Write(dir / "old.exe", BuildInstallerImage(SmallestProgram(), options, members));
  ASSERT_EQ(RunSaverpack("verify " + (dir / "old.exe")).exitCode, 0);

  const auto run = RunSaverpack("repack " + (dir / "old.exe") + " -o " + (dir / "new.exe") + " --stub " +
                                (dir / "stub.exe") + " --codec " + (dir / "impborl.dll"));
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_NE(run.output.find("-> " + (dir / "new.exe")), std::string::npos) << run.output;
  EXPECT_LT(std::filesystem::file_size(dir / "new.exe"), std::filesystem::file_size(dir / "old.exe"));
  EXPECT_EQ(RunSaverpack("verify " + (dir / "new.exe")).exitCode, 0);
  ASSERT_EQ(RunSaverpack("extract " + (dir / "old.exe") + " -C " + (dir / "a")).exitCode, 0);
  ASSERT_EQ(RunSaverpack("extract " + (dir / "new.exe") + " -C " + (dir / "b")).exitCode, 0);
  // Every member and entry alike; the data file's own bytes hold its chunks imploded anew.
  auto a = FilesUnder(dir / "a"), b = FilesUnder(dir / "b");
  EXPECT_NE(a.at("Old.ssd"), b.at("Old.ssd"));
  a.erase("Old.ssd");
  b.erase("Old.ssd");
  EXPECT_EQ(a.size(), 7u);  // six members and the one entry with a chunk
  EXPECT_EQ(a, b);
  const auto after = RunSaverpack("list " + (dir / "new.exe")).output;
  for (const char* same : {"SaverName \"Old Aquarium\"", "ContentMode 0", "copy.dat\", kind 3", "chunk kind 7"})
    EXPECT_NE(after.find(same), std::string::npos) << same << "\n" << after;

  // A damaged installer is refused, and nothing is written.
  auto damaged = ReadFileBytes(dir / "old.exe");
  damaged.resize(damaged.size() - 10);
  Write(dir / "damaged.exe", damaged);
  const auto refused = RunSaverpack("repack " + (dir / "damaged.exe") + " -o " + (dir / "x.exe") + " --stub " +
                                    (dir / "stub.exe") + " --codec " + (dir / "impborl.dll"));
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_NE(refused.output.find("damaged.exe: not repacked"), std::string::npos) << refused.output;
  EXPECT_FALSE(std::filesystem::exists(dir / "x.exe"));
}

TEST_F(SaverProject, NewMakesAProjectThatBuildsAtOnce) {
  WritePng(dir / "shot.png", 640, 480);
  const std::string folder = dir / "Reef";
  const auto made = RunSaverpack("new " + folder + " --program " + (dir / "saver.scr") + " --picture " + (dir / "shot.png"));
  ASSERT_EQ(made.exitCode, 0) << made.output;
  const auto project = ReadFileBytes(folder + "/Reef.toml");
  const std::string text(project.begin(), project.end());
  for (const char* key : {"name = \"Reef\"", "content = \"picture\"", "level = \"best\"", "# sign = ", "uninstall = \"launcher\"",
                          "[files.program]", "path = \"shot.png\"", "# [files.license]", "# [data]"})
    EXPECT_NE(text.find(key), std::string::npos) << key;
  // (The codec lies beside saverpack in dist/; here the test gives it.)
  Write(folder + "/impborl.dll", ReadFileBytes(dir / "impborl.dll"));
  std::ofstream(folder + "/Reef.toml", std::ios::app) << "[files.codec]\npath = \"impborl.dll\"\n";
  Write(dir / "launcher.exe", SmallestProgram());
  const auto build = RunSaverpack("build -q --stub " + (dir / "stub.exe") + " --launcher " + (dir / "launcher.exe") +
                                  " " + folder + "/Reef.toml");
  EXPECT_EQ(build.exitCode, 0) << build.output;
  EXPECT_EQ(RunSaverpack("verify " + folder + "/Reef.exe").exitCode, 0);

  const auto again = RunSaverpack("new " + folder);
  EXPECT_EQ(again.exitCode, 1);
  EXPECT_NE(again.output.find("already exists"), std::string::npos) << again.output;
  // A folder with a blank is one word of the hint's command.
  const auto blank = RunSaverpack("new \"" + (dir / "Rose Garden") + "\"");
  EXPECT_NE(blank.output.find("build it with: saverpack build \"" + (dir / "Rose Garden/Rose Garden.toml") + "\""),
            std::string::npos) << blank.output;
  const auto missing = RunSaverpack("new " + (dir / "Other") + " --picture " + (dir / "none.png"));
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_NE(missing.output.find("none.png: no such file"), std::string::npos) << missing.output;
  EXPECT_FALSE(std::filesystem::exists(dir / "Other"));
}

TEST(SaverpackHelp, EveryNewCommandNamesItsOptions) {
  const std::pair<const char*, std::vector<const char*>> commands[] = {
      {"new", {"--program", "--picture", "NAME"}},
      {"build", {"--sign", "--fast", "--stub", "--output"}},
      {"repack", {"--stub", "--codec", "--fast", "--output"}},
      {"implode", {"--fast", "--ascii", "--dict"}},
  };
  for (const auto& [command, options] : commands) {
    const auto help = RunSaverpack(std::string(command) + " --help");
    EXPECT_EQ(help.exitCode, 0) << command;
    for (const char* option : options) EXPECT_NE(help.output.find(option), std::string::npos) << command << " " << option;
  }
}

}  // namespace

namespace {

// A name becomes a folder in the Windows folder and a registry key: nothing that leaves either.
TEST_F(SaverProject, ANameThatCannotBeAFolderIsRefusedByBuildAndVerify) {
  for (const char* name : {"..\\\\\\\\evil", "C:", "a/b", "What?", "tab\\there"}) {
    const auto run = Build(Project("name = \"" + std::string(name) + "\"\ncontent = \"flash\"\n"));
    EXPECT_EQ(run.exitCode, 1) << name;
    EXPECT_NE(run.output.find("holds a character that a folder name cannot"), std::string::npos) << run.output;
    EXPECT_FALSE(std::filesystem::exists(dir / "out.exe")) << name;
  }
  ASSERT_EQ(Build(Project(kTop, DataTables())).exitCode, 0);
  auto image = ReadFileBytes(dir / "out.exe");
  std::memcpy(image.data() + kPayloadOffset + 4, "..\\..\\Up", 9);
  Write(dir / "climbs.exe", image);
  const auto verify = RunSaverpack("verify " + (dir / "climbs.exe"));
  EXPECT_EQ(verify.exitCode, 1);
  EXPECT_NE(verify.output.find("SaverName \"..\\..\\Up\" holds a character"), std::string::npos) << verify.output;
}

// The uninstall entry runs "<Windows>\<name>.scr /u": every project places that file, and what
// runs there handles /u.
TEST_F(SaverProject, TheUninstallEntryCallsAFileTheInstallerPlaces) {
  Write(dir / "aqua.scr", TextOfSize(5000));
  Write(dir / "launcher.exe", SmallestProgram());
  const std::string top = "name = \"Aquarium Deluxe\"\ncontent = \"silent\"\n";
  auto build = [&](const std::string& project, const std::string& launcher = "") {
    Write(dir / "p.toml", project + "[files.codec]\npath = \"impborl.dll\"\n");
    std::filesystem::remove(dir / "out.exe");
    return RunSaverpack("build -q --stub " + (dir / "stub.exe") + (launcher.empty() ? "" : " --launcher " + launcher) +
                        " -o " + (dir / "out.exe") + " " + (dir / "p.toml"));
  };
  // The program handles /u itself: stored under the name the entry calls, whatever its file's.
  auto run = build(top + "uninstall = \"program\"\n[files.program]\npath = \"aqua.scr\"\n");
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_NE(run.output.find("warning: " + (dir / "p.toml") + " has no Flash runtime installer"), std::string::npos);
  auto list = RunSaverpack("list " + (dir / "out.exe"));
  EXPECT_NE(list.output.find("program          Aquarium Deluxe.scr"), std::string::npos) << list.output;
  EXPECT_NE(list.output.find("Uninstall: the program in slot 6 handles \"/u\" itself"), std::string::npos);
  // A name of the author's that the entry would not call is refused, saying why.
  run = build(top + "uninstall = \"program\"\n[files.program]\npath = \"aqua.scr\"\nname = \"aqua.scr\"\n");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.output.find("p.toml:4: the program is named \"aqua.scr\", but the uninstall entry runs"),
            std::string::npos) << run.output;

  // The launcher in slot 6, the author's program in the saver's folder under the same name: what
  // a project without the key gets.
  run = build(top + "[files.program]\npath = \"aqua.scr\"\n", dir / "launcher.exe");
  ASSERT_EQ(run.exitCode, 0) << run.output;
  ASSERT_EQ(RunSaverpack("extract " + (dir / "out.exe") + " -C " + (dir / "x") + " program extra").exitCode, 0);
  EXPECT_EQ(ReadFileBytes(dir / "x/Aquarium Deluxe.scr"), ReadFileBytes(dir / "aqua.scr"));
  list = RunSaverpack("list " + (dir / "out.exe"));
  EXPECT_NE(list.output.find("extra            Aquarium Deluxe.scr         5"), std::string::npos) << list.output;
  // With files.extra taken, the program becomes the data file's last entry.
  run = build(top + "uninstall = \"launcher\"\n[files.program]\npath = \"aqua.scr\"\n[files.extra]\npath = "
                    "\"extra.scf\"\n[data]\n[[data.entries]]\nname = \"notes.txt\"\npath = \"notes.txt\"\n",
              dir / "launcher.exe");
  ASSERT_EQ(run.exitCode, 0) << run.output;
  list = RunSaverpack("list " + (dir / "out.exe"));
  EXPECT_NE(list.output.find("entry 2: \"Aquarium Deluxe.scr\""), std::string::npos) << list.output;

  // Bad input: one clear line each, nothing written.
  for (const auto& [project, launcher, message] : std::vector<std::tuple<std::string, std::string, std::string>>{
           {top + "uninstall = \"remove\"\n[files.program]\npath = \"aqua.scr\"\n", "", "p.toml:3: uninstall must be"},
           {top + "uninstall = \"launcher\"\n[files.program]\npath = \"aqua.scr\"\n", dir / "none.exe",
            "p.toml:3: uninstall = \"launcher\" needs the screen-saver launcher, and there is none at"},
           {top + "[files.program]\npath = \"aqua.scr\"\n", dir / "none.exe",
            "p.toml:1: without an uninstall key the project gets our launcher, which needs the screen-saver launcher"},
           {top + "uninstall = \"launcher\"\n[files.program]\npath = \"aqua.scr\"\n", dir / "notes.txt",
            "notes.txt is not a Windows program"}}) {
    run = build(project, launcher);
    EXPECT_EQ(run.exitCode, 1) << message;
    EXPECT_NE(run.output.find(message), std::string::npos) << "want: " << message << "\ngot: " << run.output;
    EXPECT_EQ(CountOf(run.output, "\n"), 1u) << run.output;
    EXPECT_FALSE(std::filesystem::exists(dir / "out.exe"));
  }
}

TEST_F(SaverProject, VerifyWarnsOfAnUninstallEntryThatCallsNoPlacedFile) {
  TPayloadOptions options;
  options.ContentMode = cmSilent;
  options.SaverName = "Aquarium Deluxe";
  TMemberInputs members;
  members[msCompressionLib] = TMemberInput{"impborl.dat", {1, 2}, 3, false, 2, 2};
  members[msSaverEngine] = TMemberInput{"aqua.scr", {'y'}, 2, false, 1, 1};
  for (int slot : {msExtraFile, msSaverLib1, msSaverLib2}) members[slot] = TMemberInput{"x.dat", {'z'}, 5, false, 1, 1};
  members[msDataFile] = TMemberInput{"d.ssd", BuildDataFile({}, 0, {}), 4, false, 0, 0};
  members[msDataFile]->FileSize = members[msDataFile]->PackedSize = static_cast<int32_t>(members[msDataFile]->Stored.size());
  Write(dir / "old.exe", BuildInstallerImage(std::vector<uint8_t>(10), options, members));
  const auto run = RunSaverpack("verify " + (dir / "old.exe"));
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_NE(run.output.find("warning: Uninstall: the entry runs \"<Windows>\\\\Aquarium Deluxe.scr /u\", which this "
                            "installer does not place (slot 6 is \"aqua.scr\")"),
            std::string::npos) << run.output;
}

}  // namespace

// extract --project, then build, against repack of the same installer: the same bytes.
class ExtractedProject : public SaverProject {
 protected:
  // The installer at dir/name turned into a project under dir/<name>.d and built, beside its
  // repack; both with the fixture's program and codec.
  void ExpectBuildEqualsRepack(const std::string& name) {
    const std::string folder = dir / (name + ".d");
    const auto tools = " --stub " + (dir / "stub.exe") + " --codec " + (dir / "impborl.dll");
    const auto extracted = RunSaverpack("extract " + (dir / name) + " -C " + folder + " --project");
    ASSERT_EQ(extracted.exitCode, 0) << extracted.output;
    const std::string project = folder + "/" + std::filesystem::path(name).stem().string() + ".toml";
    ASSERT_TRUE(std::filesystem::exists(project)) << extracted.output;
    const auto built = RunSaverpack("build -q" + tools + " -o " + (dir / "built.exe") + " " + project);
    ASSERT_EQ(built.exitCode, 0) << built.output << ReadText(project);
    const auto repacked = RunSaverpack("repack -q" + tools + " -o " + (dir / "repacked.exe") + " " + (dir / name));
    ASSERT_EQ(repacked.exitCode, 0) << repacked.output;
    EXPECT_EQ(ReadFileBytes(dir / "built.exe"), ReadFileBytes(dir / "repacked.exe")) << ReadText(project);
    EXPECT_EQ(RunSaverpack("list " + (dir / "built.exe")).output, RunSaverpack("list " + (dir / "repacked.exe")).output);
  }

  static std::string ReadText(const std::string& path) {
    const auto bytes = ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
  }

  static TMemberInput Member(const std::string& name, const std::vector<uint8_t>& plain, int32_t destination,
                             bool implode, int sameBytesAs = 0) {
    const auto stored = implode ? dcl::Implode(plain, CMP_ASCII, 2048) : plain;
    return TMemberInput{name, sameBytesAs ? std::vector<uint8_t>{} : stored, destination, implode,
                        static_cast<int32_t>(plain.size()), static_cast<int32_t>(stored.size()), sameBytesAs};
  }
};

// The demo projects as saverpack builds them (a picture with a licence; a Flash movie whose data
// file copies it), with the fixture's program and codec in place of the built ones.
TEST_F(ExtractedProject, TheDemoInstallersComeBackAsProjectsThatBuildWhatRepackBuilds) {
  for (const char* demo : {"demo.toml", "flash-demo.toml"}) {
    SCOPED_TRACE(demo);
    for (const char* file : {"picture.bmp", "licence.txt", "bubbles.swf", "bubbles.ini", "fish.dat", "weeds.dat",
                             "readme.txt"})
      std::filesystem::copy_file(std::string(DEMO_DIR) + "/" + file, dir / file,
                                 std::filesystem::copy_options::overwrite_existing);
    std::string project = ReadText(std::string(DEMO_DIR) + "/" + demo);
    for (auto [from, to] : {std::pair{"../dist/impborl.dll", "impborl.dll"}, {"../dist/DemoSaver.scr", "saver.scr"}})
      project.replace(project.find(from), std::strlen(from), to);
    Write(dir / "demo-project.toml", project);
    const auto built = RunSaverpack("build -q --stub " + (dir / "stub.exe") + " -o " + (dir / "demo.exe") + " " +
                                    (dir / "demo-project.toml"));
    ASSERT_EQ(built.exitCode, 0) << built.output;
    ExpectBuildEqualsRepack("demo.exe");
    std::filesystem::remove_all(dir / "demo.exe.d");
  }
}

// Installers another tool wrote: every choice our projects never make by themselves.
TEST_F(ExtractedProject, AForeignInstallerComesBackWithItsAliasesEmptySlotsEntriesAndFlags) {
  const auto text = ReadFileBytes(dir / "saver.scr");
  const auto movie = ReadFileBytes(dir / "movie.swf");
  const auto notes = ReadFileBytes(dir / "notes.txt");
  std::vector<uint8_t> settings(kDataFileHeaderSize, 0);
  for (size_t i = 16; i < settings.size(); ++i) settings[i] = static_cast<uint8_t>(i * 7);
  const auto chunk = dcl::Implode(notes, CMP_BINARY, 1024);
  const auto data = BuildDataFile(
      settings, kMovieFromContent,
      {{"screensaver.swf", 0, 0, {}, false, 0},
       {"docs\\notes \"old\".txt", 0, 7, chunk, true, static_cast<int32_t>(notes.size())},
       {"other\\notes \"old\".txt", 5, 2, text, false, static_cast<int32_t>(text.size())},
       {"copy.swf", kCopiedEntry, 0, {}, false, 0},
       {"empty.txt", 0, 0, {}, false, 0}});
  TPayloadOptions options;
  options.ContentMode = cmFlashMovie;  // 2: no name of its own in a project
  options.HasLicense = 0;              // a licence slot the window does not show
  options.OpenDisplayProperties = 9;
  options.SaverName = "Caf\xE9 \x80 Saver";
  TMemberInputs members;
  members[msCompressionLib] = Member("codec.bin", ReadFileBytes(dir / "impborl.dll"), 6, false);
  members[msContent] = Member("installer.scf", movie, 1, true);
  members[msLicense] = Member("readme.txt", notes, 3, false);
  members[msSaverEngine] = Member("Other.scr", text, 5, true);       // not <name>.scr, not the Windows folder
  members[msExtraFile] = Member("readme.txt", movie, 5, false);      // the licence's name, other bytes
  members[msDataFile] = Member("Old.ssd", data, 2, true);
  members[msSaverLib1] = Member("alias.dll", {}, 3, false, msSaverEngine);
  members[msSaverLib2] = Member("codec-copy.dll", {}, 5, false, msCompressionLib);
  Write(dir / "foreign.exe", BuildInstallerImage(SmallestProgram(), options, members));
  ASSERT_EQ(RunSaverpack("verify " + (dir / "foreign.exe")).exitCode, 0)
      << RunSaverpack("verify " + (dir / "foreign.exe")).output;
  ExpectBuildEqualsRepack("foreign.exe");
  const std::string project = ReadText(dir / "foreign.exe.d/foreign.toml");
  for (const char* said : {"content = 2", "has_license = 0", "open_display_properties = 9", "same_as = \"program\"",
                           "name = \"Caf\xC3\xA9 \xE2\x82\xAC Saver\"", "name = \"docs\\\\notes \\\"old\\\".txt\"",
                           "path = \"readme (2).txt\"", "settings = "})
    EXPECT_NE(project.find(said), std::string::npos) << said << "\n" << project;

  // A silent installation with no content, slots filled in over a data file stored plain.
  options.ContentMode = cmSilent;
  members[msContent].reset();
  members[msExtraFile] = Member("Old.ssd", {}, 2, false, msDataFile);
  members[msSaverLib2] = Member("other.ssd", {}, 5, false, msDataFile);
  const auto plainData = BuildDataFile({}, 0, {{"notes.txt", 0, 0, notes, false, static_cast<int32_t>(notes.size())},
                                               {"copy.txt", kCopiedEntry, 0, {}, false, 0}});
  members[msDataFile] = Member("Old.ssd", plainData, 2, false);
  Write(dir / "silent.exe", BuildInstallerImage(SmallestProgram(), options, members));
  ASSERT_EQ(RunSaverpack("verify " + (dir / "silent.exe")).exitCode, 0)
      << RunSaverpack("verify " + (dir / "silent.exe")).output;
  ExpectBuildEqualsRepack("silent.exe");
  const std::string silent = ReadText(dir / "silent.exe.d/silent.toml");
  EXPECT_EQ(silent.find("[files.content]"), std::string::npos) << silent;
  EXPECT_NE(silent.find("same_as = \"data\""), std::string::npos) << silent;
}

TEST_F(ExtractedProject, AnUnsoundInstallerGivesNoProjectAndWritesNothing) {
  ASSERT_EQ(Build(Project(kTop)).exitCode, 0);
  auto damaged = ReadFileBytes(dir / "out.exe");
  damaged.resize(damaged.size() - 10);
  Write(dir / "damaged.exe", damaged);
  const auto run = RunSaverpack("extract " + (dir / "damaged.exe") + " -C " + (dir / "d") + " --project");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.output.find("damaged.exe: no project written"), std::string::npos) << run.output;
  EXPECT_FALSE(std::filesystem::exists(dir / "d"));
  EXPECT_EQ(RunSaverpack("extract " + (dir / "out.exe") + " license --project").exitCode, 2);
}

// What an author may now write by hand is checked as the rest of a project is.
TEST_F(ExtractedProject, TheNewProjectKeysRefuseWhatCannotBeBuilt) {
  const auto run = Build(kTop + R"(uninstall = "as-is"
[files.content]
path = "movie.swf"
name = "installer.scf"
[files.program]
path = "saver.scr"
[files.extra]
same_as = "codec"
[files.library1]
same_as = "library2"
[files.library2]
same_as = "program"
[files.data]
same_as = "program"
[files.license]
path = "licence.txt"
keep_bytes = true
)");
  EXPECT_EQ(run.exitCode, 1);
  for (const char* said : {"p.toml:11: same_as must name another slot", "p.toml:12: files.library1 is same_as \"library2\"",
                           "p.toml:17: files.data keeps bytes of its own",
                           "p.toml:20: keep_bytes = true is for files.content"})
    EXPECT_NE(run.output.find(said), std::string::npos) << said << "\n" << run.output;
}

// A few kilobytes that claim little and expand a thousand times more, named by every entry the
// data file can hold: verify names the problem of each after expanding the one chunk once, and
// never past its record.
TEST_F(ExtractedProject, AChunkEveryEntryNamesExpandsOnceAndNeverPastItsRecord) {
  const std::vector<uint8_t> zeros(4 << 20, 0);
  const auto bomb = dcl::Implode(zeros);
  constexpr int32_t kClaimed = 4096;
  std::vector<TDataEntryInput> entries;
  for (int i = 0; i < kMaxDataEntries; ++i)
    entries.push_back({"file" + std::to_string(i) + ".bin", 0, 0, i ? std::vector<uint8_t>(1) : bomb, i == 0,
                       i ? 1 : kClaimed});
  auto data = BuildDataFile({}, 0, entries);
  int32_t first = 0;
  std::memcpy(&first, data.data() + kDataFileHeaderSize + offsetof(TDataFileEntry, ChunkOffset), 4);
  for (int i = 1; i < kMaxDataEntries; ++i)
    std::memcpy(data.data() + kDataFileHeaderSize + i * kDataEntrySize + offsetof(TDataFileEntry, ChunkOffset), &first, 4);
  TPayloadOptions options;
  options.SaverName = "Bomb";
  TMemberInputs members;
  members[msCompressionLib] = Member("impborl.dat", ReadFileBytes(dir / "impborl.dll"), 3, false);
  members[msSaverEngine] = Member("Bomb.scr", ReadFileBytes(dir / "saver.scr"), 2, true);
  members[msDataFile] = Member("bomb.ssd", data, 1, false);
  const auto image = BuildInstallerImage(SmallestProgram(), options, members);
  ASSERT_LT(image.size(), size_t{1} << 20);

  const saverpack::OpenedInstaller opened(image);
  ASSERT_TRUE(opened.Header());
  for (int i = 0; i < kMaxDataEntries; ++i)
    EXPECT_EQ(opened.EntryFile(static_cast<size_t>(i)).bytes.size(), size_t{kClaimed} + 1);
  EXPECT_EQ(opened.Expansions(), 1u);

  Write(dir / "bomb.exe", image);
  const auto run = RunSaverpack("verify " + (dir / "bomb.exe"));
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(CountOf(run.output, "expands to more than 4096 bytes, but its FileSize is 4096"), size_t{kMaxDataEntries})
      << run.output.substr(0, 400);
}

// A GIF of a few bytes whose header claims a canvas of 19,968 x 12,337: judged by what decoding
// it would hold, and refused before any of it is allocated.
TEST_F(SaverProject, APictureThatClaimsAHugeCanvasIsRefusedWithoutDecodingIt) {
  const uint8_t gif[] = {'G', 'I', 'F', '8', '9', 'a', 0x00, 0x4E, 0x31, 0x30, 0x00, 0x00, 0x00,
                         0x2C, 0, 0, 0, 0, 0x00, 0x4E, 0x31, 0x30, 0x00, 0x02, 0x02, 0x44, 0x01, 0x00, 0x3B};
  Write(dir / "huge.gif", std::vector<uint8_t>(std::begin(gif), std::end(gif)));
  const auto run = Build("name = \"Huge\"\ncontent = \"picture\"\nuninstall = \"program\"\n[files.codec]\npath = \"impborl.dll\"\n"
                         "[files.program]\npath = \"saver.scr\"\n[files.content]\npath = \"huge.gif\"\n");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.output.find("huge.gif: a picture of 19968 x 12337 is too large"), std::string::npos) << run.output;
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  EXPECT_LT(usage.ru_maxrss, 100 * 1024) << "kilobytes at the peak of the build";
  EXPECT_FALSE(std::filesystem::exists(dir / "out.exe"));
}

// Inputs the fuzzers found, each refused in words that name the file.
TEST_F(SaverProject, FuzzFindingsAreRefusedWithAMessage) {
  // A JPEG whose Huffman table counts 320 codes: the decoder would write them past its table.
  std::vector<uint8_t> jpeg = {0xFF, 0xD8, 0xFF, 0xC4, 0x01, 0x53, 0x00};
  jpeg.insert(jpeg.end(), 16, 20);
  jpeg.insert(jpeg.end(), 320, 1);
  jpeg.insert(jpeg.end(), {0xFF, 0xD9});
  try {
    saverpack::BitmapOfPicture(jpeg, "tables.jpg");
    ADD_FAILURE() << "decoded";
  } catch (const saverpack::ToolError& e) {
    EXPECT_STREQ(e.what(), "tables.jpg: cannot be decoded as a PNG, JPEG, GIF or BMP picture (a Huffman table holds "
                           "more than 256 codes)");
  }
  // A bitmap 5185 pixels wide and none high: the scaling would divide by zero.
  std::vector<uint8_t> bmp = {'B', 'M', 0x3A, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0, 0x41, 0x14, 0, 0,
                              0, 0, 0, 0, 1, 0, 24, 0};
  bmp.resize(58, 0);
  EXPECT_THROW(saverpack::BitmapOfPicture(bmp, "flat.bmp"), saverpack::ToolError);
  bmp[21] = 0x80;  // and one whose width is negative: its canvas would overflow the reckoning
  bmp[22] = 1;
  EXPECT_THROW(saverpack::BitmapOfPicture(bmp, "negative.bmp"), saverpack::ToolError);
  bmp[21] = bmp[25] = 0x40;  // and one of 2^30 x 2^30 pixels, which the reckoning must not overflow
  EXPECT_THROW(saverpack::BitmapOfPicture(bmp, "vast.bmp"), saverpack::ToolError);
  // A path too long for the system to look up is no file at that line, not a system error.
  const auto run = Build(kTop + "[files.program]\npath = \"" + std::string(5000, 'C') + "\"\n");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.output.find("p.toml:5: no file at"), std::string::npos) << run.output.substr(0, 300);
}

// An entry with no name, which the installer skips, comes back as nameless = true, and the
// project builds what repack builds; a project of the author's own may not leave the saver
// without a name.
TEST_F(ExtractedProject, ANamelessEntryComesBackAndAnEmptyNameIsRefused) {
  const auto notes = ReadFileBytes(dir / "notes.txt");
  const auto data = BuildDataFile({}, 0, {{"", 0, 4, notes, false, static_cast<int32_t>(notes.size())},
                                          {"notes.txt", 0, 0, notes, false, static_cast<int32_t>(notes.size())}});
  TPayloadOptions options;
  options.ContentMode = cmSilent;
  options.SaverName = "Quiet";
  TMemberInputs members;
  members[msCompressionLib] = Member("impborl.dat", ReadFileBytes(dir / "impborl.dll"), 3, false);
  members[msSaverEngine] = Member("Quiet.scr", ReadFileBytes(dir / "saver.scr"), 2, true);
  members[msDataFile] = Member("quiet.ssd", data, 1, false);
  for (int slot : {msExtraFile, msSaverLib1, msSaverLib2}) members[slot] = Member("quiet.ssd", {}, 1, false, msDataFile);
  Write(dir / "nameless.exe", BuildInstallerImage(SmallestProgram(), options, members));
  ASSERT_EQ(RunSaverpack("verify " + (dir / "nameless.exe")).exitCode, 0)
      << RunSaverpack("verify " + (dir / "nameless.exe")).output;
  ExpectBuildEqualsRepack("nameless.exe");
  EXPECT_NE(ReadText(dir / "nameless.exe.d/nameless.toml").find("nameless = true"), std::string::npos);

  const auto run = Build("name = \"\"\ncontent = \"none\"\n" + Project("").substr(0));
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.output.find("p.toml:1: name is empty"), std::string::npos) << run.output;
}
