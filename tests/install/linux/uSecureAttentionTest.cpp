#include "install/uSecureAttention.h"

#include <gtest/gtest.h>

namespace halvora {
namespace {

// Neither outside agent mode (this test) nor in the agent can the sequence be raised here, so
// the request is refused and the caller shows its status text.
TEST(TSecureAttention, IsRefusedOnThisPlatform) {
  EXPECT_FALSE(RaiseSecureAttention());
  EXPECT_FALSE(SendSecureAttention());
  TSecureAttention Service;
  EXPECT_FALSE(Service.SendSecureAttention());
}

}  // namespace
}  // namespace halvora
