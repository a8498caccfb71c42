#include "brand/uMarca.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace halvora {
namespace {

struct TCase {
  std::string Input;
  std::string Expected;
};

void ExpectAll(const std::vector<TCase>& ACases, std::string (*AFunction)(std::string_view)) {
  for (const TCase& Case : ACases) {
    SCOPED_TRACE("input: \"" + Case.Input + "\"");
    EXPECT_EQ(AFunction(Case.Input), Case.Expected);
  }
}

TEST(TCodigoMarcaDoArquivo, FindsTheCodeAnywhereInTheFileName) {
  ExpectAll({{"halvora-abc123.exe", "abc123"},
             {"Halvora-ABC123.EXE", "abc123"},
             {"setup-halvora-abc123.exe", "abc123"},
             {"halvora-abc123", "abc123"},
             {"C:\\Downloads\\halvora-abc123.exe", "abc123"},
             {"/home/u/Downloads/halvora-abc123", "abc123"},
             {"halvora-abc123.tar.gz", "abc123"},
             {"halvora-abc123-halvora-xyz789.exe", "abc123"}},
            CodigoMarcaDoArquivo);
}

TEST(TCodigoMarcaDoArquivo, CodeEndsAtTheFirstOtherCharacter) {
  ExpectAll({{"halvora-abc123 (2).exe", "abc123"},
             {"halvora-abc123-x.exe", "abc123"},
             {"halvora-abc123_x", "abc123"},
             {"halvora-abc123\xC3\xA9", "abc123"}},
            CodigoMarcaDoArquivo);
}

TEST(TCodigoMarcaDoArquivo, AcceptsSixToTwelveCharacters) {
  ExpectAll({{"halvora-abc12.exe", ""},
             {"halvora-a1b2c3.exe", "a1b2c3"},
             {"halvora-abcdefghijkl.exe", "abcdefghijkl"},
             {"halvora-abcdefghijklm.exe", ""},
             {"halvora-ab (1234567).exe", ""}},
            CodigoMarcaDoArquivo);
}

TEST(TCodigoMarcaDoArquivo, NamesWithoutACodeGiveNothing) {
  ExpectAll({{"halvora.exe", ""},
             {"halvora-.exe", ""},
             {"halvora_abc123.exe", ""},
             {"", ""},
             // The code must be in the file name, not in a folder or the extension.
             {"/x/halvora-abc123/halvora", ""},
             {"C:\\x\\halvora-abc123\\halvora.exe", ""},
             {"setup.halvora-abc123", ""}},
            CodigoMarcaDoArquivo);
}

TEST(TUrlApiDoServidor, MapsTheSchemeAndDropsThePath) {
  ExpectAll({{"wss://host/relay", "https://host"},
             {"ws://10.0.0.5:7800/relay", "http://10.0.0.5:7800"},
             {"HTTP://host:8080/a/b", "http://host:8080"},
             {"Ws://host", "http://host"},
             {"https://host/", "https://host"},
             {"ftp://host/x", "https://host"},
             {"wsx://host/x", "https://host"},
             {"ws://host?x", "http://host?x"},
             {"ws://host/a://b", "http://host"}},
            UrlApiDoServidor);
}

TEST(TUrlApiDoServidor, WithoutSchemePutsHttpsInFrontOfTheWholeValue) {
  ExpectAll({{"host", "https://host"},
             {" host/relay ", "https://host/relay"},
             {"\t\r\nhost:443/relay\r\n", "https://host:443/relay"}},
            UrlApiDoServidor);
}

TEST(TUrlApiDoServidor, TrimsBlanksAroundAUrlWithScheme) {
  ExpectAll({{"  wss://host/relay\n", "https://host"}, {"\tws://host:1 ", "http://host:1"}},
            UrlApiDoServidor);
}

}  // namespace
}  // namespace halvora
