// Any bytes as an installer file: every check the installer makes (header, member records,
// stored bytes, imploded members, the data file's table and chunks) runs on them, as
// saverpack verify does, and must neither crash nor read outside the file.
#include <cstdint>
#include <span>

#include "inspect.h"
#include "payload_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The fuzzer's input is the payload; the program part in front of it is all zeros.
  static std::vector<uint8_t> file;
  file.assign(kPayloadOffset, 0);
  file.insert(file.end(), data, data + size);
  (void)saverpack::VerifyInstaller(file);
  return 0;
}
