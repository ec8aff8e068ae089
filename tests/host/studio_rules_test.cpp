// What saverpack studio's server lets through, decided without a socket; and the command's own
// refusals before it listens.
#include <gtest/gtest.h>

#include <fstream>

#include "studio_rules.h"
#include "tool_runner.h"

namespace {

struct StudioSiteTest : ::testing::Test {
  void SetUp() override {
    std::filesystem::create_directories(dir.Path() / "page/ruffle");
    std::ofstream(dir.Path() / "page/index.html") << "<!DOCTYPE html>";
    std::ofstream(dir.Path() / "page/ruffle/ruffle.js") << "//";
    std::ofstream(dir.Path() / "secret.txt") << "not the page's";
    std::ofstream(dir.Path() / "Setup.exe") << "MZ";
    site.token = "0123456789abcdef0123456789abcdef";
    site.port = 4711;
    site.folder = dir.Path() / "page";
    site.installer = dir.Path() / "Setup.exe";
  }
  int Status(const std::string& target, const std::string& host = "127.0.0.1:4711") {
    return saverpack::RouteStudioRequest(site, "GET", host, target).status;
  }
  std::string Prefix() const { return "/" + site.token; }

  ScratchDir dir;
  saverpack::StudioSite site;
};

TEST_F(StudioSiteTest, ServesThePageItsFilesAndTheGivenInstallerOnly) {
  auto index = saverpack::RouteStudioRequest(site, "GET", "localhost:4711", Prefix() + "/?open=Setup.exe");
  EXPECT_EQ(index.status, 200);
  EXPECT_EQ(index.file.filename(), "index.html");
  EXPECT_EQ(index.contentType, "text/html; charset=utf-8");
  EXPECT_EQ(Status(Prefix() + "/ruffle/ruffle.js"), 200);
  EXPECT_EQ(Status(Prefix() + "/open/Setup.exe"), 200);
  EXPECT_EQ(saverpack::RouteStudioRequest(site, "HEAD", "127.0.0.1:4711", Prefix() + "/").status, 200);
  EXPECT_EQ(saverpack::RouteStudioRequest(site, "POST", "127.0.0.1:4711", Prefix() + "/").status, 405);
  EXPECT_EQ(Status(Prefix() + "/open/secret.txt"), 404);
  EXPECT_EQ(Status(Prefix() + "/ruffle/"), 404);  // no listing
  EXPECT_EQ(Status(Prefix() + "/missing.js"), 404);
}

TEST_F(StudioSiteTest, ServesTheThreeProgramsAnInstallerIsBuiltFromAndNothingElseBesideThem) {
  site.tools = dir.Path();
  const auto stub = saverpack::RouteStudioRequest(site, "GET", "127.0.0.1:4711", Prefix() + "/tools/install.exe");
  EXPECT_EQ(stub.status, 200);
  EXPECT_EQ(stub.file, dir.Path() / "install.exe");
  EXPECT_EQ(Status(Prefix() + "/tools/launcher.exe"), 200);
  for (const char* refused : {"/tools/secret.txt", "/tools/Setup.exe", "/tools/%2e%2e/secret.txt", "/tools/"})
    EXPECT_GE(Status(Prefix() + refused), 400) << refused;
  EXPECT_EQ(Status("/tools/install.exe"), 403);
}

TEST_F(StudioSiteTest, RefusesWithoutTheTokenOrFromAnotherHost) {
  EXPECT_EQ(Status("/index.html"), 403);
  EXPECT_EQ(Status("/0123456789abcdef0123456789abcdee/index.html"), 403);
  EXPECT_EQ(Status(Prefix() + "index.html"), 403);  // the token must be a whole segment
  EXPECT_EQ(Status(Prefix() + "/", "evil.example:4711"), 403);
  EXPECT_EQ(Status(Prefix() + "/", "127.0.0.1:80"), 403);
  EXPECT_EQ(Status(Prefix() + "/", ""), 403);
  site.token.clear();
  EXPECT_EQ(Status("//index.html"), 403);
}

TEST_F(StudioSiteTest, NoPathLeavesTheFolder) {
  for (const std::string path : {"/../secret.txt", "/%2e%2e/secret.txt", "/%2E%2e/secret.txt",
                                 "/..%2fsecret.txt", "/%252e%252e/secret.txt", "/..\\secret.txt",
                                 "/ruffle/../../secret.txt", "/./index.html", "//index.html",
                                 "/C:/secret.txt", "/index.html%00", "/%"})
    EXPECT_GE(Status(Prefix() + path), 400) << path;
  // A link inside the folder that points out of it is not followed.
  std::filesystem::create_symlink(dir.Path() / "secret.txt", dir.Path() / "page/linked.txt");
  EXPECT_EQ(Status(Prefix() + "/linked.txt"), 404);
}

TEST(StudioAddress, CarriesTheTokenAndTheInstallerEncoded) {
  saverpack::StudioSite site;
  site.token = "abc";
  site.port = 8123;
  site.installer = "/tmp/My Saver&Co.exe";
  EXPECT_EQ(saverpack::StudioAddress(site), "http://127.0.0.1:8123/abc/?open=My%20Saver%26Co.exe");
  EXPECT_EQ(saverpack::NewStudioToken().size(), 32u);
  EXPECT_NE(saverpack::NewStudioToken(), saverpack::NewStudioToken());
}

TEST(SaverpackStudio, RefusesAMissingPageOrFileBeforeListening) {
  ScratchDir dir;
  const ToolRun noPage = RunSaverpack("studio --no-open --root " + (dir / "nowhere"));
  EXPECT_EQ(noPage.exitCode, 1);
  EXPECT_NE(noPage.output.find("no studio page here"), std::string::npos) << noPage.output;
  std::filesystem::create_directories(dir.Path() / "page");
  std::ofstream(dir.Path() / "page/index.html") << "x";
  const ToolRun noFile = RunSaverpack("studio " + (dir / "missing.exe") + " --no-open --root " + (dir / "page"));
  EXPECT_EQ(noFile.exitCode, 1);
  EXPECT_NE(noFile.output.find("missing.exe: cannot be read"), std::string::npos) << noFile.output;
  EXPECT_EQ(RunSaverpack("studio --port 0 --no-open").exitCode, 2);
  const ToolRun help = RunSaverpack("studio --help");
  for (const char* word : {"--port", "--no-open", "FILE", "token", "Ctrl-C"})
    EXPECT_NE(help.output.find(word), std::string::npos) << word;
}

}  // namespace
