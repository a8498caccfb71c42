#include "uViewerOptions.h"

#include <charconv>
#include <map>

namespace halvora::viewer {

bool ParseOptions(const std::vector<std::string>& AArgs, TViewerOptions& AOptions,
                  std::string& AError) {
  std::string Timeout;
  const std::map<std::string, std::string*> Values = {
      {"--relay", &AOptions.Relay},       {"--id", &AOptions.Id},
      {"--password", &AOptions.Password}, {"--token", &AOptions.Token},
      {"--name", &AOptions.Name},         {"--qualifier", &AOptions.Qualifier},
      {"--out", &AOptions.OutDir},        {"--script", &AOptions.ScriptFile},
      {"--ca", &AOptions.CaFile},         {"--timeout", &Timeout}};
  for (std::size_t I = 0; I < AArgs.size(); ++I) {
    const auto Found = Values.find(AArgs[I]);
    if (Found == Values.end()) {
      AError = "opção desconhecida: " + AArgs[I];
      return false;
    }
    if (I + 1 == AArgs.size()) {
      AError = "falta o valor de " + AArgs[I];
      return false;
    }
    *Found->second = AArgs[++I];
    if (Found->first == "--password") AOptions.HasPassword = true;
  }
  if (!Timeout.empty()) {
    const auto [End, Error] =
        std::from_chars(Timeout.data(), Timeout.data() + Timeout.size(), AOptions.TimeoutSeconds);
    if (Error != std::errc() || End != Timeout.data() + Timeout.size() ||
        AOptions.TimeoutSeconds <= 0) {
      AError = "--timeout espera segundos (inteiro positivo)";
      return false;
    }
  }
  if (AOptions.Relay.empty() || AOptions.Id.empty() || AOptions.OutDir.empty()) {
    AError = "--relay, --id e --out são obrigatórias";
    return false;
  }
  return true;
}

std::string UsageText() {
  return "uso: halvora-viewer --relay ws://HOST:PORTA/relay --id ID --out PASTA\n"
         "                    [--password SENHA] [--token TOKEN] [--name NOME]\n"
         "                    [--qualifier EMPRESA] [--script ARQUIVO] [--timeout SEGUNDOS]\n"
         "                    [--ca CA.pem]\n";
}

}  // namespace halvora::viewer
