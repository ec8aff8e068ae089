#include "messages.h"

std::string TrimSystemText(std::string_view raw) {
  size_t end = raw.size();
  while (end > 0) {
    const auto c = static_cast<unsigned char>(raw[end - 1]);
    if (c > ' ' && c != '.' && c != 0x7f) break;
    --end;
  }
  return std::string(raw.substr(0, end));
}

std::string FileErrorText(TStatus code, std::string_view name, std::string_view systemText) {
  switch (code) {
    case kSaverFileBusy:
      return "Setup Error: Screen Saver file is busy.\r\n\r\n"
             "Please close the screen saver control panel and try again.";
    case kFileBusy:
      return "Installation Error: \r\n\r\nFile " + std::string(name) +
             " is busy and cannot be replaced. Please close any other application that may be "
             "using this file and try again.";
    case kOk:
      return "Installation Error: Unspecified error.";
    default:
      return "Installation Error: Problem using " + std::string(name) + ". \r\n\r\n" +
             std::string(systemText);
  }
}

std::string SystemErrorMessage(std::string_view text, std::string_view systemText) {
  return std::string(text) + "\r\n\r\n" + std::string(systemText);
}

std::string GeneralErrorText(std::string_view message) {
  std::string text(message);
  if (!text.empty() && static_cast<unsigned char>(text.back()) > '.') text += '.';
  return text;
}

std::string CorruptedInstallerText(TStatus code) {
  return "Installer file is corrupted. Error " + std::to_string(code) + ". ";
}

std::string LinesWithCrLf(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      out += "\r\n";
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      out += c;
    }
  }
  return out;
}
