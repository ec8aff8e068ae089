// Every message the installer shows goes through these operations, and they all go through one
// presenter. The real presenter shows modal, topmost boxes; tests put their own in its place to
// capture the texts.
#pragma once
#include <string>
#include <string_view>

#include "status_codes.h"

enum class TBoxKind { Error, Information };

class TMessagePresenter {
 public:
  virtual ~TMessagePresenter() = default;
  // Our own box: caption "Error" or "Information", one "&Abort" button.
  virtual void ShowBox(const std::string& text, TBoxKind kind) = 0;
  // The system's message box with the stop icon and "OK".
  virtual void ShowGeneral(const std::string& caption, const std::string& text) = 0;
};

// nullptr puts the real presenter back.
void SetMessagePresenter(TMessagePresenter* presenter);

void ShowErrorBox(const std::string& text, TBoxKind kind = TBoxKind::Error);
std::string SystemErrorText(TStatus code);
void ShowFileError(TStatus code, std::string_view name);
void ShowSystemError(TStatus code, std::string_view text);
void ShowGeneralError(std::string_view message);

// The real box, shown modally; returns when it was closed by its button or its close box.
void RunErrorBoxDialog(const std::string& text, TBoxKind kind);
