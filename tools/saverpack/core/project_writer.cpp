#include "project_writer.h"

#include <algorithm>
#include <cctype>
#include <map>

#include "cp1252.h"
#include "data_file_writer.h"
#include "inspect.h"
#include "path_rules.h"
#include "payload_checks.h"

namespace saverpack {
namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// The project's files, each path used once: a second file of the same name (in any case, for
// the systems that do not tell cases apart) with other bytes gets "name (2).ext".
class FileSet {
 public:
  std::string Add(const std::string& wanted, std::vector<uint8_t> bytes) {
    for (int n = 1;; ++n) {
      const std::string path = n == 1 ? wanted : Numbered(wanted, n);
      const auto found = used_.find(Lower(path));
      if (found == used_.end()) {
        used_[Lower(path)] = files_.size();
        files_.push_back({path, std::move(bytes)});
        return path;
      }
      if (files_[found->second].bytes == bytes) return files_[found->second].path;
    }
  }
  std::vector<ProjectFile> Take() { return std::move(files_); }

 private:
  static std::string Numbered(const std::string& path, int n) {
    const size_t slash = path.rfind('/');
    const size_t dot = path.rfind('.');
    const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
    const std::string suffix = " (" + std::to_string(n) + ")";
    return hasExtension ? path.substr(0, dot) + suffix + path.substr(dot) : path + suffix;
  }

  std::map<std::string, size_t> used_;
  std::vector<ProjectFile> files_;
};

class Writer {
 public:
  explicit Writer(const OpenedInstaller& opened) : opened_(opened), header_(*opened.Header()) {}

  ExtractedProject Write(const std::string& installerName) {
    const std::string saverName = SaverNameOf(header_);
    text_ = "# The project of " + installerName + ", written by saverpack extract --project.\n"
            "# saverpack build of this file makes the bytes saverpack repack makes of the installer:\n"
            "# every option, name, destination and data-file entry as it was.\n\n";
    Line("name = " + Text(saverName, "the screen saver's name"));
    Line("content = " + ContentValue(header_.ContentMode));
    const bool licenseSlot = !IsEmptySlot(header_.Members[msLicense]);
    const bool documentSlot = !IsEmptySlot(header_.Members[msDocument]);
    if (header_.HasLicense != (licenseSlot ? 1 : 0))
      Line("has_license = " + std::to_string(header_.HasLicense) + "  # the header's flag, not what the slots say");
    if (header_.ShowDocument != (documentSlot ? 1 : 0))
      Line("show_document = " + std::to_string(header_.ShowDocument) + "  # the header's flag, not what the slots say");
    const uint8_t open = header_.OpenDisplayProperties;
    Line("open_display_properties = " +
         (open <= 1 ? std::string(open ? "true" : "false") : std::to_string(open)));
    Line("uninstall = \"as-is\"  # the program slot holds what it held; \"launcher\" gives it our launcher");
    for (int slot = 1; slot < kMemberCount; ++slot) Slot(slot);
    if (!IsEmptySlot(header_.Members[msDataFile])) Data();
    ExtractedProject project;
    project.problems = std::move(problems_);
    if (project.problems.empty()) {
      project.text = std::move(text_);
      project.files = files_.Take();
    }
    return project;
  }

 private:
  void Line(const std::string& line) { text_ += line + "\n"; }

  // A name of the installer's code page as a TOML string; a byte the code page leaves undefined
  // would not come back, so it is a problem.
  std::string Text(const std::string& cp1252, const std::string& what) {
    const std::string utf8 = Cp1252ToUtf8(cp1252);
    if (Utf8ToCp1252(utf8) != cp1252)
      problems_.push_back(what + " \"" + utf8 + "\" holds a byte that Windows-1252 leaves undefined; "
                          "a project cannot write it");
    return TomlQuoted(utf8);
  }

  static std::string ContentValue(uint8_t mode) {
    switch (mode) {
      case 0: return "\"none\"";
      case cmPicture: return "\"picture\"";
      case cmFlashMovieToo: return "\"flash\"";
      case cmSilent: return "\"silent\"";
      default: return std::to_string(mode);
    }
  }

  std::string SlotLabel(int slot) const { return std::string("slot ") + std::to_string(slot) + " (" + SlotKey(slot) + ")"; }

  void Slot(int slot) {
    const TPayloadMember& m = header_.Members[slot];
    const std::string key = SlotKey(slot);
    // Only the content of a silent installation may be empty in a sound installer, and saverpack
    // leaves that one empty too.
    if (IsEmptySlot(m)) return;
    const std::string name = MemberFileName(m);
    Line("\n[files." + key + "]");
    const int owner = opened_.Member(slot).sameBytesAs;
    if (slot == msCompressionLib) {
      // Kept as its own file too, for whoever wants it; the project takes ours, as repack does.
      files_.Add(Cp1252ToUtf8(name), Copy(opened_.File(slot).bytes));
      Line("# no path: the codec library beside saverpack (this installer's own is " +
           TomlQuoted(Cp1252ToUtf8(name)) + ")");
    } else if (owner && owner != msCompressionLib) {
      Line("same_as = \"" + std::string(SlotKey(owner)) + "\"  # the same stored bytes as that slot");
    } else if (slot != msDataFile) {
      Line("path = " + TomlQuoted(files_.Add(Cp1252ToUtf8(name), Copy(opened_.File(slot).bytes))));
      if (slot == msContent && header_.ContentMode == cmPicture)
        Line("keep_bytes = true  # the bitmap as it is, not made anew");
    }
    Line("name = " + Text(name, SlotLabel(slot) + "'s name"));
    Line("destination = " + std::to_string(m.Destination));
  }

  void Data() {
    const DataFileInfo& data = opened_.DataFile();
    const std::string folder = Cp1252ToUtf8(MemberFileName(header_.Members[msDataFile])) + ".entries/";
    Line("\n[data]");
    const int32_t movieSource = data.table.Header.MovieSource;
    const std::vector<uint8_t> settings(data.bytes.begin(), data.bytes.begin() + kDataFileHeaderSize);
    const auto plain = BuildDataFile({}, movieSource, {});
    const auto kept = BuildDataFile(settings, movieSource, {});
    if (plain != kept)
      Line("settings = " + TomlQuoted(files_.Add(folder + "settings.bin", settings)) +
           "  # the data file's 1224-byte header");
    if (movieSource) Line("movie_source = " + std::to_string(movieSource));
    for (size_t i = 0; i < data.table.Entries.size(); ++i) Entry(data, i, folder);
  }

  void Entry(const DataFileInfo& data, size_t i, const std::string& folder) {
    const TDataFileEntry& entry = data.table.Entries[i];
    const TChunk& chunk = data.chunks[i].chunk;
    const std::string name = EntryNameOf(entry);
    const std::string label = "data file entry " + std::to_string(i + 1);
    Line("\n[[data.entries]]");
    if (name.empty()) Line("nameless = true  # the installer skips it; its chunk is kept");
    else Line("name = " + Text(name, label + "'s name"));
    if (entry.EntryKind) Line("kind = " + std::to_string(entry.EntryKind));
    if (chunk.Header.ChunkKind) Line("chunk_kind = " + std::to_string(chunk.Header.ChunkKind));
    const bool noFile = chunk.Header.FileSize == 0 && !chunk.Header.Compressed;
    if (noFile && opened_.IsCopied(i)) return;  // made on the user's machine
    const std::string file = LastPathComponent(name);
    Line("path = " + TomlQuoted(files_.Add(folder + Cp1252ToUtf8(file.empty() ? "entry" : file), Copy(opened_.EntryFile(i).bytes))));
  }

  static std::vector<uint8_t> Copy(std::span<const uint8_t> bytes) { return {bytes.begin(), bytes.end()}; }

  const OpenedInstaller& opened_;
  const TPayloadHeader& header_;
  std::string text_;
  FileSet files_;
  std::vector<std::string> problems_;
};

}  // namespace

std::string TomlQuoted(const std::string& utf8) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out = "\"";
  for (char c : utf8) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20 || byte == 0x7F) {
      out += "\\u00";
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    } else {
      out += c;
    }
  }
  return out + "\"";
}

ExtractedProject ProjectOfInstaller(const OpenedInstaller& opened, const std::string& installerName) {
  ExtractedProject project;
  project.problems = VerifyInstaller(opened);
  if (!project.problems.empty()) return project;
  return Writer(opened).Write(installerName);
}

ExtractedProject ProjectOfInstaller(std::span<const uint8_t> file, const std::string& installerName) {
  return ProjectOfInstaller(OpenedInstaller(file), installerName);
}

}  // namespace saverpack
