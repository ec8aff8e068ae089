// Any request head as saverpack studio's server hands it to the rules: the input is the method,
// the Host, the target and a byte of flags (how many Host headers, a Service-Worker header), one
// per line. Whatever the bytes, a file is served only to this run's own name and token, by GET or
// HEAD, and only the page's files inside its folder (links followed), the given installer or the
// three programs beside saverpack; and the log's line of a refusal stays printable.
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "studio_rules.h"

namespace {

namespace fs = std::filesystem;

// A page folder with a subfolder, a link out of it, and files beside it that must never be served.
saverpack::StudioSite MakeSite() {
  const fs::path root = fs::temp_directory_path() / ("studio-rules-fuzz-" + std::to_string(getpid()));
  fs::create_directories(root / "page/ruffle");
  fs::create_directories(root / "tools");
  std::ofstream(root / "page/index.html") << "<!DOCTYPE html>";
  std::ofstream(root / "page/ruffle/ruffle.js") << "//";
  std::ofstream(root / "secret.txt") << "not the page's";
  std::ofstream(root / "Setup.exe") << "MZ";
  for (const char* name : {"install.exe", "impborl.dll", "launcher.exe", "secret.txt"})
    std::ofstream(root / "tools" / name) << "MZ";
  std::error_code ignored;
  fs::create_symlink(root / "secret.txt", root / "page/linked.txt", ignored);
  fs::create_directory_symlink(root, root / "page/up", ignored);
  saverpack::StudioSite site;
  site.token = "0123456789abcdef0123456789abcdef";
  site.label = "5eed";
  site.port = 4711;
  site.folder = fs::canonical(root / "page");
  site.installer = fs::canonical(root / "Setup.exe");
  site.tools = fs::canonical(root / "tools");
  return site;
}

std::string_view NextLine(std::string_view& rest) {
  const size_t end = rest.find('\n');
  const std::string_view line = rest.substr(0, end);
  rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
  return line;
}

bool Served(const saverpack::StudioSite& site, const fs::path& file) {
  if (file == site.installer) return true;
  for (const char* name : {"install.exe", "impborl.dll", "launcher.exe"})
    if (file == site.tools / name) return true;
  std::error_code error;
  const fs::path real = fs::canonical(file, error);
  const std::string inside = site.folder.string() + "/";
  return !error && real.string().compare(0, inside.size(), inside) == 0;
}

bool Printable(std::string_view line) {
  for (const char c : line)
    if (c < 0x20 || c > 0x7E) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const saverpack::StudioSite site = MakeSite();
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  saverpack::StudioRequest request;
  request.method = NextLine(rest);
  request.host = NextLine(rest);
  request.target = NextLine(rest);
  const uint8_t flags = rest.empty() ? 1 : static_cast<uint8_t>(rest.front());
  request.hosts = flags & 3;
  request.serviceWorker = (flags & 4) != 0;

  const saverpack::StudioAnswer answer = saverpack::RouteStudioRequest(site, request);
  switch (answer.status) {
    case 200: break;
    case 400: case 403: case 404: case 405: {
      const std::string line = saverpack::StudioRefusalLine(request.method, request.target, answer);
      if (!Printable(line) || line.size() > 2 * 4 * 200 + answer.reason.size() + 40) abort();
      return 0;
    }
    default: abort();
  }
  std::string host = request.host;
  for (char& c : host) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const std::string prefix = "/" + site.token + "/";
  if (host != "5eed.localhost:4711" || request.hosts > 1 || request.serviceWorker) abort();
  if (request.method != "GET" && request.method != "HEAD") abort();
  if (request.target.compare(0, prefix.size(), prefix) != 0) abort();
  if (!Served(site, answer.file)) abort();
  return 0;
}
