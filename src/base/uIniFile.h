#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/uFiles.h"

namespace halvora {

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
class TIniFile {
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
                         std::string_view ADefault) const;
  // The value as a decimal integer with an optional sign; ADefault when it is missing, holds
  // anything else or does not fit an int.
  int ReadInteger(std::string_view ASection, std::string_view AKey, int ADefault) const;
  bool ValueExists(std::string_view ASection, std::string_view AKey) const;

  // Replaces an existing key's value in place, keeping the line up to the value as it was;
  // otherwise adds the key after the section's last key line (right after the header when
  // it has none), or adds the section at the end. Control characters (below U+0020 and
  // U+007F) are dropped from names and value, so no value can start a line of its own.
  void WriteString(std::string_view ASection, std::string_view AKey, std::string_view AValue);
  // Removes the key's line; nothing happens when there is none.
  void DeleteKey(std::string_view ASection, std::string_view AKey);

 private:
  // Index of the key's line.
  std::optional<std::size_t> FindKey(std::string_view ASection, std::string_view AKey) const;
  // Where a new key of ASection goes; empty when the file has no such section.
  std::optional<std::size_t> InsertionPoint(std::string_view ASection) const;

  std::vector<std::string> FLines;
  bool FCrLf = false;
};

}  // namespace halvora
