// The Authenticode signature of an installer: the PE header's security entry and the
// certificate table it names, which a signing tool appends behind the payload.
#pragma once
#include <cstdint>
#include <span>
#include <string>

namespace saverpack {

struct SignatureInfo {
  bool signed_ = false;      // the security entry names a certificate table
  uint32_t offset = 0;       // where the table starts in the file
  uint32_t size = 0;         // its length in bytes
  std::string signer;        // the signing certificate's common name, when it can be read
  std::string problem;       // empty when the entry agrees with the file and the payload
};

// payloadEnd: the first byte behind the payload, which a certificate table must not come before.
SignatureInfo ReadSignature(std::span<const uint8_t> file, int64_t payloadEnd);

// The file offsets of the PE header fields a signing tool changes: the checksum (4 bytes) and
// the security entry (8 bytes); both -1 when the file is not a PE32 program.
struct SigningFields {
  int64_t checksum = -1;
  int64_t securityEntry = -1;
};
SigningFields SigningFieldsOf(std::span<const uint8_t> file);

}  // namespace saverpack
