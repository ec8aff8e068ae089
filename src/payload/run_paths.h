// The run's paths, its staging copy and its journal. Set once per run, never changed after.
#pragma once
#include <cstdint>
#include <string>

#include "dataStructures_shared.h"
#include "status_codes.h"

struct TRunPaths {
  std::string WindowsDir;    // ends in "\"
  std::string ExePath;       // the running installer file
  std::string StagingDir;    // WindowsDir + "TEMP\QVF temp", no trailing "\"
  std::string StagingFile;   // StagingDir + "\tempN.dat", the first free N from 1
  std::string SaverName;     // the header's name up to its first NUL
  std::string SaverDir;      // WindowsDir + name (or "TempSaverDir") + " dir\"
  std::string SaverIniPath;  // SaverDir + "saver.ini", the journal
  std::string DataFilePath;  // SaverDir + slot 8's name
};
extern TRunPaths RunPaths;

// The "Files" section of saver.ini: every path the run creates, under the keys "0", "1", ...
// Each write goes to disk at once; a refused write throws EGeneralFailure
// ("Unable to write to <journal>").
class TFilesJournal {
 public:
  void Open(const std::string& path) { path_ = path; }
  const std::string& Path() const { return path_; }
  // Writes JournalIndex = value and increases JournalIndex.
  void Record(const std::string& value);

  int32_t JournalIndex = 0;  // the next key; reset to 0 at the start of every run

 private:
  std::string path_;
};
extern TFilesJournal FilesJournal;

// Fixes WindowsDir, ExePath, StagingDir and StagingFile; creates the staging folders (a failed
// creation shows up when the copy fails).
void PreparePaths();

// Copies the running file to StagingFile, clearing an old file there first. Reports its own
// failures; returns 0 or the failure's code.
TStatus MakeStagingCopy();

// Fixes SaverName, SaverDir, SaverIniPath and DataFilePath, creates SaverDir and opens the
// journal with the journal itself as entry "0".
void PrepareSaverDir(const TPayloadHeader& header);
