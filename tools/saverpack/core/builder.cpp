#include "builder.h"

#include <algorithm>
#include <array>
#include <exception>
#include <limits>
#include <stdexcept>

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

StagedBuild::StagedBuild(const Project& project, const BuildChoices& choices)
    : project_(project), choices_(choices) {
  auto how = [&](Compression compression) { return choices.storePlain ? Compression::Never : compression; };
  const bool data = project.data.present;
  for (int slot = 1; slot < kMemberCount; ++slot) {
    const SlotSpec& plan = project.slots[slot];
    if (!plan.present || plan.sameBytesAs || (slot == msDataFile && data)) continue;
    streams_.push_back({slot, std::nullopt, plan.source, plan.asPicture, how(plan.compression), plan.source.string()});
  }
  for (size_t i = 0; i < project.data.entries.size(); ++i) {
    const DataEntrySpec& plan = project.data.entries[i];
    if (!plan.source) continue;  // a copy made on the user's machine: an empty chunk
    streams_.push_back({msDataFile, i, *plan.source, false, how(plan.compression), plan.source->string()});
  }
  if (data)
    streams_.push_back({msDataFile, std::nullopt, {}, false, how(project.slots[msDataFile].compression),
                        project.file.string() + " [data]"});
  packed_.resize(streams_.size());
  in_.resize(streams_.size());
}

std::optional<size_t> StagedBuild::DataFileStream() const {
  if (streams_.empty() || !streams_.back().IsDataFile()) return std::nullopt;
  return streams_.size() - 1;
}

bool StagedBuild::EntriesIn() const {
  for (size_t i = 0; i < streams_.size(); ++i)
    if (streams_[i].entry && !in_[i]) return false;
  return true;
}

std::vector<uint8_t> StagedBuild::PlainBytes(size_t stream) {
  const StreamPlan& plan = streams_.at(stream);
  if (!plan.IsDataFile()) return plan.asPicture ? PictureAsBitmap(plan.source) : ReadFile(plan.source);
  if (!EntriesIn() || dataMade_) throw std::logic_error("the data file is asked for before its entries are packed, or again");
  dataMade_ = true;  // the entries' bytes move into it
  std::vector<Packed> entries(project_.data.entries.size());
  for (size_t i = 0; i < streams_.size(); ++i)
    if (streams_[i].entry) entries[*streams_[i].entry] = std::move(packed_[i]);
  return BuildData(project_, entries);
}

Packed StagedBuild::PackStream(size_t stream) {
  const StreamPlan& plan = streams_.at(stream);
  return Pack(PlainBytes(stream), plan.compression, plan.what, choices_.level);
}

void StagedBuild::Put(size_t stream, Packed packed) {
  packed_.at(stream) = std::move(packed);
  in_[stream] = 1;
}

std::vector<uint8_t> StagedBuild::Installer(const std::vector<uint8_t>& stub) {
  if (std::find(in_.begin(), in_.end(), 0) != in_.end())
    throw std::logic_error("the installer is asked for before every stream is packed");
  std::array<Packed, kMemberCount> members;
  for (size_t i = 0; i < streams_.size(); ++i)
    if (!streams_[i].entry) members[streams_[i].slot] = std::move(packed_[i]);
  TPayloadOptions options;
  options.ContentMode = project_.contentMode;
  options.HasLicense = project_.hasLicense;
  options.ShowDocument = project_.showDocument;
  options.OpenDisplayProperties = project_.openDisplayProperties;
  options.SaverName = project_.saverName;
  TMemberInputs inputs;
  for (int slot = 1; slot < kMemberCount; ++slot) {
    const SlotSpec& plan = project_.slots[slot];
    if (!plan.present) continue;
    inputs[slot] = MemberInput(plan.payloadName, plan.destination, plan.sameBytesAs, members[slot]);
  }
  return BuildInstallerImage(stub, options, inputs);
}

// Every file is read and packed independently; the data file waits for its entries.
std::vector<uint8_t> BuildProjectImage(const Project& project, const std::vector<uint8_t>& stub,
                                       const BuildChoices& choices, const JobRunner& run) {
  StagedBuild build(project, choices);
  const std::optional<size_t> data = build.DataFileStream();
  std::vector<std::function<void()>> jobs;
  for (size_t i = 0; i < build.Streams().size(); ++i)
    if (i != data) jobs.push_back([&build, i] { build.Put(i, build.PackStream(i)); });
  run(jobs);
  if (data) build.Put(*data, build.PackStream(*data));
  return build.Installer(stub);
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
