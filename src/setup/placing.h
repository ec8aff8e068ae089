// The installation's steps that turn the extracted data file into the screen saver's files.
#pragma once
#include "dataStructures_shared.h"
#include "status_codes.h"

// Checks that the 1224-byte header of the data file at DataFilePath can be read; a failure (100
// for a short file) is shown with the file error box. The header itself is read again with the
// table when the data file is expanded.
TStatus ReadDataFileHeader();

// Writes every entry of the data file into SaverDir: from its chunk, or, for a copied entry, as
// a copy of the content movie (entry 1) or of the first entry's file. Closes the data file in
// every case, marks the first entry's file for archiving, and makes one progress step.
TStatus ExpandDataFile();
