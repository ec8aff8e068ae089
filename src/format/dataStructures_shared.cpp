#include "dataStructures_shared.h"

#include <algorithm>
#include <cstring>

TPayloadHeader ParsePayloadHeader(const uint8_t* bytes) {
  TPayloadHeader header;
  std::memcpy(&header, bytes, sizeof header);
  return header;
}

std::string MemberFileName(const TPayloadMember& member) {
  return std::string(reinterpret_cast<const char*>(member.FileName + 1), member.FileName[0]);
}

void SetMemberFileName(TPayloadMember& member, std::string_view name) {
  const size_t length = std::min<size_t>(name.size(), 255);
  member.FileName[0] = static_cast<uint8_t>(length);
  std::memcpy(member.FileName + 1, name.data(), length);
}

std::string SaverNameOf(const TPayloadHeader& header) {
  const char* name = header.SaverName;
  const void* nul = std::memchr(name, 0, sizeof header.SaverName);
  const size_t length = nul ? static_cast<const char*>(nul) - name : sizeof header.SaverName;
  return std::string(name, length);
}

int64_t StoredLength(const TPayloadMember& member) {
  return int64_t{member.EndOffset} - int64_t{member.StartOffset} + 1;
}

bool IsPlainFileName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  return name.find_first_of("\\/:") == std::string_view::npos;
}

std::string ReplaceExtension(std::string_view name, std::string_view newExtension) {
  const size_t dot = name.rfind('.');
  std::string result(name.substr(0, dot == std::string_view::npos ? name.size() : dot));
  result += newExtension;
  return result;
}

std::optional<TMemberDestination> MemberDestination(const TPayloadMember& member) {
  const std::string name = MemberFileName(member);
  switch (member.Destination) {
    case 1: case 4: case 5: case 6:
      return TMemberDestination{TDestinationFolder::Saver, name};
    case 2:
      return TMemberDestination{TDestinationFolder::Windows, name};
    case 3:
      if (name == "flashax.exe") return TMemberDestination{TDestinationFolder::Windows, name};
      return TMemberDestination{TDestinationFolder::Windows, ReplaceExtension(name, ".dll")};
    default:
      return std::nullopt;
  }
}

std::string EntryNameOf(const TDataFileEntry& entry) {
  const void* nul = std::memchr(entry.EntryName, 0, sizeof entry.EntryName);
  const size_t length =
      nul ? static_cast<const char*>(nul) - entry.EntryName : sizeof entry.EntryName;
  return std::string(entry.EntryName, length);
}

std::string LastPathComponent(std::string_view name) {
  const size_t cut = name.find_last_of("\\/:");
  return std::string(cut == std::string_view::npos ? name : name.substr(cut + 1));
}
