#pragma once

#include <string>
#include <vector>

namespace halvora::test {

inline const std::string StoredKey(48, 'a');

// A settings file before and after a load and a save, with what the load completes.
struct TLoadCase {
  std::string Name;
  std::string Before;
  std::string ProgramPath;
  std::string ServerUrl, ApiUrl, MyId, BrandCode;
  std::string After;  // the file once saved by a store that keeps every other byte
};

inline std::vector<TLoadCase> LoadCases() {
  const std::string K = StoredKey;
  const std::string Untouched =
      "; Halvora\r\n\r\n[Proxy]\r\nUse = 0\r\n\r\n[Server]\r\n# the relay\r\n"
      "Url=ws://x:1/relay\r\n\r\n[Client]\r\nId=5\r\nKey=" +
      K + "\r\nBrand=\r\nExtra= keep me \r\n";
  return {
      {"relay from the older host form, default port",
       "[Server]\nHost=10.1.2.3\n[Client]\nId=1\nKey=" + K + "\n", "", "ws://10.1.2.3:7800/relay",
       "http://10.1.2.3:7800", "1", "",
       "[Server]\nUrl=ws://10.1.2.3:7800/relay\n[Client]\nId=1\nKey=" + K + "\nBrand=\n"},
      {"relay from the older host and port",
       "[Server]\nPort=9000\nHost=relay.lan\n[Client]\nKey=" + K + "\n", "",
       "ws://relay.lan:9000/relay", "http://relay.lan:9000", "", "",
       "[Server]\nUrl=ws://relay.lan:9000/relay\n[Client]\nKey=" + K + "\nId=\nBrand=\n"},
      {"url wins over the older form, which goes",
       "[Server]\nHost=h\nUrl= wss://r.example/relay \nport=1\nPORT=2\n[Client]\nKey=" + K + "\n",
       "", "wss://r.example/relay", "https://r.example", "", "",
       "[Server]\nUrl= wss://r.example/relay\n[Client]\nKey=" + K + "\nId=\nBrand=\n"},
      {"a stored api url wins and stays as it is",
       "[Server]\nApiUrl = https://api.example/v1 \nUrl=ws://x:1/relay\n[Client]\nKey=" + K + "\n",
       "", "ws://x:1/relay", "https://api.example/v1", "", "",
       "[Server]\nApiUrl = https://api.example/v1 \nUrl=ws://x:1/relay\n[Client]\nKey=" + K +
           "\nId=\nBrand=\n"},
      {"names in any case are updated in place",
       "[SERVER]\nurl = ws://x:1/relay\n[client]\nBRAND=acme01\nkey=" + K + "\nID=42\n", "",
       "ws://x:1/relay", "http://x:1", "42", "acme01",
       "[SERVER]\nurl = ws://x:1/relay\n[client]\nBRAND=acme01\nkey=" + K + "\nID=42\n"},
      {"the program's file name brings the brand",
       "[Server]\nUrl=ws://x:1/relay\n[Client]\nId=7\nKey=" + K + "\nBrand=old001\n",
       "/x/halvora-abc123", "ws://x:1/relay", "http://x:1", "7", "abc123",
       "[Server]\nUrl=ws://x:1/relay\n[Client]\nId=7\nKey=" + K + "\nBrand=abc123\n"},
      {"a program name without a code keeps the stored brand",
       "[Server]\nUrl=ws://x:1/relay\n[Client]\nId=7\nKey=" + K + "\nBrand=old001\n",
       "/opt/halvora/halvora", "ws://x:1/relay", "http://x:1", "7", "old001",
       "[Server]\nUrl=ws://x:1/relay\n[Client]\nId=7\nKey=" + K + "\nBrand=old001\n"},
      {"everything else survives byte for byte", Untouched, "", "ws://x:1/relay", "http://x:1", "5",
       "", Untouched},
  };
}

}  // namespace halvora::test
