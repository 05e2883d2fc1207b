// Client of a simulator's control socket (line protocol, README.md).
#pragma once

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>

namespace tokensim::rig {

struct RigError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class ControlClient {
 public:
  explicit ControlClient(std::string socketPath) : path_(std::move(socketPath)) {}

  // Sends one request line; returns the reply after "ok" (may be empty). An "error" reply or
  // a socket failure throws RigError with the reason.
  std::string Request(const std::string& line) const;

  // Card handling (the simulator side only; Rig waits for pcscd to see the change).
  void Remove() const { Request("remove"); }
  void Insert() const { Request("insert"); }
  void Swap(const std::string& serial) const { Request("swap " + serial); }
  // The next `count` commands (of `command` by name or number, or any) answer `status`
  // without being executed.
  void ForceStatus(uint8_t status, unsigned count, const std::string& command = "") const;
  // kind: sw-only, bad-marker, bad-sw, truncated, empty.
  void Malformed(const std::string& kind, unsigned count, const std::string& command = "") const;
  // The card is pulled while the command after the next `count` ones arrives.
  void PullAfter(unsigned count) const { Request("pull-after " + std::to_string(count)); }
  void SetDelayMs(unsigned ms) const { Request("delay " + std::to_string(ms)); }
  void ClearFaults() const { Request("clear-faults"); }

  // APDUs received per command name since the last reset, and their total ("total").
  std::map<std::string, uint64_t> Counters() const;
  // The answers with a status other than 0 since the last reset, in the same form.
  std::map<std::string, uint64_t> Refusals() const;
  uint64_t Count(const std::string& command) const;
  void ResetCounters() const { Request("reset-counters"); }
  size_t SessionCount() const;
  const std::string& SocketPath() const { return path_; }

 private:
  std::map<std::string, uint64_t> Tally(const std::string& request) const;

  std::string path_;
};

}  // namespace tokensim::rig
