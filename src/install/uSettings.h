#pragma once

#include <exception>
#include <string>
#include <string_view>

#include "base/uIniFile.h"
#include "install/uSystemFolders.h"

namespace halvora {

// The host's settings and identity, as the settings file keeps them.
struct TSettings {
  std::string ServerUrl;  // the relay's WebSocket URL
  std::string MyId;       // the ID the relay gave this host; empty until it gives one
  std::string Key;        // this host's secret towards the relay
  std::string BrandCode;  // the brand the host shows; empty for none
  std::string ApiUrl;     // the brand service's base URL
};

// Start of the status text shown when the settings cannot be saved.
inline constexpr std::string_view SaveFailedPrefix = "Não foi possível salvar a configuração: ";

// The status text for a failed SaveSettings.
std::string SaveFailedText(const std::exception& AError);

// The relay endpoint used when the settings name none, fixed when the program is built.
std::string DefaultRelayUrl();

// The machine settings file when the program is installed, else the user's own
// (<user application data>/halvora/halvora.ini). Looked up at every call.
std::string SettingsPath(const ISystemFolders& AFolders = SystemFolders());

// The folder ASettingsPath is in, with its trailing separator: where brands are cached.
std::string BrandFolder(const std::string& ASettingsPath);

// The settings in the file at APath (a missing file reads as empty), completed with
// defaults: the relay from the older Host/Port form or DefaultRelayUrl(), the brand service
// derived from the relay, the brand code in AProgramPath's file name over the stored one, and
// a new key in place of one shorter than 48 characters. Writes nothing.
TSettings LoadSettings(const std::string& APath, std::string_view AProgramPath);

// Whose settings file a save writes. The user's own holds the host key, so it is kept
// readable and writable by its owner only, and the folders made for it are the owner's only.
// The machine-wide file of an installed host is also read by the session agent, which runs
// as the console's user: its permissions stay as the installer made them.
enum class TSettingsScope { ssUser, ssMachine };

// Writes the relay, the ID, the key and the brand of ASettings into AIni, keeping everything
// else; the brand service's address is left as it is.
void WriteSettings(IIniValues& AIni, const TSettings& ASettings);

// Stores ASettings in the file at APath, creating its folders, keeping everything else in the
// file and dropping the older Host/Port form; a stored Server.ApiUrl is left as it is.
// Permissions as AScope says. Throws std::runtime_error with a text naming what failed.
void SaveSettings(const std::string& APath, const TSettings& ASettings,
                  TSettingsScope AScope = TSettingsScope::ssUser);
// The same at SettingsPath(AFolders), with the scope of that file.
void SaveSettings(const ISystemFolders& AFolders, const TSettings& ASettings);

// A new key: 48 random hex digits.
std::string NewKey();
// A new access password: 6 random characters, without the easily confused 0, 1, i, l and o.
std::string NewPasswordText();

}  // namespace halvora
