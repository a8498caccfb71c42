#include "install/uSecureAttention.h"

#include <gtest/gtest.h>

namespace halvora {
namespace {

// Outside agent mode the request is refused before sas.dll is touched: Wine's SendSAS is a
// stub that ends the process, so a call would end this test too. (What the agent's call does
// needs Windows, a service and the policy value; Wine cannot show it.)
TEST(TSecureAttention, OutsideTheAgentIsRefusedWithoutAskingTheSystem) {
  EXPECT_FALSE(SendSecureAttention());
  EXPECT_FALSE(TSecureAttention().SendSecureAttention());
}

}  // namespace
}  // namespace halvora
