#pragma once

#include <string>
#include <vector>

namespace halvora::viewer {

struct TViewerOptions {
  std::string Relay;  // ws://… or wss://…
  std::string Id;
  std::string Password;
  bool HasPassword = false;
  std::string Token;
  std::string Name = "Atendente de teste";
  std::string Qualifier;
  std::string OutDir;
  std::string ScriptFile;  // empty: no script, run until the session ends
  std::string CaFile;      // extra CA for wss
  int TimeoutSeconds = 0;  // 0: no overall limit
};

// Reads the command line (without the program name); false with AError when an option is
// unknown, lacks its value or a required one (--relay, --id, --out) is missing.
bool ParseOptions(const std::vector<std::string>& AArgs, TViewerOptions& AOptions,
                  std::string& AError);

std::string UsageText();

}  // namespace halvora::viewer
