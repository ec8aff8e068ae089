// saverpack studio: serves the studio page (dist/studio, beside saverpack) on the loopback address
// and opens it in the default browser, with the given installer opened in it.
#include <fstream>
#include <iostream>
#include <memory>
#include <utility>

#include "commands.h"
#include "file_io.h"
#include "studio_rules.h"
#include "studio_server.h"

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

extern char** environ;
#endif

namespace saverpack {
namespace {

struct StudioOptions {
  std::string file;
  int port = 0;
  bool noOpen = false;
  int requestSeconds = kStudioRequestSeconds;
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

// The folder of the programs the page builds with: saverpack's own when all three lie beside it,
// the ones `saverpack build` takes, so that the page builds what the command line builds; else
// none, and the page folder's own tools/ (dist/studio carries them, for any static host) serve.
std::filesystem::path ProgramsBesideSaverpack() {
  const std::filesystem::path folder = ToolFolder();
  std::error_code error;
  for (const char* name : {"install.exe", "impborl.dll", "launcher.exe"})
    if (!std::filesystem::is_regular_file(folder / name, error)) return {};
  return folder;
}

std::filesystem::path InstallerToServe(const std::string& file) {
  if (file.empty()) return {};
  std::ifstream in(file, std::ios::binary);
  if (!in) throw ToolError(file + ": cannot be read");
  return std::filesystem::absolute(file);
}

// A page of the author's alone that sends the browser on to the address, so that the token goes
// on no command line, where every user of the machine could read it; removed with the object.
class BrowserPage {
 public:
  BrowserPage() = default;
  explicit BrowserPage(std::filesystem::path removed) : removed_(std::move(removed)) {}
  BrowserPage(BrowserPage&& other) noexcept : removed_(std::exchange(other.removed_, {})) {}
  BrowserPage& operator=(BrowserPage&&) = delete;
  ~BrowserPage() {
    std::error_code ignored;
    if (!removed_.empty()) std::filesystem::remove_all(removed_, ignored);
  }

 private:
  std::filesystem::path removed_;
};

std::string RedirectPage(const std::string& address) {
  return "<!doctype html><meta http-equiv=\"refresh\" content=\"0;url=" + address + "\">\n";
}

#ifdef _WIN32
// The page goes into the user's own temporary folder under a name nobody can guess, made new
// here, and Windows opens it with the default browser.
BrowserPage OpenInBrowser(const std::string& address) {
  std::error_code error;
  const auto page = std::filesystem::temp_directory_path(error) / ("saverpack-studio-" + NewStudioToken() + ".html");
  const HANDLE file = error ? INVALID_HANDLE_VALUE
                            : CreateFileW(page.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    std::cout << "(no private page for the browser: open the address yourself)" << std::endl;
    return {};
  }
  const std::string text = RedirectPage(address);
  DWORD written = 0;
  const bool whole = ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) && written == text.size();
  CloseHandle(file);
  BrowserPage owner(page);
  const auto opened = reinterpret_cast<INT_PTR>(ShellExecuteW(nullptr, L"open", page.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  if (!whole || opened <= 32) {
    std::cout << "(no way to open a browser here: open the address yourself)" << std::endl;
    return {};
  }
  return owner;
}
#else
// The page goes into a folder of the author's alone (mode 0700, the page 0600); xdg-open, or open
// on a Mac, starts the default browser on it.
BrowserPage OpenInBrowser(const std::string& address) {
  std::string folder = (std::filesystem::temp_directory_path() / "saverpack-studio-XXXXXX").string();
  if (!mkdtemp(folder.data())) {
    std::cout << "(no private folder for the browser's page: open the address yourself)" << std::endl;
    return {};
  }
  BrowserPage owner{std::filesystem::path(folder)};
  const std::string page = folder + "/open.html";
  const int out = open(page.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
  const std::string text = RedirectPage(address);
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
        return owner;
      }
    }
  }
  std::cout << "(no way to open a browser here: open the address yourself)" << std::endl;
  return {};
}
#endif

void RunStudio(const StudioOptions& o) {
  StudioSite site;
  site.folder = PageFolder(o);
  site.installer = InstallerToServe(o.file);
  site.tools = ProgramsBesideSaverpack();
  site.token = NewStudioToken();
  site.label = NewStudioToken();  // a fresh origin: nothing an earlier page left reaches this one
  StudioServer server(o.port, o.requestSeconds);
  site.port = server.Port();

  const std::string address = StudioAddress(site);
  std::cout << "Studio: " << address << "\n";
  if (!site.installer.empty()) std::cout << "Opening " << site.installer.string() << " in it\n";
  if (site.tools.empty())
    std::cout << "The page builds with its folder's tools/: install.exe, impborl.dll and launcher.exe are "
                 "not all beside saverpack\n";
  std::cout << "Serving on the loopback address only; press Ctrl-C to stop." << std::endl;
  {
    const BrowserPage page = o.noOpen ? BrowserPage() : OpenInBrowser(address);
    server.Serve(site);
  }
  std::cout << "Studio stopped." << std::endl;
}

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
  // For the tests of idle connections, which should not wait the whole deadline.
  s->add_option("--request-seconds", o->requestSeconds)->check(CLI::Range(1, 600))->group("");
  s->footer(
      "The address is a fresh name under .localhost with a random token; requests without the "
      "token, with another Host than that name and this port, or for anything but the page's "
      "files and FILE are refused. Runs until Ctrl-C.");
  s->callback([o] { RunStudio(*o); });
}

}  // namespace saverpack
