// What list and verify say about an installer, as text: shared by the command line and the
// studio's WebAssembly module, so that both say the same words.
#pragma once
#include <string>
#include <vector>

#include "opened_installer.h"

namespace saverpack {

// A Windows-1252 text as a JSON string literal (UTF-8, escaped).
std::string JsonQuoted(const std::string& cp1252);
// The same for a text that is UTF-8 already (verify's words, which quote names converted).
std::string JsonQuotedUtf8(const std::string& utf8);

// SignatureLine, UninstallLine and ListJson take an installer with a payload header.

// "Signature: none", or "Signature: Authenticode, N bytes at M, signed by ..." with its problem.
std::string SignatureLine(const OpenedInstaller& opened);

// Whether the uninstall entry, "<Windows>\<SaverName>.scr /u", runs the program slot's file.
bool EntryRunsTheProgram(const TPayloadHeader& header);

// "Uninstall: ..." what the uninstall entry will run.
std::string UninstallLine(const OpenedInstaller& opened);

// The document `saverpack list --json` prints.
std::string ListJson(const OpenedInstaller& opened);

struct VerifyReport {
  std::vector<std::string> problems;  // each stops or spoils an installation
  std::vector<std::string> warnings;  // sound, but worth knowing
  std::string verdict;                // "sound; Signature: ..." when there are no problems
  bool Sound() const { return problems.empty(); }
};

// Every check verify makes, with its words (without the file name the command puts before them).
VerifyReport VerifyReportOf(const OpenedInstaller& opened);

}  // namespace saverpack
