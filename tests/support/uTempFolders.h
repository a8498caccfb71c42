#pragma once

#include <filesystem>
#include <string>

#include "install/uSystemFolders.h"

namespace halvora::test {

// System folders inside a fresh temporary directory, removed with the object.
class TTempFolders final : public ISystemFolders {
 public:
  TTempFolders();
  ~TTempFolders() override;
  TTempFolders(const TTempFolders&) = delete;
  TTempFolders& operator=(const TTempFolders&) = delete;

  std::string KnownFolderPath(TKnownFolder AFolder) const override;
  const std::filesystem::path& Root() const { return FRoot; }

 private:
  std::filesystem::path FRoot;
};

}  // namespace halvora::test
