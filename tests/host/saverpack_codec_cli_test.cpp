#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>

#include "codec_test_util.h"
#include "tool_runner.h"

namespace {

void Write(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
}

TEST(SaverpackCli, HelpVersionAndUsageErrors) {
  EXPECT_EQ(RunSaverpack("--help").exitCode, 0);
  const auto version = RunSaverpack("--version");
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_NE(version.output.find("saverpack 2.0.3"), std::string::npos);
  EXPECT_EQ(RunSaverpack("implode --help").exitCode, 0);
  EXPECT_EQ(RunSaverpack("").exitCode, 2);
  EXPECT_EQ(RunSaverpack("implode onlyone").exitCode, 2);
  EXPECT_EQ(RunSaverpack("implode --dict 3000 a b").exitCode, 2);
}

TEST(SaverpackCli, ImplodeThenExplodeGivesTheFileBack) {
  ScratchDir dir;
  const auto plain = ReadFileBytes(std::string(DCL_TESTDATA_DIR) + "/mixed48k-asc-4096.plain");
  Write(dir / "in.bin", plain);
  for (const char* options : {"", "--ascii --dict 1024", "--dict 2048"}) {
    const auto imp = RunSaverpack(std::string("implode ") + options + " " + (dir / "in.bin") +
                                  " " + (dir / "packed"));
    ASSERT_EQ(imp.exitCode, 0) << imp.output;
    const auto exp = RunSaverpack("explode " + (dir / "packed") + " " + (dir / "out.bin"));
    ASSERT_EQ(exp.exitCode, 0) << exp.output;
    EXPECT_EQ(ReadFileBytes(dir / "out.bin"), plain) << options;
  }
}

TEST(SaverpackCli, BadStreamsFailNamingTheFileAndWriteNothing) {
  ScratchDir dir;
  Write(dir / "bad", {0, 9, 1, 2, 3});
  const auto run = RunSaverpack("explode " + (dir / "bad") + " " + (dir / "out"));
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.output.find(dir / "bad"), std::string::npos) << run.output;
  EXPECT_FALSE(std::filesystem::exists(dir / "out"));

  const auto missing = RunSaverpack("implode " + (dir / "none") + " " + (dir / "out"));
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_NE(missing.output.find(dir / "none"), std::string::npos) << missing.output;
}

}  // namespace
