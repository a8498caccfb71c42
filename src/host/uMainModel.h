#pragma once

#include <cstdint>
#include <string>

namespace halvora {

// A colour as 0xRRGGBB.
using TColor = std::uint32_t;

// What a view shows of one component of the main window.
struct TComponentState {
  std::string Text;
  bool Visible = true;
  bool Enabled = true;
  int FontHeight = 12;  // character height in pixels
  bool Bold = false;
  TColor Color = 0x1F3A44;  // text colour for labels and buttons, fill for panels
};

// The notification-area icon.
struct TTrayState {
  bool Visible = false;
  std::string Hint = "Halvora";
};

// The main window as plain data: the controller changes it, a view renders it.
struct TMainWindowModel {
  TMainWindowModel();

  std::string Caption = "Halvora";
  TComponentState pnlHeader, lblTitle, lblSubtitle, pnlAccent, pnlLocal, lblLocalTitle,
      lblIdCaption, lblId, lblPassCaption, lblPassword, btnNewPassword, lblHint, lblFixed,
      btnRevoke, lblInstall, lblStatus, btnDisconnect, btnServer;
  TTrayState Tray;
};

// The parts of a view the controller drives beyond the model.
class IMainView {
 public:
  virtual ~IMainView() = default;
  // The model changed; render it.
  virtual void ModelChanged() = 0;
  virtual void ShowBalloon(const std::string& ATitle, const std::string& AText) = 0;
  virtual void MinimizeApplication() = 0;
  virtual void RestoreApplication() = 0;
  // Shows, restores and brings the window to the front (a click on the tray icon).
  virtual void ShowMainWindow() = 0;
  virtual void HideMainWindow() = 0;
  // Ends the program's event loop.
  virtual void TerminateApplication() = 0;
};

// Modal dialogs.
class IDialogs {
 public:
  virtual ~IDialogs() = default;
  // Yes/No question; true on Yes.
  virtual bool Confirm(const std::string& AText) = 0;
  virtual void Inform(const std::string& AText) = 0;
  // False when cancelled; AValue holds the initial and then the entered text.
  virtual bool Input(const std::string& ATitle, const std::string& APrompt,
                     std::string& AValue) = 0;
};

}  // namespace halvora
