// saverpack studio: serves the studio page (dist/studio, beside saverpack) on the loopback address
// and opens it in the default browser, with the given installer opened in it.
#include <csignal>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <thread>

#include "commands.h"
#include "file_io.h"
#include "studio_rules.h"

#ifdef SAVERPACK_SERVES_STUDIO
#include <fcntl.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <httplib.h>

extern char** environ;
#endif

namespace saverpack {
namespace {

struct StudioOptions {
  std::string file;
  int port = 0;
  bool noOpen = false;
  std::string folder;
};

std::filesystem::path PageFolder(const StudioOptions& o) {
  const std::filesystem::path folder =
      o.folder.empty() ? ToolFolder() / "studio" : std::filesystem::path(o.folder);
  if (!std::filesystem::is_regular_file(folder / "index.html"))
    throw ToolError(folder.string() + ": no studio page here (index.html); bash scripts/build "
                    "makes it in dist/studio, beside saverpack");
  return folder;
}

std::filesystem::path InstallerToServe(const std::string& file) {
  if (file.empty()) return {};
  std::ifstream in(file, std::ios::binary);
  if (!in) throw ToolError(file + ": cannot be read");
  return std::filesystem::absolute(file);
}

#ifdef SAVERPACK_SERVES_STUDIO
// Opens the address in the default browser (xdg-open, or open on a Mac) without putting the
// token on any command line, where every user of the machine could read it: the browser is given
// a page in a folder of the author's alone that sends it on. Returns that folder, to be removed
// when the studio stops, or an empty path.
std::filesystem::path OpenInBrowser(const std::string& address) {
  std::string folder = (std::filesystem::temp_directory_path() / "saverpack-studio-XXXXXX").string();
  if (!mkdtemp(folder.data())) {
    std::cout << "(no private folder for the browser's page: open the address yourself)" << std::endl;
    return {};
  }
  const std::string page = folder + "/open.html";
  const int out = open(page.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
  const std::string text = "<!doctype html><meta http-equiv=\"refresh\" content=\"0;url=" + address + "\">\n";
  const bool written = out >= 0 && write(out, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  if (out >= 0) close(out);
  if (written) {
    const std::string url = "file://" + page;
    for (const char* opener : {"xdg-open", "open"}) {
      posix_spawn_file_actions_t actions;
      posix_spawn_file_actions_init(&actions);
      posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
      posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
      pid_t child = 0;
      char* argv[] = {const_cast<char*>(opener), const_cast<char*>(url.c_str()), nullptr};
      const int failed = posix_spawnp(&child, opener, &actions, nullptr, argv, environ);
      posix_spawn_file_actions_destroy(&actions);
      if (!failed) {
        std::thread([child] { waitpid(child, nullptr, 0); }).detach();
        return folder;
      }
    }
  }
  std::cout << "(no way to open a browser here: open the address yourself)" << std::endl;
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  return {};
}

// A request's target as the log shows it: control and other bytes as \xNN, at most 200 of them.
std::string Printable(const std::string& target) {
  static const char* kHex = "0123456789abcdef";
  std::string shown;
  for (const char c : target.substr(0, 200)) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
      shown += c;
    } else {
      shown += "\\x";
      shown += kHex[byte >> 4];
      shown += kHex[byte & 15];
    }
  }
  return target.size() > 200 ? shown + "..." : shown;
}

void Answer(const StudioSite& site, const httplib::Request& request, httplib::Response& response) {
  // One Host, or none to judge: a request with two is refused as malformed.
  const StudioAnswer answer =
      request.get_header_value_count("Host") > 1
          ? StudioAnswer{400, {}, {}, "more than one Host"}
          : RouteStudioRequest(site, request.method, request.get_header_value("Host"), request.target);
  response.status = answer.status;
  if (answer.status != 200) {
    std::cerr << "refused: " << Printable(request.method) << " " << Printable(request.target) << " (" << answer.status
              << ", " << answer.reason << ")" << std::endl;
    response.set_content(answer.reason + "\n", "text/plain; charset=utf-8");
    return;
  }
  try {
    const auto bytes = ReadFile(answer.file);
    response.set_content(reinterpret_cast<const char*>(bytes.data()), bytes.size(), answer.contentType);
  } catch (const ToolError& e) {
    response.status = 404;
    response.set_content(std::string(e.what()) + "\n", "text/plain; charset=utf-8");
  }
}

void RunStudio(const StudioOptions& o) {
  StudioSite site;
  site.folder = PageFolder(o);
  site.installer = InstallerToServe(o.file);
  site.tools = ToolFolder();
  site.token = NewStudioToken();

  // Ctrl-C and SIGTERM are taken by a thread of their own, which stops the server cleanly.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  httplib::Server server;
  // Without the library's SO_REUSEPORT: another process may not bind the same port beside us.
  server.set_socket_options([](socket_t socket) {
    const int yes = 1;
    setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&yes), sizeof yes);
  });
  if (o.port == 0) {
    site.port = server.bind_to_any_port("127.0.0.1");
    if (site.port <= 0) throw ToolError("cannot listen on 127.0.0.1");
  } else {
    if (!server.bind_to_port("127.0.0.1", o.port))
      throw ToolError("cannot listen on 127.0.0.1:" + std::to_string(o.port) + " (is it taken?)");
    site.port = o.port;
  }
  auto handler = [&site](const httplib::Request& request, httplib::Response& response) {
    Answer(site, request, response);
    return httplib::Server::HandlerResponse::Handled;
  };
  server.set_pre_routing_handler(handler);
  // Every answer carries the policy, the server's own refusals of malformed requests too.
  server.set_post_routing_handler([](const httplib::Request&, httplib::Response& response) {
    response.set_header("Content-Security-Policy", StudioContentSecurityPolicy());
    response.set_header("X-Content-Type-Options", "nosniff");
    response.set_header("Referrer-Policy", "no-referrer");
    response.set_header("Cache-Control", "no-store");
  });

  const std::string address = StudioAddress(site);
  std::cout << "Studio: " << address << "\n";
  if (!site.installer.empty()) std::cout << "Opening " << site.installer.string() << " in it\n";
  std::cout << "Serving on 127.0.0.1 only; press Ctrl-C to stop." << std::endl;
  const std::filesystem::path openerFolder = o.noOpen ? std::filesystem::path() : OpenInBrowser(address);

  std::thread stopper([&server, signals] {
    int received = 0;
    sigwait(&signals, &received);
    server.stop();
  });
  server.listen_after_bind();
  // Ended by a signal, or the server failed: either way the stopper must end too.
  pthread_kill(stopper.native_handle(), SIGTERM);
  stopper.join();
  std::error_code ignored;
  if (!openerFolder.empty()) std::filesystem::remove_all(openerFolder, ignored);
  std::cout << "Studio stopped." << std::endl;
}
#else
void RunStudio(const StudioOptions& o) {
  const auto folder = PageFolder(o);
  InstallerToServe(o.file);
  throw ToolError("this saverpack serves no page (it has no HTTP library); open the studio with "
                  "the Linux saverpack, or serve " + folder.string() +
                  " with any static web server on 127.0.0.1");
}
#endif

}  // namespace

void AddStudioCommand(CLI::App& app) {
  auto o = std::make_shared<StudioOptions>();
  CLI::App* s = app.add_subcommand(
      "studio",
      "Serve the studio page on 127.0.0.1 and open it in the browser: an installer's window as "
      "its user sees it, its slots, files, verdict and Flash movies, read in the browser");
  s->add_option("FILE", o->file, "An installer to open in the page");
  s->add_option("--port", o->port, "Port to listen on (default: a free one)")->check(CLI::Range(1, 65535));
  s->add_flag("--no-open", o->noOpen, "Print the address only; do not start a browser");
  s->add_option("--root", o->folder, "The page's folder (default: studio beside saverpack)");
  s->footer(
      "The address carries a random token; requests without it, with another Host than "
      "127.0.0.1 or localhost and this port, or for anything but the page's files and FILE are "
      "refused. Runs until Ctrl-C.");
  s->callback([o] { RunStudio(*o); });
}

}  // namespace saverpack
