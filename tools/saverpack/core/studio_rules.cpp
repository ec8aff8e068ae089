#include "studio_rules.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <optional>
#include <random>
#include <vector>

namespace saverpack {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The path's segments, percent-decoded once; nothing when a segment could reach outside the
// folder or mean something else on some system: ".", "..", empty inner segments, a backslash,
// a colon, a control character, or a "%" left after decoding (a second round of encoding).
std::optional<std::vector<std::string>> Segments(std::string_view path) {
  std::vector<std::string> segments;
  std::string current;
  auto finish = [&]() -> bool {
    if (current == "." || current == "..") return false;
    segments.push_back(current);
    current.clear();
    return true;
  };
  for (size_t i = 1; i < path.size(); ++i) {
    char c = path[i];
    if (c == '/') {
      if (current.empty() || !finish()) return std::nullopt;
      continue;
    }
    if (c == '%') {
      if (i + 2 >= path.size()) return std::nullopt;
      const int high = HexValue(path[i + 1]), low = HexValue(path[i + 2]);
      if (high < 0 || low < 0) return std::nullopt;
      c = static_cast<char>(high * 16 + low);
      i += 2;
      if (c == '/' || c == '%') return std::nullopt;
    }
    if (c == '\\' || c == ':' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return std::nullopt;
    current += c;
  }
  if (!current.empty() && !finish()) return std::nullopt;
  if (!path.empty() && path.back() == '/') segments.push_back("");  // a folder: its index
  return segments;
}

// Only this run's own name: 127.0.0.1 and plain localhost are origins that every earlier server
// on the port shared, and a service worker or page left there must not reach this one.
bool IsOwnHost(const StudioSite& site, std::string_view host) {
  if (site.label.empty()) return false;
  std::string lower(host);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower == StudioHost(site);
}

// A request's bytes as the log shows them: control and other bytes as \xNN, at most 200 of them.
std::string Printable(std::string_view text) {
  static const char* kHex = "0123456789abcdef";
  std::string shown;
  for (const char c : text.substr(0, 200)) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
      shown += c;
    } else {
      shown += "\\x";
      shown += kHex[byte >> 4];
      shown += kHex[byte & 15];
    }
  }
  return text.size() > 200 ? shown + "..." : shown;
}

StudioAnswer Refused(int status, std::string reason) {
  StudioAnswer answer;
  answer.status = status;
  answer.reason = std::move(reason);
  return answer;
}

// The file under folder that the segments name, when it is a regular file inside the folder
// also after every link in it is followed.
std::optional<std::filesystem::path> InsideFolder(const std::filesystem::path& folder,
                                                  const std::vector<std::string>& segments) {
  std::filesystem::path candidate = folder;
  for (const std::string& segment : segments) candidate /= segment;
  std::error_code error;
  const auto root = std::filesystem::canonical(folder, error);
  if (error) return std::nullopt;
  const auto real = std::filesystem::canonical(candidate, error);
  if (error || !std::filesystem::is_regular_file(real, error)) return std::nullopt;
  const auto relative = real.lexically_relative(root);
  if (relative.empty() || *relative.begin() == "..") return std::nullopt;
  return real;
}

// Equal texts, compared in a time that does not tell where they first differ.
bool SameInConstantTime(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  unsigned char difference = 0;
  for (size_t i = 0; i < a.size(); ++i) difference |= static_cast<unsigned char>(a[i] ^ b[i]);
  return difference == 0;
}

}  // namespace

StudioAnswer RouteStudioRequest(const StudioSite& site, std::string_view method,
                                std::string_view host, std::string_view target) {
  if (!IsOwnHost(site, host)) return Refused(403, "the Host is not this studio's own name and port");
  const std::string_view path = target.substr(0, target.find_first_of("?#"));
  const std::string prefix = "/" + site.token + "/";
  if (site.token.empty() || !SameInConstantTime(path.substr(0, prefix.size()), prefix))
    return Refused(403, "the address lacks the studio's token");
  if (method != "GET" && method != "HEAD") return Refused(405, "only GET and HEAD are served");
  auto segments = Segments(path.substr(prefix.size() - 1));
  if (!segments) return Refused(400, "the path is not a plain path inside the studio");
  if (segments->empty() || segments->back().empty()) {
    if (segments->size() > 1) return Refused(404, "folders are not listed");
    segments = std::vector<std::string>{"index.html"};
  }
  if (segments->size() == 2 && (*segments)[0] == "open" && !site.installer.empty()) {
    if ((*segments)[1] != site.installer.filename().string()) return Refused(404, "not served");
    StudioAnswer answer;
    answer.file = site.installer;
    answer.contentType = "application/octet-stream";
    return answer;
  }
  if (segments->size() == 2 && (*segments)[0] == "tools" && !site.tools.empty()) {
    const std::string& name = (*segments)[1];
    if (name != "install.exe" && name != "impborl.dll" && name != "launcher.exe") return Refused(404, "not served");
    StudioAnswer answer;
    answer.file = site.tools / name;
    answer.contentType = "application/octet-stream";
    return answer;
  }
  const auto file = InsideFolder(site.folder, *segments);
  if (!file) return Refused(404, "not one of the studio's files");
  StudioAnswer answer;
  answer.file = *file;
  answer.contentType = StudioContentType(*file);
  if (segments->size() == 1 && (*segments)[0] == "player.html") answer.policy = StudioPlayerContentSecurityPolicy();
  return answer;
}

StudioAnswer RouteStudioRequest(const StudioSite& site, const StudioRequest& request) {
  if (request.hosts > 1) return Refused(400, "more than one Host");
  if (request.serviceWorker) return Refused(403, "no service worker is served");
  return RouteStudioRequest(site, request.method, request.host, request.target);
}

std::string StudioRefusalLine(std::string_view method, std::string_view target, const StudioAnswer& answer) {
  const std::string shownMethod = method.empty() ? "" : Printable(method) + " ";
  return "refused: " + shownMethod + Printable(target) + " (" + std::to_string(answer.status) + ", " + answer.reason + ")";
}

std::string StudioHost(const StudioSite& site) {
  return site.label + ".localhost:" + std::to_string(site.port);
}

std::string StudioAddress(const StudioSite& site) {
  std::string address = "http://" + StudioHost(site) + "/" + site.token + "/";
  if (site.installer.empty()) return address;
  std::string name;
  for (unsigned char c : site.installer.filename().string()) {
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.') {
      name += static_cast<char>(c);
    } else {
      static const char* kHex = "0123456789ABCDEF";
      name += {'%', kHex[c >> 4], kHex[c & 15]};
    }
  }
  return address + "?open=" + name;
}

// index.html carries the same in a meta element, for servers that send none (without
// frame-ancestors, which only a header can give).
const char* StudioContentSecurityPolicy() {
  return "default-src 'none'; script-src 'self' 'wasm-unsafe-eval'; worker-src 'self'; frame-src 'self'; "
         "connect-src 'self'; img-src 'self' blob: data:; style-src 'self'; base-uri 'none'; "
         "form-action 'none'; frame-ancestors 'none'";
}

// player.html carries the same but frame-ancestors and sandbox in a meta element.
const char* StudioPlayerContentSecurityPolicy() {
  return "default-src 'none'; script-src 'self' 'wasm-unsafe-eval'; connect-src 'none'; img-src blob: data:; "
         "style-src 'unsafe-inline'; base-uri 'none'; form-action 'none'; frame-ancestors 'self'; "
         "sandbox allow-scripts";
}

std::string StudioContentType(const std::filesystem::path& file) {
  static const std::pair<const char*, const char*> kTypes[] = {
      {".html", "text/html; charset=utf-8"}, {".js", "text/javascript; charset=utf-8"},
      {".mjs", "text/javascript; charset=utf-8"}, {".css", "text/css; charset=utf-8"},
      {".wasm", "application/wasm"}, {".json", "application/json"}, {".map", "application/json"},
      {".png", "image/png"}, {".svg", "image/svg+xml"}, {".ico", "image/x-icon"},
      {".txt", "text/plain; charset=utf-8"}, {".md", "text/plain; charset=utf-8"},
      {".woff2", "font/woff2"}, {".swf", "application/x-shockwave-flash"}};
  std::string extension = file.extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  for (const auto& [ending, type] : kTypes)
    if (extension == ending) return type;
  return "application/octet-stream";
}

std::string NewStudioToken() {
  // The kernel's pool where there is one (the library's default on x86 is the processor's own
  // generator, which a faulty processor can make constant).
#ifdef __linux__
  std::random_device random("/dev/urandom");
#else
  std::random_device random;
#endif
  static const char* kHex = "0123456789abcdef";
  std::string token;
  for (int word = 0; word < 4; ++word) {
    uint32_t bits = random();
    for (int i = 0; i < 8; ++i, bits >>= 4) token += kHex[bits & 15];
  }
  return token;
}

}  // namespace saverpack
