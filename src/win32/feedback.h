// The feedback that long work gives the user: the status line, the progress bar and the
// one-second pause that keeps the window alive. The work reports through these functions; a
// window that shows the feedback puts itself in as the sink. Without one (a silent run, the
// module tests) they do nothing.
#pragma once
#include <string>

class TFeedbackSink {
 public:
  virtual ~TFeedbackSink() = default;
  virtual void SetStatus(const std::string& text) = 0;
  virtual void StepProgress() = 0;
  virtual void Pause() = 0;
  virtual void BringBack() = 0;
};

// nullptr puts back the sink that does nothing.
void SetFeedbackSink(TFeedbackSink* sink);

void SetStatus(const std::string& text);
void StepProgress();
void Pause();
// After Display Properties has opened: the installer window takes the focus and comes to the
// front again.
void BringInstallerWindowBack();
