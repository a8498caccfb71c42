#pragma once

#include <string>

#include "clipboard/uClipFiles.h"

namespace halvora {

// The clipboard transfers' file system on POSIX. Links to folders are looked up as linked
// folders (sent without content); pipes, sockets and devices are not sent. Received folders
// and files are created without following links; DeleteTree never leaves the tree it deletes.
class TPosixClipFiles final : public IClipFileSystem {
 public:
  bool Lookup(const std::string& APath, TFileInfo& AInfo) override;
  bool EnumFolder(const std::string& AFolder,
                  const std::function<bool(const std::string& AName)>& AEach) override;
  std::unique_ptr<IFileReader> OpenRead(const std::string& APath) override;

  void EnsurePrivateFolder(const std::string& APath) override;
  bool CreateNewFolder(const std::string& APath) override;
  void CreateFolders(const std::string& APath) override;
  std::unique_ptr<IFileWriter> CreateFile(const std::string& APath) override;
  void DeleteTree(const std::string& APath) noexcept override;

  char Delimiter() const override { return '/'; }
  bool IsDelimiter(char AChar) const override { return AChar == '/'; }
  bool SameName(const std::string& A, const std::string& B) const override { return A == B; }
};

// Where received files live: $XDG_CACHE_HOME (when it is an absolute path, else ~/.cache)
// joined with "halvora/clipboard"; empty when the user has no home folder.
std::string ClipboardBaseFolder();

// The local date and time now.
TLocalTime LocalTimeNow();

}  // namespace halvora
