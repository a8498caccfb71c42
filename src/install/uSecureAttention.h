#pragma once

namespace halvora {

// Ctrl+Alt+Del on the technician's request; false where this host cannot raise it.
class ISecureAttention {
 public:
  virtual ~ISecureAttention() = default;
  virtual bool SendSecureAttention() = 0;
};

// Asks the system to raise the secure attention sequence (Ctrl+Alt+Del). True when the
// request was handed to the system; false outside agent mode and where the platform offers
// no way to raise it.
bool SendSecureAttention();

// The request as the session controller's service.
class TSecureAttention final : public ISecureAttention {
 public:
  bool SendSecureAttention() override { return halvora::SendSecureAttention(); }
};

// This platform's request; false when it cannot raise the sequence.
bool RaiseSecureAttention();

}  // namespace halvora
