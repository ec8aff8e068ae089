#include "project.h"

#include "cp1252.h"
#include "file_io.h"
#include "path_rules.h"
#include "payload_checks.h"
#include "project_reading.h"

namespace saverpack {
namespace {

// What follows from several tables once they are read: the codec and the data file where the
// project leaves them out, the uninstall entry's program, the slots that repeat the data file,
// same_as names, and what the chosen window needs.
class Completion {
 public:
  Completion(ProjectReading& reading, const TopLevelKeys& keys, const std::filesystem::path& defaultCodec,
             const std::filesystem::path& defaultLauncher, Project& project)
      : reading_(reading), keys_(keys), defaultCodec_(defaultCodec), defaultLauncher_(defaultLauncher),
        project_(project) {}

  // After the [files.*] tables, before [data] (whose reader sees the data slot as completed).
  void CompleteSlots() {
    CompleteCodec();
    ArrangeUninstall();
    CompleteDataSlot();
    FillSlotsWithTheDataFile();
    ResolveSameAs();
    CheckPayloadNames();
    project_.hasLicense = keys_.licenseFlag ? *keys_.licenseFlag : project_.slots[msLicense].present;
    project_.showDocument = keys_.documentFlag ? *keys_.documentFlag : project_.slots[msDocument].present;
  }

  // After [data].
  void CompleteData() {
    if (programAsEntry_) AddProgramEntry();
    CheckNeeds();
  }

 private:
  void Problem(int line, const std::string& text) { reading_.Problem(line, text); }

  void CompleteCodec() {
    SlotSpec& codec = project_.slots[msCompressionLib];
    if (codec.present && codec.source == defaultCodec_ && !IsFileAt(defaultCodec_))
      Problem(codec.line, "files.codec has no path, and there is no impborl.dll beside saverpack at " +
                              defaultCodec_.string());
    if (codec.present) return;
    codec.present = true;
    codec.source = defaultCodec_;
    codec.destination = 3;
    codec.compression = Compression::Never;
    codec.line = 1;
    codec.payloadName = "impborl.dat";
    if (!IsFileAt(defaultCodec_))
      Problem(1, "no [files.codec] and no impborl.dll beside saverpack at " + defaultCodec_.string());
  }

  // The data slot holds [data]'s file; a project with neither gets an empty data file (no
  // entries), the one file the installer needs that it also removes.
  void CompleteDataSlot() {
    SlotSpec& data = project_.slots[msDataFile];
    if (project_.data.present && !data.present) {
      data.present = true;
      data.destination = kDefaultDestination[msDataFile];
      data.compression = Compression::Never;
      data.line = project_.data.line;
    }
    if (!project_.data.present && !data.present) {
      project_.data.present = true;
      data.present = true;
      data.destination = kDefaultDestination[msDataFile];
      data.line = 1;
    }
    if (project_.data.present && data.payloadName.empty()) data.payloadName = project_.saverName + ".ssd";
  }

  void CheckPayloadNames() {
    for (int slot = 1; slot < kMemberCount; ++slot) {
      const SlotSpec& plan = project_.slots[slot];
      if (!plan.present) continue;
      if (plan.payloadName.size() > 255 || !IsPlainFileName(plan.payloadName))
        Problem(plan.line, std::string("the payload name of ") + SlotKey(slot) + " (\"" +
                               Cp1252ToUtf8(plan.payloadName) + "\") must be a plain file name of 1 to 255 bytes");
    }
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
    if (!program.present || keys_.uninstallRefused || project_.uninstall == Uninstall::AsIs) return;
    const std::string expected = project_.saverName + ".scr";
    if (project_.uninstall == Uninstall::Program) {
      if (program.nameGiven && !SameFileName(program.payloadName, expected))
        Problem(program.line, "the program is named \"" + Cp1252ToUtf8(program.payloadName) +
                "\", but the uninstall entry runs \"<Windows>\\" + Cp1252ToUtf8(expected) +
                " /u\": name it \"" + Cp1252ToUtf8(expected) + "\", leave the name out, or use uninstall = \"launcher\"");
      program.payloadName = expected;
      return;
    }
    std::error_code error;
    if (!std::filesystem::is_regular_file(defaultLauncher_, error)) {
      Problem(keys_.uninstallLine, std::string(keys_.uninstallSaid ? "uninstall = \"launcher\"" :
                                          "without an uninstall key the project gets our launcher, which") +
                                  " needs the screen-saver launcher, and there is none at " +
                                  defaultLauncher_.string() +
                                  (keys_.uninstallSaid ? "" : " (uninstall = \"program\" for a program that handles /u itself)"));
      return;
    }
    if (!IsWindowsProgram(ReadFile(defaultLauncher_))) {
      Problem(keys_.uninstallLine, defaultLauncher_.string() + " is not a Windows program; it cannot be the launcher");
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

  void CheckNeeds() {
    // An installer without a name shows "Install ", makes "TempSaverDir dir" and writes no
    // uninstall entry; only a project that keeps an existing installer as it is (as-is) may say so.
    if (keys_.nameLine && project_.saverName.empty() && project_.uninstall != Uninstall::AsIs)
      Problem(keys_.nameLine, "name is empty: the screen saver needs a name (its window's title, folder and uninstall entry)");
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

  ProjectReading& reading_;
  const TopLevelKeys& keys_;
  const std::filesystem::path& defaultCodec_;
  const std::filesystem::path& defaultLauncher_;
  Project& project_;
  bool programAsEntry_ = false;
  DataEntrySpec programEntry_;
};

}  // namespace

Project LoadProject(const std::filesystem::path& file, const std::filesystem::path& defaultCodec,
                    const std::filesystem::path& defaultLauncher) {
  if (!IsFileAt(file)) throw ToolError(file.string() + ": no such project file");
  ProjectReading reading(file);
  toml::table root;
  try {
    root = toml::parse_file(file.string());
  } catch (const toml::parse_error& e) {
    reading.Problem(static_cast<int>(e.source().begin.line), std::string(e.description()));
    reading.ThrowIfAny();
  }
  Project project;
  project.file = file;
  const TopLevelKeys keys = ReadTopLevel(reading, root, project);
  project.data.present = root.get("data") != nullptr;
  project.data.line = ProjectReading::LineOf(root.get("data"));
  if (const toml::table* files = root.get_as<toml::table>("files")) {
    for (const auto& [key, node] : *files) {
      const auto slot = SlotByKey(std::string(key.str()));
      if (!slot || *slot == msStub) {
        reading.Problem(ProjectReading::LineOf(&node), "files." + std::string(key.str()) + " is not a slot; slots are "
                        "codec, flash_installer, content, license, document, program, extra, data, library1, library2");
        continue;
      }
      ReadFileTable(reading, *slot, node, defaultCodec, project);
    }
  }
  Completion completion(reading, keys, defaultCodec, defaultLauncher, project);
  completion.CompleteSlots();
  ReadDataTable(reading, root, project);
  completion.CompleteData();
  reading.ThrowIfAny();
  return project;
}

bool IsWindowsProgram(const std::vector<uint8_t>& bytes) {
  if (bytes.size() < 64 || bytes[0] != 'M' || bytes[1] != 'Z') return false;
  const uint32_t at = bytes[60] | bytes[61] << 8 | bytes[62] << 16 | static_cast<uint32_t>(bytes[63]) << 24;
  return at <= bytes.size() - 4 && bytes[at] == 'P' && bytes[at + 1] == 'E' && bytes[at + 2] == 0 && bytes[at + 3] == 0;
}

}  // namespace saverpack
