// The payload that the authoring side appends behind the installer program: one definition of
// its records, shared by the installer, saverpack and the tests.
//
// The installer file is the program (kPayloadOffset bytes), then TPayloadHeader, then the
// stored bytes of up to eleven members, found only through the offsets in the header. Every
// offset is absolute in the whole file. Integers are little-endian signed 32-bit, texts are
// single-byte Windows (ANSI) characters.
#pragma once
#include <bit>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

static_assert(std::endian::native == std::endian::little,
              "records are read by copying their bytes");

constexpr int32_t kPayloadOffset = 0x66a00;  // the installer program's padded size
constexpr int kMemberCount = 11;

// Slot numbers: the slot, not the file name, says what a member is for.
enum TMemberSlot : int {
  msStub = 0,            // the installer program itself
  msCompressionLib = 1,  // impborl.dll, written to the Windows folder first of all
  msFlashInstaller = 2,  // flashax.exe, only when the Flash Player is too old
  msContent = 3,         // the picture or Flash movie shown in the window
  msLicense = 4,         // the licence text
  msDocument = 5,        // a document opened after installation
  msSaverEngine = 6,     // the screen-saver program (.scr)
  msExtraFile = 7,
  msDataFile = 8,        // the screen-saver data file
  msSaverLib1 = 9,
  msSaverLib2 = 10,
};

// What the window shows; any value not listed shows nothing and installs normally.
enum TContentMode : uint8_t {
  cmPicture = 1,
  cmFlashMovie = 2,
  cmFlashMovieToo = 3,
  cmSilent = 4,
};

#pragma pack(push, 1)
struct TPayloadMember {
  uint8_t FileName[256];  // length byte, then the name; length 0: the slot is empty
  int32_t StartOffset;    // first stored byte
  int32_t EndOffset;      // last stored byte, inclusive
  int32_t Destination;    // 1..6, see MemberDestination
  uint8_t Compressed;     // nonzero: an imploded stream of FileSize bytes once expanded
  uint8_t Padding[3];     // not significant; leftovers occur
  int32_t PackedSize;     // informational, never read by the installer
  int32_t FileSize;       // size of the file once written
};

struct TPayloadHeader {
  uint8_t ContentMode;
  uint8_t HasLicense;
  uint8_t ShowDocument;
  uint8_t OpenDisplayProperties;
  char SaverName[64];     // ended by the first NUL when shorter
  TPayloadMember Members[kMemberCount];
};
#pragma pack(pop)

static_assert(sizeof(TPayloadMember) == 280);
static_assert(offsetof(TPayloadMember, StartOffset) == 256);
static_assert(offsetof(TPayloadMember, EndOffset) == 260);
static_assert(offsetof(TPayloadMember, Destination) == 264);
static_assert(offsetof(TPayloadMember, Compressed) == 268);
static_assert(offsetof(TPayloadMember, PackedSize) == 272);
static_assert(offsetof(TPayloadMember, FileSize) == 276);
static_assert(sizeof(TPayloadHeader) == 3148);
static_assert(offsetof(TPayloadHeader, SaverName) == 4);
static_assert(offsetof(TPayloadHeader, Members) == 68);

constexpr int32_t kPayloadHeaderSize = sizeof(TPayloadHeader);
constexpr int32_t kFirstMemberOffset = kPayloadOffset + kPayloadHeaderSize;

// Copies the header out of exactly kPayloadHeaderSize bytes.
TPayloadHeader ParsePayloadHeader(const uint8_t* bytes);

// The member's name, read only up to its length byte.
std::string MemberFileName(const TPayloadMember& member);
void SetMemberFileName(TPayloadMember& member, std::string_view name);
inline bool IsEmptySlot(const TPayloadMember& member) { return member.FileName[0] == 0; }

// The screen saver's name, up to its first NUL within the 64 bytes.
std::string SaverNameOf(const TPayloadHeader& header);

// Stored length, EndOffset - StartOffset + 1, computed without overflow; negative when the
// offsets are reversed.
int64_t StoredLength(const TPayloadMember& member);

// A name that stays inside the folder it is written to: no "\", "/" or ":", not "." or "..",
// not empty.
bool IsPlainFileName(std::string_view name);

enum class TDestinationFolder { Saver, Windows };

struct TMemberDestination {
  TDestinationFolder Folder;
  std::string FileName;  // the name the file gets there
};

// Where a member is written: codes 1, 4, 5, 6 to the saver's folder under its own name, 2 to the
// Windows folder under its own name, 3 to the Windows folder as a ".dll" unless it is exactly
// "flashax.exe". Other codes cannot be placed.
std::optional<TMemberDestination> MemberDestination(const TPayloadMember& member);

// The extension (from the last dot) replaced by newExtension, or newExtension appended.
std::string ReplaceExtension(std::string_view name, std::string_view newExtension);

// ---- The screen-saver data file carried in slot 8 ----------------------------------------------
//
// A header of settings, a table of entries, and one chunk per entry found through the entry's
// ChunkOffset: a 44-byte chunk header followed by the file's bytes, plain or imploded.

constexpr int kMaxDataEntries = 108;

#pragma pack(push, 1)
struct TDataFileHeader {
  uint8_t Settings1[212];  // the screen saver's own settings
  int32_t EntryCount;      // entries in the table, 0..kMaxDataEntries
  uint8_t Settings2[976];
  int32_t MovieSource;     // 3: entry 1 is a copy of the content movie
  uint8_t Settings3[28];
};

struct TDataFileEntry {
  uint8_t EntryKind;       // 3: made by copying within the saver's folder
  uint8_t Unused1;
  char EntryName[256];     // NUL-terminated when shorter; folder parts are ignored
  uint8_t Unused2[2];
  int32_t ChunkOffset;     // data-file offset of the entry's chunk
};

struct TChunkHeader {
  char Tag[4];             // "CHUN"; not read
  uint8_t ChunkKind;
  uint8_t Unused1[3];
  int32_t FileSize;        // 0: no file is written
  int32_t PackedSize;      // stored bytes when imploded
  int32_t Compressed;      // nonzero: PackedSize imploded bytes expanding to FileSize
  uint8_t Unused2[24];
};
#pragma pack(pop)

static_assert(sizeof(TDataFileHeader) == 1224);
static_assert(offsetof(TDataFileHeader, EntryCount) == 212);
static_assert(offsetof(TDataFileHeader, MovieSource) == 1192);
static_assert(sizeof(TDataFileEntry) == 264);
static_assert(offsetof(TDataFileEntry, EntryName) == 2);
static_assert(offsetof(TDataFileEntry, ChunkOffset) == 260);
static_assert(sizeof(TChunkHeader) == 44);
static_assert(offsetof(TChunkHeader, ChunkKind) == 4);
static_assert(offsetof(TChunkHeader, FileSize) == 8);
static_assert(offsetof(TChunkHeader, PackedSize) == 12);
static_assert(offsetof(TChunkHeader, Compressed) == 16);

constexpr int32_t kDataFileHeaderSize = sizeof(TDataFileHeader);
constexpr int32_t kDataEntrySize = sizeof(TDataFileEntry);
constexpr int32_t kChunkHeaderSize = sizeof(TChunkHeader);
constexpr uint8_t kCopiedEntry = 3;   // EntryKind of an entry made by copying
constexpr int32_t kMovieFromContent = 3;

// The entry's name up to its first NUL within 256 bytes.
std::string EntryNameOf(const TDataFileEntry& entry);
// The part after the last "\", "/" or ":": what the installer writes an entry as.
std::string LastPathComponent(std::string_view name);
