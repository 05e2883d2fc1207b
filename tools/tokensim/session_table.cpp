#include "session_table.h"

#include "crypto/token_crypto.h"

namespace tokensim {

const SessionHandle* SessionTable::Open(size_t limit) {
  if (sessions_.size() >= limit) return nullptr;
  SessionHandle h;
  do {
    crypto::RandomBytes(h.data(), h.size());
  } while (sessions_.count(h) != 0 || h == SessionHandle{});  // all-zero means "none" to the host
  return &sessions_.emplace(h, DeviceSession{}).first->first;
}

DeviceSession* SessionTable::Find(const SessionHandle& handle) {
  auto it = sessions_.find(handle);
  return it == sessions_.end() ? nullptr : &it->second;
}

bool SessionTable::Close(const SessionHandle& handle) { return sessions_.erase(handle) != 0; }

void SessionTable::LogoutAll() {
  for (auto& s : sessions_) s.second.userLoggedIn = false;
}

}  // namespace tokensim
