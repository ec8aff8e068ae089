// saverpack build: a project file in, an installer file out.
#ifndef _WIN32
#include <sys/wait.h>
#endif
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <limits>
#include <memory>
#include <mutex>
#include <thread>

#include "commands.h"
#include "data_file_writer.h"
#include "dcl.h"
#include "file_io.h"
#include "inspect.h"
#include "payload_checks.h"
#include "payload_writer.h"
#include "picture.h"
#include "signature.h"
#include "project.h"
#include "builder.h"

namespace saverpack {
namespace {

// Runs the jobs on every core, showing progress on a terminal.
void RunAll(std::vector<std::function<void()>>& jobs, bool quiet) {
  const bool show = !quiet && isatty(STDERR_FILENO) && jobs.size() > 1;
  std::atomic<size_t> next{0}, done{0};
  std::mutex failureLock;
  std::exception_ptr failure;
  auto worker = [&] {
    for (size_t i; (i = next++) < jobs.size();) {
      try {
        jobs[i]();
      } catch (...) {
        std::lock_guard lock(failureLock);
        if (!failure) failure = std::current_exception();
      }
      const size_t finished = ++done;
      if (show) {
        std::lock_guard lock(failureLock);
        std::cerr << "\rsaverpack: packing " << finished << "/" << jobs.size() << std::flush;
      }
    }
  };
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  std::vector<std::thread> threads;
  for (unsigned i = 1; i < std::min<size_t>(cores, jobs.size()); ++i) threads.emplace_back(worker);
  worker();
  for (auto& t : threads) t.join();
  if (show) std::cerr << "\n";
  if (failure) std::rethrow_exception(failure);
}

std::string Quote(const std::string& path) {
#ifdef _WIN32
  return "\"" + path + "\"";
#else
  std::string quoted = "'";
  for (char c : path) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
#endif
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
}

// A signing tool may change the PE checksum and security entry and append its certificate table
// behind the payload; every other byte must be the unsigned installer's.
void CheckSigned(const std::vector<uint8_t>& before, const std::vector<uint8_t>& after,
                 const std::string& what) {
  if (after.size() <= before.size())
    throw ToolError(what + ": the sign command left no signature behind the payload");
  const SigningFields fields = SigningFieldsOf(before);
  for (size_t i = 0; i < before.size(); ++i) {
    const auto at = static_cast<int64_t>(i);
    const bool mayChange = (at >= fields.checksum && at < fields.checksum + 4) ||
                           (at >= fields.securityEntry && at < fields.securityEntry + 8);
    if (!mayChange && before[i] != after[i])
      throw ToolError(what + ": the sign command changed byte " + std::to_string(i) +
                      (at >= kPayloadOffset ? " of the payload" : " of the installer program"));
  }
  const SignatureInfo signature = ReadSignature(after, static_cast<int64_t>(before.size()));
  if (!signature.signed_) throw ToolError(what + ": the signed file's PE header names no signature");
  if (!signature.problem.empty()) throw ToolError(what + ": " + signature.problem);
}

// Runs the author's sign command on the finished installer and puts the signed file at output.
// {in} and {out}: the unsigned file and the signed file the command writes; {file}: one file
// signed in place. Nothing is left at output, nor beside it, when anything fails.
void SignInto(const std::filesystem::path& output, const std::vector<uint8_t>& image,
              const std::string& command) {
  const bool inPlace = command.find("{file}") != std::string::npos;
  if (!inPlace && (command.find("{in}") == std::string::npos || command.find("{out}") == std::string::npos))
    throw ToolError("the sign command names neither {in} and {out} nor {file}: " + command);
  const std::filesystem::path unsignedFile = output.string() + ".unsigned";
  const std::filesystem::path signedFile =
      inPlace ? unsignedFile : std::filesystem::path(output.string() + ".signed");
  struct Tidy {
    std::filesystem::path a, b;
    ~Tidy() {
      std::error_code ignored;
      std::filesystem::remove(a, ignored);
      std::filesystem::remove(b, ignored);
    }
  } tidy{unsignedFile, signedFile};
  WriteFile(unsignedFile, image);
  std::string line = command;
  ReplaceAll(line, "{in}", Quote(unsignedFile.string()));
  ReplaceAll(line, "{out}", Quote(signedFile.string()));
  ReplaceAll(line, "{file}", Quote(unsignedFile.string()));
  std::cout.flush();
  int status = std::system(line.c_str());
#ifndef _WIN32
  if (status != -1 && WIFEXITED(status)) status = WEXITSTATUS(status);
#endif
  if (status != 0)
    throw ToolError(output.string() + ": the sign command failed (exit status " +
                    std::to_string(status) + "): " + command);
  std::error_code error;
  if (!std::filesystem::is_regular_file(signedFile, error) || std::filesystem::file_size(signedFile, error) == 0)
    throw ToolError(output.string() + ": the sign command wrote nothing at " + signedFile.string());
  CheckSigned(image, ReadFile(signedFile), output.string());
  std::filesystem::rename(signedFile, output, error);
  if (error) throw ToolError(output.string() + ": cannot be written: " + error.message());
}

struct BuildOptions {
  std::string project;
  std::string output;
  std::string stub;
  std::string launcher;
  std::string codec;
  bool quiet = false;
  bool fast = false;
  std::string sign;
};

void RunBuild(const BuildOptions& o) {
  const std::filesystem::path projectFile(o.project);
  const std::filesystem::path tools = ToolFolder();
  const Project project = LoadProject(projectFile, o.codec.empty() ? tools / "impborl.dll" : std::filesystem::path(o.codec),
                                      o.launcher.empty() ? tools / "launcher.exe" : std::filesystem::path(o.launcher));
  for (const std::string& warning : ProjectWarnings(project))
    std::cerr << "saverpack: warning: " << projectFile.string() << " " << warning << "\n";
  const std::filesystem::path stubPath = o.stub.empty() ? tools / "install.exe" : std::filesystem::path(o.stub);
  const std::filesystem::path output =
      o.output.empty() ? projectFile.parent_path() / (projectFile.stem().string() + ".exe")
                       : std::filesystem::path(o.output);
  const auto stub = ReadFile(stubPath);
  const dcl::Level level = o.fast || project.fast ? dcl::Level::Fast : dcl::Level::Best;

  BuildChoices choices;
  choices.level = level;
  try {
    const auto image = BuildProjectImage(project, stub, choices,
                                         [&](std::vector<std::function<void()>>& jobs) { RunAll(jobs, o.quiet); });
    const std::string sign = o.sign.empty() ? project.sign : o.sign;
    if (sign.empty()) WriteFile(output, image); else SignInto(output, image, sign);
  } catch (const PayloadLayoutError& e) {
    throw ToolError(project.file.string() + ": " + e.what() + " (stub " + stubPath.string() + ")");
  }
  if (!o.quiet) std::cerr << "saverpack: wrote " << output.string() << "\n";
}

struct RepackOptions {
  std::string input, output, stub, codec;
  bool quiet = false;
  bool fast = false;
};

// The data file again, its settings header kept, each entry's chunk packed anew. The chunks are
// expanded here, one after the other (the model is for one thread), and packed on every core.
std::vector<uint8_t> RepackData(const OpenedInstaller& opened, dcl::Level level, bool quiet) {
  const DataFileInfo& data = opened.DataFile();
  std::vector<Packed> packed(data.table.Entries.size());
  std::vector<std::function<void()>> jobs;
  for (size_t i = 0; i < packed.size(); ++i) {
    const TChunk& chunk = data.chunks[i].chunk;
    if (chunk.Header.FileSize == 0 && !chunk.Header.Compressed) continue;  // a copy, or no file
    const std::span<const uint8_t> file = opened.EntryFile(i).bytes;
    jobs.push_back([&, i, file] {
      packed[i] = Pack({file.begin(), file.end()}, Compression::Auto,
                       "data file entry " + std::to_string(i + 1), level);
    });
  }
  RunAll(jobs, quiet);
  std::vector<TDataEntryInput> inputs;
  for (size_t i = 0; i < packed.size(); ++i) {
    const TDataFileEntry& entry = data.table.Entries[i];
    inputs.push_back(EntryInput(EntryNameOf(entry), entry.EntryKind,
                                data.chunks[i].chunk.Header.ChunkKind, packed[i]));
  }
  const std::vector<uint8_t> settings(data.bytes.begin(), data.bytes.begin() + kDataFileHeaderSize);
  return BuildDataFile(settings, data.table.Header.MovieSource, inputs);
}

// Any sound installer of this format, with our program and codec and every member and entry
// imploded anew; names, destinations, options and expanded bytes stay as they were.
void RunRepack(const RepackOptions& o) {
  const auto old = ReadFile(o.input);
  const OpenedInstaller opened(old);
  const auto problems = VerifyInstaller(opened);
  if (!problems.empty()) {
    for (const auto& problem : problems) std::cerr << o.input << ": " << problem << "\n";
    throw ToolError(o.input + ": not repacked: verify finds it unsound");
  }
  const TPayloadHeader& header = *opened.Header();
  const std::filesystem::path tools = ToolFolder();
  const auto stub = ReadFile(o.stub.empty() ? tools / "install.exe" : std::filesystem::path(o.stub));
  const std::filesystem::path codecPath = o.codec.empty() ? tools / "impborl.dll" : std::filesystem::path(o.codec);
  const dcl::Level level = o.fast ? dcl::Level::Fast : dcl::Level::Best;

  // Shared bytes stay shared, but not the codec's: ours takes their place.
  std::array<int, kMemberCount> owner{};
  for (int slot = 1; slot < kMemberCount; ++slot)
    if (const int of = opened.Member(slot).sameBytesAs; of != msCompressionLib) owner[slot] = of;

  std::array<Packed, kMemberCount> members;
  std::vector<std::function<void()>> jobs;
  for (int slot = 1; slot < kMemberCount; ++slot) {
    const TPayloadMember& m = header.Members[slot];
    if (IsEmptySlot(m) || owner[slot] || slot == msDataFile) continue;
    if (slot == msCompressionLib) {  // the installer needs it plain to expand the rest
      jobs.push_back([&] {
        members[msCompressionLib] = Pack(ReadFile(codecPath), Compression::Never, codecPath.string(), level);
      });
      continue;
    }
    const std::span<const uint8_t> file = opened.File(slot).bytes;  // expanded here: one thread
    jobs.push_back([&, slot, file] {
      members[slot] = Pack({file.begin(), file.end()}, Compression::Auto,
                           o.input + " slot " + std::to_string(slot), level);
    });
  }
  RunAll(jobs, o.quiet);
  if (!IsEmptySlot(header.Members[msDataFile]))
    members[msDataFile] = Pack(RepackData(opened, level, o.quiet), Compression::Auto,
                               o.input + " data file", level);

  TPayloadOptions options;
  options.ContentMode = header.ContentMode;
  options.HasLicense = header.HasLicense;
  options.ShowDocument = header.ShowDocument;
  options.OpenDisplayProperties = header.OpenDisplayProperties;
  options.SaverName = SaverNameOf(header);
  TMemberInputs inputs;
  for (int slot = 1; slot < kMemberCount; ++slot) {
    const TPayloadMember& m = header.Members[slot];
    if (IsEmptySlot(m)) continue;
    inputs[slot] = MemberInput(MemberFileName(m), m.Destination, owner[slot], members[slot]);
  }
  std::vector<uint8_t> image;
  try {
    image = BuildInstallerImage(stub, options, inputs);
  } catch (const PayloadLayoutError& e) {
    throw ToolError(o.input + ": " + e.what());
  }
  WriteFile(o.output, image);
  if (!o.quiet) {
    const auto payload = [](size_t size) { return static_cast<long long>(size) - kPayloadOffset; };
    std::cerr << "saverpack: " << o.input << " " << old.size() << " bytes (payload "
              << payload(old.size()) << ") -> " << o.output << " " << image.size()
              << " bytes (payload " << payload(image.size()) << ")\n";
  }
}

}  // namespace

void AddRepackCommand(CLI::App& app) {
  auto o = std::make_shared<RepackOptions>();
  CLI::App* repack = app.add_subcommand(
      "repack", "Rebuild any installer of this format with this saverpack's program, codec and "
                "smallest streams; names, options and expanded files stay exactly as they were");
  repack->add_option("OLD", o->input, "The installer to read")->required();
  repack->add_option("-o,--output", o->output, "The installer to write")->required();
  repack->add_option("--stub", o->stub, "The installer program (default: install.exe beside saverpack)");
  repack->add_option("--codec", o->codec, "The codec library (default: impborl.dll beside saverpack)");
  repack->add_flag("--fast", o->fast, "Implode quickly (a few percent larger)");
  repack->add_flag("-q,--quiet", o->quiet, "No progress and no sizes");
  repack->callback([o] { RunRepack(*o); });
}

void AddBuildCommand(CLI::App& app) {
  auto o = std::make_shared<BuildOptions>();
  CLI::App* build = app.add_subcommand("build", "Build an installer from a project file");
  build->add_option("PROJECT", o->project, "The project file (TOML)")->required();
  build->add_option("-o,--output", o->output, "Installer to write (default: PROJECT's name + .exe)");
  build->add_option("--stub", o->stub, "The installer program (default: install.exe beside saverpack)");
  build->add_option("--launcher", o->launcher,
                    "The screen-saver launcher that uninstall = \"launcher\" (what a project without the key gets) "
                    "installs as <name>.scr "
                    "(default: launcher.exe beside saverpack)");
  build->add_option("--codec", o->codec,
                    "The codec library of a project without files.codec.path, stored plain "
                    "(default: impborl.dll beside saverpack)");
  build->add_flag("-q,--quiet", o->quiet, "No progress and no closing line");
  build->add_option("--sign", o->sign,
                    "Sign the finished installer with this command (the project's sign = \"...\" "
                    "too): {in} and {out} stand for the unsigned file and the signed file it "
                    "writes (osslsigncode), {file} for one file signed in place (signtool); "
                    "the payload is checked untouched and the signature behind it");
  build->add_flag("--fast", o->fast,
                  "Implode quickly (a few percent larger) instead of the smallest streams; "
                  "the project's level = \"fast\" does the same");
  build->callback([o] { RunBuild(*o); });
}

}  // namespace saverpack
