// The studio's WebAssembly module: the page's one way into the installer's format. It holds one
// opened file and answers with the very functions saverpack's list, verify and extract use.
// Errors come back as values (a problem text, an empty result); nothing aborts the module.
#include <emscripten/bind.h>
#include <emscripten/val.h>

#include <cstdint>
#include <exception>
#include <sstream>
#include <string>
#include <vector>

#include "layout_rules.h"
#include "report.h"
#include "studio_view.h"

namespace {

std::vector<uint8_t> gFile;  // the opened installer's bytes

// Room for a file of this size; the page copies the file's bytes to the address it gets back,
// piece by piece as it reads them, then calls Analyse.
uintptr_t Reserve(double size) {
  gFile.clear();
  gFile.shrink_to_fit();
  if (!(size >= 0) || size > 2000.0 * 1024 * 1024) return 0;
  try {
    gFile.resize(static_cast<size_t>(size));
  } catch (const std::exception&) {
    return 0;  // no memory for it
  }
  return reinterpret_cast<uintptr_t>(gFile.data());
}

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

}  // namespace

EMSCRIPTEN_BINDINGS(studio) {
  emscripten::function("reserve", &Reserve);
  emscripten::function("analyse", &Analyse);
  emscripten::function("slotFile", &SlotFile);
  emscripten::function("entryFile", &EntryFile);
  emscripten::function("layout", &Layout);
}
