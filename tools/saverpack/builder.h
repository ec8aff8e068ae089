// The installer a project describes, made in memory: what `saverpack build` writes and what the
// studio's module gives the page, from the same code.
#pragma once
#include <cstdint>
#include <functional>
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
// core, the module one after the other. A job's exception is rethrown once all have run.
using JobRunner = std::function<void(std::vector<std::function<void()>>& jobs)>;

// Runs the jobs in order, calling progress(done, total) after each.
void RunInOrder(std::vector<std::function<void()>>& jobs,
                const std::function<void(size_t, size_t)>& progress = {});

struct BuildChoices {
  dcl::Level level = dcl::Level::Best;
  bool storePlain = false;  // nothing imploded: a quick build whose window and files are the same
};

// The installer file: stub, header and members. Throws ToolError naming the file that cannot be
// read or decoded, PayloadLayoutError when the layout does not fit the format.
std::vector<uint8_t> BuildProjectImage(const Project& project, const std::vector<uint8_t>& stub,
                                       const BuildChoices& choices, const JobRunner& run);

// What a sound project may still get wrong, each a sentence that follows the project file's name
// ("has no Flash runtime installer ...").
std::vector<std::string> ProjectWarnings(const Project& project);

}  // namespace saverpack
