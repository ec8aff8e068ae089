#include "project.h"

#include <toml++/toml.h>

#include <fstream>

#include "cp1252.h"
#include "file_io.h"
#include "path_rules.h"
#include "payload_checks.h"

namespace saverpack {
namespace {

// A regular file is there; a name the system cannot even look up (too long, say) is no file.
bool IsFileAt(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(path, error);
}

// Default destinations by slot: the installer's own record 6, the Windows folder's support files
// 3, the program 2, the data file 4, everything else 5.
constexpr int32_t kDefaultDestination[kMemberCount] = {6, 3, 3, 5, 5, 5, 2, 5, 4, 5, 5};

class Loader {
 public:
  Loader(const std::filesystem::path& file, const std::filesystem::path& defaultCodec,
         const std::filesystem::path& defaultLauncher)
      : defaultCodec_(defaultCodec), defaultLauncher_(defaultLauncher) {
    project_.file = file;
  }

  Project Load() {
    toml::table root;
    try {
      root = toml::parse_file(project_.file.string());
    } catch (const toml::parse_error& e) {
      Problem(static_cast<int>(e.source().begin.line), std::string(e.description()));
      Finish();
    }
    ReadTopLevel(root);
    ReadSlots(root);
    ReadData(root);
    if (programAsEntry_) AddProgramEntry();
    CheckNeeds();
    Finish();
    return project_;
  }

 private:
  void Problem(int line, const std::string& text) {
    problems_.push_back(project_.file.string() + ":" + std::to_string(line) + ": " + text);
  }

  void Finish() {
    if (problems_.empty()) return;
    std::string all;
    for (const auto& p : problems_) all += (all.empty() ? "" : "\n") + p;
    throw ToolError(all);
  }

  static int LineOf(const toml::node* node) {
    return node ? static_cast<int>(node->source().begin.line) : 1;
  }

  std::filesystem::path Resolve(const std::string& path) const {
    const std::filesystem::path p(path);
    return p.is_absolute() ? p : project_.file.parent_path() / p;
  }

  // A text of the project in the installer's code page, or a problem.
  std::optional<std::string> Text(const toml::node* node, const char* what) {
    const auto value = node ? node->value<std::string>() : std::nullopt;
    if (!value) {
      Problem(LineOf(node), std::string(what) + " must be a text");
      return std::nullopt;
    }
    auto converted = Utf8ToCp1252(*value);
    if (!converted)
      Problem(LineOf(node), std::string(what) + " \"" + *value +
                                "\" has characters outside the Windows-1252 code page");
    return converted;
  }

  std::optional<int64_t> Integer(const toml::node* node, const char* what, int64_t low,
                                 int64_t high) {
    const auto value = node ? node->value<int64_t>() : std::nullopt;
    if (!value || *value < low || *value > high) {
      Problem(LineOf(node), std::string(what) + " must be a whole number from " +
                                std::to_string(low) + " to " + std::to_string(high));
      return std::nullopt;
    }
    return value;
  }

  // true, false, or the header's byte as a number 0..255.
  std::optional<uint8_t> FlagOrByte(const toml::node* node, const char* what) {
    if (const auto flag = node->value_exact<bool>()) return static_cast<uint8_t>(*flag);
    const auto value = node->value_exact<int64_t>();
    if (!value || *value < 0 || *value > 255) {
      Problem(LineOf(node), std::string(what) + " must be true, false or a number 0..255");
      return std::nullopt;
    }
    return static_cast<uint8_t>(*value);
  }

  Compression CompressionOf(const toml::node* node) {
    if (!node) return Compression::Auto;
    const auto value = node->value<std::string>();
    if (value == "auto") return Compression::Auto;
    if (value == "always") return Compression::Always;
    if (value == "never") return Compression::Never;
    Problem(LineOf(node), "compress must be \"auto\", \"always\" or \"never\"");
    return Compression::Auto;
  }

  void ReadTopLevel(const toml::table& root) {
    const toml::node* name = root.get("name");
    if (!name) {
      Problem(1, "the screen saver's name is missing (name = \"...\")");
    } else if (auto text = Text(name, "name")) {
      if (text->size() > 64)
        Problem(LineOf(name), "name has " + std::to_string(text->size()) +
                                  " bytes; the installer holds at most 64");
      if (!IsUsableSaverName(*text))
        Problem(LineOf(name), "name \"" + Cp1252ToUtf8(*text) + "\" holds a character that a "
                "folder name cannot (\\ / : * ? \" < > | or a control character)");
      project_.saverName = *text;
      nameLine_ = LineOf(name);
    }

    const toml::node* content = root.get("content");
    if (!content) {
      Problem(1, "content is missing: \"picture\", \"flash\", \"none\", \"silent\" or a number 0..255");
    } else if (content->is_integer()) {
      if (auto raw = Integer(content, "content", 0, 255))
        project_.contentMode = static_cast<uint8_t>(*raw);
    } else {
      const auto kind = content->value<std::string>();
      if (kind == "picture") project_.contentMode = cmPicture;
      else if (kind == "flash") project_.contentMode = cmFlashMovieToo;
      else if (kind == "none") project_.contentMode = 0;
      else if (kind == "silent") project_.contentMode = cmSilent;
      else Problem(LineOf(content), "content must be \"picture\", \"flash\", \"none\", \"silent\" or a number 0..255");
    }

    if (const toml::node* open = root.get("open_display_properties"))
      if (auto value = FlagOrByte(open, "open_display_properties")) project_.openDisplayProperties = *value;
    for (const char* key : {"has_license", "show_document"})
      if (const toml::node* flag = root.get(key))
        if (auto value = FlagOrByte(flag, key)) (key[0] == 'h' ? licenseFlag_ : documentFlag_) = *value;
    if (const toml::node* sign = root.get("sign")) {
      if (auto text = sign->value<std::string>()) project_.sign = *text;
      else Problem(LineOf(sign), "sign must be a command in quotes");
    }
    if (const toml::node* uninstall = root.get("uninstall")) {
      uninstallLine_ = LineOf(uninstall);
      uninstallSaid_ = true;
      const auto value = uninstall->value<std::string>();
      if (value == "launcher") project_.uninstall = Uninstall::Launcher;
      else if (value == "program") project_.uninstall = Uninstall::Program;
      else if (value == "as-is") project_.uninstall = Uninstall::AsIs;
      else {
        uninstallRefused_ = true;
        Problem(uninstallLine_, "uninstall must be \"launcher\" (our launcher removes the screen saver) or "
                                "\"program\" (the program handles /u itself) or \"as-is\" (the program slot "
                                "as the project gives it)");
      }
    }
    if (const toml::node* level = root.get("level")) {
      const auto value = level->value<std::string>();
      if (value == "best") project_.fast = false;
      else if (value == "fast") project_.fast = true;
      else Problem(LineOf(level), "level must be \"best\" or \"fast\"");
    }
  }

  void ReadSlot(int slot, const toml::node& node) {
    SlotSpec& plan = project_.slots[slot];
    plan.line = LineOf(&node);
    const toml::table* table = node.as_table();
    if (!table) {
      Problem(plan.line, std::string("files.") + SlotKey(slot) + " must be a table");
      return;
    }
    const toml::node* sameAs = table->get("same_as");
    if (sameAs) {
      const auto key = sameAs->value<std::string>();
      const auto owner = key ? SlotByKey(*key) : std::nullopt;
      if (!owner || *owner == msStub || *owner == slot || *owner == msCompressionLib)
        Problem(LineOf(sameAs), "same_as must name another slot (not the codec, whose bytes saverpack puts in)");
      else if (slot == msDataFile || slot == msCompressionLib)
        Problem(LineOf(sameAs), std::string("files.") + SlotKey(slot) + " keeps bytes of its own; it cannot be same_as");
      else if (table->get("path"))
        Problem(LineOf(sameAs), std::string("files.") + SlotKey(slot) + " has both a path and same_as");
      else
        plan.sameBytesAs = *owner;
    }
    if (sameAs || (slot == msCompressionLib && !table->get("path"))) {
      // The bytes are another slot's, or the codec beside saverpack.
      if (slot == msCompressionLib) plan.source = defaultCodec_;
    } else if (slot == msDataFile && project_.data.present && !table->get("path")) {
      // The data file is built from [data]; only its name and compression come from here.
    } else if (auto path = Text(table->get("path"), (std::string("files.") + SlotKey(slot) + ".path").c_str())) {
      plan.source = Resolve(*path);
      if (!IsFileAt(plan.source))
        Problem(LineOf(table->get("path")), "no file at " + plan.source.string());
    }
    plan.present = true;
    plan.payloadName = plan.sameBytesAs ? std::string() : plan.source.filename().string();
    if (slot == msCompressionLib && !table->get("path")) plan.payloadName = "impborl.dat";
    if (const toml::node* name = table->get("name")) {
      if (auto text = Text(name, "name")) plan.payloadName = *text;
      plan.nameGiven = true;
      if (slot == msSaverEngine) programNamed_ = true;
    }
    if (const toml::node* keep = table->get("keep_bytes")) {
      if (slot != msContent || keep->value_exact<bool>() == std::nullopt)
        Problem(LineOf(keep), "keep_bytes = true is for files.content: a picture stored as it is");
      else
        plan.keepBytes = *keep->value_exact<bool>();
    }
    plan.destination = kDefaultDestination[slot];
    if (const toml::node* destination = table->get("destination"))
      if (auto code = Integer(destination, "destination", 1, 6)) plan.destination = static_cast<int32_t>(*code);
    plan.compression = CompressionOf(table->get("compress"));
    if (slot == msCompressionLib) {
      // The installer needs the library to expand anything else: it is always stored plain.
      if (plan.compression == Compression::Always)
        Problem(plan.line, "the codec library must be stored plain: the installer needs it to expand the rest");
      plan.compression = Compression::Never;
    }
  }

  void ReadSlots(const toml::table& root) {
    project_.data.present = root.get("data") != nullptr;
    project_.data.line = LineOf(root.get("data"));
    if (const toml::table* files = root.get_as<toml::table>("files")) {
      for (const auto& [key, node] : *files) {
        const auto slot = SlotByKey(std::string(key.str()));
        if (!slot || *slot == msStub) {
          Problem(LineOf(&node), "files." + std::string(key.str()) + " is not a slot; slots are codec, "
                  "flash_installer, content, license, document, program, extra, data, library1, library2");
          continue;
        }
        ReadSlot(*slot, node);
      }
    }
    SlotSpec& codec = project_.slots[msCompressionLib];
    if (codec.present && codec.source == defaultCodec_ && !IsFileAt(defaultCodec_))
      Problem(codec.line, "files.codec has no path, and there is no impborl.dll beside saverpack at " +
                              defaultCodec_.string());
    if (!codec.present) {
      codec.present = true;
      codec.source = defaultCodec_;
      codec.destination = 3;
      codec.compression = Compression::Never;
      codec.line = 1;
      codec.payloadName = "impborl.dat";
      if (!IsFileAt(defaultCodec_))
        Problem(1, "no [files.codec] and no impborl.dll beside saverpack at " + defaultCodec_.string());
    }
    ArrangeUninstall();
    if (project_.data.present && !project_.slots[msDataFile].present) {
      SlotSpec& data = project_.slots[msDataFile];
      data.present = true;
      data.destination = kDefaultDestination[msDataFile];
      data.compression = Compression::Never;
      data.line = project_.data.line;
    }
    if (!project_.data.present && !project_.slots[msDataFile].present) {
      // An empty data file (no entries) is the one file the installer needs that it also removes.
      project_.data.present = true;
      SlotSpec& data = project_.slots[msDataFile];
      data.present = true;
      data.destination = kDefaultDestination[msDataFile];
      data.line = 1;
    }
    if (project_.data.present && project_.slots[msDataFile].payloadName.empty())
      project_.slots[msDataFile].payloadName = project_.saverName + ".ssd";
    FillSlotsWithTheDataFile();
    ResolveSameAs();
    if (licenseFlag_) project_.hasLicense = *licenseFlag_;
    if (documentFlag_) project_.showDocument = *documentFlag_;

    for (int slot = 1; slot < kMemberCount; ++slot) {
      const SlotSpec& plan = project_.slots[slot];
      if (!plan.present) continue;
      if (plan.payloadName.size() > 255 || !IsPlainFileName(plan.payloadName))
        Problem(plan.line, std::string("the payload name of ") + SlotKey(slot) + " (\"" +
                               Cp1252ToUtf8(plan.payloadName) + "\") must be a plain file name of 1 to 255 bytes");
    }
    project_.hasLicense = licenseFlag_ ? *licenseFlag_ : project_.slots[msLicense].present;
    project_.showDocument = documentFlag_ ? *documentFlag_ : project_.slots[msDocument].present;
  }

  // same_as: the owner must store bytes of its own; the name defaults to the owner's.
  void ResolveSameAs() {
    for (int slot = 1; slot < kMemberCount; ++slot) {
      SlotSpec& plan = project_.slots[slot];
      if (!plan.sameBytesAs) continue;
      const SlotSpec& owner = project_.slots[plan.sameBytesAs];
      if (!owner.present || owner.sameBytesAs) {
        Problem(plan.line, std::string("files.") + SlotKey(slot) + " is same_as \"" + SlotKey(plan.sameBytesAs) +
                               "\", which stores no bytes of its own");
        continue;
      }
      if (!plan.nameGiven) plan.payloadName = owner.payloadName;
    }
  }

  // The uninstall entry runs "<Windows>\<name>.scr /u": the program slot must place that file,
  // and whatever it holds must handle /u.
  void ArrangeUninstall() {
    SlotSpec& program = project_.slots[msSaverEngine];
    project_.program = program.source;
    if (!program.present || uninstallRefused_ || project_.uninstall == Uninstall::AsIs) return;
    const std::string expected = project_.saverName + ".scr";
    if (project_.uninstall == Uninstall::Program) {
      if (programNamed_ && !SameFileName(program.payloadName, expected))
        Problem(program.line, "the program is named \"" + Cp1252ToUtf8(program.payloadName) +
                "\", but the uninstall entry runs \"<Windows>\\" + Cp1252ToUtf8(expected) +
                " /u\": name it \"" + Cp1252ToUtf8(expected) + "\", leave the name out, or use uninstall = \"launcher\"");
      program.payloadName = expected;
      return;
    }
    std::error_code error;
    if (!std::filesystem::is_regular_file(defaultLauncher_, error)) {
      Problem(uninstallLine_, std::string(uninstallSaid_ ? "uninstall = \"launcher\"" :
                                          "without an uninstall key the project gets our launcher, which") +
                                  " needs the screen-saver launcher, and there is none at " +
                                  defaultLauncher_.string() +
                                  (uninstallSaid_ ? "" : " (uninstall = \"program\" for a program that handles /u itself)"));
      return;
    }
    if (!IsWindowsProgram(ReadFile(defaultLauncher_))) {
      Problem(uninstallLine_, defaultLauncher_.string() + " is not a Windows program; it cannot be the launcher");
      return;
    }
    // The author's program goes to the saver's folder as <name>.scr, where the launcher runs it.
    SlotSpec author = program;
    author.payloadName = expected;
    author.destination = 5;
    SlotSpec& extra = project_.slots[msExtraFile];
    if (!extra.present) {
      extra = author;
    } else if (project_.data.present) {
      programAsEntry_ = true;
      programEntry_.name = expected;
      programEntry_.source = author.source;
      programEntry_.compression = author.compression;
      programEntry_.line = author.line;
    } else {
      Problem(program.line, "uninstall = \"launcher\" puts the program in the saver's folder through files.extra "
              "or the data file, and this project uses files.extra and gives the data file ready-made");
    }
    program.source = defaultLauncher_;
    program.payloadName = expected;
    program.destination = 2;
    program.compression = Compression::Auto;
  }

  // The author's program as the data file's last entry; entry 1 keeps its meaning.
  void AddProgramEntry() {
    auto& entries = project_.data.entries;
    if (entries.empty() && project_.data.movieSource == kMovieFromContent)
      Problem(programEntry_.line, "uninstall = \"launcher\" would make the program the data file's entry 1, which "
              "movie_source = 3 makes a copy of the movie: free files.extra or give the data file an entry");
    else if (entries.size() >= static_cast<size_t>(kMaxDataEntries))
      Problem(programEntry_.line, "uninstall = \"launcher\" needs a data-file entry for the program, and the data "
              "file has 108 already");
    else
      entries.push_back(programEntry_);
  }

  // The installer extracts slots 6 to 10 on every installation and stops at an empty one. The
  // further file and the libraries the author left out repeat the data file's record: the same
  // stored bytes under the same name, written over it, and removed with it at the end.
  void FillSlotsWithTheDataFile() {
    const SlotSpec& data = project_.slots[msDataFile];
    // A window that shows nothing still extracts its content slot when it starts.
    const bool showsNothing = project_.contentMode != cmPicture && project_.contentMode != cmSilent &&
                              project_.contentMode != 2 && project_.contentMode != cmFlashMovieToo;
    for (int slot : {msContent, msExtraFile, msSaverLib1, msSaverLib2}) {
      SlotSpec& plan = project_.slots[slot];
      if (plan.present || (slot == msContent && !showsNothing)) continue;
      plan.present = true;
      plan.sameBytesAs = msDataFile;
      plan.payloadName = data.payloadName;
      plan.destination = data.destination;
      plan.line = 1;
    }
  }

  void ReadEntry(const toml::node& node) {
    DataEntrySpec entry;
    entry.line = LineOf(&node);
    const toml::table* table = node.as_table();
    if (!table) {
      Problem(entry.line, "each [[data.entries]] must be a table");
      return;
    }
    // nameless = true: an entry with no name, which the installer skips (some installers hold
    // one); its chunk is stored all the same.
    bool nameless = false;
    if (const toml::node* flag = table->get("nameless")) {
      nameless = flag->value<bool>().value_or(false);
      if (!flag->is_boolean()) Problem(LineOf(flag), "nameless must be true or false");
      if (nameless && table->get("name")) Problem(LineOf(flag), "a nameless entry has no name = \"...\"");
    }
    if (nameless) {
      // no name
    } else if (auto name = Text(table->get("name"), "entry name")) {
      entry.name = *name;
      if (name->empty() || name->size() > 255)
        Problem(entry.line, "an entry name has 1 to 255 bytes (nameless = true for one the installer skips)");
    }
    if (const toml::node* kind = table->get("kind"))
      if (auto value = Integer(kind, "kind", 0, 255)) entry.kind = static_cast<uint8_t>(*value);
    if (const toml::node* kind = table->get("chunk_kind"))
      if (auto value = Integer(kind, "chunk_kind", 0, 255)) entry.chunkKind = static_cast<uint8_t>(*value);
    if (const toml::node* path = table->get("path")) {
      if (auto text = Text(path, "path")) {
        entry.source = Resolve(*text);
        if (!IsFileAt(*entry.source))
          Problem(LineOf(path), "no file at " + entry.source->string());
      }
    } else if (entry.kind != kCopiedEntry &&
               !(project_.data.entries.empty() && project_.data.movieSource == kMovieFromContent)) {
      Problem(entry.line, "an entry needs a path, or kind = 3 for a copy made on the user's machine");
    }
    entry.compression = CompressionOf(table->get("compress"));
    project_.data.entries.push_back(entry);
  }

  void ReadData(const toml::table& root) {
    const toml::node* node = root.get("data");
    if (!node) return;
    DataSpec& data = project_.data;
    data.line = LineOf(node);
    const toml::table* table = node->as_table();
    if (!table) {
      Problem(data.line, "data must be a table");
      return;
    }
    if (project_.slots[msDataFile].present && !project_.slots[msDataFile].source.empty())
      Problem(data.line, "the data file is given both as files.data.path and as [data]");
    if (const toml::node* settings = table->get("settings")) {
      if (auto text = Text(settings, "settings")) {
        data.settings = Resolve(*text);
        std::error_code error;
        const auto size = std::filesystem::file_size(*data.settings, error);
        if (error) Problem(LineOf(settings), "no file at " + data.settings->string());
        else if (size != static_cast<uintmax_t>(kDataFileHeaderSize))
          Problem(LineOf(settings), "the settings header has " + std::to_string(size) + " bytes, not 1224");
      }
    }
    if (const toml::node* movie = table->get("movie_source"))
      if (auto value = Integer(movie, "movie_source", INT32_MIN, INT32_MAX))
        data.movieSource = static_cast<int32_t>(*value);
    if (const toml::node* entries = table->get("entries")) {
      if (const toml::array* list = entries->as_array()) {
        for (const toml::node& entry : *list) ReadEntry(entry);
      } else {
        Problem(LineOf(entries), "data.entries must be an array of tables ([[data.entries]])");
      }
    }
    if (data.entries.size() > static_cast<size_t>(kMaxDataEntries))
      Problem(data.line, "the data file has " + std::to_string(data.entries.size()) +
                             " entries; the installer reads at most 108");
  }

  void CheckNeeds() {
    // An installer without a name shows "Install ", makes "TempSaverDir dir" and writes no
    // uninstall entry; only a project that keeps an existing installer as it is (as-is) may say so.
    if (nameLine_ && project_.saverName.empty() && project_.uninstall != Uninstall::AsIs)
      Problem(nameLine_, "name is empty: the screen saver needs a name (its window's title, folder and uninstall entry)");
    TPayloadHeader options{};
    options.ContentMode = project_.contentMode;
    options.HasLicense = project_.hasLicense;
    options.ShowDocument = project_.showDocument;
    for (int slot : NeededSlots(options))
      if (!project_.slots[slot].present)
        Problem(1, std::string("with these options the installer needs [files.") + SlotKey(slot) + "]: the " +
                       SlotRole(slot));

    SlotSpec& content = project_.slots[msContent];
    if (project_.contentMode == cmPicture && content.present && !content.source.empty() && !content.keepBytes) {
      content.asPicture = true;
      // The installer writes the picture under its payload name with ".bmp"; so does the default
      // (a name the project gives is kept).
      if (!content.nameGiven && content.payloadName == content.source.filename().string())
        content.payloadName = content.source.stem().string() + ".bmp";
    }

    const auto& entries = project_.data.entries;
    const bool copiesMovie = CopiesContentMovie(project_.data.movieSource, entries.size(),
                                                entries.empty() ? 0 : entries[0].kind, true);
    if (copiesMovie && (content.payloadName != "installer.scf" || project_.contentMode == cmPicture ||
                        project_.contentMode == cmSilent))
      Problem(project_.data.line, "the data file copies the content movie, which the installer finds "
              "only as installer.scf in a window that shows a movie");
  }

  std::filesystem::path defaultCodec_;
  std::filesystem::path defaultLauncher_;
  int uninstallLine_ = 1;
  bool uninstallSaid_ = false;     // the project has the uninstall key
  bool uninstallRefused_ = false;  // and its value was refused
  bool programNamed_ = false;
  bool programAsEntry_ = false;
  std::optional<uint8_t> licenseFlag_;   // has_license: the header's flag when the slots do not say it
  std::optional<uint8_t> documentFlag_;  // show_document: likewise
  DataEntrySpec programEntry_;
  int nameLine_ = 0;  // where name = "..." is, once it was read
  Project project_;
  std::vector<std::string> problems_;
};

}  // namespace

Project LoadProject(const std::filesystem::path& file, const std::filesystem::path& defaultCodec,
                    const std::filesystem::path& defaultLauncher) {
  if (!IsFileAt(file)) throw ToolError(file.string() + ": no such project file");
  return Loader(file, defaultCodec, defaultLauncher).Load();
}

bool IsWindowsProgram(const std::vector<uint8_t>& bytes) {
  if (bytes.size() < 64 || bytes[0] != 'M' || bytes[1] != 'Z') return false;
  const uint32_t at = bytes[60] | bytes[61] << 8 | bytes[62] << 16 | static_cast<uint32_t>(bytes[63]) << 24;
  return at <= bytes.size() - 4 && bytes[at] == 'P' && bytes[at + 1] == 'E' && bytes[at + 2] == 0 && bytes[at + 3] == 0;
}

}  // namespace saverpack
