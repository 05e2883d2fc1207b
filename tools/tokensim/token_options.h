// Command-line options of the simulator: which token it plays and how it reaches vpcd.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tokensim {

enum class AtrKind {
  kGenuine,   // the brand's and model's ATR
  kLong,      // 20 bytes: never accepted
  kBadTail,   // 19 bytes with a non-zero byte 16: not accepted
  kForeign,   // another card's ATR
  kCustom     // given in hex
};

struct TokenOptions {
  // Card identity.
  int brand = 0;          // 0 or 1
  bool liteModel = false; // the model without RSA and ECDSA
  AtrKind atrKind = AtrKind::kGenuine;
  std::vector<uint8_t> customAtr;
  uint8_t firmwareMajor = 5;
  uint8_t firmwareMinor = 15;
  std::string serial = "SIM0000000000001";
  std::string label = "tokensim";
  std::string manufacturer = "tokensim";
  std::string modelName;  // empty: derived from the model
  // Device limits.
  unsigned sessionLimit = 16;
  unsigned capacity = 65536;     // bytes of file content
  uint32_t maxPinTries = 10;
  uint32_t randomFieldLength = 32;
  // Initial state; an empty SO PIN means a new token.
  std::string soPin;
  std::string userPin;
  std::string stateFile;
  // Plumbing.
  uint16_t vpcdPort = 35963;
  std::string controlSocket;
  unsigned connectTimeoutMs = 10000;
  bool trace = false;
};

// Parses argv (without argv[0]); on a bad option returns false with a message in `error`.
bool ParseTokenOptions(const std::vector<std::string>& args, TokenOptions& out, std::string& error);
const char* TokenOptionsUsage();

}  // namespace tokensim
