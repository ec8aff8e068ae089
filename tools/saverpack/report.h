// What list and verify say about an installer, as text: shared by the command line and the
// studio's WebAssembly module, so that both say the same words.
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "dataStructures_shared.h"

namespace saverpack {

// A Windows-1252 text as a JSON string literal (UTF-8, escaped).
std::string JsonQuoted(const std::string& cp1252);
// The same for a text that is UTF-8 already (verify's words, which quote names converted).
std::string JsonQuotedUtf8(const std::string& utf8);

// "Signature: none", or "Signature: Authenticode, N bytes at M, signed by ..." with its problem.
std::string SignatureLine(const TPayloadHeader& header, std::span<const uint8_t> file);

// Whether the uninstall entry, "<Windows>\<SaverName>.scr /u", runs the program slot's file.
bool EntryRunsTheProgram(const TPayloadHeader& header);

// "Uninstall: ..." what the uninstall entry will run.
std::string UninstallLine(const TPayloadHeader& header, std::span<const uint8_t> file);

// The document `saverpack list --json` prints.
std::string ListJson(const TPayloadHeader& header, std::span<const uint8_t> file);

struct VerifyReport {
  std::vector<std::string> problems;  // each stops or spoils an installation
  std::vector<std::string> warnings;  // sound, but worth knowing
  std::string verdict;                // "sound; Signature: ..." when there are no problems
  bool Sound() const { return problems.empty(); }
};

// Every check verify makes, with its words (without the file name the command puts before them).
VerifyReport VerifyReportOf(std::span<const uint8_t> file);

}  // namespace saverpack
