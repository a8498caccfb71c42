#include "relay/uRelayAdmin.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "relay/uRelayDigest.h"
#include "relay/uRelayLog.h"
#include "relay/uRelayRegistry.h"
#include "relay/uRelayStore.h"
#include "relay/uRelayWire.h"

namespace halvora::relay {

namespace {

bool IEquals(std::string_view ALeft, std::string_view ARight) {
  const auto Lower = [](char C) { return C >= 'A' && C <= 'Z' ? char(C - 'A' + 'a') : C; };
  return std::equal(ALeft.begin(), ALeft.end(), ARight.begin(), ARight.end(),
                    [&](char L, char R) { return Lower(L) == Lower(R); });
}

// "http://" or "https://" and a loopback name of the relay: a page served by the relay itself.
bool IsOwnOrigin(std::string_view AOrigin, std::uint16_t APort) {
  for (const std::string_view Scheme : {"http://", "https://"})
    if (AOrigin.substr(0, Scheme.size()) == Scheme)
      return IsLoopbackHost(AOrigin.substr(Scheme.size()), APort);
  return false;
}

// A request that names the relay otherwise than by its loopback name, or that a page of another
// site sent.
bool IsCrossSite(const THttpRequest& ARequest) {
  return !IsLoopbackHost(ARequest.Host, ARequest.LocalPort) ||
         (!ARequest.Origin.empty() && !IsOwnOrigin(ARequest.Origin, ARequest.LocalPort)) ||
         (!ARequest.FetchSite.empty() && ARequest.FetchSite != "none" &&
          ARequest.FetchSite != "same-origin");
}

// The token of "Bearer <token>" (the scheme in any case); nothing for other schemes.
std::optional<std::string> BearerToken(std::string_view AField) {
  constexpr std::string_view Scheme = "bearer ";
  if (AField.size() <= Scheme.size() || !IEquals(AField.substr(0, Scheme.size()), Scheme))
    return std::nullopt;
  return Trim(AField.substr(Scheme.size()));
}

std::string Json(const nlohmann::json& AValue) {
  return AValue.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

THttpReply Status(TRelayRegistry& ARegistry) {
  nlohmann::json Hosts = nlohmann::json::array();
  for (const auto& Host : ARegistry.Status())
    Hosts.push_back({{"id", Host.Id}, {"online", Host.Online}, {"in_session", Host.InSession}});
  return JsonReply(Json({{"hosts", Hosts}}));
}

THttpReply Sent(bool AOnline) {
  if (!AOnline) return TextReply(409, "O computador está desconectado.");
  return JsonReply(Json({{"enviado", true}}));
}

// Body "first|second" with both parts present after trimming.
bool TwoFields(std::string_view ABody, std::string& AFirst, std::string& ASecond) {
  const std::string Text = Trim(ABody);
  const auto Bar = Text.find('|');
  if (Bar == std::string::npos) return false;
  AFirst = Trim(Text.substr(0, Bar));
  ASecond = Trim(Text.substr(Bar + 1));
  return !AFirst.empty() && !ASecond.empty();
}

THttpReply HostAction(TRelayRegistry& ARegistry, TRelayStore& AStore, std::string_view AMethod,
                      const std::string& AId, std::string_view AAction, std::string_view ABody) {
  const bool Post = AMethod == "POST";
  if (AAction != "offer" && AAction != "brand" && AAction != "permanent")
    return TextReply(404, "Recurso desconhecido.");
  if (!Post && !(AAction == "permanent" && AMethod == "DELETE"))
    return TextReply(405, "Método não permitido.");
  if (!AStore.Known(AId)) return TextReply(404, "Computador desconhecido.");

  if (AAction == "offer") {
    const std::string Text = Trim(ABody);
    if (Text.empty()) return TextReply(400, "Informe o texto da oferta no corpo.");
    return Sent(ARegistry.SendToHost(AId, TInstallOfferMessage{Text}));
  }
  std::string First, Second;
  if (AAction == "brand") {
    if (!TwoFields(ABody, First, Second)) return TextReply(400, "Use o formato código|nome.");
    return Sent(ARegistry.SendToHost(AId, TBrandMessage{First, Second}));
  }
  int Count = 0;
  if (Post) {
    if (!TwoFields(ABody, First, Second)) return TextReply(400, "Use o formato token|empresa.");
    Count = AStore.AddPermanent(AId, First, Second);
    Log("acesso permanente de " + Second + " a " + AId + " gravado");
  } else {
    AStore.RevokePermanent(AId);
    Log("acessos permanentes de " + AId + " revogados");
  }
  const bool Online = ARegistry.SendToHost(AId, TPermanentCountMessage{Count});
  return JsonReply(Json({{"permanentes", Count}, {"avisado", Online}}));
}

}  // namespace

TAdminGuard::TAdminGuard(std::string_view AToken)
    : FOn(!AToken.empty()), FTokenHash(Sha256Hex({AToken})) {}

std::optional<THttpReply> TAdminGuard::Refusal(const THttpRequest& ARequest) const {
  if (!ARequest.Loopback) return TextReply(403, "Acesso restrito à própria máquina.");
  if (!FOn)
    return TextReply(403,
                     "Administração desligada: inicie o relay com --admin-token ou "
                     "--admin-token-file.");
  if (IsCrossSite(ARequest)) return TextReply(403, "Pedido de outro site recusado.");
  const auto Token = BearerToken(ARequest.Authorization);
  if (!Token || !SameSecret(Sha256Hex({*Token}), FTokenHash)) {
    auto Answer = TextReply(401, "Token de administração ausente ou inválido.");
    Answer.Headers.emplace_back("WWW-Authenticate", "Bearer");
    return Answer;
  }
  return std::nullopt;
}

std::string LoadAdminToken(const std::string& AToken, const std::string& ATokenFile) {
  if (!AToken.empty() || ATokenFile.empty()) return AToken;
  std::ifstream File(ATokenFile, std::ios::binary);
  const std::string Content((std::istreambuf_iterator<char>(File)),
                            std::istreambuf_iterator<char>());
  if (!File.is_open() || File.bad())
    throw std::runtime_error("não foi possível ler o token de administração em " + ATokenFile);
  std::string Token = Trim(Content);
  if (Token.empty()) throw std::runtime_error("o arquivo " + ATokenFile + " não contém um token");
  return Token;
}

bool IsLoopbackHost(std::string_view AHost, std::uint16_t APort) {
  std::string_view Name = AHost;
  const auto Colon = AHost.rfind(':');
  if (Colon != std::string_view::npos && AHost.find(']', Colon) == std::string_view::npos) {
    Name = AHost.substr(0, Colon);
    const auto Port = AHost.substr(Colon + 1);
    unsigned long Value = 0;
    const auto [End, Error] = std::from_chars(Port.data(), Port.data() + Port.size(), Value);
    if (Port.empty() || Error != std::errc() || End != Port.data() + Port.size() || Value != APort)
      return false;
  }
  return Name == "127.0.0.1" || Name == "[::1]" || IEquals(Name, "localhost");
}

THttpReply AdminReply(TRelayRegistry& ARegistry, TRelayStore& AStore, std::string_view AMethod,
                      std::string_view APath, std::string_view ABody) {
  if (APath == "/admin/status")
    return AMethod == "GET" ? Status(ARegistry) : TextReply(405, "Método não permitido.");
  constexpr std::string_view Prefix = "/admin/hosts/";
  if (APath.substr(0, Prefix.size()) == Prefix) {
    const auto Rest = APath.substr(Prefix.size());
    const auto Slash = Rest.find('/');
    if (Slash != std::string_view::npos && Slash > 0)
      return HostAction(ARegistry, AStore, AMethod, std::string(Rest.substr(0, Slash)),
                        Rest.substr(Slash + 1), ABody);
  }
  return TextReply(404, "Recurso desconhecido.");
}

}  // namespace halvora::relay
