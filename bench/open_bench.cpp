// How an installer is read (figures, not a test): for each file, every view of it from one model
// (verify, list --json, the studio's report and every file it lists), the streams exploded for
// them, and what the page reads of the file to report on it. Median of 5.
//   open_bench FILE...
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "file_io.h"
#include "report.h"
#include "studio_view.h"

namespace {

struct Reading {
  double seconds = 0;
  size_t expansions = 0;
  size_t fetched = 0;  // bytes of the file the report read
};

size_t ImplodedStreams(const saverpack::OpenedInstaller& opened) {
  size_t streams = 0;
  for (int slot = 1; slot < kMemberCount; ++slot)
    streams += opened.Member(slot).used && opened.Member(slot).record.Compressed && !opened.Member(slot).sameBytesAs;
  const saverpack::DataFileInfo& data = opened.DataFile();
  std::vector<int32_t> chunks;
  for (size_t i = 0; i < data.chunks.size(); ++i)
    if (data.chunks[i].fault == TChunkFault::None && data.chunks[i].chunk.Header.Compressed)
      chunks.push_back(data.table.Entries[i].ChunkOffset);
  std::sort(chunks.begin(), chunks.end());
  return streams + static_cast<size_t>(std::unique(chunks.begin(), chunks.end()) - chunks.begin());
}

// Every view the command line and the page have, of one model.
Reading AllViews(const std::vector<uint8_t>& file) {
  const auto start = std::chrono::steady_clock::now();
  const saverpack::OpenedInstaller opened(file);
  if (opened.Header()) {
    (void)saverpack::VerifyReportOf(opened);
    (void)saverpack::ListJson(opened);
    (void)saverpack::StudioReportJson(opened);
    for (int slot = 1; slot < kMemberCount; ++slot) (void)saverpack::StudioSlotFile(opened, slot);
    for (size_t i = 1; i <= opened.DataFile().table.Entries.size(); ++i)
      (void)saverpack::StudioEntryFile(opened, static_cast<int>(i));
  }
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  return {took.count(), opened.Expansions(), 0};
}

// The page's report: the file read a range at a time as the model needs it.
Reading PageReport(const std::vector<uint8_t>& file) {
  std::vector<uint8_t> buffer(file.size());
  size_t fetched = 0;
  const auto start = std::chrono::steady_clock::now();
  const saverpack::OpenedInstaller opened(buffer, [&](size_t offset, size_t count) {
    std::memcpy(buffer.data() + offset, file.data() + offset, count);
    fetched += count;
    return true;
  });
  (void)saverpack::StudioReportJson(opened);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  return {took.count(), opened.Expansions(), fetched};
}

template <typename Run>
Reading Median(Run run, const std::vector<uint8_t>& file) {
  std::vector<Reading> runs;
  for (int i = 0; i < 5; ++i) runs.push_back(run(file));
  std::sort(runs.begin(), runs.end(), [](const Reading& a, const Reading& b) { return a.seconds < b.seconds; });
  return runs[2];
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const auto file = saverpack::ReadFile(argv[i]);
    const Reading all = Median(AllViews, file), page = Median(PageReport, file);
    const saverpack::OpenedInstaller opened(file);
    std::printf("%s (%zu bytes, %zu imploded streams): verify, list --json, the studio's report and every file "
                "from one reading %.3f s, %zu streams exploded; the page's report %.3f s, %zu exploded, "
                "%zu bytes of the file read\n",
                argv[i], file.size(), opened.Header() ? ImplodedStreams(opened) : 0, all.seconds, all.expansions,
                page.seconds, page.expansions, page.fetched);
  }
}
