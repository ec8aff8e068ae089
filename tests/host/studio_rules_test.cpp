// What saverpack studio's server lets through, decided without a socket; the command's own
// refusals before it listens; and the running server's bounds, over real connections.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <memory>
#include <regex>
#include <thread>
#include <vector>

#include "studio_rules.h"
#include "tool_runner.h"

extern char** environ;

namespace {

struct StudioSiteTest : ::testing::Test {
  void SetUp() override {
    std::filesystem::create_directories(dir.Path() / "page/ruffle");
    std::ofstream(dir.Path() / "page/index.html") << "<!DOCTYPE html>";
    std::ofstream(dir.Path() / "page/ruffle/ruffle.js") << "//";
    std::ofstream(dir.Path() / "secret.txt") << "not the page's";
    std::ofstream(dir.Path() / "Setup.exe") << "MZ";
    site.token = "0123456789abcdef0123456789abcdef";
    site.label = "5eed";
    site.port = 4711;
    site.folder = dir.Path() / "page";
    site.installer = dir.Path() / "Setup.exe";
  }
  int Status(const std::string& target, const std::string& host = "5eed.localhost:4711") {
    return saverpack::RouteStudioRequest(site, "GET", host, target).status;
  }
  std::string Prefix() const { return "/" + site.token; }

  ScratchDir dir;
  saverpack::StudioSite site;
};

TEST_F(StudioSiteTest, ServesThePageItsFilesAndTheGivenInstallerOnly) {
  auto index = saverpack::RouteStudioRequest(site, "GET", "5eed.localhost:4711", Prefix() + "/?open=Setup.exe");
  EXPECT_EQ(index.status, 200);
  EXPECT_EQ(index.file.filename(), "index.html");
  EXPECT_EQ(index.contentType, "text/html; charset=utf-8");
  EXPECT_EQ(Status(Prefix() + "/ruffle/ruffle.js"), 200);
  EXPECT_EQ(Status(Prefix() + "/open/Setup.exe"), 200);
  EXPECT_EQ(saverpack::RouteStudioRequest(site, "HEAD", "5eed.localhost:4711", Prefix() + "/").status, 200);
  EXPECT_EQ(saverpack::RouteStudioRequest(site, "POST", "5eed.localhost:4711", Prefix() + "/").status, 405);
  EXPECT_EQ(Status(Prefix() + "/open/secret.txt"), 404);
  EXPECT_EQ(Status(Prefix() + "/ruffle/"), 404);  // no listing
  EXPECT_EQ(Status(Prefix() + "/missing.js"), 404);
}

TEST_F(StudioSiteTest, ServesTheThreeProgramsAnInstallerIsBuiltFromAndNothingElseBesideThem) {
  site.tools = dir.Path();
  const auto stub = saverpack::RouteStudioRequest(site, "GET", "5eed.localhost:4711", Prefix() + "/tools/install.exe");
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
  EXPECT_EQ(Status(Prefix() + "/", "5EED.LocalHost:4711"), 200);  // names are caseless
  // Only this run's own name: the loopback address and plain localhost are origins every earlier
  // server on the port shared, and so are other names under .localhost.
  for (const char* host : {"127.0.0.1:4711", "localhost:4711", "[::1]:4711", "beef.localhost:4711",
                           "x.5eed.localhost:4711", "5eed.localhost", "5eed.localhost:80", "5eed.localhost.:4711",
                           "5eed.localhost:4711.evil.example", "evil.example:4711", ""})
    EXPECT_EQ(Status(Prefix() + "/", host), 403) << host;
  site.label.clear();
  EXPECT_EQ(Status(Prefix() + "/", ".localhost:4711"), 403);
  site.label = "5eed";
  site.token.clear();
  EXPECT_EQ(Status("//index.html"), 403);
}

TEST_F(StudioSiteTest, RefusesTwoHostsAndEveryServiceWorkerScript) {
  saverpack::StudioRequest request{"GET", Prefix() + "/", "5eed.localhost:4711", 1, false};
  EXPECT_EQ(saverpack::RouteStudioRequest(site, request).status, 200);
  request.hosts = 2;
  EXPECT_EQ(saverpack::RouteStudioRequest(site, request).status, 400);
  request.hosts = 1;
  // A worker's script is never served, not even one of the page's own files under the token.
  request.serviceWorker = true;
  for (const std::string target : {Prefix() + "/", Prefix() + "/ruffle/ruffle.js"}) {
    request.target = target;
    EXPECT_EQ(saverpack::RouteStudioRequest(site, request).status, 403) << target;
  }
}

TEST(StudioRefusalLine, ShowsTheRequestPrintableAndCut) {
  const saverpack::StudioAnswer answer{403, {}, {}, "no"};
  EXPECT_EQ(saverpack::StudioRefusalLine("GET", "/a\\b\x1b[2J\r\n\xff", answer),
            "refused: GET /a\\x5cb\\x1b[2J\\x0d\\x0a\\xff (403, no)");
  const std::string line = saverpack::StudioRefusalLine("GET", std::string(5000, 'a'), answer);
  EXPECT_EQ(line, "refused: GET " + std::string(200, 'a') + "... (403, no)");
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
  site.label = "f00d";
  site.port = 8123;
  site.installer = "/tmp/My Saver&Co.exe";
  EXPECT_EQ(saverpack::StudioAddress(site), "http://f00d.localhost:8123/abc/?open=My%20Saver%26Co.exe");
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

// ---- the running server: `saverpack studio` over real connections -------------------------

// `saverpack studio --no-open` over a page of its own, stopped (SIGTERM) with the object.
class RunningStudio {
 public:
  explicit RunningStudio(const ScratchDir& dir, std::vector<std::string> extra = {}) {
    std::filesystem::create_directories(dir.Path() / "page");
    std::ofstream(dir.Path() / "page/index.html") << "<!DOCTYPE html>";
    std::vector<std::string> args = {SAVERPACK_BIN, "studio", "--no-open", "--root", dir / "page"};
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    int out[2];
    if (pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, out[1], 2);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    if (posix_spawn(&pid, SAVERPACK_BIN, &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    output_ = out[0];
    printed = ReadFor("press Ctrl-C", 5000);
    std::smatch found;
    if (!std::regex_search(printed, found, std::regex("Studio: http://([0-9a-f]{32}\\.localhost:([0-9]+))/([0-9a-f]{32})/")))
      return;
    host = found[1];
    port = std::stoi(found[2]);
    token = found[3];
  }
  ~RunningStudio() {
    if (pid > 0) Stop();
    close(output_);
  }

  // SIGTERM, then its exit code; what it printed is in printed.
  int Stop() {
    if (pid <= 0) return -1;
    kill(pid, SIGTERM);
    printed += ReadFor("\x04", 5000);  // until it closes its output
    int status = 0;
    waitpid(pid, &status, 0);
    pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  // The most memory it has held (VmHWM), in kB.
  long PeakKilobytes() const {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
      if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    return -1;
  }

  std::string Get(const std::string& path) const {
    return "GET /" + token + path + " HTTP/1.1\r\nHost: " + host + "\r\nConnection: close\r\n\r\n";
  }

  pid_t pid = -1;
  std::string printed, host, token;
  int port = 0;

 private:
  std::string ReadFor(const std::string& until, int milliseconds) {
    std::string text;
    char chunk[4096];
    pollfd ready{output_, POLLIN, 0};
    while (text.find(until) == std::string::npos && poll(&ready, 1, milliseconds) > 0) {
      const ssize_t n = read(output_, chunk, sizeof chunk);
      if (n <= 0) break;
      text.append(chunk, n);
    }
    return text;
  }
  int output_ = -1;
};

// A connection to 127.0.0.1 at port, closed with the object.
struct Connection {
  explicit Connection(int port) : fd(socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(static_cast<uint16_t>(port));
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connect(fd, reinterpret_cast<sockaddr*>(&at), sizeof at);
  }
  ~Connection() { close(fd); }
  bool Send(const std::string& bytes) const {
    return send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
  }
  // What the server sends until it closes the connection, or until milliseconds pass; closed
  // says which.
  std::string Read(int milliseconds = 5000) {
    std::string text;
    char chunk[65536];
    pollfd ready{fd, POLLIN, 0};
    closed = false;
    while (poll(&ready, 1, milliseconds) > 0) {
      const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
      if (n <= 0) {
        closed = true;
        break;
      }
      text.append(chunk, n);
    }
    return text;
  }
  int fd;
  bool closed = false;
};

void ExpectThePolicyHeaders(const std::string& answer) {
  for (const char* header : {"\r\nContent-Security-Policy: default-src 'none'", "\r\nX-Content-Type-Options: nosniff",
                             "\r\nReferrer-Policy: no-referrer", "\r\nCache-Control: no-store"})
    EXPECT_NE(answer.find(header), std::string::npos) << header << " in " << answer.substr(0, 300);
}

TEST(StudioServer, FiftyMegabytesOfHeaderFieldsGetA431AndCostNoMemory) {
  ScratchDir dir;
  RunningStudio studio(dir);
  ASSERT_GT(studio.port, 0) << studio.printed;
  Connection flood(studio.port);
  std::thread writer([&] {
    std::string block = "GET /" + studio.token + "/ HTTP/1.1\r\nHost: " + studio.host + "\r\n";
    flood.Send(block);
    block.clear();
    for (int i = 0; i < 64; ++i) block += "X-Fill: " + std::string(1000, 'a') + "\r\n";
    for (size_t sent = 0; sent < (50u << 20) && flood.Send(block); sent += block.size()) {
    }
    shutdown(flood.fd, SHUT_WR);
  });
  const std::string answer = flood.Read(10000);
  writer.join();
  EXPECT_EQ(answer.rfind("HTTP/1.1 431 ", 0), 0u) << answer.substr(0, 100);
  ExpectThePolicyHeaders(answer);
  EXPECT_TRUE(flood.closed);
  EXPECT_LT(studio.PeakKilobytes(), 50 * 1024);
  Connection after(studio.port);  // and it goes on serving
  after.Send(studio.Get("/"));
  EXPECT_EQ(after.Read().rfind("HTTP/1.1 200 ", 0), 0u);
}

TEST(StudioServer, RefusesPastItsBoundsBeforeTheHostAndTokenAndEndsTheConnection) {
  ScratchDir dir;
  RunningStudio studio(dir);
  ASSERT_GT(studio.port, 0) << studio.printed;
  std::string fields;
  for (int i = 0; i < 101; ++i) fields += "A: b\r\n";
  const std::string foreign = " HTTP/1.1\r\nHost: evil.example\r\n";
  const std::pair<int, std::string> cases[] = {
      {414, "GET /" + std::string(20000, 'a') + foreign + "\r\n"},  // past the head's bound
      {414, "GET /" + std::string(9000, 'a') + foreign + "\r\n"},   // past the line's
      {431, "GET /" + foreign + fields + "\r\n"},
      {431, "GET /" + foreign + "X: " + std::string(17000, 'a') + "\r\n\r\n"},
      {413, "POST /" + foreign + "Content-Length: 5\r\n\r\nhello"},
      {413, "GET /" + foreign + "Transfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n"},
      {400, "BROKEN\r\n\r\n"},
  };
  for (const auto& [status, request] : cases) {
    Connection c(studio.port);
    c.Send(request);
    const std::string answer = c.Read();
    EXPECT_EQ(answer.rfind("HTTP/1.1 " + std::to_string(status) + " ", 0), 0u) << status << ": " << answer.substr(0, 100);
    EXPECT_NE(answer.find("\r\nConnection: close\r\n"), std::string::npos) << status;
    EXPECT_TRUE(c.closed) << status;
    ExpectThePolicyHeaders(answer);
  }
  // Within the bounds, the rules: two Hosts, a service worker's script, the shared loopback names.
  const std::string own = "GET /" + studio.token + "/ HTTP/1.1\r\nConnection: close\r\nHost: " + studio.host + "\r\n";
  const std::pair<int, std::string> ruled[] = {
      {400, own + "Host: " + studio.host + "\r\n\r\n"},
      {403, own + "Service-Worker: script\r\n\r\n"},
      {403, "GET /" + studio.token + "/ HTTP/1.1\r\nConnection: close\r\nHost: 127.0.0.1:" + std::to_string(studio.port) +
                "\r\n\r\n"},
  };
  for (const auto& [status, request] : ruled) {
    Connection c(studio.port);
    c.Send(request);
    const std::string answer = c.Read();
    EXPECT_EQ(answer.rfind("HTTP/1.1 " + std::to_string(status) + " ", 0), 0u) << status << ": " << answer.substr(0, 100);
    ExpectThePolicyHeaders(answer);
  }
  studio.Stop();
  // A line too long to be read whole is logged by its beginning.
  EXPECT_NE(studio.printed.find("refused: GET /" + std::string(195, 'a') + "... (414, "), std::string::npos)
      << studio.printed;
  EXPECT_NE(studio.printed.find("refused: GET /" + studio.token + "/ (403, no service worker is served)"),
            std::string::npos);
}

TEST(StudioServer, AnswersHeadWithoutABodyAndKeepsTheConnectionAlive) {
  ScratchDir dir;
  RunningStudio studio(dir);
  ASSERT_GT(studio.port, 0) << studio.printed;
  Connection c(studio.port);
  c.Send("HEAD /" + studio.token + "/ HTTP/1.1\r\nHost: " + studio.host + "\r\n\r\n" + studio.Get("/index.html"));
  const std::string answers = c.Read();
  const size_t second = answers.find("\r\n\r\n") + 4;
  EXPECT_NE(answers.substr(0, second).find("\r\nContent-Length: 15\r\n"), std::string::npos) << answers;
  EXPECT_EQ(answers.find("HTTP/1.1 200 ", second), second) << answers;
  EXPECT_EQ(answers.substr(answers.size() - 15), "<!DOCTYPE html>");
  EXPECT_EQ(answers.find("<!DOCTYPE"), answers.size() - 15);
}

TEST(StudioServer, ClosesIdleAndSlowConnectionsAtTheDeadline) {
  ScratchDir dir;
  RunningStudio studio(dir, {"--request-seconds", "1"});
  ASSERT_GT(studio.port, 0) << studio.printed;
  const auto start = std::chrono::steady_clock::now();
  const auto seconds = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };
  Connection idle(studio.port), slow(studio.port);
  idle.Read(300);
  EXPECT_FALSE(idle.closed);  // not at once
  slow.Send("GET /" + studio.token + "/ HTTP/1.1\r\n");
  // A field every 200 ms: the head never ends, and the deadline is the whole head's.
  for (int i = 0; i < 20 && slow.Send("X: y\r\n"); ++i) {
    slow.Read(200);
    if (slow.closed) break;
  }
  EXPECT_TRUE(slow.closed);
  EXPECT_LT(seconds(), 2.5);
  idle.Read(3000);
  EXPECT_TRUE(idle.closed);
  EXPECT_LT(seconds(), 2.5);
}

TEST(StudioServer, ServesNoMoreConnectionsAtOnceThanItsBoundAndTakesTheNextWhenOneEnds) {
  ScratchDir dir;
  RunningStudio studio(dir);
  ASSERT_GT(studio.port, 0) << studio.printed;
  std::vector<std::unique_ptr<Connection>> idle;
  for (int i = 0; i < saverpack::kStudioMaxConnections; ++i) idle.push_back(std::make_unique<Connection>(studio.port));
  Connection next(studio.port);
  next.Send(studio.Get("/"));
  EXPECT_EQ(next.Read(300), "");  // it waits to be accepted
  EXPECT_FALSE(next.closed);
  idle.clear();
  EXPECT_EQ(next.Read().rfind("HTTP/1.1 200 ", 0), 0u);
}

TEST(StudioServer, HoldsItsPortOnBothLoopbackAddressesAndStopsCleanlyOnSigterm) {
  ScratchDir dir;
  RunningStudio studio(dir);
  ASSERT_GT(studio.port, 0) << studio.printed;
  const ToolRun second = RunSaverpack("studio --no-open --root " + (dir / "page") + " --port " + std::to_string(studio.port));
  EXPECT_EQ(second.exitCode, 1);
  EXPECT_NE(second.output.find("is it taken?"), std::string::npos) << second.output;
  // Nobody else may listen on [::1] at the port either, where a browser may look first.
  const int v6 = socket(AF_INET6, SOCK_STREAM, 0);
  sockaddr_in6 at{};
  at.sin6_family = AF_INET6;
  at.sin6_port = htons(static_cast<uint16_t>(studio.port));
  at.sin6_addr = in6addr_loopback;
  if (v6 >= 0) {  // without an IPv6 loopback address nobody can
    EXPECT_NE(bind(v6, reinterpret_cast<sockaddr*>(&at), sizeof at), 0) << "[::1]:" << studio.port << " was free";
    EXPECT_TRUE(errno == EADDRINUSE || errno == EADDRNOTAVAIL) << errno;
    close(v6);
  }
  Connection open(studio.port);  // a connection left open does not hold the studio up
  EXPECT_EQ(studio.Stop(), 0);
  EXPECT_NE(studio.printed.find("Studio stopped."), std::string::npos) << studio.printed;
}

}  // namespace
