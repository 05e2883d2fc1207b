#include "control_client.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <sstream>

namespace tokensim::rig {

namespace {
constexpr int kReplyTimeoutMs = 30000;

class Socket {
 public:
  explicit Socket(int fd) : fd_(fd) {}
  ~Socket() {
    if (fd_ >= 0) close(fd_);
  }
  int fd() const { return fd_; }

 private:
  int fd_;
};
}  // namespace

std::string ControlClient::Request(const std::string& line) const {
  sockaddr_un addr{};
  if (path_.size() >= sizeof addr.sun_path) throw RigError("control socket path too long: " + path_);
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path_.c_str(), path_.size() + 1);
  Socket s(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (s.fd() < 0 || connect(s.fd(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    throw RigError("cannot reach simulator control socket " + path_ + ": " + std::strerror(errno));
  }
  std::string request = line + "\n";
  if (send(s.fd(), request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) {
    throw RigError("cannot send to " + path_ + ": " + std::strerror(errno));
  }
  std::string reply;
  char buf[512];
  while (reply.find('\n') == std::string::npos) {
    pollfd p{s.fd(), POLLIN, 0};
    if (poll(&p, 1, kReplyTimeoutMs) <= 0) throw RigError("no reply from " + path_ + " to: " + line);
    ssize_t r = read(s.fd(), buf, sizeof buf);
    if (r <= 0) throw RigError("simulator closed " + path_ + " before replying to: " + line);
    reply.append(buf, static_cast<size_t>(r));
  }
  reply.erase(reply.find('\n'));
  if (reply == "ok") return "";
  if (reply.rfind("ok ", 0) == 0) return reply.substr(3);
  throw RigError("simulator refused \"" + line + "\": " + reply);
}

void ControlClient::ForceStatus(uint8_t status, unsigned count, const std::string& command) const {
  Request("force " + std::to_string(status) + " " + std::to_string(count) + (command.empty() ? "" : " " + command));
}

void ControlClient::Malformed(const std::string& kind, unsigned count, const std::string& command) const {
  Request("malformed " + kind + " " + std::to_string(count) + (command.empty() ? "" : " " + command));
}

std::map<std::string, uint64_t> ControlClient::Counters() const { return Tally("counters"); }

std::map<std::string, uint64_t> ControlClient::Refusals() const { return Tally("refusals"); }

std::map<std::string, uint64_t> ControlClient::Tally(const std::string& request) const {
  std::map<std::string, uint64_t> out;
  std::istringstream in(Request(request));
  for (std::string item; in >> item;) {
    auto eq = item.find('=');
    if (eq != std::string::npos) out[item.substr(0, eq)] = std::stoull(item.substr(eq + 1));
  }
  return out;
}

uint64_t ControlClient::Count(const std::string& command) const { return std::stoull(Request("count " + command)); }

size_t ControlClient::SessionCount() const { return std::stoul(Request("sessions")); }

}  // namespace tokensim::rig
