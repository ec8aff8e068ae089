// The payload subsystem's state of a run, in one place: its paths, its journal, the payload
// header and the open data file. Each is set by the code that owns it (run_paths, the journal
// itself, member_extraction, dataFunctions_shared) and read by the installation's steps.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "dataStructures_shared.h"
#include "win32_handles.h"

struct TRunPaths {
  std::string WindowsDir;    // ends in "\"
  std::string ExePath;       // the running installer's file in ANSI, for texts alone: characters
                             // outside the code page become look-alikes, another file's name
  std::string StagingDir;    // WindowsDir + "TEMP\QVF temp" where that folder is ours, else a
                             // fresh one of ours beside it, or empty when none could be had;
                             // no trailing "\"
  std::string StagingFile;   // StagingDir + "\tempN.dat", the first free N from 1
  std::string SaverName;     // the header's name up to its first NUL, set when the header is read
  std::string SaverDir;      // WindowsDir + name (or "TempSaverDir") + " dir\"
  std::string SaverIniPath;  // SaverDir + "saver.ini", the journal
  std::string DataFilePath;  // SaverDir + slot 8's name
};

// The "Files" section of saver.ini: every path the run creates, under the keys "0", "1", ...
// Each write goes to disk at once; a refused write throws EGeneralFailure
// ("Unable to write to <journal>").
class TFilesJournal {
 public:
  // Opening starts the keys again at "0"; closing ends the writes until the next opening.
  void Open(const std::string& path) {
    path_ = path;
    JournalIndex = 0;
  }
  void Close() { path_.clear(); }
  const std::string& Path() const { return path_; }
  // Writes JournalIndex = value and increases JournalIndex.
  void Record(const std::string& value);

  int32_t JournalIndex = 0;  // the next key

 private:
  std::string path_;
};

struct TDataFileReader {
  FileHandle File;
  bool Open = false;
  TDataFileHeader Header{};
  TDataFileEntry Table[kMaxDataEntries + 1]{};  // entries 1..108; entry 0 stays zero
};

extern TRunPaths RunPaths;
// The running installer's file, opened first thing for reading and shared for reading alone, so
// that nobody renames, replaces or writes it while the run reads it; the staging copy is made
// from it.
extern FileHandle RunningInstaller;
// The staging folder, held from its choice until the window closes, without delete sharing: nobody
// removes it or puts a link in its place meanwhile.
extern FileHandle StagingFolder;
// Why no staging folder of ours could be had (StagingDir empty): the system's code of the last
// attempt that failed, 0 when none did.
extern DWORD StagingFolderFailure;
// The staging copy, written through this handle and held from its making until the window closes,
// when closing it deletes the file: others may read it (sharing delete) but not write or rename it.
extern FileHandle StagingCopy;
extern TFilesJournal FilesJournal;
// The payload header, read once per run; the only change ever made to it is the picture's
// ".bmp" name in picture mode.
extern TPayloadHeader PayloadHeader;
extern TDataFileReader DataFileReader;

// A silent run: no window and no feedback. Read from the header, where the fact is kept.
inline bool SilentRun() { return PayloadHeader.ContentMode == cmSilent; }
