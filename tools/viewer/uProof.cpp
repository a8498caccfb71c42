#include "uProof.h"

#include <openssl/evp.h>

#include <memory>
#include <stdexcept>

namespace halvora::viewer {

std::string ProofHash(std::string_view ANonce, std::string_view APassword) {
  const std::string Input = std::string(ANonce) + ":" + std::string(APassword);
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> Context(EVP_MD_CTX_new(),
                                                                  EVP_MD_CTX_free);
  unsigned char Digest[EVP_MAX_MD_SIZE];
  unsigned int Length = 0;
  if (!Context || EVP_DigestInit_ex(Context.get(), EVP_sha256(), nullptr) != 1 ||
      EVP_DigestUpdate(Context.get(), Input.data(), Input.size()) != 1 ||
      EVP_DigestFinal_ex(Context.get(), Digest, &Length) != 1)
    throw std::runtime_error("SHA-256 indisponível");
  static constexpr char Hex[] = "0123456789abcdef";
  std::string Result;
  for (unsigned int I = 0; I < Length; ++I) {
    Result += Hex[Digest[I] >> 4];
    Result += Hex[Digest[I] & 0x0F];
  }
  return Result;
}

}  // namespace halvora::viewer
