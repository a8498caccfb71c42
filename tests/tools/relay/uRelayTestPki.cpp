#include "uRelayTestPki.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>
#include <stdexcept>

namespace halvora::relay::test {

namespace {

template <class T, void (*Free)(T*)>
using TOwned = std::unique_ptr<T, std::integral_constant<decltype(Free), Free>>;

void Check(bool AOk, const char* AWhat) {
  if (!AOk) throw std::runtime_error(std::string("test certificate: ") + AWhat);
}

template <class AWriter>
std::string Pem(AWriter AWrite) {
  TOwned<BIO, BIO_free_all> Bio(BIO_new(BIO_s_mem()));
  Check(Bio && AWrite(Bio.get()), "PEM");
  char* Data = nullptr;
  const long Size = BIO_get_mem_data(Bio.get(), &Data);
  return std::string(Data, static_cast<std::size_t>(Size));
}

}  // namespace

TTestCertificate MakeTestCertificate() {
  TOwned<EVP_PKEY, EVP_PKEY_free> Key(EVP_EC_gen("P-256"));
  Check(Key != nullptr, "key");
  TOwned<X509, X509_free> Cert(X509_new());
  Check(Cert != nullptr, "certificate");
  X509_set_version(Cert.get(), 2);
  ASN1_INTEGER_set(X509_get_serialNumber(Cert.get()), 1);
  X509_gmtime_adj(X509_getm_notBefore(Cert.get()), -3600);
  X509_gmtime_adj(X509_getm_notAfter(Cert.get()), 86400);
  X509_NAME* Name = X509_get_subject_name(Cert.get());
  X509_NAME_add_entry_by_txt(Name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
  X509_set_issuer_name(Cert.get(), Name);
  X509_set_pubkey(Cert.get(), Key.get());
  X509V3_CTX Context;
  X509V3_set_ctx_nodb(&Context);
  X509V3_set_ctx(&Context, Cert.get(), Cert.get(), nullptr, nullptr, 0);
  TOwned<X509_EXTENSION, X509_EXTENSION_free> Alt(
      X509V3_EXT_conf_nid(nullptr, &Context, NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost"));
  Check(Alt && X509_add_ext(Cert.get(), Alt.get(), -1), "subjectAltName");
  Check(X509_sign(Cert.get(), Key.get(), EVP_sha256()) > 0, "sign");
  return {Pem([&](BIO* ABio) { return PEM_write_bio_X509(ABio, Cert.get()); }), Pem([&](BIO* ABio) {
            return PEM_write_bio_PrivateKey(ABio, Key.get(), nullptr, nullptr, 0, nullptr, nullptr);
          })};
}

}  // namespace halvora::relay::test
