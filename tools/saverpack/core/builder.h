// The installer a project describes, made in memory: what `saverpack build` writes and what the
// studio's module gives the page, from the same code.
#pragma once
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "data_file_writer.h"
#include "dcl.h"
#include "payload_writer.h"
#include "project.h"

namespace saverpack {

// One file as the payload stores it.
struct Packed {
  std::vector<uint8_t> stored;
  bool compressed = false;
  int32_t fileSize = 0;
  int32_t packedSize = 0;
};

// Auto implodes and keeps the smaller; PackedSize records the imploded size whenever it was
// computed, as the installer's format has it. The stream is the smallest of both literal
// codings and every dictionary size: the installer's library reads both from the stream.
Packed Pack(std::vector<uint8_t> plain, Compression compression, const std::string& what, dcl::Level level);

// The writers' inputs from what was packed; both leave the packed bytes moved out.
TDataEntryInput EntryInput(std::string name, uint8_t kind, uint8_t chunkKind, Packed& packed);
TMemberInput MemberInput(std::string name, int32_t destination, int sameBytesAs, Packed& packed);

// Runs independent jobs (reading and packing one file each); the command line runs them on every
// core, the module's plain preview one after the other (its imploding build goes through
// StagedBuild and the page's workers). A job's exception is rethrown once all have run.
using JobRunner = std::function<void(std::vector<std::function<void()>>& jobs)>;

// Runs the jobs in order, calling progress(done, total) after each.
void RunInOrder(std::vector<std::function<void()>>& jobs,
                const std::function<void(size_t, size_t)>& progress = {});

struct BuildChoices {
  dcl::Level level = dcl::Level::Best;
  bool storePlain = false;  // nothing imploded: a quick build whose window and files are the same
};

// One stream of the installer to pack: a member's file, a data-file entry's file, or the data
// file itself (no source: it is made of its packed entries).
struct StreamPlan {
  int slot = 0;                        // the member it becomes, or holds it (msDataFile)
  std::optional<size_t> entry;         // the data file's entry it becomes
  std::filesystem::path source;        // the file read; empty for the data file
  bool asPicture = false;              // decoded and made the window's bitmap
  Compression compression = Compression::Auto;
  std::string what;                    // for messages: the file, or "<project> [data]"
  bool IsDataFile() const { return source.empty(); }
};

// A build in steps, for a caller that packs the streams where it likes (the command line on
// every core, the studio's page in a pool of workers): the streams, each packed and put back in
// any order, then the installer. The bytes do not depend on the order. The data file, the last
// stream, is made of its entries' packed bytes: its plain bytes can be asked for only once every
// entry is in, and only once. The project must outlive the build.
class StagedBuild {
 public:
  StagedBuild(const Project& project, const BuildChoices& choices);

  const std::vector<StreamPlan>& Streams() const { return streams_; }
  const BuildChoices& Choices() const { return choices_; }
  std::optional<size_t> DataFileStream() const;
  bool EntriesIn() const;  // every entry stream is put back

  // A stream's plain bytes: the file, the picture as the window's bitmap, or the data file.
  // Throws ToolError naming the file.
  std::vector<uint8_t> PlainBytes(size_t stream);
  Packed PackStream(size_t stream);  // PlainBytes packed as the stream says
  void Put(size_t stream, Packed packed);  // safe from several threads for different streams

  // The installer file, every stream put back. Throws ToolError, or PayloadLayoutError when the
  // layout does not fit the format.
  std::vector<uint8_t> Installer(const std::vector<uint8_t>& stub);

 private:
  const Project& project_;
  BuildChoices choices_;
  std::vector<StreamPlan> streams_;
  std::vector<Packed> packed_;
  std::vector<uint8_t> in_;  // per stream: put back (not vector<bool>: threads write neighbours)
  bool dataMade_ = false;    // the data file's plain bytes were made
};

// The installer file: stub, header and members. Throws ToolError naming the file that cannot be
// read or decoded, PayloadLayoutError when the layout does not fit the format.
std::vector<uint8_t> BuildProjectImage(const Project& project, const std::vector<uint8_t>& stub,
                                       const BuildChoices& choices, const JobRunner& run);

// What a sound project may still get wrong, each a sentence that follows the project file's name
// ("has no Flash runtime installer ...").
std::vector<std::string> ProjectWarnings(const Project& project);

}  // namespace saverpack
