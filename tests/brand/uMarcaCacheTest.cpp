// The brand cache files and the brand codes that may name them.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "brand/uMarca.h"
#include "brand/uPngImage.h"
#include "support/uTestFiles.h"
#include "uBrandTestKit.h"

namespace halvora {
namespace {

using test::AsString;
using test::FolderEntries;
using test::MakePng;
using test::ReadFile;
using test::TTempFolder;
using test::WriteFile;

const std::string Bom = "\xEF\xBB\xBF";

TEST(TArquivoMarca, AddsTheDelimiterOnlyWhenMissing) {
  EXPECT_EQ(ArquivoMarca("/c/halvora/", "acme01", ".txt"), "/c/halvora/marca-acme01.txt");
  EXPECT_EQ(ArquivoMarca("/c/halvora", "acme01", ".png"), "/c/halvora/marca-acme01.png");
}

TEST(TSalvarMarca, WritesTheNameAndTheLogoAndDeletesALogoNoLongerGiven) {
  TTempFolder Root;
  const std::string Folder = Root.Path("missing/parents/");
  const TIdBytes Logo = MakePng(40, 40);
  SalvarMarca(Folder, "acme01", "Acme Suporte", Logo);
  EXPECT_EQ(ReadFile(Folder + "marca-acme01.txt"), Bom + "Acme Suporte\r\n");
  EXPECT_EQ(ReadFile(Folder + "marca-acme01.png"), AsString(Logo));
  EXPECT_EQ(FolderEntries(Folder),
            (std::vector<std::string>{"marca-acme01.png", "marca-acme01.txt"}));

  std::string Name;
  TIdBytes Loaded;
  ASSERT_TRUE(CarregarMarca(Folder, "acme01", Name, Loaded));
  EXPECT_EQ(Name, "Acme Suporte");
  EXPECT_EQ(Loaded, Logo);

  SalvarMarca(Folder, "acme01", "Acme", {});
  EXPECT_EQ(FolderEntries(Folder), std::vector<std::string>{"marca-acme01.txt"});
  ASSERT_TRUE(CarregarMarca(Folder, "acme01", Name, Loaded));
  EXPECT_EQ(Name, "Acme");
  EXPECT_TRUE(Loaded.empty());
}

TEST(TCarregarMarca, ReadsTheNameFileAsUtf8Lines) {
  struct TCase {
    std::string File;
    bool Found;
    std::string Name;
  };
  const TCase Cases[] = {
      {Bom + "  Acme Suporte \r\n", true, "Acme Suporte"},
      {"Acme", true, "Acme"},
      {"Linha 1\nLinha 2\rLinha 3\r\n\r\n", true, "Linha 1\r\nLinha 2\r\nLinha 3"},
      {"Suporte Ação", true, "Suporte Ação"},
      {"Marca \xFF", true, "Marca \xEF\xBF\xBD"},  // malformed UTF-8 is replaced
      {" \t\r\n \r\n\x01", false, ""},             // blanks only
      {Bom, false, ""},
      {"", false, ""},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.File);
    TTempFolder Root;
    WriteFile(Root.Path("marca-acme01.txt"), Case.File);
    std::string Name = "old";
    TIdBytes Logo{1};
    EXPECT_EQ(CarregarMarca(Root.Path(""), "acme01", Name, Logo), Case.Found);
    EXPECT_EQ(Name, Case.Name);
    EXPECT_TRUE(Logo.empty());
  }
}

TEST(TCarregarMarca, ALogoThatIsNotAWholePngOnlyLosesTheLogo) {
  const std::string Png = AsString(MakePng(40, 40));
  std::string Damaged = Png;
  Damaged[Damaged.size() / 2] ^= 0x55;  // inside the image data: its checksum fails
  const std::string Logos[] = {Png.substr(0, Png.size() / 2), Damaged, "GIF89a not a png", ""};
  for (const std::string& Logo : Logos) {
    SCOPED_TRACE(Logo.size());
    TTempFolder Root;
    WriteFile(Root.Path("marca-acme01.txt"), "Acme");
    WriteFile(Root.Path("marca-acme01.png"), Logo);
    std::string Name;
    TIdBytes Loaded;
    EXPECT_TRUE(CarregarMarca(Root.Path(""), "acme01", Name, Loaded));
    EXPECT_EQ(Name, "Acme");
    EXPECT_TRUE(Loaded.empty());
  }
}

TEST(TCarregarMarca, NothingWithoutAFolderACodeOrANameFile) {
  TTempFolder Root;
  WriteFile(Root.Path("marca-acme01.png"), AsString(MakePng(4, 4)));
  WriteFile(Root.Path("marca-.txt"), "Sem código");
  const std::pair<std::string, std::string> Cases[] = {
      {Root.Path("missing/"), "acme01"},  // missing folder
      {Root.Path(""), "acme01"},          // a logo but no name file
      {"", "acme01"},
      {Root.Path(""), ""},
  };
  for (const auto& [Folder, Code] : Cases) {
    SCOPED_TRACE(Folder + " " + Code);
    std::string Name = "old";
    TIdBytes Logo{1};
    EXPECT_FALSE(CarregarMarca(Folder, Code, Name, Logo));
    EXPECT_EQ(Name, "");
    EXPECT_TRUE(Logo.empty());
  }
}

// Codes arrive from the network: read into a file name unchecked, "x/../../evil" would read
// and replace files next to the cache folder.
TEST(TBrandCodes, OnlyLettersDigitsDashAndUnderscoreNameCacheFiles) {
  const std::string Unsafe[] = {"x/../../evil",
                                "../evil",
                                "..",
                                ".",
                                "x\\..\\..\\evil",
                                "a/b",
                                "/etc/passwd",
                                "acme01\n",
                                "ac me",
                                std::string("acme\0x", 6),
                                "acm\x01",
                                "ação",
                                "a.b",
                                "C:evil",
                                "",
                                std::string(65, 'a')};
  const std::string Safe[] = {"acme01", "ACME-x_1", "-", std::string(64, 'a')};

  TTempFolder Root;
  const std::string Cache = Root.Path("cache/");
  const std::string Png = AsString(MakePng(4, 4));
  WriteFile(Root.Path("evil.txt"), "Intruso");
  WriteFile(Root.Path("evil.png"), Png);
  std::filesystem::create_directories(Cache + "marca-x");
  for (const std::string& Code : Unsafe) {
    SCOPED_TRACE(Code);
    EXPECT_FALSE(IsSafeBrandCode(Code));
    std::string Name;
    TIdBytes Logo;
    EXPECT_FALSE(CarregarMarca(Cache, Code, Name, Logo));
    SalvarMarca(Cache, Code, "Novo", MakePng(2, 2));
    SalvarMarca(Cache, Code, "Novo", {});
    EXPECT_EQ(ReadFile(Root.Path("evil.txt")), "Intruso");
    EXPECT_EQ(ReadFile(Root.Path("evil.png")), Png);
    EXPECT_EQ(FolderEntries(Root.Path("")),
              (std::vector<std::string>{"cache", "evil.png", "evil.txt"}));
    EXPECT_EQ(FolderEntries(Cache), std::vector<std::string>{"marca-x"});
  }
  for (const std::string& Code : Safe) {
    SCOPED_TRACE(Code);
    EXPECT_TRUE(IsSafeBrandCode(Code));
    SalvarMarca(Cache, Code, "Nome", {});
    std::string Name;
    TIdBytes Logo;
    EXPECT_TRUE(CarregarMarca(Cache, Code, Name, Logo));
  }
}

TEST(TPngSize, OnlyWholePngsWithinTheLimits) {
  const TIdBytes Png = MakePng(200, 100);
  const auto Size = PngSize(Png);
  ASSERT_TRUE(Size);
  EXPECT_EQ(Size->Width, 200u);
  EXPECT_EQ(Size->Height, 100u);
  EXPECT_TRUE(PngSize(MakePng(MaxPngSide, 1)));
  EXPECT_FALSE(PngSize(MakePng(MaxPngSide + 1, 1)));
  EXPECT_FALSE(PngSize(TIdBytes(Png.begin(), Png.end() - 20)));  // without its end
  EXPECT_FALSE(PngSize({}));
}

}  // namespace
}  // namespace halvora
