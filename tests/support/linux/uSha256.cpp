#include "support/uSha256.h"

#include "base/uText.h"

#include <openssl/sha.h>

namespace halvora::test {

std::string Sha256Hex(std::string_view AText) {
  unsigned char Digest[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const unsigned char*>(AText.data()), AText.size(), Digest);
  return HexText(Digest, sizeof Digest);
}

}  // namespace halvora::test
