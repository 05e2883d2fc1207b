#include "vpcd_link.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace tokensim {

namespace {
// vpcd writes the length and the payload separately; without an immediate ACK the second
// piece waits for the delayed-ACK timer (~40 ms). TCP_QUICKACK is not sticky: set after each read.
void QuickAck(int fd) {
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
}
}  // namespace

bool VpcdLink::Connect(uint16_t port, unsigned timeoutMs, std::string& error) {
  Close();
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  for (;;) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
      error = std::string("socket: ") + std::strerror(errno);
      return false;
    }
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
      int one = 1;
      setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      QuickAck(fd);
      fd_ = fd;
      return true;
    }
    int e = errno;
    close(fd);
    if (std::chrono::steady_clock::now() >= deadline) {
      error = "vpcd at 127.0.0.1:" + std::to_string(port) + " not reachable: " + std::strerror(e);
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

void VpcdLink::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

bool VpcdLink::ReadExactly(uint8_t* buf, size_t n) {
  size_t got = 0;
  while (got < n) {
    ssize_t r = read(fd_, buf + got, n - got);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    QuickAck(fd_);
    got += static_cast<size_t>(r);
  }
  return true;
}

bool VpcdLink::ReadFrame(Bytes& payload) {
  uint8_t len[2];
  if (!ReadExactly(len, 2)) return false;
  payload.resize(static_cast<size_t>(len[0]) << 8 | len[1]);
  return payload.empty() || ReadExactly(payload.data(), payload.size());
}

bool VpcdLink::WriteFrame(const Bytes& payload) {
  if (payload.size() > 0xFFFF) return false;
  Bytes frame;
  frame.reserve(payload.size() + 2);
  frame.push_back(static_cast<uint8_t>(payload.size() >> 8));
  frame.push_back(static_cast<uint8_t>(payload.size()));
  frame.insert(frame.end(), payload.begin(), payload.end());
  size_t sent = 0;
  while (sent < frame.size()) {  // one send in the normal case
    ssize_t w = send(fd_, frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    sent += static_cast<size_t>(w);
  }
  return true;
}

}  // namespace tokensim
