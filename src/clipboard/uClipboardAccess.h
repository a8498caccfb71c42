#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace halvora {

// The platform clipboard as the sharing object needs it. Every call comes on the main thread,
// and the change handler is called there too. Texts and paths are UTF-8.
class IClipboardAccess {
 public:
  virtual ~IClipboardAccess() = default;

  // AHandler runs after every change of the clipboard's content, also after this object's own
  // writes; an empty function stops the notifications.
  virtual void SetOnChange(std::function<void()> AHandler) = 0;
  // A number that changes with every change of the content.
  virtual std::uint32_t SequenceNumber() = 0;
  // The content is the one this object wrote last (the clipboard still holds it).
  virtual bool OwnedBySelf() = 0;

  // The local files and folders on the clipboard, in its order; false when it holds none.
  virtual bool ReadFiles(std::vector<std::string>& APaths) = 0;
  // The text on the clipboard; false when it holds none or it cannot be read.
  virtual bool ReadText(std::string& AText) = 0;

  // Replace the content; false when the clipboard was left unchanged.
  virtual bool WriteText(const std::string& AText) = 0;
  virtual bool WriteFiles(const std::vector<std::string>& APaths) = 0;
};

}  // namespace halvora
