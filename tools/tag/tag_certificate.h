// The tag certificate: one extra certificate in a signature's certificate
// set whose private extension carries the tag block. The set lies outside
// what the signer signed, so the signature stays valid around it.
#ifndef ORVIA_TOOLS_TAG_TAG_CERTIFICATE_H_
#define ORVIA_TOOLS_TAG_TAG_CERTIFICATE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/tag/openssl_ptr.h"

namespace orvia {

// A UUID-derived OID of our own for the extension holding the block.
constexpr char kTagExtensionOid[] = "2.25.108067994569345270851259107447939075787";

// The kTagBlockSize-byte block: magic, big-endian text length, text, zero
// bytes. `text` must hold at most kTagTextCapacity bytes.
std::vector<uint8_t> MakeTagBlock(const std::string& text);

struct TagCertificate {
  X509Ptr cert;
  std::vector<uint8_t> der;
  size_t block_offset = 0;  // where the block lies in `der`
};

// Builds the certificate carrying `block` (kTagBlockSize bytes). Every byte
// of its DER outside the block is the same whatever the block holds.
bool MakeTagCertificate(const std::vector<uint8_t>& block, TagCertificate* tag, std::string* error);

// Whether `cert` has the tag extension.
bool IsTagCertificate(const X509* cert);

// Decodes the PKCS#7 SignedData at the start of `data`; `der_size` receives
// how many bytes its DER takes (the rest of `data` is not part of it).
bool DecodeSignature(const uint8_t* data,
                     size_t size,
                     Pkcs7Ptr* signature,
                     size_t* der_size,
                     std::string* error);

bool EncodeSignature(const PKCS7* signature, std::vector<uint8_t>* der, std::string* error);

size_t CountTagCertificates(const PKCS7* signature);

// Puts `tag` where the first tag certificate is, or after all certificates
// when there is none, and drops any other tag certificate.
bool PutTagCertificate(PKCS7* signature, X509* tag, std::string* error);

// Drops every tag certificate; the others keep their order.
void RemoveTagCertificates(PKCS7* signature);

}  // namespace orvia

#endif  // ORVIA_TOOLS_TAG_TAG_CERTIFICATE_H_
