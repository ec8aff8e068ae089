// saverpack: builds screen-saver installers and lists, verifies and extracts them.
// Exit codes: 0 success, 1 a failed operation, 2 a usage error; messages go to stderr.
#include <iostream>

#include "commands.h"
#include "file_io.h"

int main(int argc, char** argv) {
  CLI::App app{"saverpack: builds screen-saver installers and inspects them", "saverpack"};
  app.set_version_flag("--version", "saverpack 2.0.3");
  app.require_subcommand(1);
  saverpack::AddCodecCommands(app);
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
  } catch (const saverpack::ToolError& e) {
    std::cerr << "saverpack: " << e.what() << "\n";
    return 1;
  } catch (const std::exception& e) {
    std::cerr << "saverpack: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
