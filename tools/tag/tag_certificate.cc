#include "tools/tag/tag_certificate.h"

#include <openssl/err.h>

#include <climits>
#include <cstring>

#include "core/tag/tag_scan.h"

namespace orvia {
namespace {

constexpr char kTagCertificateName[] = "Orvia Update Setup tag";
constexpr long kTagCertificateSerial = 1;
// Fixed dates, so that the certificate does not depend on the day it is made.
constexpr char kNotBefore[] = "20240101000000Z";
constexpr char kNotAfter[] = "20491231235959Z";
// Nobody's key: there is no private key for it and nothing is signed with it.
constexpr char kPublicKey[] = "Orvia Update Setup tag: no key!!";
constexpr size_t kEd25519KeySize = 32;
constexpr size_t kEd25519SignatureSize = 64;
static_assert(sizeof(kPublicKey) == kEd25519KeySize + 1, "an Ed25519 public key is 32 bytes");

// The reason OpenSSL gives for its last failure, after `what`.
std::string OpenSslFailure(const std::string& what) {
  unsigned long code = ERR_get_error();
  ERR_clear_error();
  const char* reason = code == 0 ? nullptr : ERR_reason_error_string(code);
  return reason == nullptr ? what : what + " (" + reason + ")";
}

template <typename T>
bool ToDer(int (*encode)(const T*, unsigned char**), const T* object, std::vector<uint8_t>* der) {
  int size = encode(object, nullptr);
  if (size <= 0)
    return false;
  der->assign(static_cast<size_t>(size), 0);
  unsigned char* out = der->data();
  return encode(object, &out) == size;
}

bool SetNames(X509* cert) {
  X509NamePtr name(X509_NAME_new());
  return name &&
         X509_NAME_add_entry_by_txt(name.get(), "CN", MBSTRING_ASC,
                                    reinterpret_cast<const unsigned char*>(kTagCertificateName), -1,
                                    -1, 0) &&
         X509_set_issuer_name(cert, name.get()) && X509_set_subject_name(cert, name.get());
}

bool SetValidity(X509* cert) {
  return ASN1_TIME_set_string_X509(X509_getm_notBefore(cert), kNotBefore) &&
         ASN1_TIME_set_string_X509(X509_getm_notAfter(cert), kNotAfter);
}

bool SetPublicKey(X509* cert) {
  EvpPkeyPtr key(EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr,
                                             reinterpret_cast<const unsigned char*>(kPublicKey),
                                             kEd25519KeySize));
  return key && X509_set_pubkey(cert, key.get());
}

bool AddBlockExtension(X509* cert, const std::vector<uint8_t>& block) {
  Asn1ObjectPtr oid(OBJ_txt2obj(kTagExtensionOid, 1));
  Asn1OctetStringPtr value(ASN1_OCTET_STRING_new());
  if (!oid || !value ||
      !ASN1_OCTET_STRING_set(value.get(), block.data(), static_cast<int>(block.size())))
    return false;
  X509ExtensionPtr extension(X509_EXTENSION_create_by_OBJ(nullptr, oid.get(), 0, value.get()));
  return extension && X509_add_ext(cert, extension.get(), -1);
}

// A signature field of fixed bytes instead of a signature: nothing checks
// this certificate, and every rewrite of the block would break a real one.
// It still names Ed25519 and holds 64 bytes, so it parses like any other.
bool SetPlaceholderSignature(X509* cert) {
  const ASN1_BIT_STRING* signature = nullptr;
  const X509_ALGOR* algorithm = nullptr;
  X509_get0_signature(&signature, &algorithm, cert);
  // OpenSSL has no setter for these fields short of signing; the getters
  // point at the certificate's own members.
  X509_ALGOR* outer = const_cast<X509_ALGOR*>(algorithm);
  X509_ALGOR* inner = const_cast<X509_ALGOR*>(X509_get0_tbs_sigalg(cert));
  ASN1_BIT_STRING* value = const_cast<ASN1_BIT_STRING*>(signature);
  unsigned char zeros[kEd25519SignatureSize] = {};
  if (!X509_ALGOR_set0(outer, OBJ_nid2obj(NID_ED25519), V_ASN1_UNDEF, nullptr) ||
      !X509_ALGOR_set0(inner, OBJ_nid2obj(NID_ED25519), V_ASN1_UNDEF, nullptr) ||
      !ASN1_BIT_STRING_set(value, zeros, sizeof(zeros)))
    return false;
  // Without this the encoder drops trailing zero bytes from a BIT STRING.
  value->flags = (value->flags & ~0x07L) | ASN1_STRING_FLAG_BITS_LEFT;
  return true;
}

// The extension is the last field of the signed part, so its value, the
// block, ends where the signature algorithm and signature begin.
bool FindBlock(const X509* cert, const std::vector<uint8_t>& block, TagCertificate* tag) {
  const ASN1_BIT_STRING* signature = nullptr;
  const X509_ALGOR* algorithm = nullptr;
  X509_get0_signature(&signature, &algorithm, cert);
  int algorithm_size = i2d_X509_ALGOR(algorithm, nullptr);
  int signature_size = i2d_ASN1_BIT_STRING(signature, nullptr);
  if (algorithm_size <= 0 || signature_size <= 0)
    return false;
  size_t tail = static_cast<size_t>(algorithm_size) + static_cast<size_t>(signature_size);
  if (tag->der.size() < tail + block.size())
    return false;
  tag->block_offset = tag->der.size() - tail - block.size();
  return std::memcmp(tag->der.data() + tag->block_offset, block.data(), block.size()) == 0;
}

STACK_OF(X509) * Certificates(const PKCS7* signature) {
  return signature->d.sign->cert;
}

int CertificateCount(const PKCS7* signature) {
  STACK_OF(X509)* certs = Certificates(signature);
  return certs == nullptr ? 0 : sk_X509_num(certs);
}

}  // namespace

std::vector<uint8_t> MakeTagBlock(const std::string& text) {
  std::vector<uint8_t> block(kTagBlockSize, 0);
  std::memcpy(block.data(), kTagMagic, kTagMagicSize);
  block[kTagMagicSize] = static_cast<uint8_t>(text.size() >> 8);
  block[kTagMagicSize + 1] = static_cast<uint8_t>(text.size());
  std::memcpy(block.data() + kTagHeaderSize, text.data(), text.size());
  return block;
}

bool MakeTagCertificate(const std::vector<uint8_t>& block,
                        TagCertificate* tag,
                        std::string* error) {
  tag->cert.reset(X509_new());
  X509* cert = tag->cert.get();
  if (!cert || !X509_set_version(cert, X509_VERSION_3) ||
      !ASN1_INTEGER_set(X509_get_serialNumber(cert), kTagCertificateSerial) || !SetNames(cert) ||
      !SetValidity(cert) || !SetPublicKey(cert) || !AddBlockExtension(cert, block) ||
      !SetPlaceholderSignature(cert)) {
    *error = OpenSslFailure("cannot build the tag certificate");
    return false;
  }
  if (!ToDer(i2d_X509, static_cast<const X509*>(cert), &tag->der)) {
    *error = OpenSslFailure("cannot encode the tag certificate");
    return false;
  }
  if (!FindBlock(cert, block, tag)) {
    *error = "the tag block is not where the tag certificate should hold it";
    return false;
  }
  return true;
}

bool IsTagCertificate(const X509* cert) {
  Asn1ObjectPtr oid(OBJ_txt2obj(kTagExtensionOid, 1));
  return oid && X509_get_ext_by_OBJ(cert, oid.get(), -1) >= 0;
}

bool DecodeSignature(const uint8_t* data,
                     size_t size,
                     Pkcs7Ptr* signature,
                     size_t* der_size,
                     std::string* error) {
  const unsigned char* end = data;
  signature->reset(d2i_PKCS7(nullptr, &end, static_cast<long>(size < LONG_MAX ? size : LONG_MAX)));
  if (!*signature) {
    *error = OpenSslFailure("the certificate table does not hold a PKCS#7 signature");
    return false;
  }
  if (!PKCS7_type_is_signed(signature->get()) || (*signature)->d.sign == nullptr) {
    *error = "the signature is not PKCS#7 SignedData";
    return false;
  }
  *der_size = static_cast<size_t>(end - data);
  return true;
}

bool EncodeSignature(const PKCS7* signature, std::vector<uint8_t>* der, std::string* error) {
  if (ToDer(i2d_PKCS7, signature, der))
    return true;
  *error = OpenSslFailure("cannot encode the signature");
  return false;
}

size_t CountTagCertificates(const PKCS7* signature) {
  size_t count = 0;
  for (int i = 0; i < CertificateCount(signature); ++i)
    count += IsTagCertificate(sk_X509_value(Certificates(signature), i));
  return count;
}

bool PutTagCertificate(PKCS7* signature, X509* tag, std::string* error) {
  int position = -1;
  for (int i = 0; i < CertificateCount(signature) && position < 0; ++i) {
    if (IsTagCertificate(sk_X509_value(Certificates(signature), i)))
      position = i;
  }
  RemoveTagCertificates(signature);
  if (position < 0) {
    if (PKCS7_add_certificate(signature, tag))
      return true;
  } else if (X509_up_ref(tag)) {
    if (sk_X509_insert(Certificates(signature), tag, position) > 0)
      return true;
    X509_free(tag);
  }
  *error = OpenSslFailure("cannot add the tag certificate to the signature");
  return false;
}

void RemoveTagCertificates(PKCS7* signature) {
  for (int i = CertificateCount(signature) - 1; i >= 0; --i) {
    if (IsTagCertificate(sk_X509_value(Certificates(signature), i)))
      X509_free(sk_X509_delete(Certificates(signature), i));
  }
}

}  // namespace orvia
