#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/uFiles.h"

namespace halvora {

// The keys of an INI settings file, whoever keeps the file. Names match regardless of ASCII
// case; values are read without the blanks around them. Writing drops control characters
// (below U+0020 and U+007F) from names and value, so no value can start a line of its own.
class IIniValues {
 public:
  virtual ~IIniValues() = default;
  virtual std::string ReadString(std::string_view ASection, std::string_view AKey,
                                 std::string_view ADefault) const = 0;
  // The value as a decimal integer with an optional sign; ADefault when it is missing, holds
  // anything else or does not fit an int.
  virtual int ReadInteger(std::string_view ASection, std::string_view AKey,
                          int ADefault) const = 0;
  virtual bool ValueExists(std::string_view ASection, std::string_view AKey) const = 0;
  virtual void WriteString(std::string_view ASection, std::string_view AKey,
                           std::string_view AValue) = 0;
  // Removes the key; nothing happens when there is none.
  virtual void DeleteKey(std::string_view ASection, std::string_view AKey) = 0;
};

// AText without its control characters (below U+0020 and U+007F).
std::string WithoutControls(std::string_view AText);

// An INI text (sections in square brackets, key=value lines) kept line by line, so that
// whatever is not written or deleted stays exactly as it was: comments, blank lines,
// unknown sections and keys, their order and their spelling.
//
// A line is a section header when, without its leading blanks, it starts with '[' and holds
// a ']'; a comment when it starts with ';' or '#'; a key line when it holds a '=' after a
// non-empty name. Names match regardless of ASCII case. Names and values are read without
// the blanks around them (bytes up to U+0020); the value is the text after the first '='.
// Lines before the first section belong to no section. A section that appears more than once
// is looked up in every place, in file order; of a duplicated key the first one counts for
// reading, writing and deleting.
//
// Precondition on every section and key name passed in: one of this program's fixed names,
// non-empty, without blanks around it and without '=', '[', ']', ';' or '#'. Not checked.
class TIniFile final : public IIniValues {
 public:
  // Parses AText; a UTF-8 byte-order mark at its start is skipped. CrLf and LF both end a line.
  static TIniFile FromText(std::string_view AText);
  // The lines, each followed by a line end: CrLf when the first line end read was CrLf,
  // LF otherwise (lines ended otherwise are written with that same line end).
  std::string ToText() const;

  // Replaces the contents by the file's. A missing or unreadable file reads as empty;
  // returns whether the file was read.
  bool Load(const std::string& APath);
  // Writes ToText() as UTF-8 without byte-order mark, with permissions as AMode says; see
  // ReplaceFile for how a failed write leaves the file. Throws std::runtime_error naming the
  // path and the system's error.
  void Save(const std::string& APath, TReplaceMode AMode = TReplaceMode::rmKeepMode) const;

  std::string ReadString(std::string_view ASection, std::string_view AKey,
                         std::string_view ADefault) const override;
  int ReadInteger(std::string_view ASection, std::string_view AKey, int ADefault) const override;
  bool ValueExists(std::string_view ASection, std::string_view AKey) const override;

  // Replaces an existing key's value in place, keeping the line up to the value as it was;
  // otherwise adds the key after the section's last key line (right after the header when
  // it has none), or adds the section at the end.
  void WriteString(std::string_view ASection, std::string_view AKey,
                   std::string_view AValue) override;
  void DeleteKey(std::string_view ASection, std::string_view AKey) override;

 private:
  // Index of the key's line.
  std::optional<std::size_t> FindKey(std::string_view ASection, std::string_view AKey) const;
  // Where a new key of ASection goes; empty when the file has no such section.
  std::optional<std::size_t> InsertionPoint(std::string_view ASection) const;

  std::vector<std::string> FLines;
  bool FCrLf = false;
};

// An INI file on disk, opened to read and change its keys.
class IIniStore : public IIniValues {
 public:
  // Makes the changes permanent, with permissions as AMode says where the platform has them.
  // Throws std::runtime_error naming the path and the system's error.
  virtual void Commit(TReplaceMode AMode) = 0;
};

// The INI file at APath (a missing or unreadable file reads as empty); its folder must exist
// for a write. Linux: a TIniFile read whole here and written back by Commit through
// ReplaceFile. Windows: the private-profile functions, which read and write the file at every
// call (Commit has nothing left to do), and which read a value enclosed in one pair of quotes
// (" or ') without them.
std::unique_ptr<IIniStore> OpenIniStore(const std::string& APath);

// The INI text file at APath as a store: loaded whole, saved whole by Commit.
class TIniTextStore final : public IIniStore {
 public:
  explicit TIniTextStore(std::string APath);
  std::string ReadString(std::string_view ASection, std::string_view AKey,
                         std::string_view ADefault) const override;
  int ReadInteger(std::string_view ASection, std::string_view AKey, int ADefault) const override;
  bool ValueExists(std::string_view ASection, std::string_view AKey) const override;
  void WriteString(std::string_view ASection, std::string_view AKey,
                   std::string_view AValue) override;
  void DeleteKey(std::string_view ASection, std::string_view AKey) override;
  void Commit(TReplaceMode AMode) override;

 private:
  const std::string FPath;
  TIniFile FIni;
};

}  // namespace halvora
