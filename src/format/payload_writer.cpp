#include "payload_writer.h"

#include <cstring>
#include <limits>

namespace {

constexpr int64_t kMaxOffset = std::numeric_limits<int32_t>::max();

TPayloadMember StubRecord() {
  TPayloadMember record{};
  SetMemberFileName(record, "install.exe");
  record.StartOffset = 0;
  record.EndOffset = kPayloadOffset - 1;
  record.Destination = 6;
  record.FileSize = kPayloadOffset;
  record.PackedSize = kPayloadOffset;
  return record;
}

}  // namespace

TPayloadHeader LayoutPayloadHeader(const TPayloadOptions& options, const TMemberInputs& members) {
  if (options.SaverName.size() > sizeof(TPayloadHeader::SaverName))
    throw PayloadLayoutError("the screen saver's name is longer than 64 bytes");
  TPayloadHeader header{};
  header.ContentMode = options.ContentMode;
  header.HasLicense = options.HasLicense;
  header.ShowDocument = options.ShowDocument;
  header.OpenDisplayProperties = options.OpenDisplayProperties;
  std::memcpy(header.SaverName, options.SaverName.data(), options.SaverName.size());
  header.Members[msStub] = StubRecord();

  int64_t next = kFirstMemberOffset;
  for (int slot = 1; slot < kMemberCount; ++slot) {
    const auto& input = members[slot];
    if (!input || input->SameBytesAs) continue;
    if (input->Name.empty() || input->Name.size() > 255)
      throw PayloadLayoutError("slot " + std::to_string(slot) +
                               ": a payload name has 1 to 255 bytes");
    const int64_t last = next + static_cast<int64_t>(input->Stored.size()) - 1;
    if (last > kMaxOffset)
      throw PayloadLayoutError("slot " + std::to_string(slot) +
                               ": the installer would pass 2 GiB, beyond the format's offsets");
    TPayloadMember& record = header.Members[slot];
    SetMemberFileName(record, input->Name);
    record.StartOffset = static_cast<int32_t>(next);
    record.EndOffset = static_cast<int32_t>(last);
    record.Destination = input->Destination;
    record.Compressed = input->Compressed ? 1 : 0;
    record.PackedSize = input->PackedSize;
    record.FileSize = input->FileSize;
    next = last + 1;
  }
  for (int slot = 1; slot < kMemberCount; ++slot) {
    const auto& input = members[slot];
    if (!input || !input->SameBytesAs) continue;
    const int source = input->SameBytesAs;
    if (source < 1 || source >= kMemberCount || !members[source] || members[source]->SameBytesAs)
      throw PayloadLayoutError("slot " + std::to_string(slot) + ": repeats slot " +
                               std::to_string(source) + ", which stores no bytes of its own");
    TPayloadMember& record = header.Members[slot];
    record = header.Members[source];
    SetMemberFileName(record, input->Name);
    record.Destination = input->Destination;
  }
  return header;
}

std::vector<uint8_t> BuildInstallerImage(const std::vector<uint8_t>& stub,
                                         const TPayloadOptions& options,
                                         const TMemberInputs& members) {
  if (stub.size() > static_cast<size_t>(kPayloadOffset))
    throw PayloadLayoutError("the installer program has " + std::to_string(stub.size()) +
                             " bytes, more than the payload offset " +
                             std::to_string(kPayloadOffset));
  const TPayloadHeader header = LayoutPayloadHeader(options, members);
  std::vector<uint8_t> image(stub);
  image.resize(kPayloadOffset, 0);
  const auto* headerBytes = reinterpret_cast<const uint8_t*>(&header);
  image.insert(image.end(), headerBytes, headerBytes + sizeof header);
  for (const auto& input : members)
    if (input) image.insert(image.end(), input->Stored.begin(), input->Stored.end());
  return image;
}
