#include "uProof.h"

#include <gtest/gtest.h>

namespace halvora::viewer {
namespace {

// Digests computed independently (coreutils sha256sum) over "<nonce>:<password>" in UTF-8.
TEST(ViewerProof, MatchesKnownDigests) {
  EXPECT_EQ(ProofHash("0123456789abcdef0123456789abcdef", "senhaç9"),
            "daf17b43b82f7a995c24d5c7c3a202a0fcc2a131019db133891aa4ea2d32108a");
  EXPECT_EQ(ProofHash("abc", ""),
            "16a3ed414449413487c2735c51e0e9c1df1f869cf94d89573b99acc91ccf4c30");
}

}  // namespace
}  // namespace halvora::viewer
