#include "pcsc_client.h"

#include <gtest/gtest.h>

namespace tokensim::test {

Bytes BuildApdu(uint8_t command, const Bytes& fields) {
  size_t n = fields.size() + 2;
  Bytes apdu = {0x81, 0x00, 0x00, 0x00};
  if (n <= 255) {
    apdu.push_back(static_cast<uint8_t>(n));
  } else {
    apdu.push_back(0x00);
    apdu.push_back(static_cast<uint8_t>(n));
    apdu.push_back(static_cast<uint8_t>(n >> 8));
  }
  apdu.push_back(0x01);
  apdu.push_back(command);
  apdu.insert(apdu.end(), fields.begin(), fields.end());
  for (uint8_t b : {0x00, 0x16, 0x05}) apdu.push_back(b);
  return apdu;
}

PcscClient::PcscClient(const std::string& reader) : reader_(reader) {
  LONG rv = SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &ctx_);
  if (rv != SCARD_S_SUCCESS) {
    ADD_FAILURE() << "SCardEstablishContext: " << pcsc_stringify_error(rv);
    return;
  }
  rv = SCardConnect(ctx_, reader.c_str(), SCARD_SHARE_SHARED, SCARD_PROTOCOL_T1 | SCARD_PROTOCOL_T0, &card_, &protocol_);
  if (rv != SCARD_S_SUCCESS) ADD_FAILURE() << "SCardConnect " << reader << ": " << pcsc_stringify_error(rv);
}

PcscClient::~PcscClient() {
  if (card_ != 0) SCardDisconnect(card_, SCARD_LEAVE_CARD);
  if (ctx_ != 0) SCardReleaseContext(ctx_);
}

LONG PcscClient::Transmit(const Bytes& apdu, Bytes& answer) {
  answer.assign(1302, 0);
  DWORD length = static_cast<DWORD>(answer.size());
  const SCARD_IO_REQUEST* pci = protocol_ == SCARD_PROTOCOL_T0 ? SCARD_PCI_T0 : SCARD_PCI_T1;
  LONG rv = SCardTransmit(card_, pci, apdu.data(), static_cast<DWORD>(apdu.size()), nullptr, answer.data(), &length);
  answer.resize(rv == SCARD_S_SUCCESS ? length : 0);
  return rv;
}

LONG PcscClient::TryCommand(uint8_t command, const Bytes& fields, Reply& reply) {
  Bytes answer;
  LONG rv = Transmit(BuildApdu(command, fields), answer);
  reply = Reply();
  if (rv != SCARD_S_SUCCESS) return rv;
  if (answer.size() >= 2) reply.sw = static_cast<uint16_t>(answer[answer.size() - 2] << 8 | answer.back());
  if (reply.sw == 0x9000 && answer.size() >= 4 && answer[0] == 0x01) {
    reply.status = answer[1];
    reply.fields.assign(answer.begin() + 2, answer.end() - 2);
  }
  return rv;
}

Reply PcscClient::Command(uint8_t command, const Bytes& fields) {
  Reply reply;
  LONG rv = TryCommand(command, fields, reply);
  EXPECT_EQ(rv, SCARD_S_SUCCESS) << pcsc_stringify_error(rv);
  EXPECT_EQ(reply.sw, 0x9000);
  return reply;
}

LONG PcscClient::Reconnect(DWORD disposition) {
  return SCardReconnect(card_, SCARD_SHARE_SHARED, SCARD_PROTOCOL_T1 | SCARD_PROTOCOL_T0, disposition, &protocol_);
}

Bytes PcscClient::Atr() {
  // vpcd does not answer SCARD_ATTR_ATR_STRING; the card status carries the ATR.
  char name[256];
  DWORD nameLength = sizeof name, state = 0, protocol = 0;
  Bytes atr(MAX_ATR_SIZE);
  DWORD length = static_cast<DWORD>(atr.size());
  LONG rv = SCardStatus(card_, name, &nameLength, &state, &protocol, atr.data(), &length);
  EXPECT_EQ(rv, SCARD_S_SUCCESS) << pcsc_stringify_error(rv);
  atr.resize(rv == SCARD_S_SUCCESS ? length : 0);
  return atr;
}

Bytes PcscClient::OpenSession() {
  Reply r = Command(0x36);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.fields.size(), 32u);
  return r.fields;
}

Bytes PcscClient::GetAttr(uint8_t id) {
  Reply r = Command(0x10, {id});
  EXPECT_EQ(r.status, 0) << "attribute " << int(id);
  if (r.fields.empty()) return {};
  EXPECT_EQ(r.fields[0] + 1u, r.fields.size());
  return Bytes(r.fields.begin() + 1, r.fields.end());
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes Short(const Bytes& bytes) {
  Bytes out = {static_cast<uint8_t>(bytes.size())};
  out.insert(out.end(), bytes.begin(), bytes.end());
  return out;
}

Bytes Short(const std::string& text) { return Short(Bytes(text.begin(), text.end())); }

Bytes Long(const Bytes& bytes) { return Concat({U16(static_cast<uint16_t>(bytes.size())), bytes}); }

Bytes U16(uint16_t v) { return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)}; }

Bytes U32(uint32_t v) {
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
}

Bytes Hex(const std::string& hex) {
  Bytes out;
  EXPECT_TRUE(FromHex(hex, out)) << hex;
  return out;
}

}  // namespace tokensim::test
