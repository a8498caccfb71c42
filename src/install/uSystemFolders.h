#pragma once

#include <string>
#include <string_view>

namespace halvora {

enum class TKnownFolder { kfCommonAppData, kfProgramFiles, kfUserAppData };

// Where the platform keeps the folders the installation lives in.
class ISystemFolders {
 public:
  virtual ~ISystemFolders() = default;
  // The folder's path with a trailing separator; empty when it cannot be resolved.
  virtual std::string KnownFolderPath(TKnownFolder AFolder) const = 0;
};

// The platform's folders.
ISystemFolders& SystemFolders();

// The names the installation uses on this platform.
struct TPlatformNames {
  std::string_view AppFolder;     // the application's folder inside a known folder
  std::string_view SettingsFile;  // the machine settings file inside the application folder
  std::string_view ExeName;       // the executable inside the install folder
  char Separator;                 // the path separator
};

const TPlatformNames& PlatformNames();

}  // namespace halvora
