#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

namespace halvora {

// A file-system operation of a transfer failed; what() is the reason shown to the user
// (the system's message, or a Portuguese text).
class EClipFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// What a lookup found at a path.
struct TFileInfo {
  bool IsDir = false;
  // A folder reached through a link (symbolic link, junction): sent without its content.
  bool IsLink = false;
  std::int64_t Size = 0;  // file size in bytes; 0 for a folder
};

class IFileReader {
 public:
  virtual ~IFileReader() = default;
  // Up to ACount bytes; 0 at the end of the file or when it cannot be read any further.
  virtual std::size_t Read(void* ABuffer, std::size_t ACount) = 0;
};

class IFileWriter {
 public:
  virtual ~IFileWriter() = default;  // closes, ignoring failures
  // Writes everything straight through; throws EClipFailure when it cannot.
  virtual void Write(const void* ABuffer, std::size_t ACount) = 0;
  // Closes the file; throws EClipFailure when the system reports a failure.
  virtual void Close() = 0;
};

// The file system of clipboard transfers. Paths are UTF-8 in the platform's form. The walk
// and the reading run on the sender's thread, the rest on the main thread; implementations
// keep no state between calls.
class IClipFileSystem {
 public:
  virtual ~IClipFileSystem() = default;

  // --- sending ---
  // The file or folder at APath (links to files are followed); false when nothing that can be
  // sent is there.
  virtual bool Lookup(const std::string& APath, TFileInfo& AInfo) = 0;
  // Calls AEach with the name of every entry of the folder except "." and "..", in the order
  // the file system gives them, until AEach returns false. False when AEach stopped it; a
  // folder that cannot be listed has no entries.
  virtual bool EnumFolder(const std::string& AFolder,
                          const std::function<bool(const std::string& AName)>& AEach) = 0;
  // Opened for reading while others may read and write it; null when it cannot be opened or
  // is no plain file.
  virtual std::unique_ptr<IFileReader> OpenRead(const std::string& APath) = 0;

  // --- receiving (failures throw EClipFailure) ---
  // Makes APath, with its missing parents, a folder that only this user can enter; it must
  // not be a link.
  virtual void EnsurePrivateFolder(const std::string& APath) = 0;
  // Creates the folder APath, only this user's; false when something of that name exists.
  virtual bool CreateNewFolder(const std::string& APath) = 0;
  // Creates APath and its missing parents as folders.
  virtual void CreateFolders(const std::string& APath) = 0;
  // Creates the file APath for writing, replacing a file of that name.
  virtual std::unique_ptr<IFileWriter> CreateFile(const std::string& APath) = 0;
  // Deletes APath with everything in it, following no link; failures are ignored.
  virtual void DeleteTree(const std::string& APath) noexcept = 0;

  // --- names ---
  // The separator put between path parts.
  virtual char Delimiter() const = 0;
  // A character that separates path parts.
  virtual bool IsDelimiter(char AChar) const = 0;
  // Two names in one folder denote the same entry.
  virtual bool SameName(const std::string& A, const std::string& B) const = 0;
};

// The local date and time, as the names of receive folders carry it.
struct TLocalTime {
  int Year = 0, Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0, Millisecond = 0;
};

using TLocalTimeFunc = std::function<TLocalTime()>;

}  // namespace halvora
