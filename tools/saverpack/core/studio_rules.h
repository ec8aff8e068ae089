// What `saverpack studio` answers to a request, decided without a socket: the server is a door
// into the author's machine, so only requests to this run's own origin (a fresh random name under
// .localhost, and the port it listens on), carrying its random token, for the page's own files,
// the one installer it was given, or the three programs an installer is built from
// (tools/install.exe, tools/impborl.dll, tools/launcher.exe), pass.
#pragma once
#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace saverpack {

// The bounds of one request, held while it is read and before any rule below: past them the
// request is refused (414, 431, 413) and its connection closed. The page's own requests are a
// few hundred bytes of a dozen fields and never carry a body.
inline constexpr size_t kStudioMaxRequestLine = 8 * 1024;   // method, target, version: 414
inline constexpr size_t kStudioMaxHead = 16 * 1024;         // the request line and fields: 431
inline constexpr size_t kStudioMaxFields = 100;             // header fields: 431
inline constexpr int kStudioRequestSeconds = 15;            // to read a request, or to send a piece
                                                            // of an answer; then the connection closes
inline constexpr int kStudioMaxConnections = 32;            // open at once; more wait to be accepted

struct StudioSite {
  std::string token;                  // the address's secret first path segment
  std::string label;                  // this run's host name before ".localhost": a fresh origin,
                                      // which no earlier page's service worker or storage shares
  int port = 0;                       // where the server listens on the loopback address
  std::filesystem::path folder;       // the page's files (dist/studio)
  std::filesystem::path installer;    // the file given on the command line; empty for none
  std::filesystem::path tools;        // saverpack's folder: install.exe, impborl.dll and
                                      // launcher.exe, which the page builds with; empty: the
                                      // page folder's tools/ serve them, as its other files
};

// What the server keeps of a request's head for the rules; nothing else of it is stored.
struct StudioRequest {
  std::string method;
  std::string target;                 // as sent: still encoded, with any query
  std::string host;                   // the first Host header's value
  int hosts = 0;                      // how many Host headers came
  bool serviceWorker = false;         // a Service-Worker header: a worker's script is asked for
};

const char* StudioContentSecurityPolicy();

struct StudioAnswer {
  int status = 200;                   // 200, or 400, 403, 404, 405 (413, 414, 431 from the bounds)
  std::filesystem::path file;         // what to send with 200
  std::string contentType;
  std::string reason;
  const char* policy = StudioContentSecurityPolicy();  // the Content-Security-Policy to send with
                                      // it: the page's, or the movie player's for its document
};

// The answer to one request: method, its Host header, and its target as sent (still encoded,
// with any query).
StudioAnswer RouteStudioRequest(const StudioSite& site, std::string_view method,
                                std::string_view host, std::string_view target);

// The same for a whole head: two Host headers are malformed (400), and no service worker's script
// is served (403), so that nothing a worker could install ever comes from this origin.
StudioAnswer RouteStudioRequest(const StudioSite& site, const StudioRequest& request);

// The log's line for a refusal: "refused: METHOD TARGET (STATUS, REASON)" (no METHOD when it is
// empty: a line too long to be read shows its start as TARGET), the request's bytes
// shown printable (others as \xNN), at most 200 of each.
std::string StudioRefusalLine(std::string_view method, std::string_view target, const StudioAnswer& answer);

// This run's host name with its port, as the Host header must carry it: LABEL.localhost:PORT.
std::string StudioHost(const StudioSite& site);

// The address a browser opens: http://LABEL.localhost:PORT/TOKEN/, asked to open the installer
// when there is one. Browsers take every name under .localhost to the loopback address.
std::string StudioAddress(const StudioSite& site);

// The Content-Security-Policy of every answer but one: the page's own scripts, styles, worker,
// wasm and movie player's frame, the pictures it makes itself (blob:, data:), nothing from
// elsewhere, and no framing.
const char* StudioContentSecurityPolicy();

// The movie player's document (player.html), framed by the page only: sandboxed to an origin of
// its own, Ruffle's scripts and wasm and no connection at all.
const char* StudioPlayerContentSecurityPolicy();

std::string StudioContentType(const std::filesystem::path& file);

// 32 hexadecimal digits from the system's random source: a run's token, and its host name's label.
std::string NewStudioToken();

}  // namespace saverpack
