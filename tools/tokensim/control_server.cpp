#include "control_server.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tokensim {

namespace {
constexpr size_t kMaxLine = 4096;

bool FdReady(const std::vector<pollfd>& fds, int fd) {
  for (const pollfd& p : fds) {
    if (p.fd == fd) return (p.revents & (POLLIN | POLLHUP | POLLERR)) != 0;
  }
  return false;
}

void SendAll(int fd, const std::string& text) {
  size_t sent = 0;
  while (sent < text.size()) {
    ssize_t w = send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return;
    sent += static_cast<size_t>(w);
  }
}
}  // namespace

ControlServer::~ControlServer() {
  for (Client& c : clients_) close(c.fd);
  if (listenFd_ >= 0) {
    close(listenFd_);
    unlink(path_.c_str());
  }
}

bool ControlServer::Listen(const std::string& path, std::string& error) {
  sockaddr_un addr{};
  if (path.size() >= sizeof addr.sun_path) {
    error = "control socket path too long: " + path;
    return false;
  }
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    error = std::string("socket: ") + std::strerror(errno);
    return false;
  }
  unlink(path.c_str());
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 8) != 0) {
    error = "control socket " + path + ": " + std::strerror(errno);
    close(fd);
    return false;
  }
  listenFd_ = fd;
  path_ = path;
  return true;
}

void ControlServer::AddPollFds(std::vector<pollfd>& fds) const {
  if (listenFd_ >= 0) fds.push_back({listenFd_, POLLIN, 0});
  for (const Client& c : clients_) fds.push_back({c.fd, POLLIN, 0});
}

void ControlServer::Serve(const std::vector<pollfd>& fds, const LineHandler& handler) {
  for (size_t i = 0; i < clients_.size();) {
    Client& c = clients_[i];
    bool drop = false;
    if (FdReady(fds, c.fd)) {
      char buf[512];
      ssize_t r = read(c.fd, buf, sizeof buf);
      if (r <= 0) {
        drop = true;
      } else {
        c.pending.append(buf, static_cast<size_t>(r));
        size_t nl;
        while ((nl = c.pending.find('\n')) != std::string::npos) {
          std::string line = c.pending.substr(0, nl);
          c.pending.erase(0, nl + 1);
          if (!line.empty() && line.back() == '\r') line.pop_back();
          SendAll(c.fd, handler(line) + "\n");
        }
        if (c.pending.size() > kMaxLine) drop = true;
      }
    }
    if (drop) {
      close(c.fd);
      clients_.erase(clients_.begin() + static_cast<long>(i));
    } else {
      ++i;
    }
  }
  if (listenFd_ >= 0 && FdReady(fds, listenFd_)) {
    int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) clients_.push_back({fd, {}});
  }
}

}  // namespace tokensim
