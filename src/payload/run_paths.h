// The run's paths, its staging copy and its journal. Set once per run, never changed after.
#pragma once
#include <cstdint>
#include <string>

#include "dataStructures_shared.h"
#include "run_state.h"
#include "status_codes.h"

// Fixes WindowsDir, ExePath, StagingDir and StagingFile; creates the staging folders (a failed
// creation shows up when the copy fails), the last for Administrators and SYSTEM alone.
void PreparePaths();

// Copies the running file to StagingFile, clearing an old file there first, through a handle to a
// new file that is then held (StagingCopy). Reports its own failures; returns 0 or the failure's
// code.
TStatus MakeStagingCopy();

// Releases and removes the staging copy, and the staging folder when no other installer's copy
// is in it.
void RemoveStagingCopy();

// Fixes SaverDir (from SaverName), SaverIniPath and DataFilePath, creates SaverDir and opens the
// journal with the journal itself as entry "0".
void PrepareSaverDir(const TPayloadHeader& header);
