#include "member_extraction.h"

#include <memory>
#include <new>
#include <vector>

#include "error_boxes.h"
#include "feedback.h"
#include "file_io.h"
#include "general_error.h"
#include "path_rules.h"
#include "payload_checks.h"
#include "pk_stuff.h"
#include "replace_files.h"
#include "run_paths.h"
#include "win32_handles.h"

namespace {

// The installer file a read goes to: the held staging copy itself, or another file (a staging
// copy this run did not make, as the module tests write) opened for reading.
struct InstallerFile {
  FileHandle owned;
  HANDLE handle;
  HANDLE Get() const { return handle; }
};

InstallerFile OpenInstaller(const std::string& path) {
  if (StagingCopy && path == RunPaths.StagingFile) return {FileHandle(), StagingCopy.Get()};
  FileHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) RaiseGeneralFailure("Cannot open file", path);
  HANDLE handle = file.Get();
  return {std::move(file), handle};
}

// The stored bytes of a member whose record has been checked against the file.
TStatus ReadStored(HANDLE installer, const TPayloadMember& member, std::vector<uint8_t>& bytes) {
  try {
    bytes.resize(static_cast<size_t>(StoredLength(member)));
  } catch (const std::bad_alloc&) {
    return kNoMemory;
  } catch (const std::length_error&) {
    return kNoMemory;
  }
  const TStatus sought = SeekTo(installer, member.StartOffset);
  if (sought != kOk) return sought;
  return ReadExactly(installer, bytes.data(), bytes.size(), kShortMemberIo);
}

TStatus WriteImploded(HANDLE installer, const TPayloadMember& member, const std::string& path) {
  std::vector<uint8_t> stored;
  TCompressor compressor;
  if (!compressor.LibraryLoaded()) return kCompressorUnusable;
  const TStatus read = ReadStored(installer, member, stored);
  if (read != kOk) return read;
  return compressor.ExpandChecked(path, stored, member.FileSize);
}

TStatus WritePlain(HANDLE installer, const TPayloadMember& member, const std::string& path) {
  std::vector<uint8_t> stored;
  const TStatus read = ReadStored(installer, member, stored);
  if (read != kOk) return read;
  FileHandle out(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!out) return static_cast<TStatus>(GetLastError());
  const TStatus written = WriteExactly(out.Get(), stored.data(), stored.size(), kShortMemberIo);
  if (written != kOk) return written;
  if (!CloseHandle(out.Release())) return static_cast<TStatus>(GetLastError());
  return kOk;
}

// What a record's fault becomes: a name or destination that cannot be placed is refused before
// anything is touched; offsets that cannot be read are a short read once the way is cleared.
TStatus FaultStatus(TMemberFault fault) {
  switch (fault) {
    case TMemberFault::NameNotPlain: return kBadMemberName;
    case TMemberFault::BadDestination: return kBadDestination;
    case TMemberFault::ReversedOffsets:
    case TMemberFault::OutsideFile: return kShortMemberIo;
    case TMemberFault::None: break;
  }
  return kOk;
}

TStatus ClearAndWrite(HANDLE installer, const TPayloadMember& member, const std::string& path,
                      bool showStatus) {
  const TMemberFault fault = CheckMemberRecord(member, FileSizeOf(installer));
  if (fault == TMemberFault::NameNotPlain || fault == TMemberFault::BadDestination)
    return FaultStatus(fault);
  if (showStatus) StepProgress();
  const TStatus cleared = HasLibraryExtension(path) ? RemoveFile(path, false)
                                                    : ReplaceFile(path, true, ReplaceAttempts);
  if (cleared != kOk) return cleared;
  if (fault != TMemberFault::None) return FaultStatus(fault);
  return member.Compressed ? WriteImploded(installer, member, path)
                           : WritePlain(installer, member, path);
}

TStatus ExtractSingle(int slot) {
  if (IsEmptySlot(PayloadHeader.Members[slot])) return kEmptySlot;
  const InstallerFile installer = OpenInstaller(RunPaths.StagingFile);
  return ExtractMember(installer.Get(), slot, false, true);
}

}  // namespace

std::string DestinationPathOf(const TPayloadMember& member) {
  const auto destination = MemberDestination(member);
  if (!destination) return MemberFileName(member);
  const std::string& folder =
      destination->Folder == TDestinationFolder::Windows ? RunPaths.WindowsDir : RunPaths.SaverDir;
  return folder + destination->FileName;
}

TStatus ExtractMember(HANDLE installer, int slot, bool showStatus, bool writeJournal) {
  if (showStatus) SetStatus("Writing screen saver files...");
  const TPayloadMember& member = PayloadHeader.Members[slot];
  std::string path;
  TStatus status = kEmptySlot;
  if (!IsEmptySlot(member)) {
    path = DestinationPathOf(member);
    status = ClearAndWrite(installer, member, path, showStatus);
  }
  if (status == kFileBusy) status = kOk;  // the busy file stays as it was
  if (status != kOk && status != kSaverFileBusy)
    ShowFileError(status, IsPlainFileName(MemberFileName(member)) ? path : MemberFileName(member));
  if (writeJournal && status == kOk) FilesJournal.Record(path);
  return status;
}

TStatus ReadPayloadHeader() {
  const InstallerFile staging = OpenInstaller(RunPaths.StagingFile);
  uint8_t bytes[kPayloadHeaderSize];
  TStatus status = kShortPayloadHeader;
  if (SeekTo(staging.Get(), kPayloadOffset) == kOk &&
      ReadExactly(staging.Get(), bytes, sizeof bytes, kShortMemberIo) == kOk) {
    PayloadHeader = ParsePayloadHeader(bytes);
    RunPaths.SaverName = SaverNameOf(PayloadHeader);
    status = ExtractMember(staging.Get(), msCompressionLib, false, false);
  }
  if (status != kOk) ShowFileError(status, RunPaths.StagingFile);
  return status;
}

TStatus ExtractContent(uint8_t contentMode) {
  TPayloadMember& content = PayloadHeader.Members[msContent];
  if (IsEmptySlot(content)) return kEmptySlot;
  if (contentMode == cmPicture)
    SetMemberFileName(content, ReplaceExtension(MemberFileName(content), ".bmp"));
  return ExtractSingle(msContent);
}

TStatus ExtractLicense() { return ExtractSingle(msLicense); }
TStatus ExtractDocument() { return ExtractSingle(msDocument); }
TStatus ExtractFlashInstaller() { return ExtractSingle(msFlashInstaller); }

TStatus ExtractRemainingMembers(const std::string& path) {
  const int first = PayloadHeader.ShowDocument ? msDocument : msSaverEngine;
  const InstallerFile installer = OpenInstaller(path);
  FilesJournal.Record(path);
  TStatus status = kOk;
  for (int slot = first; slot <= msSaverLib2 && status == kOk; ++slot)
    status = ExtractMember(installer.Get(), slot, true, true);
  return status;
}
