// The run's paths, its staging copy and its journal. Set once per run, never changed after.
#pragma once
#include <cstdint>
#include <string>

#include "dataStructures_shared.h"
#include "run_state.h"
#include "status_codes.h"

// Opens the running installer's file by its wide name (RunningInstaller) and fixes ExePath, its
// ANSI spelling for the boxes: the program's first step, before its window.
void HoldRunningInstaller();

// Holds the running installer's file unless it is held already, then fixes WindowsDir,
// StagingDir and StagingFile. The staging folder is one of our own: "QVF temp" made now for
// Administrators and SYSTEM alone, or there already and as closed, else a fresh folder beside it
// (a failure shows up when the copy fails, with the system's cause of the last attempt).
void PreparePaths();

// Copies the running file, through RunningInstaller, to StagingFile, clearing an old file there
// first, through a handle to a new file that is then held (StagingCopy) and deletes the file
// when it closes. Reports its own failures; returns 0 or the failure's
// code.
TStatus MakeStagingCopy();

// Closes the staging copy, which removes it, and the running installer's file, and removes the
// staging folder when no other installer's copy is in it.
void RemoveStagingCopy();

// Fixes SaverDir (from SaverName), SaverIniPath and DataFilePath, creates SaverDir and opens the
// journal with the journal itself as entry "0".
void PrepareSaverDir(const TPayloadHeader& header);
