// The simulator's control socket: a Unix stream socket; each request is one text line, each
// reply one line beginning "ok" or "error".
#pragma once

#include <poll.h>

#include <functional>
#include <string>
#include <vector>

namespace tokensim {

class ControlServer {
 public:
  using LineHandler = std::function<std::string(const std::string&)>;

  ControlServer() = default;
  ControlServer(const ControlServer&) = delete;
  ControlServer& operator=(const ControlServer&) = delete;
  ~ControlServer();

  bool Listen(const std::string& path, std::string& error);
  // Adds the listening socket and the clients to a poll set.
  void AddPollFds(std::vector<pollfd>& fds) const;
  // Accepts clients and answers the complete lines that arrived.
  void Serve(const std::vector<pollfd>& fds, const LineHandler& handler);

 private:
  struct Client {
    int fd;
    std::string pending;
  };
  int listenFd_ = -1;
  std::string path_;
  std::vector<Client> clients_;
};

}  // namespace tokensim
