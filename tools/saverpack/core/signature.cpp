#include "signature.h"

#include <optional>
#include <vector>

namespace saverpack {
namespace {

uint32_t Le(std::span<const uint8_t> b, size_t at, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = v << 8 | b[at + i];
  return v;
}

// A DER reader over one span: every read is checked, a fault leaves it empty.
struct Der {
  std::span<const uint8_t> rest;

  struct Item {
    uint8_t tag = 0;
    std::span<const uint8_t> body;
  };

  std::optional<Item> Next() {
    if (rest.size() < 2) return std::nullopt;
    Item item{rest[0], {}};
    size_t at = 2, length = rest[1];
    if (length & 0x80) {
      const size_t count = length & 0x7F;
      if (count == 0 || count > 4 || rest.size() < 2 + count) return std::nullopt;
      length = 0;
      for (size_t i = 0; i < count; ++i) length = length << 8 | rest[2 + i];
      at += count;
    }
    if (length > rest.size() - at) return std::nullopt;
    item.body = rest.subspan(at, length);
    rest = rest.subspan(at + length);
    return item;
  }
};

constexpr uint8_t kCommonName[] = {0x55, 0x04, 0x03};  // 2.5.4.3

// The common name in an X.501 Name: SEQUENCE OF SET OF {OID, value}.
std::string CommonNameIn(std::span<const uint8_t> name) {
  Der rdns{name};
  while (auto rdn = rdns.Next()) {
    Der attributes{rdn->body};
    while (auto attribute = attributes.Next()) {
      Der parts{attribute->body};
      const auto oid = parts.Next();
      const auto value = parts.Next();
      if (oid && value && oid->tag == 0x06 && oid->body.size() == 3 &&
          std::equal(oid->body.begin(), oid->body.end(), kCommonName))
        return std::string(value->body.begin(), value->body.end());
    }
  }
  return {};
}

struct Certificate {
  std::span<const uint8_t> serial;
  std::string subject;
};

std::optional<Certificate> ReadCertificate(std::span<const uint8_t> body) {
  Der cert{body};
  const auto tbs = cert.Next();
  if (!tbs) return std::nullopt;
  Der fields{tbs->body};
  auto field = fields.Next();
  if (field && field->tag == 0xA0) field = fields.Next();  // version
  if (!field) return std::nullopt;
  Certificate out{field->body, {}};
  fields.Next();  // signature algorithm
  fields.Next();  // issuer
  fields.Next();  // validity
  if (const auto subject = fields.Next()) out.subject = CommonNameIn(subject->body);
  return out;
}

// PKCS#7 SignedData: the subject of the certificate whose serial the first signer names.
std::string SignerOf(std::span<const uint8_t> pkcs7) {
  Der top{pkcs7};
  const auto contentInfo = top.Next();
  if (!contentInfo) return {};
  Der info{contentInfo->body};
  info.Next();  // content type
  const auto explicitContent = info.Next();
  if (!explicitContent) return {};
  Der wrapper{explicitContent->body};
  const auto signedData = wrapper.Next();
  if (!signedData) return {};
  Der parts{signedData->body};
  std::vector<Certificate> certificates;
  std::span<const uint8_t> signerSerial;
  while (auto part = parts.Next()) {
    if (part->tag == 0xA0) {  // certificates
      Der list{part->body};
      while (auto cert = list.Next())
        if (auto c = ReadCertificate(cert->body)) certificates.push_back(*c);
    } else if (part->tag == 0x31 && !certificates.empty()) {  // signerInfos
      Der signers{part->body};
      if (const auto signer = signers.Next()) {
        Der fields{signer->body};
        fields.Next();  // version
        if (const auto issuerAndSerial = fields.Next()) {
          Der id{issuerAndSerial->body};
          id.Next();
          if (const auto serial = id.Next()) signerSerial = serial->body;
        }
      }
    }
  }
  for (const auto& c : certificates)
    if (std::equal(c.serial.begin(), c.serial.end(), signerSerial.begin(), signerSerial.end()))
      return c.subject;
  return certificates.empty() ? std::string() : certificates.front().subject;
}

}  // namespace

SigningFields SigningFieldsOf(std::span<const uint8_t> file) {
  SigningFields fields;
  if (file.size() < 0x40 || file[0] != 'M' || file[1] != 'Z') return fields;
  const uint32_t pe = Le(file, 0x3C, 4);
  if (pe > file.size() || file.size() - pe < 24 + 96 + 5 * 8) return fields;
  if (Le(file, pe, 4) != 0x00004550 || Le(file, pe + 24, 2) != 0x10B) return fields;
  if (Le(file, pe + 24 + 92, 4) < 5) return fields;  // fewer data directories than the security one
  fields.checksum = pe + 24 + 64;
  fields.securityEntry = pe + 24 + 96 + 4 * 8;
  return fields;
}

SignatureInfo ReadSignature(std::span<const uint8_t> file, int64_t payloadEnd) {
  SignatureInfo info;
  const SigningFields fields = SigningFieldsOf(file);
  if (fields.securityEntry < 0) return info;
  const auto at = static_cast<size_t>(fields.securityEntry);
  info.offset = Le(file, at, 4);
  info.size = Le(file, at + 4, 4);
  if (info.offset == 0 && info.size == 0) return info;
  info.signed_ = true;
  const int64_t end = int64_t{info.offset} + info.size;
  if (int64_t{info.offset} < payloadEnd) {
    info.problem = "the certificate table at " + std::to_string(info.offset) +
                   " overlaps the payload, which ends at " + std::to_string(payloadEnd);
  } else if (end != static_cast<int64_t>(file.size()) || info.size < 8) {
    info.problem = "the PE header's security entry (" + std::to_string(info.size) + " bytes at " +
                   std::to_string(info.offset) + ") disagrees with the file's " +
                   std::to_string(file.size()) + " bytes";
  } else {
    const uint32_t length = Le(file, info.offset, 4);
    if (length < 8 || length > info.size)
      info.problem = "the certificate table's first entry has a length of " + std::to_string(length);
    else
      info.signer = SignerOf(file.subspan(info.offset + 8, length - 8));
  }
  return info;
}

}  // namespace saverpack
