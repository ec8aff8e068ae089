// What `saverpack studio` answers to a request, decided without a socket: the server is a door
// into the author's machine, so only requests to the loopback address and port it listens on,
// carrying its random token, for the page's own files, the one installer it was given, or the
// three programs an installer is built from (tools/install.exe, tools/impborl.dll,
// tools/launcher.exe), pass.
#pragma once
#include <filesystem>
#include <string>
#include <string_view>

namespace saverpack {

struct StudioSite {
  std::string token;                  // the address's secret first path segment
  int port = 0;                       // where the server listens on 127.0.0.1
  std::filesystem::path folder;       // the page's files (dist/studio)
  std::filesystem::path installer;    // the file given on the command line; empty for none
  std::filesystem::path tools;        // saverpack's folder: install.exe, impborl.dll and
                                      // launcher.exe, which the page builds with; empty for none
};

struct StudioAnswer {
  int status = 200;                   // 200, or 400, 403, 404, 405 with reason
  std::filesystem::path file;         // what to send with 200
  std::string contentType;
  std::string reason;
};

// The answer to one request: method, its Host header, and its target as sent (still encoded,
// with any query).
StudioAnswer RouteStudioRequest(const StudioSite& site, std::string_view method,
                                std::string_view host, std::string_view target);

// The address a browser opens: the page, asked to open the installer when there is one.
std::string StudioAddress(const StudioSite& site);

// The Content-Security-Policy of every answer: the page's own scripts, styles, workers and wasm,
// the pictures and movies it makes itself (blob:, data:), nothing from elsewhere.
const char* StudioContentSecurityPolicy();

std::string StudioContentType(const std::filesystem::path& file);

// 32 hexadecimal digits from the system's random source.
std::string NewStudioToken();

}  // namespace saverpack
