#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "install/uSystemFolders.h"

namespace halvora {

// Launch switches, given as "-name" or "/name" in any letter case.
inline constexpr std::string_view SwitchServico = "servico";
inline constexpr std::string_view SwitchInstalar = "instalar";
inline constexpr std::string_view SwitchDesinstalar = "desinstalar";
inline constexpr std::string_view SwitchAgente = "agente";
inline constexpr std::string_view SwitchDev = "dev";

// True when an argument after AArgs[0] (the program path) is the switch AName.
bool HasSwitchIn(const std::vector<std::string>& AArgs, std::string_view AName);
// HasSwitchIn over this process's arguments.
bool HasSwitch(std::string_view AName);
// The process was started with the agent switch; fixed for the whole run.
bool IsAgentMode();

// AFolder's path with a trailing separator, or empty when it cannot be resolved.
std::string KnownFolderPath(TKnownFolder AFolder, const ISystemFolders& AFolders = SystemFolders());
// The machine settings file in the common application data folder.
std::string MachineSettingsPath(const ISystemFolders& AFolders = SystemFolders());
// The application's folder under program files, with a trailing separator.
std::string InstallFolder(const ISystemFolders& AFolders = SystemFolders());
std::string InstalledExePath(const ISystemFolders& AFolders = SystemFolders());
// Both the machine settings file and the installed executable exist as regular files.
bool IsInstalled(const ISystemFolders& AFolders = SystemFolders());

// AValue without its double quotes, enclosed in double quotes, for a command line.
std::string QuoteArg(std::string_view AValue);

}  // namespace halvora
