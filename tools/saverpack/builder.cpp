#include "builder.h"

#include <array>
#include <exception>
#include <limits>

#include "file_io.h"
#include "picture.h"

namespace saverpack {
namespace {

std::vector<uint8_t> BuildData(const Project& project, std::vector<Packed>& packedEntries) {
  std::vector<TDataEntryInput> inputs;
  for (size_t i = 0; i < project.data.entries.size(); ++i) {
    const DataEntrySpec& plan = project.data.entries[i];
    inputs.push_back(EntryInput(plan.name, plan.kind, plan.chunkKind, packedEntries[i]));
  }
  const auto settings = project.data.settings ? ReadFile(*project.data.settings) : std::vector<uint8_t>{};
  return BuildDataFile(settings, project.data.movieSource, inputs);
}

}  // namespace

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

TDataEntryInput EntryInput(std::string name, uint8_t kind, uint8_t chunkKind, Packed& packed) {
  return {std::move(name), kind, chunkKind, std::move(packed.stored), packed.compressed, packed.fileSize};
}

TMemberInput MemberInput(std::string name, int32_t destination, int sameBytesAs, Packed& packed) {
  return {std::move(name), std::move(packed.stored), destination, packed.compressed,
          packed.fileSize, packed.packedSize, sameBytesAs};
}


void RunInOrder(std::vector<std::function<void()>>& jobs, const std::function<void(size_t, size_t)>& progress) {
  std::exception_ptr failure;
  for (size_t i = 0; i < jobs.size(); ++i) {
    try {
      jobs[i]();
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
    if (progress) progress(i + 1, jobs.size());
  }
  if (failure) std::rethrow_exception(failure);
}

std::vector<uint8_t> BuildProjectImage(const Project& project, const std::vector<uint8_t>& stub,
                                       const BuildChoices& choices, const JobRunner& run) {
  const dcl::Level level = choices.level;
  auto how = [&](Compression compression) { return choices.storePlain ? Compression::Never : compression; };
  // Every file is read and packed independently; the data file waits for its entries.
  std::array<Packed, kMemberCount> members;
  std::vector<Packed> entries(project.data.entries.size());
  std::vector<std::function<void()>> jobs;
  for (int slot = 1; slot < kMemberCount; ++slot) {
    const SlotSpec& plan = project.slots[slot];
    if (!plan.present || plan.sameBytesAs || (slot == msDataFile && project.data.present)) continue;
    jobs.push_back([&, slot] {
      members[slot] = Pack(plan.asPicture ? PictureAsBitmap(plan.source) : ReadFile(plan.source),
                           how(plan.compression), plan.source.string(), level);
    });
  }
  for (size_t i = 0; i < entries.size(); ++i) {
    const DataEntrySpec& plan = project.data.entries[i];
    if (!plan.source) continue;  // a copy made on the user's machine: an empty chunk
    jobs.push_back([&, i] {
      entries[i] = Pack(ReadFile(*plan.source), how(plan.compression), plan.source->string(), level);
    });
  }
  run(jobs);
  if (project.data.present)
    members[msDataFile] = Pack(BuildData(project, entries), how(project.slots[msDataFile].compression),
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
    inputs[slot] = MemberInput(plan.payloadName, plan.destination, plan.sameBytesAs, members[slot]);
  }
  return BuildInstallerImage(stub, options, inputs);
}

std::vector<std::string> ProjectWarnings(const Project& project) {
  std::vector<std::string> warnings;
  if (!project.slots[msFlashInstaller].present)
    warnings.push_back("has no Flash runtime installer ([files.flash_installer]): on a machine without Flash "
                       "Player 5.0.42 or later the installer ends at start-up with error -402");
  std::error_code error;
  if (!project.program.empty() && std::filesystem::is_regular_file(project.program, error) &&
      !IsWindowsProgram(ReadFile(project.program)))
    warnings.push_back("has a program that is not a Windows program (" + project.program.string() +
                       " has no MZ and PE header): Windows will not run it as a screen saver");
  return warnings;
}

}  // namespace saverpack
