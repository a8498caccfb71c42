#include "install/uSystemFolders.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace halvora {
namespace {

std::string EnvValue(const char* AName) {
  const char* Value = std::getenv(AName);
  return Value ? std::string(Value) : std::string();
}

// The home folder in the user's passwd entry, or empty.
std::string PasswdHome() {
  const long Suggested = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> Buffer(Suggested > 0 ? static_cast<std::size_t>(Suggested) : 16384);
  passwd Entry{};
  passwd* Found = nullptr;
  int Error;
  while ((Error = getpwuid_r(getuid(), &Entry, Buffer.data(), Buffer.size(), &Found)) == ERANGE &&
         Buffer.size() < (1u << 20)) {
    Buffer.resize(Buffer.size() * 2);
  }
  return (Error == 0 && Found && Found->pw_dir) ? std::string(Found->pw_dir) : std::string();
}

std::string WithTrailingSlash(std::string APath) {
  if (APath.empty() || APath.back() != '/') APath += '/';
  return APath;
}

// APath + "/.config/", without doubling a slash APath ends with.
std::string ConfigUnder(std::string APath) {
  while (!APath.empty() && APath.back() == '/') APath.pop_back();
  return APath + "/.config/";
}

// XDG_CONFIG_HOME when it is an absolute path, else ~/.config.
std::string UserConfigFolder() {
  const std::string Xdg = EnvValue("XDG_CONFIG_HOME");
  if (!Xdg.empty() && Xdg.front() == '/') return WithTrailingSlash(Xdg);
  const std::string Home = EnvValue("HOME");
  if (!Home.empty()) return ConfigUnder(Home);
  const std::string PwHome = PasswdHome();
  return PwHome.empty() ? std::string() : ConfigUnder(PwHome);
}

class TLinuxFolders final : public ISystemFolders {
 public:
  std::string KnownFolderPath(TKnownFolder AFolder) const override {
    switch (AFolder) {
      case TKnownFolder::kfCommonAppData: return "/var/lib/";
      case TKnownFolder::kfProgramFiles: return "/opt/";
      case TKnownFolder::kfUserAppData: return UserConfigFolder();
    }
    return std::string();
  }
};

}  // namespace

ISystemFolders& SystemFolders() {
  static TLinuxFolders Folders;
  return Folders;
}

const TPlatformNames& PlatformNames() {
  static const TPlatformNames Names{"halvora", "halvora.ini", "halvora", '/'};
  return Names;
}

}  // namespace halvora
