#pragma once

#include "host/uMain.h"

namespace halvora {

// What a special build puts around the controller, such as the end-to-end test host.
class IProgramDecorator {
 public:
  virtual ~IProgramDecorator() = default;
  // Before the controller is made: may put itself between it and AEnv's parts.
  virtual void Decorate(TMainEnvironment& AEnv) = 0;
  // Once the controller runs; Detach once it is gone, before the program's window goes.
  virtual void Attach(TfrmMain& AController) = 0;
  virtual void Detach() = 0;
};

// The program on the platform it is built for: runs the mode the arguments select and
// returns the process exit code.
int RunProgram(int& AArgc, char** AArgv, IProgramDecorator* ADecorator = nullptr);

}  // namespace halvora
