#include "report.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "cp1252.h"
#include "inspect.h"
#include "path_rules.h"
#include "payload_checks.h"
#include "signature.h"

namespace saverpack {
namespace {

// Whether bytes hold our screen-saver launcher: its version record names it.
bool IsOurLauncher(std::span<const uint8_t> bytes) {
  static const std::string kWide = [] {
    std::string wide;
    for (char c : std::string("Screen Saver Launcher")) wide += {c, '\0'};
    return wide;
  }();
  return std::search(bytes.begin(), bytes.end(), kWide.begin(), kWide.end()) != bytes.end();
}

}  // namespace

std::string JsonQuoted(const std::string& cp1252) { return JsonQuotedUtf8(Cp1252ToUtf8(cp1252)); }

std::string JsonQuotedUtf8(const std::string& utf8) {
  std::string out = "\"";
  for (char c : utf8) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\u%04x", c);
          out += escape;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

std::string SignatureLine(const OpenedInstaller& opened) {
  const SignatureInfo& s = opened.Signature();
  if (!s.signed_) return "Signature: none";
  std::string line = "Signature: Authenticode, " + std::to_string(s.size) + " bytes at " +
                     std::to_string(s.offset);
  if (!s.signer.empty()) line += ", signed by " + JsonQuoted(s.signer);
  if (!s.problem.empty()) line += " (" + s.problem + ")";
  return line;
}

bool EntryRunsTheProgram(const TPayloadHeader& h) {
  const TPayloadMember& program = h.Members[msSaverEngine];
  return SameFileName(MemberFileName(program), SaverNameOf(h) + ".scr") && program.Destination == 2;
}

namespace {

// Where the launcher finds the author's program: slot 7, or the data file's entry of its name.
std::string LaunchedProgramPlace(const OpenedInstaller& opened, const std::string& expected) {
  if (SameFileName(MemberFileName(opened.Member(msExtraFile).record), expected)) return "slot 7";
  const DataFileInfo& data = opened.DataFile();
  for (size_t i = 0; data.present && i < data.table.Entries.size(); ++i)
    if (SameFileName(EntryNameOf(data.table.Entries[i]), expected)) return "data-file entry " + std::to_string(i + 1);
  return "not found";
}

}  // namespace

std::string UninstallLine(const OpenedInstaller& opened) {
  const TPayloadHeader& h = *opened.Header();
  const std::string expected = SaverNameOf(h) + ".scr";
  const MemberInfo& program = opened.Member(msSaverEngine);
  if (!program.used) return "Uninstall: no program in slot 6";
  if (!EntryRunsTheProgram(h))
    return "Uninstall: the entry runs " + JsonQuoted("<Windows>\\" + expected + " /u") + ", which this installer does not "
           "place (slot 6 is " + JsonQuoted(MemberFileName(program.record)) + ")";
  const ItemFile& file = opened.File(msSaverEngine);
  if (!file.Sound() || !IsOurLauncher(file.bytes))
    return "Uninstall: the program in slot 6 handles " + JsonQuoted("/u") + " itself";
  return "Uninstall: slot 6 is the screen-saver launcher, which removes the screen saver; the author's program is " +
         JsonQuoted(expected) + " in the saver's folder (" + LaunchedProgramPlace(opened, expected) + ")";
}

namespace {

void SlotJson(std::ostringstream& out, const OpenedInstaller& opened, int slot) {
  const MemberInfo& member = opened.Member(slot);
  const TPayloadMember& m = member.record;
  out << (slot ? "," : "") << "\n    {\"slot\": " << slot << ", \"role\": \"" << SlotKey(slot) << "\"";
  if (!member.used) {
    out << ", \"empty\": true}";
    return;
  }
  out << ", \"empty\": false, \"name\": " << JsonQuoted(MemberFileName(m))
      << ", \"destination\": " << m.Destination
      << ", \"compressed\": " << (m.Compressed ? "true" : "false")
      << ", \"coding\": \"" << member.coding << "\""
      << ", \"stored_size\": " << StoredLength(m) << ", \"file_size\": " << m.FileSize
      << ", \"packed_size\": " << m.PackedSize << ", \"start_offset\": " << m.StartOffset
      << ", \"end_offset\": " << m.EndOffset << ", \"same_bytes_as\": " << member.sameBytesAs
      << "}";
}

void SignatureJson(std::ostringstream& out, const SignatureInfo& signature) {
  out << ",\n  \"signature\": ";
  if (signature.signed_)
    out << "{\"size\": " << signature.size << ", \"offset\": " << signature.offset
        << ", \"signer\": " << JsonQuoted(signature.signer) << ", \"sound\": "
        << (signature.problem.empty() ? "true" : "false") << "}";
  else
    out << "null";
}

void DataFileJson(std::ostringstream& out, const DataFileInfo& data) {
  out << ",\n  \"data_file\": {\"entry_count\": " << data.table.Header.EntryCount
      << ", \"movie_source\": " << data.table.Header.MovieSource << ", \"entries\": [";
  for (size_t i = 0; i < data.table.Entries.size(); ++i) {
    const TDataFileEntry& e = data.table.Entries[i];
    const TChunkHeader& c = data.chunks[i].chunk.Header;
    out << (i ? "," : "") << "\n    {\"index\": " << i + 1 << ", \"name\": " << JsonQuoted(EntryNameOf(e))
        << ", \"kind\": " << int(e.EntryKind) << ", \"chunk_offset\": " << e.ChunkOffset;
    if (data.chunks[i].fault == TChunkFault::None)
      out << ", \"file_size\": " << c.FileSize << ", \"compressed\": " << (c.Compressed ? "true" : "false")
          << ", \"packed_size\": " << c.PackedSize << ", \"coding\": \""
          << StreamCoding(data.chunks[i].chunk.Data, c.Compressed) << "\"" << ", \"chunk_kind\": " << int(c.ChunkKind);
    out << "}";
  }
  out << "\n  ]}";
}

}  // namespace

std::string ListJson(const OpenedInstaller& opened) {
  const TPayloadHeader& h = *opened.Header();
  std::ostringstream out;
  out << "{\n  \"content_mode\": " << int(h.ContentMode) << ",\n  \"has_license\": "
      << int(h.HasLicense) << ",\n  \"show_document\": " << int(h.ShowDocument)
      << ",\n  \"open_display_properties\": " << int(h.OpenDisplayProperties)
      << ",\n  \"saver_name\": " << JsonQuoted(SaverNameOf(h)) << ",\n  \"slots\": [";
  for (int slot = 0; slot < kMemberCount; ++slot) SlotJson(out, opened, slot);
  out << "\n  ]";
  SignatureJson(out, opened.Signature());
  const DataFileInfo& data = opened.DataFile();
  if (data.present && data.problem.empty()) DataFileJson(out, data);
  out << "\n}\n";
  return out.str();
}

VerifyReport VerifyReportOf(const OpenedInstaller& opened) {
  VerifyReport report;
  report.problems = VerifyInstaller(opened);
  if (!report.Sound()) return report;
  // Sound, but the user's Uninstall would find no file: a warning, not a failure.
  if (!EntryRunsTheProgram(*opened.Header())) report.warnings.push_back(UninstallLine(opened));
  report.verdict = "sound; " + SignatureLine(opened);
  return report;
}

}  // namespace saverpack
