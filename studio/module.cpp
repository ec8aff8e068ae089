// The studio's WebAssembly module: the page's one way into the installer's format. It holds one
// opened file and answers with the very functions saverpack's list, verify and extract use.
// Errors come back as values (a problem text, an empty result); nothing aborts the module.
#include <emscripten/bind.h>
#include <emscripten/val.h>

#include <cstdint>
#include <algorithm>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "builder.h"
#include "dataStructures_shared.h"
#include "file_io.h"
#include "layout_rules.h"
#include "project_writer.h"
#include "report.h"
#include "studio_view.h"

namespace {

std::vector<uint8_t> gFile;    // the opened (or last built) installer's bytes
std::optional<saverpack::OpenedInstaller> gOpened;  // gFile read, as its views have asked so far
emscripten::val gRead = emscripten::val::undefined();  // fills gFile from the chosen file (analyseReading)
std::vector<uint8_t> gBuffer;  // a file on its way into the module's file system

// Room for size bytes in buffer (its old bytes let go first): the address to copy them to, or 0
// for a size out of range or no memory for it.
uintptr_t ReserveIn(std::vector<uint8_t>& buffer, double size) {
  buffer.clear();
  buffer.shrink_to_fit();
  if (!(size >= 0) || size > 2000.0 * 1024 * 1024) return 0;
  try {
    buffer.resize(static_cast<size_t>(size));
  } catch (const std::exception&) {
    return 0;
  }
  return reinterpret_cast<uintptr_t>(buffer.data());
}

// Room for a file of this size; the page copies the file's bytes to the address it gets back,
// piece by piece as it reads them, then calls Analyse.
uintptr_t Reserve(double size) {
  gOpened.reset();  // it refers to the bytes about to be let go
  gRead = emscripten::val::undefined();
  return ReserveIn(gFile, size);
}

// gFile's model, read once for the report and every file the page asks for afterwards. A build
// puts a new installer into gFile, whole, made while the old one was still held, so at other
// bytes: a model of other bytes is of another file, and the chosen file's reader not its own.
const saverpack::OpenedInstaller& Opened() {
  const auto bytes = gOpened ? gOpened->Bytes() : std::span<const uint8_t>();
  if (!gOpened || bytes.data() != gFile.data() || bytes.size() != gFile.size()) {
    gRead = emscripten::val::undefined();
    gOpened.emplace(gFile);
  }
  return *gOpened;
}

std::string ErrorJson(const std::string& what) {
  return "{\"size\": " + std::to_string(gFile.size()) +
         ", \"list\": null, \"problems\": [" + saverpack::JsonQuoted(what) +
         "], \"warnings\": [], \"verdict\": \"\"}";
}

// The report of the reserved file (see StudioReportJson).
std::string Analyse() {
  try {
    return saverpack::StudioReportJson(Opened());
  } catch (const std::exception& e) {
    gOpened.reset();
    return ErrorJson(std::string("cannot be read: ") + e.what());
  }
}

// The report of the reserved file, which read(offset, length) copies into the reserved room a
// range at a time as the report first needs it (true when it did): a large installer's plain
// members are never read for it. slotFile, entryFile and projectOfOpened read the rest so.
std::string AnalyseReading(emscripten::val read) {
  try {
    gOpened.reset();
    gRead = read;
    gOpened.emplace(gFile, [](size_t offset, size_t count) {
      return gRead(static_cast<double>(offset), static_cast<double>(count)).as<bool>();
    });
  } catch (const std::exception& e) {
    gOpened.reset();
    return ErrorJson(std::string("cannot be read: ") + e.what());
  }
  return Analyse();
}

// {bytes: Uint8Array, problem: string}: the expanded file, or why there is none.
emscripten::val Result(const saverpack::ItemFile& file) {
  emscripten::val out = emscripten::val::object();
  const emscripten::val view = emscripten::val(emscripten::typed_memory_view(file.bytes.size(), file.bytes.data()));
  out.set("bytes", emscripten::val::global("Uint8Array").new_(view));  // a copy the page owns
  out.set("problem", file.problem);
  return out;
}

emscripten::val SlotFile(int slot) {
  try {
    return Result(saverpack::StudioSlotFile(Opened(), slot));
  } catch (const std::exception& e) {
    return Result({{}, e.what()});
  }
}

// Where a used slot's file lies in the file that analyseReading reads, when it is its stored bytes
// as they are (a sound record, stored plain): {offset, size}, for the page to read it straight
// from the chosen file; null otherwise, and for any other file than that one (a build's).
emscripten::val PlainPlace(int slot) {
  try {
    const saverpack::OpenedInstaller& opened = Opened();  // a build's file drops the chosen file's reader
    if (!opened.Header() || slot < 1 || slot >= kMemberCount || gRead.isUndefined()) return emscripten::val::null();
    const saverpack::MemberInfo& member = opened.Member(slot);
    if (!member.used || member.fault != TMemberFault::None || member.record.Compressed) return emscripten::val::null();
    emscripten::val place = emscripten::val::object();
    place.set("offset", static_cast<double>(member.record.StartOffset));
    place.set("size", static_cast<double>(member.stored.size()));
    return place;
  } catch (const std::exception&) {
    return emscripten::val::null();
  }
}

emscripten::val EntryFile(int index) {
  try {
    return Result(saverpack::StudioEntryFile(Opened(), index));
  } catch (const std::exception& e) {
    return Result({{}, e.what()});
  }
}

std::string RectJson(const TRect& r) {
  std::ostringstream out;
  out << "{\"left\": " << r.Left << ", \"top\": " << r.Top << ", \"width\": " << r.Width
      << ", \"height\": " << r.Height << "}";
  return out.str();
}

// The classic look at 96 dpi: a window that can be resized (the licence case) has a 4-pixel
// border, a fixed one 3 pixels; the caption bar is 18 pixels high plus a 1-pixel line.
constexpr int kSizingFrame = 4, kFixedFrame = 3, kCaptionHeight = 19;

// Where the installer's window puts its controls, in client coordinates (the button panel's
// controls made absolute), for the window as laid out: the designed width, as high as its
// content, with or without a licence.
std::string Layout(bool hasLicense) {
  const int frameWidth = hasLicense ? kSizingFrame : kFixedFrame;
  const int clientWidth = kLayoutWidth - 2 * frameWidth;
  const int clientHeight = FittedClientHeight(hasLicense, kMemoMinHeight);
  const TWindowLayout l = LayoutForClient(clientWidth, clientHeight);
  auto inPanel = [&](TRect r) {
    r.Left += l.ButtonPanel.Left;
    r.Top += l.ButtonPanel.Top;
    return r;
  };
  auto inContent = [&](TRect r) {
    r.Left += l.ContentPanel.Left;
    r.Top += l.ContentPanel.Top;
    return r;
  };
  std::ostringstream out;
  out << "{\"frame\": " << frameWidth << ", \"caption_height\": " << kCaptionHeight
      << ", \"client\": " << RectJson({0, 0, clientWidth, clientHeight})
      << ", \"content_panel\": " << RectJson(l.ContentPanel)
      << ", \"image\": " << RectJson(inContent(kImageRect))
      << ", \"memo\": " << RectJson(l.Memo)
      << ", \"button_panel\": " << RectJson(l.ButtonPanel)
      << ", \"progress_bar\": " << RectJson(inPanel(l.ProgressBar))
      << ", \"install_button\": " << RectJson(inPanel(l.InstallButton))
      << ", \"decline_button\": " << RectJson(inPanel(kDeclineButtonRect)) << "}";
  return out.str();
}

emscripten::val Bytes(const std::vector<uint8_t>& bytes) {
  const emscripten::val view = emscripten::val(emscripten::typed_memory_view(bytes.size(), bytes.data()));
  return emscripten::val::global("Uint8Array").new_(view);  // a copy the page owns
}

emscripten::val Lines(const std::string& text) {
  emscripten::val list = emscripten::val::array();
  size_t start = 0;
  while (start <= text.size()) {
    const size_t end = std::min(text.find('\n', start), text.size());
    if (end > start) list.call<void>("push", text.substr(start, end - start));
    start = end + 1;
  }
  return list;
}

// Room for one of the author's files; the page copies its bytes there, then calls storeFile.
uintptr_t ReserveFile(double size) { return ReserveIn(gBuffer, size); }

// The module's file system holds two folders: the author's files, under the names the page gives
// them, and the three programs every build is made from, which only storeTool writes. A name
// from a file (an opened installer's entry, a chosen file) is never a path: "../tools/install.exe"
// would otherwise put a stranger's stub into the author's next build.
const std::filesystem::path kProjectFolder = "/project";
const std::filesystem::path kToolFolder = "/tools";

bool IsStorableName(const std::string& name) {
  return IsPlainFileName(name) &&
         std::none_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

// The reserved bytes as the file name of folder, which must stay inside it; "" or what went wrong.
std::string StoreIn(const std::filesystem::path& folder, const std::string& name) {
  try {
    if (!IsStorableName(name)) return "\"" + name + "\" is not a plain file name";
    const std::filesystem::path file = folder / name;
    if (file.parent_path() != folder) return "\"" + name + "\" is not a plain file name";
    std::filesystem::create_directories(folder);
    saverpack::WriteFile(file, gBuffer);
    gBuffer.clear();
    gBuffer.shrink_to_fit();
    return "";
  } catch (const std::exception& e) {
    return e.what();
  }
}

// One of the author's files (or the project file), by its plain name.
std::string StoreFile(const std::string& name) { return StoreIn(kProjectFolder, name); }

// install.exe, impborl.dll or launcher.exe, as the page fetched it from its own folder.
std::string StoreTool(const std::string& name) {
  if (name != "install.exe" && name != "impborl.dll" && name != "launcher.exe") return name + " is not a tool";
  return StoreIn(kToolFolder, name);
}

emscripten::val Strings(const std::vector<std::string>& texts) {
  emscripten::val list = emscripten::val::array();
  for (const std::string& text : texts) list.call<void>("push", text);
  return list;
}

// A build's answer as the command line would give it: {bytes, problems, warnings}, bytes null
// until set.
emscripten::val BuildAnswer(const std::vector<std::string>& warnings = {}) {
  emscripten::val out = emscripten::val::object();
  out.set("bytes", emscripten::val::null());
  out.set("warnings", Strings(warnings));
  out.set("problems", emscripten::val::array());
  return out;
}

// The command line's words for a build that failed, one a line: its own errors name their file,
// the rest are said of the project file.
emscripten::val BuildProblems(const std::string& projectPath, const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const saverpack::ToolError& e) {
    return Lines(e.what());
  } catch (const std::exception& e) {
    return Lines(projectPath + ": " + e.what());
  }
}

std::string ProjectPath(const std::string& projectName) { return (kProjectFolder / projectName).string(); }

// LoadProject of the stored project file, with the stored tools.
saverpack::Project LoadStored(const std::string& projectName) {
  if (!IsStorableName(projectName)) throw saverpack::ToolError(projectName + ": not a plain file name");
  return saverpack::LoadProject(ProjectPath(projectName), kToolFolder / "impborl.dll", kToolFolder / "launcher.exe");
}

std::vector<std::string> WarningsOf(const saverpack::Project& project, const std::string& projectPath) {
  std::vector<std::string> warnings;
  for (const std::string& warning : saverpack::ProjectWarnings(project))
    warnings.push_back(projectPath + " " + warning);
  return warnings;
}

saverpack::BuildChoices ChoicesFor(const saverpack::Project& project, bool fast, bool plain) {
  saverpack::BuildChoices choices;
  choices.level = fast || project.fast ? dcl::Level::Fast : dcl::Level::Best;
  choices.storePlain = plain;
  return choices;
}

// saverpack build of the stored project file projectName, with the stored tools, every file packed
// here one after the other: {bytes, problems, warnings}, bytes null when there are problems (in
// the command line's words, one a line). plain: nothing imploded, for the window's preview.
// progress(done, total) follows the files packed. The page's imploding build packs in its
// workers instead (startBuild).
emscripten::val BuildProject(const std::string& projectName, bool fast, bool plain, emscripten::val progress) {
  emscripten::val out = BuildAnswer();
  try {
    const saverpack::Project project = LoadStored(projectName);
    out.set("warnings", Strings(WarningsOf(project, ProjectPath(projectName))));
    const auto stub = saverpack::ReadFile(kToolFolder / "install.exe");
    gFile = saverpack::BuildProjectImage(project, stub, ChoicesFor(project, fast, plain),
                                         [&](std::vector<std::function<void()>>& jobs) {
      saverpack::RunInOrder(jobs, [&](size_t done, size_t total) {
        progress(static_cast<double>(done), static_cast<double>(total));
      });
    });
    out.set("bytes", Bytes(gFile));
  } catch (...) {
    out.set("problems", BuildProblems(ProjectPath(projectName), std::current_exception()));
  }
  return out;
}

// The imploding build, its streams packed by the page's pool of workers: startBuild, then for
// each stream streamBytes (handed to a worker) and putPacked or putProblem (what came back), in
// any order, the data file's once its entries are in; then finishBuild. The module keeps the build
// between the calls; a new startBuild drops an unfinished one.
struct PooledBuild {
  std::string projectPath;
  saverpack::Project project;
  std::vector<std::string> warnings;
  std::vector<uint8_t> stub;
  std::optional<saverpack::StagedBuild> staged;  // refers to project
  std::vector<std::exception_ptr> failures;      // per stream: why it has no packed bytes
};
std::unique_ptr<PooledBuild> gPooled;

emscripten::val StreamList(const saverpack::StagedBuild& staged) {
  emscripten::val list = emscripten::val::array();
  for (const saverpack::StreamPlan& plan : staged.Streams()) {
    std::error_code error;
    const auto size = plan.IsDataFile() ? 0 : std::filesystem::file_size(plan.source, error);
    emscripten::val stream = emscripten::val::object();
    stream.set("what", std::filesystem::path(plan.what).filename().string());  // for a packer: no path
    stream.set("size", error ? 0.0 : static_cast<double>(size));
    stream.set("compression", static_cast<int>(plan.compression));
    stream.set("entry", plan.entry.has_value());
    stream.set("dataFile", plan.IsDataFile());
    list.call<void>("push", stream);
  }
  return list;
}

// {streams: [{what, size, compression, entry, dataFile}], fast, problems, warnings}: the streams
// to pack, the data file last (what: the file's name, as its problems name it once the author's
// folder is left out; size: the file's, to share the work out by); problems when the project
// cannot be built at all.
emscripten::val StartBuild(const std::string& projectName, bool fast) {
  gPooled.reset();
  emscripten::val out = BuildAnswer();
  out.set("streams", emscripten::val::array());
  try {
    auto build = std::make_unique<PooledBuild>();
    build->projectPath = ProjectPath(projectName);
    build->project = LoadStored(projectName);
    build->warnings = WarningsOf(build->project, build->projectPath);
    out.set("warnings", Strings(build->warnings));
    build->stub = saverpack::ReadFile(kToolFolder / "install.exe");
    build->staged.emplace(build->project, ChoicesFor(build->project, fast, false));
    build->failures.resize(build->staged->Streams().size());
    out.set("streams", StreamList(*build->staged));
    out.set("fast", build->staged->Choices().level == dcl::Level::Fast);
    gPooled = std::move(build);
  } catch (...) {
    out.set("problems", BuildProblems(ProjectPath(projectName), std::current_exception()));
  }
  return out;
}

bool IsStream(double stream) {
  return gPooled && stream >= 0 && stream < static_cast<double>(gPooled->failures.size());
}

// The plain bytes of a stream to pack, or null when they cannot be had (why is kept for
// finishBuild).
emscripten::val StreamBytes(double stream) {
  if (!IsStream(stream)) return emscripten::val::null();
  const auto i = static_cast<size_t>(stream);
  try {
    return Bytes(gPooled->staged->PlainBytes(i));
  } catch (...) {
    gPooled->failures[i] = std::current_exception();
    return emscripten::val::null();
  }
}

// A stream's packed bytes, copied to the reserved file (reserveFile), and what a worker's
// packReserved said of them; false for no such stream.
bool PutPacked(double stream, bool compressed, double fileSize, double packedSize) {
  if (!IsStream(stream)) return false;
  saverpack::Packed packed;
  packed.stored = std::move(gBuffer);
  gBuffer = {};
  packed.compressed = compressed;
  packed.fileSize = static_cast<int32_t>(fileSize);
  packed.packedSize = static_cast<int32_t>(packedSize);
  const auto i = static_cast<size_t>(stream);
  // A packer's sizes must be those of the bytes it gave back (imploded: its packed size; stored
  // plain: its file size), or the header would point past them.
  const double stored = static_cast<double>(packed.stored.size());
  const bool holds = (compressed ? packedSize == stored : fileSize == stored) && fileSize >= 0 &&
                     fileSize <= INT32_MAX && packedSize >= 0 && packedSize <= INT32_MAX;
  if (!holds)
    gPooled->failures[i] = std::make_exception_ptr(std::runtime_error("a packer's answer does not hold together"));
  else
    gPooled->staged->Put(i, std::move(packed));
  return true;
}

// Why a worker could not pack a stream: in saverpack's own words (tool) or another failure's.
bool PutProblem(double stream, const std::string& problem, bool tool) {
  if (!IsStream(stream)) return false;
  gPooled->failures[static_cast<size_t>(stream)] = tool ? std::make_exception_ptr(saverpack::ToolError(problem))
                                                        : std::make_exception_ptr(std::runtime_error(problem));
  return true;
}

// The started build's answer, as buildProject's: the first stream's failure in the streams'
// order (as the command line reports it), else the installer, which the module then holds as
// the opened file.
emscripten::val FinishBuild() {
  if (!gPooled) return BuildAnswer();
  const std::unique_ptr<PooledBuild> build = std::move(gPooled);
  emscripten::val out = BuildAnswer(build->warnings);
  try {
    for (const std::exception_ptr& failure : build->failures)
      if (failure) std::rethrow_exception(failure);
    gFile = build->staged->Installer(build->stub);
    out.set("bytes", Bytes(gFile));
  } catch (...) {
    out.set("problems", BuildProblems(build->projectPath, std::current_exception()));
  }
  return out;
}

// In a worker of the page's pool: the reserved bytes (reserveFile) packed with the compression a
// stream of startBuild's has and the level. {bytes, compressed, fileSize, packedSize, problem,
// tool}: problem empty, or why not, tool when in saverpack's own words. what names the stream in
// a problem.
emscripten::val PackReserved(const std::string& what, int compression, bool fast) {
  emscripten::val out = emscripten::val::object();
  out.set("problem", std::string());
  try {
    if (compression < 0 || compression > static_cast<int>(saverpack::Compression::Never))
      throw std::invalid_argument("no such compression");
    saverpack::Packed packed = saverpack::Pack(std::move(gBuffer), static_cast<saverpack::Compression>(compression),
                                               what, fast ? dcl::Level::Fast : dcl::Level::Best);
    gBuffer = {};
    out.set("bytes", Bytes(packed.stored));
    out.set("compressed", packed.compressed);
    out.set("fileSize", packed.fileSize);
    out.set("packedSize", packed.packedSize);
  } catch (const saverpack::ToolError& e) {
    out.set("problem", std::string(e.what()));
    out.set("tool", true);
  } catch (const std::exception& e) {
    out.set("problem", std::string(e.what()));
    out.set("tool", false);
  }
  return out;
}

// saverpack extract --project of the opened installer: {text, files: [{path, bytes}], problems}.
emscripten::val ProjectOfOpened(const std::string& installerName) {
  emscripten::val out = emscripten::val::object();
  try {
    const saverpack::ExtractedProject project = saverpack::ProjectOfInstaller(Opened(), installerName);
    emscripten::val files = emscripten::val::array();
    for (const saverpack::ProjectFile& file : project.files) {
      emscripten::val entry = emscripten::val::object();
      entry.set("path", file.path);
      entry.set("bytes", Bytes(file.bytes));
      files.call<void>("push", entry);
    }
    out.set("text", project.text);
    out.set("files", files);
    out.set("problems", Strings(project.problems));
  } catch (const std::exception& e) {
    out.set("text", std::string());
    out.set("files", emscripten::val::array());
    out.set("problems", Lines(std::string("cannot be read: ") + e.what()));
  }
  return out;
}

}  // namespace

EMSCRIPTEN_BINDINGS(studio) {
  emscripten::function("reserveFile", &ReserveFile);
  emscripten::function("storeFile", &StoreFile);
  emscripten::function("storeTool", &StoreTool);
  emscripten::function("buildProject", &BuildProject);
  emscripten::function("startBuild", &StartBuild);
  emscripten::function("streamBytes", &StreamBytes);
  emscripten::function("putPacked", &PutPacked);
  emscripten::function("putProblem", &PutProblem);
  emscripten::function("finishBuild", &FinishBuild);
  emscripten::function("packReserved", &PackReserved);
  emscripten::function("projectOfOpened", &ProjectOfOpened);
  emscripten::function("reserve", &Reserve);
  emscripten::function("analyse", &Analyse);
  emscripten::function("analyseReading", &AnalyseReading);
  emscripten::function("plainPlace", &PlainPlace);
  emscripten::function("slotFile", &SlotFile);
  emscripten::function("entryFile", &EntryFile);
  emscripten::function("layout", &Layout);
}
