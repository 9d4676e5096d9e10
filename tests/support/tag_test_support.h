// Shared by the orvia-tag tests: the fixture template signed with a
// throwaway certificate, osslsigncode's verdict, extra certificates to sign
// with, and the checks that every tagged or cleared copy must pass.
#ifndef ORVIA_TESTS_SUPPORT_TAG_TEST_SUPPORT_H_
#define ORVIA_TESTS_SUPPORT_TAG_TEST_SUPPORT_H_

#include <gtest/gtest.h>
#include <openssl/pem.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/tool_test_support.h"
#include "tools/pe/pe_image.h"
#include "tools/tag/openssl_ptr.h"

namespace orvia {
namespace test_support {

using Bytes = std::vector<uint8_t>;

inline const std::string kOrviaTag = std::string(ORVIA_TOOLS_DIR) + "/orvia-tag";
inline const std::string kTagTemplate = std::string(ORVIA_TOOLS_DIR) + "/fixtures/template.exe";

// A throwaway signer and the fixture template signed with it.
class SignedFixture {
 public:
  // Makes the certificate and signs the template; false when either fails.
  bool Create(std::string* error) {
    if (!dir_.valid()) {
      *error = "no temporary directory";
      return false;
    }
    CommandResult cert = RunCommand(
        {std::string(ORVIA_SOURCE_DIR) + "/scripts/throwaway-cert", dir_ / "cert"}, dir_);
    if (cert.status != 0) {
      *error = "throwaway-cert: " + cert.err;
      return false;
    }
    signed_ = dir_ / "signed.exe";
    return Sign(kTagTemplate, signed_, "", error);
  }

  // Signs `in` into `out`; `extra_certificates` (a PEM file) when not empty
  // goes into the signature's certificate set as well.
  bool Sign(const std::string& in,
            const std::string& out,
            const std::string& extra_certificates,
            std::string* error) const {
    std::vector<std::string> argv = {"osslsigncode",        "sign", "-certs", CaFile(), "-key",
                                     dir_ / "cert/key.pem", "-h",   "sha256"};
    if (!extra_certificates.empty())
      argv.insert(argv.end(), {"-ac", extra_certificates});
    argv.insert(argv.end(), {"-in", in, "-out", out});
    std::remove(out.c_str());
    CommandResult run = RunCommand(argv, dir_);
    if (run.status != 0)
      *error = "osslsigncode sign: " + run.out + run.err;
    return run.status == 0;
  }

  std::string CaFile() const { return dir_ / "cert/cert.pem"; }
  const std::string& signed_path() const { return signed_; }
  const ScopedTempDir& dir() const { return dir_; }

 private:
  ScopedTempDir dir_;
  std::string signed_;
};

struct Verification {
  int status = -1;
  std::string current_digest;     // the image digest the signature holds
  std::string calculated_digest;  // the digest of the file as it is
  std::string output;
};

inline std::string LineValue(const std::string& text, const std::string& label) {
  size_t at = text.find(label);
  if (at == std::string::npos)
    return "";
  size_t colon = text.find(':', at);
  size_t end = text.find('\n', colon);
  std::string value = text.substr(colon + 1, end - colon - 1);
  value.erase(0, value.find_first_not_of(' '));
  value.erase(value.find_last_not_of(" \r") + 1);
  return value;
}

inline Verification Verify(const std::string& path,
                           const std::string& ca_file,
                           const ScopedTempDir& scratch) {
  CommandResult run =
      RunCommand({"osslsigncode", "verify", "-in", path, "-CAfile", ca_file}, scratch);
  Verification result;
  result.status = run.status;
  result.output = run.out + run.err;
  result.current_digest = LineValue(run.out, "Current message digest");
  result.calculated_digest = LineValue(run.out, "Calculated message digest");
  return result;
}

// osslsigncode accepts the copy, and the image digest it checks is `digest`.
inline void ExpectVerifiesWithDigest(const std::string& path,
                                     const std::string& ca_file,
                                     const std::string& digest,
                                     const ScopedTempDir& scratch) {
  Verification check = Verify(path, ca_file, scratch);
  EXPECT_EQ(check.status, 0) << check.output;
  EXPECT_EQ(check.current_digest, digest) << check.output;
  EXPECT_EQ(check.calculated_digest, digest) << check.output;
}

inline PeDataDirectory SecurityDirectory(const Bytes& image) {
  PeLayout layout;
  std::string error;
  if (!ParsePe32(image.data(), image.size(), &layout, &error) ||
      layout.directories.size() <= kPeDirectorySecurity)
    return {};
  return layout.directories[kPeDirectorySecurity];
}

// What Windows requires of a certificate table, its optional padding check
// included: the table last in the file, one WIN_CERTIFICATE whose dwLength
// equals the directory size and is a multiple of 8, only zero bytes (fewer
// than 8) after the PKCS#7 DER, and a right PE checksum.
inline void ExpectWindowsAcceptsTable(const Bytes& image) {
  PeLayout layout;
  std::string error;
  ASSERT_TRUE(ParsePe32(image.data(), image.size(), &layout, &error)) << error;
  PeDataDirectory table = SecurityDirectory(image);
  ASSERT_NE(table.rva, 0u);
  ASSERT_EQ(static_cast<uint64_t>(table.rva) + table.size, image.size());
  ASSERT_GE(table.size, 8u);
  const uint8_t* entry = image.data() + table.rva;
  EXPECT_EQ(table.rva % 8, 0u);
  EXPECT_EQ(ReadLe32(entry), table.size);
  EXPECT_EQ(table.size % 8, 0u);
  EXPECT_EQ(ReadLe16(entry + 4), 0x0200);
  EXPECT_EQ(ReadLe16(entry + 6), 0x0002);
  const unsigned char* der_end = entry + 8;
  Pkcs7Ptr signature(d2i_PKCS7(nullptr, &der_end, table.size - 8));
  ASSERT_TRUE(signature) << "no PKCS#7 DER in the table";
  const uint8_t* file_end = image.data() + image.size();
  EXPECT_TRUE(std::all_of(der_end, file_end, [](uint8_t b) { return b == 0; }))
      << "non-zero bytes after the DER";
  EXPECT_LT(file_end - der_end, 8) << "more padding than 8-byte alignment needs";
  EXPECT_EQ(layout.checksum,
            ComputePeChecksum(image.data(), image.size(), layout.ChecksumOffset()));
}

// Like cmp: up to the signer's table, only the security directory size and
// the checksum may differ between the signed copy and `after`.
inline void ExpectOnlyTableChanged(const Bytes& signed_copy, const Bytes& after) {
  PeLayout layout;
  std::string error;
  ASSERT_TRUE(ParsePe32(signed_copy.data(), signed_copy.size(), &layout, &error)) << error;
  uint32_t table = SecurityDirectory(signed_copy).rva;
  ASSERT_GE(after.size(), table);
  EXPECT_EQ(SecurityDirectory(after).rva, table);
  size_t size_field = layout.DirectoryOffset(kPeDirectorySecurity) + 4;
  size_t checksum = layout.ChecksumOffset();
  auto allowed = [&](size_t i) {
    return (i >= size_field && i < size_field + 4) || (i >= checksum && i < checksum + 4);
  };
  std::vector<size_t> changed;
  for (size_t i = 0; i < table; ++i) {
    if (signed_copy[i] != after[i] && !allowed(i))
      changed.push_back(i);
  }
  EXPECT_EQ(changed, std::vector<size_t>()) << "bytes changed outside the certificate table";
}

// A self-signed certificate named `common_name` with `padding` bytes in a
// private extension, to make a signature of a chosen size.
inline X509Ptr MakeExtraCertificate(const std::string& common_name, size_t padding) {
  EvpPkeyPtr key(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"));
  X509Ptr cert(X509_new());
  X509NamePtr name(X509_NAME_new());
  Asn1ObjectPtr oid(OBJ_txt2obj("1.3.6.1.4.1.99999.1", 1));
  Asn1OctetStringPtr value(ASN1_OCTET_STRING_new());
  std::string bytes(padding, 'p');
  if (!key || !cert || !name || !oid || !value ||
      !X509_NAME_add_entry_by_txt(name.get(), "CN", MBSTRING_ASC,
                                  reinterpret_cast<const unsigned char*>(common_name.c_str()), -1,
                                  -1, 0) ||
      !X509_set_version(cert.get(), X509_VERSION_3) ||
      !ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 7) ||
      !X509_set_subject_name(cert.get(), name.get()) ||
      !X509_set_issuer_name(cert.get(), name.get()) ||
      !X509_gmtime_adj(X509_getm_notBefore(cert.get()), 0) ||
      !X509_gmtime_adj(X509_getm_notAfter(cert.get()), 86400) ||
      !X509_set_pubkey(cert.get(), key.get()))
    return nullptr;
  if (padding > 0) {
    if (!ASN1_OCTET_STRING_set(value.get(), reinterpret_cast<const unsigned char*>(bytes.data()),
                               static_cast<int>(bytes.size())))
      return nullptr;
    X509ExtensionPtr extension(X509_EXTENSION_create_by_OBJ(nullptr, oid.get(), 0, value.get()));
    if (!extension || !X509_add_ext(cert.get(), extension.get(), -1))
      return nullptr;
  }
  if (X509_sign(cert.get(), key.get(), nullptr) <= 0)
    return nullptr;
  return cert;
}

inline bool WritePem(const std::string& path, const std::vector<X509*>& certs) {
  std::unique_ptr<BIO, OpenSslFree<BIO, BIO_free_all>> out(BIO_new_file(path.c_str(), "w"));
  if (!out)
    return false;
  for (X509* cert : certs) {
    if (cert == nullptr || !PEM_write_bio_X509(out.get(), cert))
      return false;
  }
  return true;
}

}  // namespace test_support
}  // namespace orvia

#endif  // ORVIA_TESTS_SUPPORT_TAG_TEST_SUPPORT_H_
