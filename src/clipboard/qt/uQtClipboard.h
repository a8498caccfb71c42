#pragma once

#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/uMainQueue.h"
#include "clipboard/uClipboardAccess.h"

namespace halvora {

class TClipboardSync;

// The system clipboard through Qt's QClipboard (on X11 the CLIPBOARD selection). Its
// dataChanged signal is the change notification, passed on from the event loop once for the
// changes of one pass; content written here is recognised as our own while the clipboard still
// holds it. Text is UTF-8; file lists are offered as
// text/uri-list and x-special/gnome-copied-files, and read from either. Needs a
// QGuiApplication; used on its thread only.
class TQtClipboard final : public QObject, public IClipboardAccess {
 public:
  TQtClipboard();
  ~TQtClipboard() override;

  void SetOnChange(std::function<void()> AHandler) override;
  std::uint32_t SequenceNumber() override { return FSequence; }
  bool OwnedBySelf() override;
  bool ReadFiles(std::vector<std::string>& APaths) override;
  bool ReadText(std::string& AText) override;
  bool WriteText(const std::string& AText) override;
  bool WriteFiles(const std::vector<std::string>& APaths) override;

 private:
  void Changed();

  std::function<void()> FOnChange;
  std::uint32_t FSequence = 0;
  bool FNotifyPending = false;
};

// The host's clipboard sharing on this platform: the Qt clipboard, the POSIX file system,
// the base folder below the user's cache folder (deleted now, with what earlier runs received)
// and the local time. Create it on the Qt thread after the QApplication, and free it before.
std::shared_ptr<TClipboardSync> NewQtClipboardSync(TMainQueue& AQueue = MainQueue());

}  // namespace halvora
