// Single owners for the OpenSSL objects the tag tool handles: unique_ptr
// with OpenSSL's own free function as the deleter.
#ifndef ORVIA_TOOLS_TAG_OPENSSL_PTR_H_
#define ORVIA_TOOLS_TAG_OPENSSL_PTR_H_

#include <openssl/asn1.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <memory>

namespace orvia {

template <typename T, void (*Free)(T*)>
struct OpenSslFree {
  void operator()(T* object) const { Free(object); }
};

using Asn1ObjectPtr = std::unique_ptr<ASN1_OBJECT, OpenSslFree<ASN1_OBJECT, ASN1_OBJECT_free>>;
using Asn1OctetStringPtr =
    std::unique_ptr<ASN1_OCTET_STRING, OpenSslFree<ASN1_OCTET_STRING, ASN1_OCTET_STRING_free>>;
using EvpPkeyPtr = std::unique_ptr<EVP_PKEY, OpenSslFree<EVP_PKEY, EVP_PKEY_free>>;
using Pkcs7Ptr = std::unique_ptr<PKCS7, OpenSslFree<PKCS7, PKCS7_free>>;
using X509Ptr = std::unique_ptr<X509, OpenSslFree<X509, X509_free>>;
using X509ExtensionPtr =
    std::unique_ptr<X509_EXTENSION, OpenSslFree<X509_EXTENSION, X509_EXTENSION_free>>;
using X509NamePtr = std::unique_ptr<X509_NAME, OpenSslFree<X509_NAME, X509_NAME_free>>;

}  // namespace orvia

#endif  // ORVIA_TOOLS_TAG_OPENSSL_PTR_H_
