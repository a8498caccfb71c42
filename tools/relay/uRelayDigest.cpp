#include "relay/uRelayDigest.h"

#include "base/uText.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <memory>
#include <stdexcept>

namespace halvora::relay {

std::string Sha256Hex(std::initializer_list<std::string_view> AParts) {
  const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> Context(EVP_MD_CTX_new(),
                                                                        EVP_MD_CTX_free);
  unsigned char Digest[EVP_MAX_MD_SIZE];
  unsigned Size = 0;
  bool Ok = Context && EVP_DigestInit_ex(Context.get(), EVP_sha256(), nullptr) == 1;
  for (const auto Part : AParts)
    Ok = Ok && EVP_DigestUpdate(Context.get(), Part.data(), Part.size()) == 1;
  if (!Ok || EVP_DigestFinal_ex(Context.get(), Digest, &Size) != 1)
    throw std::runtime_error("SHA-256 indisponível");
  return HexText(Digest, Size);
}

bool SameSecret(std::string_view ALeft, std::string_view ARight) {
  return ALeft.size() == ARight.size() &&
         CRYPTO_memcmp(ALeft.data(), ARight.data(), ALeft.size()) == 0;
}

std::string RandomHex(std::size_t ACount) {
  std::string Bytes(ACount, '\0');
  if (RAND_bytes(reinterpret_cast<unsigned char*>(Bytes.data()), static_cast<int>(ACount)) != 1)
    throw std::runtime_error("gerador de números aleatórios indisponível");
  return HexText(Bytes.data(), Bytes.size());
}

}  // namespace halvora::relay
