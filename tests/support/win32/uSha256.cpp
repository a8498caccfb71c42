#include "support/uSha256.h"

#include "base/uText.h"

#include <windows.h>
#include <bcrypt.h>

namespace halvora::test {

std::string Sha256Hex(std::string_view AText) {
  unsigned char Digest[32] = {};
  BCRYPT_ALG_HANDLE Algorithm = nullptr;
  BCRYPT_HASH_HANDLE Hash = nullptr;
  if (BCryptOpenAlgorithmProvider(&Algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) == 0) {
    if (BCryptCreateHash(Algorithm, &Hash, nullptr, 0, nullptr, 0, 0) == 0) {
      BCryptHashData(Hash, reinterpret_cast<PUCHAR>(const_cast<char*>(AText.data())),
                     static_cast<ULONG>(AText.size()), 0);
      BCryptFinishHash(Hash, Digest, sizeof(Digest), 0);
      BCryptDestroyHash(Hash);
    }
    BCryptCloseAlgorithmProvider(Algorithm, 0);
  }
  return HexText(Digest, sizeof Digest);
}

}  // namespace halvora::test
