#include "apdu_frame.h"

namespace tokensim {

bool ParseCommandApdu(const Bytes& apdu, Bytes& data, uint16_t& sw) {
  if (apdu.size() < 5) {
    sw = 0x6700;
    return false;
  }
  if (apdu[0] != 0x81) {
    sw = 0x6E00;
    return false;
  }
  if (apdu[1] != 0x00) {
    sw = 0x6D00;
    return false;
  }
  if (apdu[2] != 0x00 || apdu[3] != 0x00) {
    sw = 0x6B00;
    return false;
  }
  size_t n = apdu[4];
  size_t pos = 5;
  if (n == 0) {
    if (apdu.size() < 7) {
      sw = 0x6700;
      return false;
    }
    n = apdu[5] | static_cast<size_t>(apdu[6]) << 8;  // low byte first
    pos = 7;
  }
  if (n == 0 || apdu.size() < pos + n) {
    sw = 0x6700;
    return false;
  }
  size_t le = apdu.size() - pos - n;
  // Le: none, one byte, or 00 followed by two bytes.
  if (le == 2 || (le == 3 && apdu[pos + n] != 0x00) || le > 3) {
    sw = 0x6700;
    return false;
  }
  data.assign(apdu.begin() + static_cast<long>(pos), apdu.begin() + static_cast<long>(pos + n));
  return true;
}

Bytes FrameAnswer(uint8_t status, const Bytes& fields) {
  Bytes out;
  out.reserve(fields.size() + 4);
  out.push_back(0x01);
  out.push_back(status);
  out.insert(out.end(), fields.begin(), fields.end());
  out.push_back(0x90);
  out.push_back(0x00);
  return out;
}

Bytes StatusWordOnly(uint16_t sw) { return {static_cast<uint8_t>(sw >> 8), static_cast<uint8_t>(sw)}; }

}  // namespace tokensim
