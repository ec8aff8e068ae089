#include "replace_files.h"

#include <windows.h>

#include "error_boxes.h"
#include "path_rules.h"

namespace {

bool FileExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Deletes the file, and once more after resetting its attributes (a read-only file).
bool DeleteTwice(const std::string& path) {
  if (DeleteFileA(path.c_str())) return true;
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  return DeleteFileA(path.c_str()) != 0;
}

TStatus Settle(TStatus result, const std::string& path, bool showDialog) {
  if (result != kOk && showDialog) ShowFileError(result, path);
  return result;
}

}  // namespace

TStatus ReplaceFile(const std::string& path, bool showDialog, int32_t attempts) {
  TStatus result = kNoAttempt;
  for (; attempts > 0 && result != kOk; --attempts) {
    if (!FileExists(path) || DeleteTwice(path)) result = kOk;
    else result = HasScreenSaverExtension(path) ? kSaverFileBusy : kFileBusy;
  }
  return Settle(result, path, showDialog);
}

TStatus RemoveFile(const std::string& path, bool showDialog) {
  const TStatus result = !FileExists(path) || DeleteTwice(path) ? kOk : kFileBusy;
  return Settle(result, path, showDialog);
}
