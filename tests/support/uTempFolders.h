#pragma once

#include "support/uFakeFolders.h"
#include "support/uTestFiles.h"

namespace halvora::test {

// Every system folder inside one fresh temporary folder, removed with the object.
class TTempFolders final : public TFakeFolders {
 public:
  TTempFolders() {
    Set(TKnownFolder::kfCommonAppData, FRoot.Path("common/"));
    Set(TKnownFolder::kfProgramFiles, FRoot.Path("programs/"));
    Set(TKnownFolder::kfUserAppData, FRoot.Path("user/"));
  }

 private:
  TTempFolder FRoot;
};

}  // namespace halvora::test
