// saverpack build: a project file in, an installer file out.
#include <unistd.h>

#include <atomic>
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
#include "payload_writer.h"
#include "picture.h"
#include "project.h"

namespace saverpack {
namespace {

struct Packed {
  std::vector<uint8_t> stored;
  bool compressed = false;
  int32_t fileSize = 0;
  int32_t packedSize = 0;
};

// Auto implodes and keeps the smaller; PackedSize records the imploded size whenever it was
// computed, as the installer's format has it. The stream is the smallest of both literal
// codings and every dictionary size: the installer's library reads both from the stream.
Packed Pack(std::vector<uint8_t> plain, Compression compression, const std::string& what,
            dcl::Level level) {
  if (plain.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
    throw ToolError(what + ": " + std::to_string(plain.size()) +
                    " bytes do not fit the format's signed 32-bit sizes");
  Packed packed;
  packed.fileSize = static_cast<int32_t>(plain.size());
  if (compression == Compression::Never) {
    packed.packedSize = packed.fileSize;
    packed.stored = std::move(plain);
    return packed;
  }
  auto imploded = dcl::ImplodeSmallest(plain, level).bytes;
  packed.packedSize = static_cast<int32_t>(std::min<size_t>(imploded.size(), INT32_MAX));
  packed.compressed = compression == Compression::Always || imploded.size() < plain.size();
  packed.stored = packed.compressed ? std::move(imploded) : std::move(plain);
  return packed;
}

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

std::vector<uint8_t> BuildData(const Project& project, std::vector<Packed>& packedEntries) {
  std::vector<TDataEntryInput> inputs;
  for (size_t i = 0; i < project.data.entries.size(); ++i) {
    const DataEntrySpec& plan = project.data.entries[i];
    TDataEntryInput input;
    input.Name = plan.name;
    input.EntryKind = plan.kind;
    input.ChunkKind = plan.chunkKind;
    input.Stored = std::move(packedEntries[i].stored);
    input.Compressed = packedEntries[i].compressed;
    input.FileSize = packedEntries[i].fileSize;
    inputs.push_back(std::move(input));
  }
  const auto settings = project.data.settings ? ReadFile(*project.data.settings) : std::vector<uint8_t>{};
  return BuildDataFile(settings, project.data.movieSource, inputs);
}

struct BuildOptions {
  std::string project;
  std::string output;
  std::string stub;
  bool quiet = false;
  bool fast = false;
};

void RunBuild(const BuildOptions& o) {
  const std::filesystem::path projectFile(o.project);
  const std::filesystem::path tools = ToolFolder();
  const Project project = LoadProject(projectFile, tools / "impborl.dll");
  const std::filesystem::path stubPath = o.stub.empty() ? tools / "install.exe" : std::filesystem::path(o.stub);
  const std::filesystem::path output =
      o.output.empty() ? projectFile.parent_path() / (projectFile.stem().string() + ".exe")
                       : std::filesystem::path(o.output);
  const auto stub = ReadFile(stubPath);
  const dcl::Level level = o.fast || project.fast ? dcl::Level::Fast : dcl::Level::Best;

  // Every file is read and packed independently; the data file waits for its entries.
  std::array<Packed, kMemberCount> members;
  std::vector<Packed> entries(project.data.entries.size());
  std::vector<std::function<void()>> jobs;
  for (int slot = 1; slot < kMemberCount; ++slot) {
    const SlotSpec& plan = project.slots[slot];
    if (!plan.present || plan.sameBytesAs || (slot == msDataFile && project.data.present)) continue;
    jobs.push_back([&, slot] {
      members[slot] = Pack(plan.asPicture ? PictureAsBitmap(plan.source) : ReadFile(plan.source),
                           plan.compression, plan.source.string(), level);
    });
  }
  for (size_t i = 0; i < entries.size(); ++i) {
    const DataEntrySpec& plan = project.data.entries[i];
    if (!plan.source) continue;  // a copy made on the user's machine: an empty chunk
    jobs.push_back([&, i] {
      entries[i] = Pack(ReadFile(*plan.source), plan.compression, plan.source->string(), level);
    });
  }
  RunAll(jobs, o.quiet);
  if (project.data.present)
    members[msDataFile] = Pack(BuildData(project, entries), project.slots[msDataFile].compression,
                               project.file.string() + " [data]", level);

  TPayloadOptions options;
  options.ContentMode = project.contentMode;
  options.HasLicense = project.hasLicense;
  options.ShowDocument = project.showDocument;
  options.OpenDisplayProperties = project.openDisplayProperties;
  options.SaverName = project.saverName;
  TMemberInputs inputs;
  for (int slot = 1; slot < kMemberCount; ++slot) {
    const SlotSpec& plan = project.slots[slot];
    if (!plan.present) continue;
    Packed& packed = members[slot];
    inputs[slot] = TMemberInput{plan.payloadName, std::move(packed.stored), plan.destination,
                                packed.compressed, packed.fileSize, packed.packedSize,
                                plan.sameBytesAs};
  }
  try {
    WriteFile(output, BuildInstallerImage(stub, options, inputs));
  } catch (const PayloadLayoutError& e) {
    throw ToolError(project.file.string() + ": " + e.what() + " (stub " + stubPath.string() + ")");
  }
  if (!o.quiet) std::cerr << "saverpack: wrote " << output.string() << "\n";
}

}  // namespace

void AddBuildCommand(CLI::App& app) {
  auto o = std::make_shared<BuildOptions>();
  CLI::App* build = app.add_subcommand("build", "Build an installer from a project file");
  build->add_option("PROJECT", o->project, "The project file (TOML)")->required();
  build->add_option("-o,--output", o->output, "Installer to write (default: PROJECT's name + .exe)");
  build->add_option("--stub", o->stub, "The installer program (default: install.exe beside saverpack)");
  build->add_flag("-q,--quiet", o->quiet, "No progress and no closing line");
  build->add_flag("--fast", o->fast,
                  "Implode quickly (a few percent larger) instead of the smallest streams; "
                  "the project's level = \"fast\" does the same");
  build->callback([o] { RunBuild(*o); });
}

}  // namespace saverpack
