#pragma once

#include <map>
#include <string>

#include "install/uSystemFolders.h"

namespace halvora::test {

// System folders as the test sets them; a folder left out cannot be resolved.
class TFakeFolders : public ISystemFolders {
 public:
  std::string KnownFolderPath(TKnownFolder AFolder) const override {
    const auto It = FPaths.find(AFolder);
    return It == FPaths.end() ? std::string() : It->second;
  }
  void Set(TKnownFolder AFolder, std::string APath) { FPaths[AFolder] = std::move(APath); }

 private:
  std::map<TKnownFolder, std::string> FPaths;
};

}  // namespace halvora::test
