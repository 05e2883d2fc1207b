// The card side of vpcd's socket: frames are a 2-byte big-endian length and the payload.
// A 1-byte payload from vpcd is a control (00 power off, 01 power on, 02 reset, 04 ATR).
#pragma once

#include <string>

#include "bytes.h"

namespace tokensim {

class VpcdLink {
 public:
  VpcdLink() = default;
  VpcdLink(const VpcdLink&) = delete;
  VpcdLink& operator=(const VpcdLink&) = delete;
  ~VpcdLink() { Close(); }

  // Connects to 127.0.0.1:port, retrying until `timeoutMs` has passed.
  bool Connect(uint16_t port, unsigned timeoutMs, std::string& error);
  void Close();
  bool Connected() const { return fd_ >= 0; }
  int Fd() const { return fd_; }

  // Reads one frame; false when vpcd closed the connection or sent garbage.
  bool ReadFrame(Bytes& payload);
  bool WriteFrame(const Bytes& payload);

 private:
  bool ReadExactly(uint8_t* buf, size_t n);
  int fd_ = -1;
};

}  // namespace tokensim
