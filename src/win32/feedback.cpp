#include "feedback.h"

namespace {

TFeedbackSink* Sink = nullptr;

}  // namespace

void SetFeedbackSink(TFeedbackSink* sink) { Sink = sink; }

void SetStatus(const std::string& text) {
  if (Sink) Sink->SetStatus(text);
}
void StepProgress() {
  if (Sink) Sink->StepProgress();
}
void Pause() {
  if (Sink) Sink->Pause();
}
void BringInstallerWindowBack() {
  if (Sink) Sink->BringBack();
}
