#include "clipboard/qt/uQtClipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QUrl>

#include "clipboard/linux/uPosixClipFiles.h"
#include "clipboard/uClipboardSync.h"

namespace halvora {
namespace {

const QString UriListFormat = QStringLiteral("text/uri-list");
const QString GnomeFilesFormat = QStringLiteral("x-special/gnome-copied-files");

// What this object put on the clipboard: found there again, it is our own content.
class TOwnMimeData final : public QMimeData {};

QClipboard& Clipboard() {
  return *QGuiApplication::clipboard();
}

// The local path of one line of a URL list, byte for byte as the file system has it; empty for
// comments, the "copy"/"cut" line of GNOME's format and anything but a local file URL.
std::string LocalPath(const QByteArray& ALine) {
  const QByteArray Line = ALine.trimmed();
  if (Line.isEmpty() || Line.startsWith('#')) return {};
  const QUrl Url = QUrl::fromEncoded(Line);
  if (!Url.isValid() || Url.scheme().compare(QLatin1String("file"), Qt::CaseInsensitive) != 0)
    return {};
  if (!Url.host().isEmpty() &&
      Url.host().compare(QLatin1String("localhost"), Qt::CaseInsensitive) != 0)
    return {};
  const QByteArray Path = QByteArray::fromPercentEncoding(Url.path(QUrl::FullyEncoded).toLatin1());
  if (Path.isEmpty() || Path.front() != '/') return {};
  return Path.toStdString();
}

void AppendLocalPaths(const QByteArray& AList, std::vector<std::string>& APaths) {
  for (const QByteArray& Line : AList.split('\n')) {
    std::string Path = LocalPath(Line);
    if (!Path.empty()) APaths.push_back(std::move(Path));
  }
}

// Sets AData as the clipboard's content; true when the clipboard holds it now.
bool Offer(TOwnMimeData* AData) {
  Clipboard().setMimeData(AData);  // the clipboard owns it from here
  return Clipboard().mimeData() == AData;
}

}  // namespace

TQtClipboard::TQtClipboard() {
  QObject::connect(&Clipboard(), &QClipboard::dataChanged, this, [this] { Changed(); });
}

TQtClipboard::~TQtClipboard() = default;

void TQtClipboard::SetOnChange(std::function<void()> AHandler) {
  FOnChange = std::move(AHandler);
}

void TQtClipboard::Changed() {
  ++FSequence;
  // One look at the clipboard for the notifications of one pass of the event loop: the X
  // server may report one change twice (an owner that quits, another that takes over), and
  // the clipboard is not read from within the handling of an X event.
  if (FNotifyPending) return;
  FNotifyPending = true;
  QMetaObject::invokeMethod(
      this,
      [this] {
        FNotifyPending = false;
        if (FOnChange) FOnChange();
      },
      Qt::QueuedConnection);
}

bool TQtClipboard::OwnedBySelf() {
  return dynamic_cast<const TOwnMimeData*>(Clipboard().mimeData()) != nullptr;
}

bool TQtClipboard::ReadFiles(std::vector<std::string>& APaths) {
  APaths.clear();
  const QMimeData* Data = Clipboard().mimeData();
  if (!Data) return false;
  if (Data->hasFormat(UriListFormat)) AppendLocalPaths(Data->data(UriListFormat), APaths);
  if (APaths.empty() && Data->hasFormat(GnomeFilesFormat))
    AppendLocalPaths(Data->data(GnomeFilesFormat), APaths);
  // A list of web addresses is no file list; its text goes out as text.
  return !APaths.empty();
}

bool TQtClipboard::ReadText(std::string& AText) {
  AText.clear();
  const QMimeData* Data = Clipboard().mimeData();
  if (!Data || !Data->hasText()) return false;
  AText = Data->text().toStdString();
  return true;
}

bool TQtClipboard::WriteText(const std::string& AText) {
  auto* Data = new TOwnMimeData;
  Data->setText(QString::fromStdString(AText));
  return Offer(Data);
}

bool TQtClipboard::WriteFiles(const std::vector<std::string>& APaths) {
  QByteArray UriList;
  QByteArray GnomeList("copy");
  for (const std::string& Path : APaths) {
    const QByteArray Url = QUrl::fromLocalFile(QString::fromStdString(Path)).toEncoded();
    UriList += Url + "\r\n";
    GnomeList += '\n' + Url;
  }
  auto* Data = new TOwnMimeData;
  Data->setData(UriListFormat, UriList);
  Data->setData(GnomeFilesFormat, GnomeList);
  return Offer(Data);
}

namespace {

// The parts of the platform's clipboard sharing, freed together in the right order.
struct TQtClipboardParts {
  explicit TQtClipboardParts(TMainQueue& AQueue)
      : Sync(Clipboard, Files, ClipboardBaseFolder(), LocalTimeNow, AQueue) {}

  TQtClipboard Clipboard;
  TPosixClipFiles Files;
  TClipboardSync Sync;
};

}  // namespace

std::shared_ptr<TClipboardSync> NewQtClipboardSync(TMainQueue& AQueue) {
  auto Parts = std::make_shared<TQtClipboardParts>(AQueue);
  return std::shared_ptr<TClipboardSync>(Parts, &Parts->Sync);
}

}  // namespace halvora
