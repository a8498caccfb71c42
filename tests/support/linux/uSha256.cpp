#include "support/uSha256.h"

#include <openssl/sha.h>

namespace halvora::test {

std::string Sha256Hex(std::string_view AText) {
  unsigned char Digest[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const unsigned char*>(AText.data()), AText.size(), Digest);
  static const char Hex[] = "0123456789abcdef";
  std::string Result;
  for (unsigned char Byte : Digest) {
    Result += Hex[Byte >> 4];
    Result += Hex[Byte & 15];
  }
  return Result;
}

}  // namespace halvora::test
