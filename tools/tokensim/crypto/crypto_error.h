// Typed failure inside the simulator's cryptography: carries the device status byte that the
// command answers with. Thrown by the algorithm classes, turned into a status at the
// token_crypto.h boundary only.
#pragma once

#include <cstdint>
#include <stdexcept>

namespace tokensim::crypto {

class CryptoError : public std::runtime_error {
 public:
  CryptoError(uint8_t status, const char* what) : std::runtime_error(what), status_(status) {}
  uint8_t status() const { return status_; }

 private:
  uint8_t status_;
};

}  // namespace tokensim::crypto
