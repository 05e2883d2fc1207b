// What one simulated token keeps: identity, PINs with their try counters, files and key
// slots. It survives power cycles and, with a state file, restarts of the simulator.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "bytes.h"
#include "crypto/token_crypto.h"
#include "token_options.h"

namespace tokensim {

struct PinState {
  SecretBytes pin;
  uint32_t failures = 0;  // wrong tries since the last right one
  bool locked = false;    // stays locked until the PIN is set again
};

class TokenState {
 public:
  static constexpr uint32_t kSoMaxTries = 10;
  static constexpr size_t kMaxFileSize = 65535;  // GetFileSize answers a u16

  // A token as the options describe it; `serial` replaces the options' serial.
  static TokenState FromOptions(const TokenOptions& options, const std::string& serial);

  // Identity (from the options, never from a state file).
  std::string serial;
  std::string model;
  std::string manufacturer;
  uint32_t versionWord = 0;  // major in the top byte, minor in the next
  bool liteModel = false;
  // Content.
  Bytes label;  // 32 bytes, blank-padded
  bool initialized = false;
  bool userPinInitialized = false;
  PinState so;
  PinState user;
  uint32_t maxTries = 10;
  uint32_t randomFieldLength = 32;
  size_t capacity = 65536;
  std::map<uint8_t, Bytes> files;
  std::map<uint8_t, crypto::KeySlot> keys;

  uint8_t FirmwareMajor() const { return static_cast<uint8_t>(versionWord >> 24); }
  uint8_t FirmwareMinor() const { return static_cast<uint8_t>(versionWord >> 16); }
  uint32_t FlagsWord() const;
  size_t UsedBytes() const;
  // Whether this model and firmware run key operations on the parameter set.
  bool SupportsParamSet(uint8_t paramSet) const;
  bool SupportsKeyAgreement() const;
  // Keys replaced or deleted are wiped first.
  void StoreKey(uint8_t slot, crypto::KeySlot key);
  size_t EraseKey(uint8_t slot);
  // Token initialisation: every file and key slot goes, the user PIN is no longer set.
  void EraseContent();

  // State file: a text file of "name value..." lines with hex byte strings (README).
  bool Save(const std::string& path, std::string& error) const;
  bool Load(const std::string& path, std::string& error);
};

}  // namespace tokensim
