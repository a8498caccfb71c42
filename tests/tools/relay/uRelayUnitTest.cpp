// Pure pieces: field text, options and the checks that keep HTTP paths in their folders.
#include <gtest/gtest.h>

#include "relay/uRelayAddresses.h"
#include "relay/uRelayFiles.h"
#include "relay/uRelayOptions.h"
#include "relay/uRelayWire.h"

namespace halvora::relay {
namespace {

TEST(RelayWire, SplitsFieldTextAtTheFirstTwoBars) {
  const std::vector<std::pair<std::string, TFields>> Cases = {
      {"a", {"a", "", ""}},   {"a|b", {"a", "b", ""}}, {"a|b|c|d", {"a", "b", "c|d"}},
      {"|x|", {"", "x", ""}}, {"", {"", "", ""}},
  };
  for (const auto& [Text, Expected] : Cases) {
    const TFields Fields = SplitFields(Text);
    EXPECT_EQ(Fields.First + "/" + Fields.Second + "/" + Fields.Third,
              Expected.First + "/" + Expected.Second + "/" + Expected.Third)
        << Text;
  }
  EXPECT_EQ(RemoveBlanks(" 123 456\t789 "), "123456789");
  EXPECT_EQ(Trim("\r\n Acme \t"), "Acme");
  EXPECT_EQ(MakeMessage(51, "0|ok|"), std::string("\x33") + "0|ok|");
}

TEST(RelayOptions, ParsesEveryOption) {
  const auto Parsed = ParseRelayOptions({"--listen",
                                         "0.0.0.0:9000",
                                         "--tls-cert=c.pem",
                                         "--tls-key",
                                         "k.pem",
                                         "--db",
                                         ":memory:",
                                         "--noop-interval",
                                         "0",
                                         "--install-offer",
                                         "Instale",
                                         "--brand",
                                         "acme|Acme",
                                         "--brands",
                                         "m",
                                         "--static",
                                         "s",
                                         "--port-file",
                                         "p",
                                         "--threads",
                                         "3",
                                         "--admin-token-file=t",
                                         "--hello-timeout=5",
                                         "--connections-per-address=200",
                                         "--queue-budget=2048",
                                         "--address-queue-budget=256",
                                         "--admission-timeout=15",
                                         "--connect-rate=60",
                                         "--registration-rate=100",
                                         "--quiet"});
  ASSERT_TRUE(Parsed.Options) << Parsed.Error;
  const TRelayOptions& O = *Parsed.Options;
  EXPECT_EQ(O.Address, "0.0.0.0");
  EXPECT_EQ(O.Port, 9000);
  EXPECT_EQ(O.TlsCert + O.TlsKey + O.Database, "c.pemk.pem:memory:");
  EXPECT_EQ(O.NoopInterval, 0u);
  EXPECT_EQ(O.InstallOffer + O.Brand + O.BrandsFolder + O.StaticFolder + O.PortFile,
            "Instaleacme|Acmemsp");
  EXPECT_EQ(O.Threads, 3u);
  EXPECT_EQ(O.AdminTokenFile, "t");
  EXPECT_TRUE(O.Quiet);
  EXPECT_EQ(ParseRelayOptions({"--admin-token", "x"}).Options->AdminToken, "x");
  const TRelayLimits& L = O.Limits;
  EXPECT_EQ(std::vector<unsigned>({L.HelloTimeout, L.ConnectionsPerAddress, L.QueueBudget,
                                   L.AddressQueueBudget, L.AdmissionTimeout, L.ConnectsPerMinute,
                                   L.RegistrationsPerHour}),
            std::vector<unsigned>({5, 200, 2048, 256, 15, 60, 100}));

  const auto Defaults = ParseRelayOptions({});
  ASSERT_TRUE(Defaults.Options);
  EXPECT_EQ(Defaults.Options->Address + ":" + std::to_string(Defaults.Options->Port),
            "127.0.0.1:8080");
  EXPECT_EQ(Defaults.Options->Database, "halvora-relay.db");
  EXPECT_EQ(Defaults.Options->NoopInterval, 30u);

  const auto V6 = ParseRelayOptions({"--listen", "[::1]:0"});
  ASSERT_TRUE(V6.Options);
  EXPECT_EQ(V6.Options->Address, "::1");
  EXPECT_EQ(V6.Options->Port, 0);

  for (const auto& Bad :
       std::vector<std::vector<std::string>>{{"--listen", "127.0.0.1"},
                                             {"--listen", "x:70000"},
                                             {"--noop-interval", "-1"},
                                             {"--threads", "many"},
                                             {"--hello-timeout", "0"},
                                             {"--queue-budget", "-5"},
                                             {"--tls-cert", "c.pem"},
                                             {"--admin-token", ""},
                                             {"--admin-token", "a", "--admin-token-file", "b"},
                                             {"--db"},
                                             {"--nope"}}) {
    const auto Result = ParseRelayOptions(Bad);
    EXPECT_FALSE(Result.Options) << Bad[0];
    EXPECT_FALSE(Result.Error.empty()) << Bad[0];
  }
  const auto Help = ParseRelayOptions({"--help"});
  EXPECT_FALSE(Help.Options);
  EXPECT_TRUE(Help.Error.empty());
}

TEST(RelayAddresses, LimitsIpv6ByItsPrefix) {
  const std::vector<std::pair<std::string, std::string>> Cases = {
      {"10.0.0.5", "10.0.0.5"},
      {"::ffff:10.0.0.5", "10.0.0.5"},
      {"2001:db8:1:2:aaaa:bbbb:cccc:dddd", "2001:db8:1:2::/64"},
      {"2001:db8:1:2::1", "2001:db8:1:2::/64"},
      {"::1", "::/64"},
  };
  for (const auto& [Address, Key] : Cases)
    EXPECT_EQ(AddressKey(boost::asio::ip::make_address(Address)), Key) << Address;
}

TEST(RelayFiles, AcceptsOnlyPlainRelativePaths) {
  const std::vector<std::pair<std::string, std::optional<std::string>>> Cases = {
      {"/", "index.html"},
      {"/a/b.js", "a/b.js"},
      {"/a/", "a/index.html"},
      {"/a%20b.html", "a b.html"},
      {"/.well-known/x", ".well-known/x"},
      {"/..", std::nullopt},
      {"/a/../b", std::nullopt},
      {"/%2E%2E/b", std::nullopt},
      {"/a/..", std::nullopt},
      {"//etc/passwd", std::nullopt},
      {"/a\\b", std::nullopt},
      {"/a%5Cb", std::nullopt},
      {"/a%00b", std::nullopt},
      {"/c:/x", std::nullopt},
      {"/%4", std::nullopt},
      {"relative", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& [Path, Expected] : Cases) EXPECT_EQ(SafeRelativePath(Path), Expected) << Path;

  for (const std::string& Code :
       std::vector<std::string>{"a", "acme", "A_b-9", std::string(64, 'x')})
    EXPECT_TRUE(IsBrandCode(Code)) << Code;
  for (const std::string& Code :
       std::vector<std::string>{"", "..", "a.b", "a/b", "a b", "ção", std::string(65, 'x')})
    EXPECT_FALSE(IsBrandCode(Code)) << Code;
}

}  // namespace
}  // namespace halvora::relay
