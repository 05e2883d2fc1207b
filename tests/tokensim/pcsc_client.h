// The tests' own small PC/SC client: connects to a reader through pcscd and sends the token's
// commands in its framing (81 00 00 00, Lc, 01, command, fields, 00 16 05).
#pragma once

#include <reader.h>
#include <winscard.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "bytes.h"

namespace tokensim::test {

// The token's answer: SW, and for 90 00 answers the status byte and the fields.
struct Reply {
  uint16_t sw = 0;
  uint8_t status = 0xFF;
  Bytes fields;
};

// Builds the APDU for a command: 81 00 00 00, Lc (one byte, or 00 low high), 01, command,
// fields, Le 00 16 05.
Bytes BuildApdu(uint8_t command, const Bytes& fields);

class PcscClient {
 public:
  explicit PcscClient(const std::string& reader);
  ~PcscClient();
  PcscClient(const PcscClient&) = delete;
  PcscClient& operator=(const PcscClient&) = delete;

  // Raw exchange; returns the PC/SC result and the answer bytes.
  LONG Transmit(const Bytes& apdu, Bytes& answer);
  // Sends a command; a PC/SC failure or an answer that is not 01 status ... 90 00 fails the test.
  Reply Command(uint8_t command, const Bytes& fields = {});
  // As Command, but returns the PC/SC result instead of failing.
  LONG TryCommand(uint8_t command, const Bytes& fields, Reply& reply);
  LONG Reconnect(DWORD disposition = SCARD_LEAVE_CARD);
  Bytes Atr();

  // Frequently used commands.
  Bytes OpenSession();
  Bytes GetAttr(uint8_t id);

 private:
  SCARDCONTEXT ctx_ = 0;
  SCARDHANDLE card_ = 0;
  DWORD protocol_ = 0;
  std::string reader_;
};

// Field helpers.
Bytes Concat(std::initializer_list<Bytes> parts);
Bytes Short(const std::string& text);   // 1-byte length + text
Bytes Short(const Bytes& bytes);
Bytes Long(const Bytes& bytes);         // u16 little-endian length + bytes
Bytes U16(uint16_t v);
Bytes U32(uint32_t v);
Bytes Hex(const std::string& hex);

}  // namespace tokensim::test
