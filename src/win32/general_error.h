// The one exception of the installer: a failure that no operation turns into a status code
// (a stream that cannot be opened, a profile or registry write the system refuses, a picture or
// text that cannot be loaded). It ends the event handler or the start-up in which it arose and
// is shown there by ShowGeneralError.
#pragma once
#include <stdexcept>
#include <string>

class EGeneralFailure : public std::runtime_error {
 public:
  explicit EGeneralFailure(const std::string& message) : std::runtime_error(message) {}
};

// Throws EGeneralFailure with "<what> <subject>", e.g. "Unable to write to C:\x\saver.ini".
[[noreturn]] inline void RaiseGeneralFailure(const std::string& what, const std::string& subject) {
  throw EGeneralFailure(what + " " + subject);
}
