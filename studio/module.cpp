// The studio's WebAssembly module: the page's one way into the installer's format. It holds one
// opened file and answers with the very functions saverpack's list, verify and extract use.
// Errors come back as values (a problem text, an empty result); nothing aborts the module.
#include <emscripten/bind.h>
#include <emscripten/val.h>

#include <cstdint>
#include <algorithm>
#include <exception>
#include <filesystem>
#include <sstream>
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
uintptr_t Reserve(double size) { return ReserveIn(gFile, size); }

std::string ErrorJson(const std::string& what) {
  return "{\"size\": " + std::to_string(gFile.size()) +
         ", \"list\": null, \"problems\": [" + saverpack::JsonQuoted(what) +
         "], \"warnings\": [], \"verdict\": \"\"}";
}

// The report of the reserved file (see StudioReportJson).
std::string Analyse() {
  try {
    return saverpack::StudioReportJson(gFile);
  } catch (const std::exception& e) {
    return ErrorJson(std::string("cannot be read: ") + e.what());
  }
}

// {bytes: Uint8Array, problem: string}: the expanded file, or why there is none.
emscripten::val Result(const saverpack::MemberContent& content) {
  emscripten::val out = emscripten::val::object();
  const emscripten::val view =
      emscripten::val(emscripten::typed_memory_view(content.bytes.size(), content.bytes.data()));
  out.set("bytes", emscripten::val::global("Uint8Array").new_(view));  // a copy the page owns
  out.set("problem", content.problem);
  return out;
}

emscripten::val SlotFile(int slot) {
  try {
    return Result(saverpack::StudioSlotFile(gFile, slot));
  } catch (const std::exception& e) {
    return Result({{}, e.what()});
  }
}

emscripten::val EntryFile(int index) {
  try {
    return Result(saverpack::StudioEntryFile(gFile, index));
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

// saverpack build of the stored project file projectName, with the stored tools: {bytes,
// problems, warnings}, bytes null when there are problems (in the command line's words, one a
// line). plain: nothing imploded, for the window's preview. progress(done, total) follows the
// files packed.
emscripten::val BuildProject(const std::string& projectName, bool fast, bool plain, emscripten::val progress) {
  emscripten::val out = emscripten::val::object();
  out.set("bytes", emscripten::val::null());
  out.set("warnings", emscripten::val::array());
  out.set("problems", emscripten::val::array());
  const std::string projectPath = (kProjectFolder / projectName).string();
  try {
    if (!IsStorableName(projectName)) throw saverpack::ToolError(projectName + ": not a plain file name");
    const std::filesystem::path& folder = kToolFolder;
    const saverpack::Project project = saverpack::LoadProject(projectPath, folder / "impborl.dll", folder / "launcher.exe");
    emscripten::val warnings = emscripten::val::array();
    for (const std::string& warning : saverpack::ProjectWarnings(project))
      warnings.call<void>("push", projectPath + " " + warning);
    out.set("warnings", warnings);
    saverpack::BuildChoices choices;
    choices.level = fast || project.fast ? dcl::Level::Fast : dcl::Level::Best;
    choices.storePlain = plain;
    const auto stub = saverpack::ReadFile(folder / "install.exe");
    gFile = saverpack::BuildProjectImage(project, stub, choices, [&](std::vector<std::function<void()>>& jobs) {
      saverpack::RunInOrder(jobs, [&](size_t done, size_t total) {
        progress(static_cast<double>(done), static_cast<double>(total));
      });
    });
    out.set("bytes", Bytes(gFile));
  } catch (const saverpack::ToolError& e) {
    out.set("problems", Lines(e.what()));
  } catch (const PayloadLayoutError& e) {
    out.set("problems", Lines(projectPath + ": " + e.what()));
  } catch (const std::exception& e) {
    out.set("problems", Lines(projectPath + ": " + e.what()));
  }
  return out;
}

// saverpack extract --project of the opened installer: {text, files: [{path, bytes}], problems}.
emscripten::val ProjectOfOpened(const std::string& installerName) {
  emscripten::val out = emscripten::val::object();
  try {
    const saverpack::ExtractedProject project = saverpack::ProjectOfInstaller(gFile, installerName);
    emscripten::val problems = emscripten::val::array();
    for (const std::string& problem : project.problems) problems.call<void>("push", problem);
    emscripten::val files = emscripten::val::array();
    for (const saverpack::ProjectFile& file : project.files) {
      emscripten::val entry = emscripten::val::object();
      entry.set("path", file.path);
      entry.set("bytes", Bytes(file.bytes));
      files.call<void>("push", entry);
    }
    out.set("text", project.text);
    out.set("files", files);
    out.set("problems", problems);
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
  emscripten::function("projectOfOpened", &ProjectOfOpened);
  emscripten::function("reserve", &Reserve);
  emscripten::function("analyse", &Analyse);
  emscripten::function("slotFile", &SlotFile);
  emscripten::function("entryFile", &EntryFile);
  emscripten::function("layout", &Layout);
}
