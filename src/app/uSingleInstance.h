#pragma once

#include <functional>
#include <memory>
#include <string>

namespace halvora {

// The marker that lets one interactive copy run per desktop session (on Linux, per X
// display). The first copy holds it for the life of the process and listens for later
// copies, which ask it to come forward.
class IInstanceMarker {
 public:
  virtual ~IInstanceMarker() = default;
  // True when this process now holds the marker, or when the marker cannot be made at all
  // (a copy that cannot tell must not be kept from starting).
  virtual bool Acquire() = 0;
  // Holder only: AOnRequest runs (on the main thread) whenever a later copy asks.
  virtual void Listen(std::function<void()> AOnRequest) = 0;
  // Later copies: asks the holder to come forward; false when it could not be reached.
  virtual bool AskHolderToComeForward() = 0;
};

// What a later copy shows on an installed computer.
inline constexpr const char* AlreadyRunningText =
    "O Halvora já está instalado e em execução neste computador.\r\nClique no ícone dele ao "
    "lado do relógio para ver o ID e a senha.";

// True for the first copy. A later copy asks the first to come forward and, when
// AInstalled, calls AShowInstalledMessage with AlreadyRunningText before returning false.
bool EnsureSingleInstance(IInstanceMarker& AMarker, bool AInstalled,
                          const std::function<void(const std::string&)>& AShowInstalledMessage);

}  // namespace halvora
