#include "studio_view.h"

#include <algorithm>
#include <sstream>

#include "dcl.h"

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
std::string MemoText(const std::vector<uint8_t>& bytes) {
  std::string text(bytes.begin(), bytes.end());
  text = LinesWithCrLf(text.substr(0, text.find('\0')));
  std::string out;
  for (char c : text)
    if (c != '\r') out += c;
  return out;
}

std::string WindowJson(const TPayloadHeader& h, std::span<const uint8_t> file) {
  std::ostringstream out;
  const bool silent = h.ContentMode == cmSilent;
  out << "{\"shown\": " << (silent ? "false" : "true")
      << ", \"caption\": " << JsonQuoted("Install " + SaverNameOf(h))
      << ", \"content\": \"" << ContentKind(h.ContentMode) << "\""
      << ", \"has_license\": " << (h.HasLicense ? "true" : "false");
  if (h.HasLicense && !silent) {
    const TPayloadMember& licence = h.Members[msLicense];
    const MemberContent text = IsEmptySlot(licence) ? MemberContent{{}, "slot 4 is empty"}
                                                    : ExpandMember(file, licence);
    if (text.problem.empty()) out << ", \"licence\": " << JsonQuoted(MemoText(text.bytes));
    else out << ", \"licence_problem\": " << JsonQuotedUtf8(text.problem);
  }
  out << "}";
  return out.str();
}

// A file's line of the listing: its size and whether it is a movie, or why it cannot be had.
std::string FileJson(const std::string& head, const std::string& name, size_t size, bool flash,
                     const std::string& problem) {
  std::string out = "{" + head + ", \"name\": " + JsonQuoted(name);
  if (problem.empty())
    out += ", \"size\": " + std::to_string(size) + ", \"flash\": " + (flash ? "true" : "false");
  else
    out += ", \"problem\": " + JsonQuotedUtf8(problem);
  return out + "}";
}

std::string FileJson(const std::string& head, const std::string& name, const MemberContent& content) {
  return FileJson(head, name, content.bytes.size(), IsFlashMovie(content.bytes), content.problem);
}

// Whether an imploded stream's file is a Flash movie, from the first bytes its head expands to.
bool ImplodedIsFlashMovie(std::span<const uint8_t> stream) {
  const auto head = dcl::Explode(stream.first(std::min<size_t>(stream.size(), 64)));
  return IsFlashMovie(head.data);
}

// In a file that verify found sound, every member and chunk expands to its FileSize: only its
// head is expanded again here, to tell a movie. Otherwise each is expanded whole for its problem.
std::string SlotFileJson(std::span<const uint8_t> file, const TPayloadMember& member, int slot,
                         bool sound) {
  const std::string head = "\"source\": \"slot\", \"slot\": " + std::to_string(slot);
  const std::string name = MemberFileName(member);
  if (CheckMemberRecord(member, int64_t(file.size())) == TMemberFault::None) {
    const auto stored = StoredBytes(file, member);
    if (!member.Compressed) return FileJson(head, name, stored.size(), IsFlashMovie(stored), "");
    if (sound) return FileJson(head, name, size_t(member.FileSize), ImplodedIsFlashMovie(stored), "");
  }
  return FileJson(head, name, ExpandMember(file, member));
}

bool IsCopied(const DataFileInfo& data, size_t i) {
  return data.table.Entries[i].EntryKind == kCopiedEntry ||
         (i == 0 && data.table.Header.MovieSource == kMovieFromContent);
}

MemberContent EntryFileOf(std::span<const uint8_t> file,
                          const DataFileInfo& data, size_t i) {
  if (IsCopied(data, i)) {
    if (i == 0) return StudioSlotFile(file, msContent);  // made from the content movie
    return EntryFileOf(file, data, 0);                 // made from entry 1's file
  }
  const DataChunkInfo& chunk = data.chunks[i];
  if (chunk.fault != TChunkFault::None) return {{}, ChunkFaultText(chunk.fault)};
  return ExpandChunk(chunk.chunk);
}

std::string EntryFileJson(const DataFileInfo& data, size_t i, std::span<const uint8_t> file,
                          bool sound) {
  const std::string head = "\"source\": \"entry\", \"index\": " + std::to_string(i + 1);
  const std::string name = LastPathComponent(EntryNameOf(data.table.Entries[i]));
  const DataChunkInfo& chunk = data.chunks[i];
  if (!IsCopied(data, i) && chunk.fault == TChunkFault::None) {
    const TChunkHeader& h = chunk.chunk.Header;
    if (!h.Compressed) return FileJson(head, name, chunk.chunk.Data.size(), IsFlashMovie(chunk.chunk.Data), "");
    if (sound) return FileJson(head, name, size_t(h.FileSize), ImplodedIsFlashMovie(chunk.chunk.Data), "");
  }
  return FileJson(head, name, EntryFileOf(file, data, i));
}

std::string FilesJson(const TPayloadHeader& h, std::span<const uint8_t> file, bool sound) {
  std::vector<std::string> files;
  for (int slot = 1; slot < kMemberCount; ++slot)
    if (!IsEmptySlot(h.Members[slot])) files.push_back(SlotFileJson(file, h.Members[slot], slot, sound));
  const DataFileInfo data = DataFileOf(h, file);
  for (size_t i = 0; data.present && i < data.table.Entries.size(); ++i)
    if (!EntryNameOf(data.table.Entries[i]).empty())  // the installer skips a nameless entry
      files.push_back(EntryFileJson(data, i, file, sound));
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

MemberContent StudioSlotFile(std::span<const uint8_t> file, int slot) {
  const auto header = HeaderOfInstaller(file);
  if (!header) return {{}, "no payload header"};
  if (slot < 1 || slot >= kMemberCount || IsEmptySlot(header->Members[slot]))
    return {{}, "slot " + std::to_string(slot) + " is empty"};
  return ExpandMember(file, header->Members[slot]);
}

MemberContent StudioEntryFile(std::span<const uint8_t> file, int index) {
  const auto header = HeaderOfInstaller(file);
  if (!header) return {{}, "no payload header"};
  const DataFileInfo data = DataFileOf(*header, file);
  if (!data.present) return {{}, "no data file"};
  if (!data.problem.empty()) return {{}, "data file: " + data.problem};
  if (index < 1 || static_cast<size_t>(index) > data.table.Entries.size())
    return {{}, "no data-file entry " + std::to_string(index)};
  return EntryFileOf(file, data, static_cast<size_t>(index - 1));
}

std::string NotAnInstaller(std::span<const uint8_t> file) {
  std::ostringstream where;
  where << std::hex << "0x" << kPayloadOffset;
  const std::string head = "not an installer of this format: " + Grouped(file.size()) + " bytes, and ";
  const auto header = HeaderOfInstaller(file);
  if (!header) return head + "no payload header at " + where.str() + " (the file ends before it does)";
  // A damaged installer still has records that fit; a file of another kind has none.
  for (int slot = 1; slot < kMemberCount; ++slot)
    if (!IsEmptySlot(header->Members[slot]) &&
        CheckMemberRecord(header->Members[slot], static_cast<int64_t>(file.size())) == TMemberFault::None)
      return "";
  return head + "no payload header at " + where.str() + " (no slot's record there fits the file)";
}

std::string StudioReportJson(std::span<const uint8_t> file) {
  const VerifyReport report = VerifyReportOf(file);
  if (const std::string notInstaller = NotAnInstaller(file); !notInstaller.empty())
    return "{\n  \"size\": " + std::to_string(file.size()) + ",\n  \"list\": null,\n  \"not_installer\": " +
           JsonQuotedUtf8(notInstaller) + ",\n  \"problems\": " + JsonList(report.problems) +
           ",\n  \"warnings\": [],\n  \"verdict\": \"\"\n}\n";
  std::ostringstream out;
  out << "{\n  \"size\": " << file.size();
  const auto header = HeaderOfInstaller(file);
  if (header) {
    std::string list = ListJson(*header, file);
    list.pop_back();  // its closing line break
    out << ",\n  \"list\": " << list << ",\n  \"uninstall\": "
        << JsonQuotedUtf8(UninstallLine(*header, file)) << ",\n  \"signature\": "
        << JsonQuotedUtf8(SignatureLine(*header, file));
  } else {
    out << ",\n  \"list\": null";
  }
  out << ",\n  \"problems\": " << JsonList(report.problems)
      << ",\n  \"warnings\": " << JsonList(report.warnings)
      << ",\n  \"verdict\": " << JsonQuotedUtf8(report.verdict);
  if (header)
    out << ",\n  \"window\": " << WindowJson(*header, file) << ",\n  \"files\": " << FilesJson(*header, file, report.Sound());
  out << "\n}\n";
  return out.str();
}

}  // namespace saverpack
