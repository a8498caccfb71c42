#include "relay/uRelayOptions.h"

#include <charconv>
#include <functional>
#include <map>

namespace halvora::relay {

namespace {

bool ParseNumber(const std::string& AText, unsigned long AMax, unsigned long& AValue) {
  const char* End = AText.data() + AText.size();
  const auto [Ptr, Ec] = std::from_chars(AText.data(), End, AValue);
  return !AText.empty() && Ec == std::errc() && Ptr == End && AValue <= AMax;
}

// "ADDR:PORT", "[v6]:PORT" or ":PORT" (all interfaces).
bool ParseListen(TRelayOptions& AOptions, const std::string& AText) {
  const auto Colon = AText.rfind(':');
  if (Colon == std::string::npos) return false;
  std::string Host = AText.substr(0, Colon);
  unsigned long Port = 0;
  if (!ParseNumber(AText.substr(Colon + 1), 65535, Port)) return false;
  if (Host.size() >= 2 && Host.front() == '[' && Host.back() == ']')
    Host = Host.substr(1, Host.size() - 2);
  AOptions.Address = Host.empty() ? "0.0.0.0" : Host;
  AOptions.Port = static_cast<std::uint16_t>(Port);
  return true;
}

using TSetter = std::function<bool(TRelayOptions&, const std::string&)>;

TSetter Text(std::string TRelayOptions::*AField) {
  return [AField](TRelayOptions& AOptions, const std::string& AValue) {
    AOptions.*AField = AValue;
    return true;
  };
}

TSetter NonEmpty(std::string TRelayOptions::*AField) {
  return [AField](TRelayOptions& AOptions, const std::string& AValue) {
    AOptions.*AField = AValue;
    return !AValue.empty();
  };
}

TSetter Number(unsigned TRelayOptions::*AField, unsigned long AMax) {
  return [AField, AMax](TRelayOptions& AOptions, const std::string& AValue) {
    unsigned long Value = 0;
    if (!ParseNumber(AValue, AMax, Value)) return false;
    AOptions.*AField = static_cast<unsigned>(Value);
    return true;
  };
}

TSetter Limit(unsigned TRelayLimits::*AField, unsigned long AMax) {
  return [AField, AMax](TRelayOptions& AOptions, const std::string& AValue) {
    unsigned long Value = 0;
    if (!ParseNumber(AValue, AMax, Value) || Value == 0) return false;
    AOptions.Limits.*AField = static_cast<unsigned>(Value);
    return true;
  };
}

const std::map<std::string, TSetter>& Setters() {
  static const std::map<std::string, TSetter> Value = {
      {"--listen", ParseListen},
      {"--tls-cert", Text(&TRelayOptions::TlsCert)},
      {"--tls-key", Text(&TRelayOptions::TlsKey)},
      {"--db", Text(&TRelayOptions::Database)},
      {"--noop-interval", Number(&TRelayOptions::NoopInterval, 86400)},
      {"--install-offer", Text(&TRelayOptions::InstallOffer)},
      {"--brand", Text(&TRelayOptions::Brand)},
      {"--brands", Text(&TRelayOptions::BrandsFolder)},
      {"--static", Text(&TRelayOptions::StaticFolder)},
      {"--port-file", Text(&TRelayOptions::PortFile)},
      {"--admin-token", NonEmpty(&TRelayOptions::AdminToken)},
      {"--admin-token-file", NonEmpty(&TRelayOptions::AdminTokenFile)},
      {"--threads", Number(&TRelayOptions::Threads, 64)},
      {"--hello-timeout", Limit(&TRelayLimits::HelloTimeout, 3600)},
      {"--connections-per-address", Limit(&TRelayLimits::ConnectionsPerAddress, 1000000)},
      {"--queue-budget", Limit(&TRelayLimits::QueueBudget, 1024 * 1024)},
      {"--address-queue-budget", Limit(&TRelayLimits::AddressQueueBudget, 1024 * 1024)},
      {"--admission-timeout", Limit(&TRelayLimits::AdmissionTimeout, 3600)},
      {"--connect-rate", Limit(&TRelayLimits::ConnectsPerMinute, 1000000)},
      {"--registration-rate", Limit(&TRelayLimits::RegistrationsPerHour, 1000000)},
  };
  return Value;
}

TParsedOptions Fail(std::string AError) {
  return {std::nullopt, std::move(AError)};
}

}  // namespace

TParsedOptions ParseRelayOptions(const std::vector<std::string>& AArgs) {
  TRelayOptions Result;
  for (std::size_t I = 0; I < AArgs.size(); ++I) {
    std::string Name = AArgs[I];
    if (Name == "--help" || Name == "-h") return {};
    if (Name == "--quiet") {
      Result.Quiet = true;
      continue;
    }
    std::optional<std::string> Value;
    if (const auto Equals = Name.find('='); Equals != std::string::npos) {
      Value = Name.substr(Equals + 1);
      Name.resize(Equals);
    }
    const auto Setter = Setters().find(Name);
    if (Setter == Setters().end()) return Fail("opção desconhecida: " + Name);
    if (!Value) {
      if (I + 1 >= AArgs.size()) return Fail("falta o valor de " + Name);
      Value = AArgs[++I];
    }
    if (!Setter->second(Result, *Value)) return Fail("valor inválido para " + Name + ": " + *Value);
  }
  if (Result.TlsCert.empty() != Result.TlsKey.empty())
    return Fail("--tls-cert e --tls-key devem ser usados juntos");
  if (!Result.AdminToken.empty() && !Result.AdminTokenFile.empty())
    return Fail("use --admin-token ou --admin-token-file, não os dois");
  return {Result, {}};
}

std::string RelayUsage() {
  return "uso: halvora-relay [opções]\n"
         "  --listen ENDEREÇO:PORTA   onde escutar (padrão 127.0.0.1:8080; porta 0 = livre)\n"
         "  --tls-cert ARQUIVO        certificado PEM (com --tls-key: ws e wss na mesma porta)\n"
         "  --tls-key ARQUIVO         chave privada PEM\n"
         "  --db ARQUIVO              banco SQLite (padrão halvora-relay.db; :memory: aceito)\n"
         "  --noop-interval SEGUNDOS  mensagem 9 aos computadores (padrão 30; 0 desliga)\n"
         "  --install-offer TEXTO     mensagem 12 após cada registro\n"
         "  --brand \"CÓDIGO|NOME\"     mensagem 16 após cada registro\n"
         "  --brands PASTA            serviço de marcas: PASTA/<código>/nome.txt e logo.png\n"
         "  --static PASTA            arquivos estáticos para os demais GET\n"
         "  --port-file ARQUIVO       grava o número da porta\n"
         "  --admin-token TOKEN       liga /admin/ para quem mostrar o token (Bearer)\n"
         "  --admin-token-file ARQ    idem, com o token lido do arquivo (preferível)\n"
         "  --threads N               threads de E/S (padrão: conforme os processadores)\n"
         "  --hello-timeout SEGUNDOS  prazo para os primeiros bytes e a saudação (padrão 10)\n"
         "  --connections-per-address N  conexões abertas por endereço (padrão 64)\n"
         "  --queue-budget MIB        bytes na fila de envio, todas as conexões (padrão 1024)\n"
         "  --address-queue-budget MIB  bytes na fila das conexões de um endereço (padrão 128)\n"
         "  --admission-timeout SEGUNDOS  prazo para o computador admitir o técnico (padrão 10)\n"
         "  --connect-rate N          pedidos de conexão (50) por endereço e minuto (padrão 30)\n"
         "  --registration-rate N     novos computadores por endereço e hora (padrão 30)\n"
         "  --quiet                   sem linhas de registro\n";
}

}  // namespace halvora::relay
