#pragma once

#include <QLabel>
#include <QSystemTrayIcon>
#include <QWidget>

#include "base/uBytes.h"
#include "host/uMain.h"
#include "host/uMainModel.h"
#include "ui/qt/uTheme.h"

namespace halvora {

// The main window: renders the controller's model and hands clicks to its handlers. Every
// component carries its model name as object name.
class TMainWindow final : public QWidget, public IMainView, public IDialogs {
 public:
  TMainWindow();

  // Wires the controls to AController and renders; until then model changes are ignored.
  void Attach(TfrmMain& AController);

  // IMainView
  void ModelChanged() override;
  void ShowBalloon(const std::string& ATitle, const std::string& AText) override;
  void MinimizeApplication() override;
  void RestoreApplication() override;
  void ShowMainWindow() override;
  void HideMainWindow() override;
  void TerminateApplication() override;

  // IDialogs
  bool Confirm(const std::string& AText) override;
  void Inform(const std::string& AText) override;
  bool Input(const std::string& ATitle, const std::string& APrompt, std::string& AValue) override;

 protected:
  void closeEvent(QCloseEvent* AEvent) override;
  bool eventFilter(QObject* AWatched, QEvent* AEvent) override;

 private:
  void RenderLogo();

  TfrmMain* FController = nullptr;
  QWidget *FHeader, *FAccent, *FLocal;
  QLabel *FLogo, *FTitle, *FSubtitle, *FLocalTitle, *FIdCaption, *FId, *FPassCaption, *FPassword,
      *FHint, *FStatus, *FFixed, *FInstall;
  TButton *FNewPassword, *FRevoke, *FDisconnect, *FServer;
  QSystemTrayIcon* FTray;
  TIdBytes FShownLogo;
  bool FLogoShown = false;
};

}  // namespace halvora
