#include "protocol/uMessages.h"

#include <algorithm>

#include "base/uAscii.h"
#include "base/uText.h"

namespace halvora {

namespace {

std::string JoinFields(std::string_view AFirst, std::string_view ASecond, std::string_view AThird) {
  std::string Text(AFirst);
  Text += FieldSeparator;
  Text.append(ASecond);
  Text += FieldSeparator;
  Text.append(AThird);
  return Text;
}

TFields PayloadFields(TPayloadView APayload) {
  return SplitFields(PayloadText(APayload));
}

}  // namespace

std::string PayloadText(TPayloadView APayload) {
  return SanitizeUtf8(
      std::string_view(reinterpret_cast<const char*>(APayload.data()), APayload.size()));
}

THelloMessage THelloMessage::Host(std::string AId, std::string AKey) {
  THelloMessage Hello;
  Hello.Id = std::move(AId);
  Hello.Key = std::move(AKey);
  return Hello;
}

THelloMessage THelloMessage::Technician(std::string AToken) {
  THelloMessage Hello;
  Hello.Role = THelloRole::hrTechnician;
  Hello.Token = std::move(AToken);
  return Hello;
}

TIdBytes THelloMessage::Encode() const {
  return TextToBytes(Role == THelloRole::hrHost ? HelloCliente(Id, Key) : HelloAtendente(Token));
}

std::optional<THelloMessage> THelloMessage::Decode(TPayloadView APayload) {
  const TFields Fields = PayloadFields(APayload);
  if (Fields.First != "2") return std::nullopt;
  if (Fields.Second == "A") return Technician(Fields.Third);
  const std::size_t Bar = Fields.Third.find(FieldSeparator);
  if (Fields.Second != "C" || Bar == std::string::npos) return std::nullopt;
  return Host(Fields.Third.substr(0, Bar), Fields.Third.substr(Bar + 1));
}

template <std::uint8_t ACmd>
TIdBytes TPeerMessage<ACmd>::Encode() const {
  return TextToBytes(JoinFields(PeerId, Name, Qualifier));
}

template <std::uint8_t ACmd>
std::optional<TPeerMessage<ACmd>> TPeerMessage<ACmd>::Decode(TPayloadView APayload) {
  TFields Fields = PayloadFields(APayload);
  return TPeerMessage{
      {std::move(Fields.First), std::move(Fields.Second), std::move(Fields.Third)}};
}

template struct TPeerMessage<cmdAccessRequest>;
template struct TPeerMessage<cmdTrustedAccess>;

TIdBytes TRefusedMessage::Encode() const {
  return TextToBytes(JoinFields(Kind, Text, Detail));
}

std::optional<TRefusedMessage> TRefusedMessage::Decode(TPayloadView APayload) {
  TFields Fields = PayloadFields(APayload);
  return TRefusedMessage{std::move(Fields.First), std::move(Fields.Second),
                         std::move(Fields.Third)};
}

TIdBytes TPermanentCountMessage::Encode() const {
  return TextToBytes(std::to_string(Count));
}

std::optional<TPermanentCountMessage> TPermanentCountMessage::Decode(TPayloadView APayload) {
  return TPermanentCountMessage{ParseDecimal(PayloadText(APayload)).value_or(0)};
}

TIdBytes TBrandMessage::Encode() const {
  std::string Text = Code;
  Text += FieldSeparator;
  Text += Name;
  return TextToBytes(Text);
}

std::optional<TBrandMessage> TBrandMessage::Decode(TPayloadView APayload) {
  TFields Fields = PayloadFields(APayload);
  return TBrandMessage{std::move(Fields.First), std::move(Fields.Second)};
}

TIdBytes TConnectHostMessage::Encode() const {
  return TextToBytes(JoinFields(HostId, Name, Qualifier));
}

std::optional<TConnectHostMessage> TConnectHostMessage::Decode(TPayloadView APayload) {
  TFields Fields = PayloadFields(APayload);
  return TConnectHostMessage{std::move(Fields.First), std::move(Fields.Second),
                             std::move(Fields.Third)};
}

TIdBytes TConnectResultMessage::Encode() const {
  return TextToBytes(JoinFields(std::to_string(Code), Text, Mode));
}

std::optional<TConnectResultMessage> TConnectResultMessage::Decode(TPayloadView APayload) {
  TFields Fields = PayloadFields(APayload);
  const std::optional<int> Code = ParseDecimal(Fields.First);
  if (!Code) return std::nullopt;
  return TConnectResultMessage{*Code, std::move(Fields.Second), std::move(Fields.Third)};
}

TIdBytes TChallengeMessage::Encode() const {
  return TextToBytes(Nonce);
}

std::optional<TChallengeMessage> TChallengeMessage::Decode(TPayloadView APayload) {
  const auto IsDigit = [](std::uint8_t AByte) {
    return (AByte >= '0' && AByte <= '9') || (AByte >= 'a' && AByte <= 'f');
  };
  if (APayload.size() != NonceDigits || !std::all_of(APayload.begin(), APayload.end(), IsDigit))
    return std::nullopt;
  return TChallengeMessage{PayloadText(APayload)};
}

TIdBytes TMouseMessage::Encode() const {
  TIdBytes Payload;
  Payload.reserve(sizeof(TMousePacket));
  Payload.push_back(Packet.Monitor);
  AppendLe(Payload, Packet.X, 2);
  AppendLe(Payload, Packet.Y, 2);
  Payload.push_back(Packet.Action);
  AppendLe(Payload, static_cast<std::uint16_t>(Packet.Wheel), 2);
  return Payload;
}

std::optional<TMouseMessage> TMouseMessage::Decode(TPayloadView APayload) {
  if (APayload.size() != sizeof(TMousePacket)) return std::nullopt;
  TMouseMessage Mouse;
  Mouse.Packet.Monitor = APayload[0];
  Mouse.Packet.X = static_cast<std::uint16_t>(GetLe(&APayload[1], 2));
  Mouse.Packet.Y = static_cast<std::uint16_t>(GetLe(&APayload[3], 2));
  Mouse.Packet.Action = APayload[5];
  Mouse.Packet.Wheel =
      static_cast<std::int16_t>(static_cast<std::uint16_t>(GetLe(&APayload[6], 2)));
  return Mouse;
}

TIdBytes TKeyMessage::Encode() const {
  TIdBytes Payload;
  AppendLe(Payload, Packet.VKey, 2);
  Payload.push_back(Packet.Down);
  return Payload;
}

std::optional<TKeyMessage> TKeyMessage::Decode(TPayloadView APayload) {
  if (APayload.size() != sizeof(TKeyPacket)) return std::nullopt;
  TKeyMessage Key;
  Key.Packet.VKey = static_cast<std::uint16_t>(GetLe(&APayload[0], 2));
  Key.Packet.Down = APayload[2];
  return Key;
}

TIdBytes TMonitorInfoMessage::Encode() const {
  return TIdBytes{Count, Selected};
}

std::optional<TMonitorInfoMessage> TMonitorInfoMessage::Decode(TPayloadView APayload) {
  if (APayload.size() != 2 || APayload[0] < 1 || APayload[0] > MaxWireMonitors ||
      APayload[1] >= APayload[0])
    return std::nullopt;
  return TMonitorInfoMessage{APayload[0], APayload[1]};
}

TIdBytes TSelectMonitorMessage::Encode() const {
  return SingleByte(Monitor);
}

std::optional<TSelectMonitorMessage> TSelectMonitorMessage::Decode(TPayloadView APayload) {
  if (APayload.size() != 1) return std::nullopt;
  return TSelectMonitorMessage{APayload[0]};
}

TIdBytes TBlockInputMessage::Encode() const {
  return SingleByte(Block ? 1 : 0);
}

std::optional<TBlockInputMessage> TBlockInputMessage::Decode(TPayloadView APayload) {
  if (APayload.size() != 1) return std::nullopt;
  return TBlockInputMessage{APayload[0] == 1};
}

}  // namespace halvora
