// saverpack: builds screen-saver installers and lists, verifies and extracts them.
// Exit codes: 0 success, 1 a failed operation, 2 a usage error; messages go to stderr.
#include <iostream>

#ifdef _WIN32
#include <windows.h>
#endif

#include "commands.h"
#include "file_io.h"

namespace saverpack {

std::filesystem::path ToolFolder() {
#ifdef _WIN32
  char buffer[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
  return std::filesystem::path(std::string(buffer, length)).parent_path();
#else
  std::error_code error;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::filesystem::current_path() : self.parent_path();
#endif
}

}  // namespace saverpack

int main(int argc, char** argv) {
  CLI::App app{"saverpack: builds screen-saver installers and inspects them", "saverpack"};
  app.set_version_flag("--version", "saverpack 2.0.3");
  app.require_subcommand(1);
  saverpack::AddNewCommand(app);
  saverpack::AddBuildCommand(app);
  saverpack::AddRepackCommand(app);
  saverpack::AddInspectCommands(app);
  saverpack::AddCodecCommands(app);
  saverpack::AddStudioCommand(app);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return 2;
  } catch (const saverpack::QuietFailure&) {
    return 1;
  } catch (const saverpack::ToolError& e) {
    std::cerr << "saverpack: " << e.what() << "\n";
    return 1;
  } catch (const std::exception& e) {
    std::cerr << "saverpack: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
