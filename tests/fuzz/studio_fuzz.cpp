// Any bytes as an installer opened in the studio: the page's whole document (listing, verdict,
// window, files) and extract --project's writer. A name from the file is never a path: every file
// of the project lies inside its folder.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string_view>

#include "payload_checks.h"
#include "project_writer.h"
#include "studio_view.h"

namespace {

bool StaysInside(std::string_view path) {
  if (path.empty() || path.front() == '/' || path.find('\\') != std::string_view::npos ||
      path.find(':') != std::string_view::npos)
    return false;
  for (size_t start = 0; start <= path.size();) {
    const size_t end = std::min(path.find('/', start), path.size());
    const std::string_view part = path.substr(start, end - start);
    if (part.empty() || part == "." || part == "..") return false;
    start = end + 1;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The fuzzer's input is the payload; the program part in front of it is all zeros.
  static std::vector<uint8_t> file;
  file.assign(kPayloadOffset, 0);
  file.insert(file.end(), data, data + size);
  (void)saverpack::StudioReportJson(file);
  const saverpack::ExtractedProject project = saverpack::ProjectOfInstaller(file, "fuzzed.exe");
  for (const saverpack::ProjectFile& written : project.files)
    if (!StaysInside(written.path)) std::abort();
  return 0;
}
