#include "studio_view.h"

#include <algorithm>
#include <sstream>

#include "messages.h"
#include "payload_checks.h"
#include "report.h"

namespace saverpack {
namespace {

const char* ContentKind(uint8_t mode) {
  switch (mode) {
    case cmPicture: return "picture";
    case cmFlashMovie: case cmFlashMovieToo: return "flash";
    case cmSilent: return "silent";
    default: return "none";
  }
}

std::string JsonList(const std::vector<std::string>& lines) {
  std::string out = "[";
  for (size_t i = 0; i < lines.size(); ++i) out += (i ? ", " : "") + JsonQuotedUtf8(lines[i]);
  return out + "]";
}

// The licence as the memo shows it: up to its first NUL, every line break one "\n".
std::string MemoText(std::span<const uint8_t> bytes) {
  std::string text(bytes.begin(), bytes.end());
  text = LinesWithCrLf(text.substr(0, text.find('\0')));
  std::string out;
  for (char c : text)
    if (c != '\r') out += c;
  return out;
}

std::string WindowJson(const OpenedInstaller& opened) {
  const TPayloadHeader& h = *opened.Header();
  std::ostringstream out;
  const bool silent = h.ContentMode == cmSilent;
  out << "{\"shown\": " << (silent ? "false" : "true")
      << ", \"caption\": " << JsonQuoted("Install " + SaverNameOf(h))
      << ", \"content\": \"" << ContentKind(h.ContentMode) << "\""
      << ", \"has_license\": " << (h.HasLicense ? "true" : "false");
  if (h.HasLicense && !silent) {
    const ItemFile text = StudioSlotFile(opened, msLicense);
    if (text.Sound()) out << ", \"licence\": " << JsonQuoted(MemoText(text.bytes));
    else out << ", \"licence_problem\": " << JsonQuotedUtf8(text.problem);
  }
  out << "}";
  return out.str();
}

// A file's line of the listing: its size and whether it is a movie, or why it cannot be had.
struct Listing {
  size_t size = 0;
  bool flash = false;
  std::string problem;
};

Listing ListingOf(const ItemFile& file) { return {file.bytes.size(), IsFlashMovie(file.bytes), file.problem}; }

// A file stored plain is not read for its line but for its first bytes, which tell a movie.
Listing SlotListing(const OpenedInstaller& opened, int slot) {
  const MemberInfo& member = opened.Member(slot);
  if (!member.used) return {0, false, "slot " + std::to_string(slot) + " is empty"};
  if (member.fault != TMemberFault::None || member.record.Compressed) return ListingOf(opened.File(slot));
  return {member.stored.size(), IsFlashMovie(opened.FileHead(slot, 8)), ""};
}

// Entry i's line, for an entry the installation makes from its chunk or as a copy. In a sound
// installer a chunk without a FileSize holds no file, however it says it is coded.
Listing EntryListing(const OpenedInstaller& opened, size_t i, bool sound) {
  if (opened.IsCopied(i)) {
    if (i == 0 || opened.IsCopied(0)) return SlotListing(opened, msContent);  // from the content movie
    return ListingOf(opened.EntryFile(0));                                     // from entry 1's file
  }
  const DataChunkInfo& chunk = opened.DataFile().chunks[i];
  if (sound && chunk.fault == TChunkFault::None && chunk.chunk.Header.FileSize == 0) return {};
  return ListingOf(opened.EntryFile(i));
}

std::string FileJson(const std::string& head, const std::string& name, const Listing& listing) {
  std::string out = "{" + head + ", \"name\": " + JsonQuoted(name);
  if (listing.problem.empty())
    out += ", \"size\": " + std::to_string(listing.size) + ", \"flash\": " + (listing.flash ? "true" : "false");
  else
    out += ", \"problem\": " + JsonQuotedUtf8(listing.problem);
  return out + "}";
}

ItemFile InstalledEntryFile(const OpenedInstaller& opened, size_t i) {
  if (!opened.IsCopied(i)) return opened.EntryFile(i);
  if (i == 0) return StudioSlotFile(opened, msContent);  // made from the content movie
  return InstalledEntryFile(opened, 0);                  // made from entry 1's file
}

// Each file as the installation makes it. In a file that verify found sound every imploded
// member and chunk has been expanded once already; the listing takes those files as they are.
std::string FilesJson(const OpenedInstaller& opened, bool sound) {
  std::vector<std::string> files;
  for (int slot = 1; slot < kMemberCount; ++slot)
    if (opened.Member(slot).used)
      files.push_back(FileJson("\"source\": \"slot\", \"slot\": " + std::to_string(slot),
                               MemberFileName(opened.Member(slot).record), SlotListing(opened, slot)));
  const DataFileInfo& data = opened.DataFile();
  for (size_t i = 0; data.present && i < data.table.Entries.size(); ++i) {
    const std::string name = EntryNameOf(data.table.Entries[i]);
    if (name.empty()) continue;  // the installer skips a nameless entry
    files.push_back(FileJson("\"source\": \"entry\", \"index\": " + std::to_string(i + 1), LastPathComponent(name),
                             EntryListing(opened, i, sound)));
  }
  std::string out = "[";
  for (size_t i = 0; i < files.size(); ++i) out += (i ? ",\n    " : "\n    ") + files[i];
  return out + "]";
}

// 137512 as "137,512".
std::string Grouped(size_t number) {
  std::string digits = std::to_string(number);
  for (size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
  return digits;
}

}  // namespace

bool IsFlashMovie(std::span<const uint8_t> bytes) {
  if (bytes.size() < 8 || bytes[1] != 'W' || bytes[2] != 'S') return false;
  return bytes[0] == 'F' || bytes[0] == 'C' || bytes[0] == 'Z';
}

ItemFile StudioSlotFile(const OpenedInstaller& opened, int slot) {
  if (!opened.Header()) return {{}, "no payload header"};
  if (slot < 1 || slot >= kMemberCount || !opened.Member(slot).used)
    return {{}, "slot " + std::to_string(slot) + " is empty"};
  return opened.File(slot);
}

ItemFile StudioEntryFile(const OpenedInstaller& opened, int index) {
  if (!opened.Header()) return {{}, "no payload header"};
  const DataFileInfo& data = opened.DataFile();
  if (!data.present) return {{}, "no data file"};
  if (!data.problem.empty()) return {{}, "data file: " + data.problem};
  if (index < 1 || static_cast<size_t>(index) > data.table.Entries.size())
    return {{}, "no data-file entry " + std::to_string(index)};
  return InstalledEntryFile(opened, static_cast<size_t>(index - 1));
}

std::string NotAnInstaller(const OpenedInstaller& opened) {
  std::ostringstream where;
  where << std::hex << "0x" << kPayloadOffset;
  const std::string head = "not an installer of this format: " + Grouped(opened.Bytes().size()) + " bytes, and ";
  if (!opened.Header()) return head + "no payload header at " + where.str() + " (the file ends before it does)";
  // A damaged installer still has records that fit; a file of another kind has none.
  for (int slot = 1; slot < kMemberCount; ++slot)
    if (opened.Member(slot).used && opened.Member(slot).fault == TMemberFault::None) return "";
  return head + "no payload header at " + where.str() + " (no slot's record there fits the file)";
}

std::string StudioReportJson(const OpenedInstaller& opened) {
  const VerifyReport report = VerifyReportOf(opened);
  const size_t size = opened.Bytes().size();
  if (const std::string notInstaller = NotAnInstaller(opened); !notInstaller.empty())
    return "{\n  \"size\": " + std::to_string(size) + ",\n  \"list\": null,\n  \"not_installer\": " +
           JsonQuotedUtf8(notInstaller) + ",\n  \"problems\": " + JsonList(report.problems) +
           ",\n  \"warnings\": [],\n  \"verdict\": \"\"\n}\n";
  std::ostringstream out;
  out << "{\n  \"size\": " << size;
  if (opened.Header()) {
    std::string list = ListJson(opened);
    list.pop_back();  // its closing line break
    out << ",\n  \"list\": " << list << ",\n  \"uninstall\": "
        << JsonQuotedUtf8(UninstallLine(opened)) << ",\n  \"signature\": "
        << JsonQuotedUtf8(SignatureLine(opened));
  } else {
    out << ",\n  \"list\": null";
  }
  out << ",\n  \"problems\": " << JsonList(report.problems)
      << ",\n  \"warnings\": " << JsonList(report.warnings)
      << ",\n  \"verdict\": " << JsonQuotedUtf8(report.verdict);
  if (opened.Header())
    out << ",\n  \"window\": " << WindowJson(opened) << ",\n  \"files\": " << FilesJson(opened, report.Sound());
  out << "\n}\n";
  return out.str();
}

std::string StudioReportJson(std::span<const uint8_t> file) { return StudioReportJson(OpenedInstaller(file)); }

}  // namespace saverpack
