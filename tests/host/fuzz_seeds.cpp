// Writes seed inputs for the fuzz targets with the project's own writers:
//   fuzz_seeds fuzz_verify DIR      payloads (the part behind the program) of a few shapes
//   fuzz_seeds fuzz_data_file DIR   data files
#include <fstream>
#include <string>
#include <vector>

#include "data_file_writer.h"
#include "dcl.h"
#include "payload_writer.h"

namespace {

void Write(const std::string& path, const std::vector<uint8_t>& bytes, size_t from = 0) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data() + from), static_cast<std::streamsize>(bytes.size() - from));
}

std::vector<uint8_t> DataFile(bool imploded) {
  TDataEntryInput copy;
  copy.Name = "screensaver.swf";
  TDataEntryInput file;
  file.Name = "dir\\fish.txt";
  const std::vector<uint8_t> text(300, 'f');
  file.Stored = imploded ? dcl::Implode(text) : text;
  file.Compressed = imploded;
  file.FileSize = 300;
  return BuildDataFile({}, 3, {copy, file});
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const std::string target = argv[1], dir = argv[2];
  if (target == "fuzz_data_file") {
    Write(dir + "/plain.ssd", DataFile(false));
    Write(dir + "/imploded.ssd", DataFile(true));
    return 0;
  }
  for (int shape = 0; shape < 3; ++shape) {
    TPayloadOptions options;
    options.ContentMode = static_cast<uint8_t>(shape + 1);
    options.HasLicense = 1;
    options.SaverName = "Aquarium";
    TMemberInputs members;
    const std::vector<uint8_t> text(500, 'a');
    const auto packed = dcl::Implode(text);
    for (int slot = 1; slot < kMemberCount; ++slot)
      members[slot] = TMemberInput{"m" + std::to_string(slot) + ".dat",
                                   slot % 2 ? packed : text, slot == 6 ? 2 : 5, slot % 2 == 1, 500, 0};
    members[msDataFile] = TMemberInput{"a.ssd", DataFile(shape == 2), 4, false,
                                       static_cast<int32_t>(DataFile(shape == 2).size()), 0};
    Write(dir + "/payload" + std::to_string(shape), BuildInstallerImage({}, options, members), kPayloadOffset);
  }
  return 0;
}
