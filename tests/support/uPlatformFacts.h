#pragma once

#include <string>

namespace halvora::test {

// The names this platform's installation uses, written out for the tests to compare with.
struct TExpectedNames {
  std::string AppFolder;     // inside the user's and the common application data folders
  std::string SettingsFile;  // inside the application folder
  std::string ExeName;       // inside the installation folder
  char Separator;
};

const TExpectedNames& ExpectedNames();

// Writes AText (UTF-8, '\n' line ends) in the form this platform's settings files take.
void WriteSettingsText(const std::string& APath, const std::string& AText);

// The settings file at APath as UTF-8 text with '\n' line ends, whatever form it was written in.
std::string ReadSettingsText(const std::string& APath);

}  // namespace halvora::test
