#include "support/uTestPki.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>
#include <stdexcept>
#include <utility>

namespace halvora::test {

namespace {

template <class T, void (*AFree)(T*)>
struct TFree {
  void operator()(T* AObject) const { AFree(AObject); }
};
using TKey = std::unique_ptr<EVP_PKEY, TFree<EVP_PKEY, EVP_PKEY_free>>;
using TCert = std::unique_ptr<X509, TFree<X509, X509_free>>;
using TBio = std::unique_ptr<BIO, TFree<BIO, BIO_free_all>>;
using TBigNum = std::unique_ptr<BIGNUM, TFree<BIGNUM, BN_free>>;
using TExtension = std::unique_ptr<X509_EXTENSION, TFree<X509_EXTENSION, X509_EXTENSION_free>>;
using TEcdsaSig = std::unique_ptr<ECDSA_SIG, TFree<ECDSA_SIG, ECDSA_SIG_free>>;

// One extension in OpenSSL's configuration syntax, e.g. {NID_basic_constraints, "critical,CA:TRUE"}.
using TExtensions = std::vector<std::pair<int, std::string>>;

constexpr long Hour = 3600;

void Check(bool AOk, const char* AWhat) {
  if (!AOk) throw std::runtime_error(std::string("test PKI: ") + AWhat + " failed");
}

TKey NewKey() {
  TKey key(EVP_EC_gen("P-256"));
  Check(key != nullptr, "EC key generation");
  return key;
}

// Whether both halves of ACert's ECDSA signature have the curve's full 32 bytes.
bool FullWidthSignature(const X509* ACert) {
  const ASN1_BIT_STRING* signature = nullptr;
  X509_get0_signature(&signature, nullptr, ACert);
  const unsigned char* data = signature->data;
  const TEcdsaSig parts(d2i_ECDSA_SIG(nullptr, &data, signature->length));
  Check(parts != nullptr, "signature decoding");
  return BN_num_bytes(ECDSA_SIG_get0_r(parts.get())) == 32 &&
         BN_num_bytes(ECDSA_SIG_get0_s(parts.get())) == 32;
}

void SetRandomSerial(X509* ACert) {
  TBigNum serial(BN_new());
  Check(serial && BN_rand(serial.get(), 127, BN_RAND_TOP_ONE, BN_RAND_BOTTOM_ANY) == 1 &&
            BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(ACert)) != nullptr,
        "serial number");
}

void AddExtension(X509* ACert, X509* AIssuer, int ANid, const std::string& AValue) {
  X509V3_CTX context;
  X509V3_set_ctx(&context, AIssuer, ACert, nullptr, nullptr, 0);
  TExtension extension(X509V3_EXT_conf_nid(nullptr, &context, ANid, AValue.c_str()));
  Check(extension && X509_add_ext(ACert, extension.get(), -1) == 1, "certificate extension");
}

// A certificate for AKey signed with AIssuerKey; a null AIssuer makes it self-signed.
TCert NewCert(EVP_PKEY* AKey, const std::string& ACommonName, X509* AIssuer,
              EVP_PKEY* AIssuerKey, const TExtensions& AExtensions) {
  TCert cert(X509_new());
  Check(cert != nullptr, "X509_new");
  X509* issuer = AIssuer ? AIssuer : cert.get();
  X509_NAME* subject = X509_get_subject_name(cert.get());
  Check(X509_set_version(cert.get(), X509_VERSION_3) == 1 &&
            X509_gmtime_adj(X509_getm_notBefore(cert.get()), -Hour) != nullptr &&
            X509_gmtime_adj(X509_getm_notAfter(cert.get()), 23 * Hour) != nullptr &&
            X509_set_pubkey(cert.get(), AKey) == 1 &&
            X509_NAME_add_entry_by_txt(
                subject, "CN", MBSTRING_UTF8,
                reinterpret_cast<const unsigned char*>(ACommonName.c_str()), -1, -1, 0) == 1 &&
            X509_set_issuer_name(cert.get(), X509_get_subject_name(issuer)) == 1,
        "certificate fields");
  SetRandomSerial(cert.get());
  for (const auto& [nid, value] : AExtensions) AddExtension(cert.get(), issuer, nid, value);
  // Wine's certificate check refuses an ECDSA signature whose r or s is shorter than 32
  // bytes (one in 128): signed again until neither is. A signature is random, so this ends.
  do {
    Check(X509_sign(cert.get(), AIssuerKey, EVP_sha256()) > 0, "certificate signing");
  } while (!FullWidthSignature(cert.get()));
  return cert;
}

std::string ToPem(BIO* ABio) {
  char* data = nullptr;
  const long size = BIO_get_mem_data(ABio, &data);
  Check(size > 0, "PEM output");
  return std::string(data, static_cast<std::size_t>(size));
}

std::string CertPem(X509* ACert) {
  TBio bio(BIO_new(BIO_s_mem()));
  Check(bio && PEM_write_bio_X509(bio.get(), ACert) == 1, "certificate PEM");
  return ToPem(bio.get());
}

std::string KeyPem(EVP_PKEY* AKey) {
  TBio bio(BIO_new(BIO_s_mem()));
  Check(bio && PEM_write_bio_PrivateKey(bio.get(), AKey, nullptr, nullptr, 0, nullptr,
                                        nullptr) == 1,
        "key PEM");
  return ToPem(bio.get());
}

std::string SubjectAltNames(const std::vector<std::string>& ADnsNames,
                            const std::vector<std::string>& AIpAddresses) {
  std::string names;
  for (const auto& name : ADnsNames) names += (names.empty() ? "DNS:" : ",DNS:") + name;
  for (const auto& address : AIpAddresses) names += (names.empty() ? "IP:" : ",IP:") + address;
  return names;
}

}  // namespace

TTestPki MakeTestPki(const std::vector<std::string>& ADnsNames,
                     const std::vector<std::string>& AIpAddresses) {
  const TKey caKey = NewKey();
  const TCert ca = NewCert(caKey.get(), "Halvora Test CA", nullptr, caKey.get(),
                           {{NID_basic_constraints, "critical,CA:TRUE"},
                            {NID_key_usage, "critical,keyCertSign,cRLSign"},
                            {NID_subject_key_identifier, "hash"},
                            {NID_authority_key_identifier, "keyid:always"}});

  TExtensions serverExtensions = {{NID_basic_constraints, "critical,CA:FALSE"},
                                  {NID_key_usage, "critical,digitalSignature"},
                                  {NID_ext_key_usage, "serverAuth"},
                                  {NID_subject_key_identifier, "hash"},
                                  {NID_authority_key_identifier, "keyid:always"}};
  const std::string altNames = SubjectAltNames(ADnsNames, AIpAddresses);
  if (!altNames.empty()) serverExtensions.emplace_back(NID_subject_alt_name, altNames);
  const TKey serverKey = NewKey();
  const TCert server =
      NewCert(serverKey.get(), ADnsNames.empty() ? "Halvora Test Server" : ADnsNames.front(),
              ca.get(), caKey.get(), serverExtensions);

  return {CertPem(ca.get()), CertPem(server.get()), KeyPem(serverKey.get())};
}

}  // namespace halvora::test
