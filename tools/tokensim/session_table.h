// Device sessions of one token: 32-byte random handles, shared by every PC/SC connection,
// each with its own user login.
#pragma once

#include <array>
#include <map>

#include "bytes.h"
#include "device_protocol.h"

namespace tokensim {

using SessionHandle = std::array<uint8_t, kSessionHandleSize>;

struct DeviceSession {
  bool userLoggedIn = false;
};

class SessionTable {
 public:
  // A new session, or nullptr when `limit` sessions are open.
  const SessionHandle* Open(size_t limit);
  DeviceSession* Find(const SessionHandle& handle);
  bool Close(const SessionHandle& handle);
  void CloseAll() { sessions_.clear(); }
  void LogoutAll();
  size_t Count() const { return sessions_.size(); }

 private:
  std::map<SessionHandle, DeviceSession> sessions_;
};

}  // namespace tokensim
