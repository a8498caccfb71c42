#include "support/uPlatformFacts.h"

#include "support/uTestFiles.h"

namespace halvora::test {

const TExpectedNames& ExpectedNames() {
  static const TExpectedNames Names{"halvora", "halvora.ini", "halvora", '/'};
  return Names;
}

void WriteSettingsText(const std::string& APath, const std::string& AText) {
  WriteFile(APath, AText);
}

std::string ReadSettingsText(const std::string& APath) { return ReadFile(APath); }

}  // namespace halvora::test
