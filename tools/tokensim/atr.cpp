#include "atr.h"

namespace tokensim {

namespace {

void AppendCheckByte(Bytes& atr) {
  uint8_t tck = 0;
  for (size_t i = 1; i < atr.size(); ++i) tck ^= atr[i];
  atr.push_back(tck);
}

Bytes Genuine(const TokenOptions& o) {
  const char* letters = o.brand == 0 ? (o.liteModel ? "ZRU" : "ZRK") : (o.liteModel ? "QJU" : "QJK");
  Bytes atr = {0x3B, 0x8F, 0x01};
  for (int i = 0; i < 3; ++i) atr.push_back(static_cast<uint8_t>(letters[i]));
  for (char c : {'S', 'I', 'M'}) atr.push_back(static_cast<uint8_t>(c));
  atr.push_back(o.firmwareMajor);
  atr.push_back(o.firmwareMinor);
  atr.insert(atr.end(), 4, 0x00);  // bytes 11 to 14
  atr.insert(atr.end(), 3, 0x00);  // bytes 15 to 17: must be zero
  AppendCheckByte(atr);
  return atr;
}

}  // namespace

Bytes BuildAtr(const TokenOptions& o) {
  switch (o.atrKind) {
    case AtrKind::kGenuine:
      return Genuine(o);
    case AtrKind::kLong: {
      Bytes atr = Genuine(o);
      atr.insert(atr.end() - 1, 0x00);  // one byte more than any accepted ATR
      return atr;
    }
    case AtrKind::kBadTail: {
      Bytes atr = Genuine(o);
      atr.pop_back();
      atr[16] = 0x01;
      AppendCheckByte(atr);
      return atr;
    }
    case AtrKind::kForeign: {
      Bytes atr = {0x3B, 0x88, 0x80, 0x01, 'F', 'O', 'R', 'E', 'I', 'G', 'N', '!'};
      AppendCheckByte(atr);
      return atr;
    }
    case AtrKind::kCustom:
      return o.customAtr;
  }
  return Genuine(o);
}

}  // namespace tokensim
