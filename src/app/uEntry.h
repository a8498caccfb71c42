#pragma once

#include <string>
#include <vector>

namespace halvora {

// The modes a process can run; the entry picks exactly one.
class IEntryModes {
 public:
  virtual ~IEntryModes() = default;
  virtual void RunServiceDispatcher() = 0;
  virtual int RunInstall() = 0;
  virtual int RunUninstall() = 0;
  // True when this is the first interactive copy here; otherwise it has asked the first
  // one to come forward (and said so on an installed computer).
  virtual bool EnsureSingleInstance() = 0;
  virtual int RunInteractive() = 0;
};

// Runs the mode that AArgs (program path first) select and returns the process exit code.
// The service switch wins over the install switch, and that over the uninstall switch.
int RunEntry(const std::vector<std::string>& AArgs, IEntryModes& AModes);

}  // namespace halvora
