// saverpack implode / explode: one stream in a file, either way.
#include <iostream>
#include <memory>

#include "commands.h"
#include "dcl.h"
#include "file_io.h"

namespace saverpack {

namespace {

struct ImplodeOptions {
  bool ascii = false;
  bool fast = false;
  unsigned dict = 4096;
  std::string in, out;
};

void RunImplode(const ImplodeOptions& o) {
  const auto data = ReadFile(o.in);
  WriteFile(o.out, dcl::Implode(data, o.ascii ? CMP_ASCII : CMP_BINARY, o.dict,
                                o.fast ? dcl::Level::Fast : dcl::Level::Best));
}

void RunExplode(const std::string& in, const std::string& out) {
  const auto stream = ReadFile(in);
  const auto result = dcl::Explode(stream);
  if (result.code != CMP_NO_ERROR)
    throw ToolError(in + ": not a sound imploded stream: " + dcl::ResultText(result.code));
  WriteFile(out, result.data);
}

}  // namespace

void AddCodecCommands(CLI::App& app) {
  auto implode = std::make_shared<ImplodeOptions>();
  CLI::App* imp = app.add_subcommand("implode", "Compress a file into one imploded stream");
  imp->add_flag("--ascii", implode->ascii, "Coded literals (smaller for text); default binary");
  imp->add_option("--dict", implode->dict, "Dictionary size in bytes")
      ->check(CLI::IsMember({1024u, 2048u, 4096u}))
      ->capture_default_str();
  imp->add_flag("--fast", implode->fast,
                "The quick encoder (a few percent larger); default: the smallest stream");
  imp->add_option("IN", implode->in, "File to compress")->required();
  imp->add_option("OUT", implode->out, "Imploded stream to write")->required();
  imp->callback([implode] { RunImplode(*implode); });

  auto paths = std::make_shared<std::pair<std::string, std::string>>();
  CLI::App* exp = app.add_subcommand("explode", "Expand one imploded stream into a file");
  exp->add_option("IN", paths->first, "Imploded stream")->required();
  exp->add_option("OUT", paths->second, "File to write")->required();
  exp->callback([paths] { RunExplode(paths->first, paths->second); });
}

}  // namespace saverpack
