// The PC/SC test rig: isolates the calling process in its own mount and network namespaces
// (a private tmpfs on /run/pcscd, loopback up), starts pcscd with vpcd readers and one
// simulator per reader as children, waits until every card is seen, and stops exactly those
// children when it is destroyed. Used by GoogleTest fixtures and by tokensim-rig (rig.sh).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "control_client.h"

namespace tokensim::rig {

struct RigOptions {
  // One entry per simulator: its tokensim options (the rig adds --port and --control).
  std::vector<std::vector<std::string>> simulators{{}};
  std::chrono::milliseconds readyTimeout{15000};
  bool pcscdDebug = false;  // pcscd -a -d into its log (slow; for debugging)
  bool simulatorTrace = false;
  // Where tokensim is; empty: $TOKENSIM_BIN, else the binary built beside this library.
  std::string simulatorBinary;
};

class Rig {
 public:
  // Empty when a rig can run here; otherwise why not (not root, namespaces refused, pcscd or
  // vpcd or tokensim missing). Tests ask through ZR_REQUIRE_RIG (rig_gtest.h).
  static std::string WhyUnavailable(const std::string& simulatorBinary = "");
  // True under CI (CI=true or 1): a rig that cannot start is then a failure, not a skip.
  static bool RequiredHere();

  // Throws RigError with a clear reason when anything fails or a wait runs out.
  explicit Rig(RigOptions options = {});
  ~Rig();
  Rig(const Rig&) = delete;
  Rig& operator=(const Rig&) = delete;

  size_t SimulatorCount() const { return sims_.size(); }
  const ControlClient& Control(size_t index = 0) const;
  const std::string& ReaderName(size_t index = 0) const;
  const std::string& WorkDir() const { return workDir_; }

  // Card events, each waiting until pcscd reports the new state.
  void RemoveCard(size_t index = 0);
  void InsertCard(size_t index = 0);
  void SwapCard(const std::string& serial, size_t index = 0);
  // A warm reset through a connection of the rig's own: other connections see
  // SCARD_W_RESET_CARD on their next call.
  void ResetCard(size_t index = 0);
  // The same for any reader pcscd lists (tokensim-ctl --reset READER).
  static void ResetReader(const std::string& reader);
  // Stops one simulator and starts it again with other options (for example to test a state
  // file across restarts); waits for the card.
  void RestartSimulator(size_t index, const std::vector<std::string>& simulatorOptions);
  bool WaitCardPresent(size_t index, bool present, std::chrono::milliseconds timeout);

 private:
  struct Sim {
    std::vector<std::string> options;
    pid_t pid = -1;
    std::unique_ptr<ControlClient> control;
    std::string reader;
  };
  void Isolate();
  void WriteReaderConfig();
  void StartPcscd();
  void StartSimulator(size_t index);
  void WaitReady(std::chrono::steady_clock::time_point deadline);
  void StopAll();
  std::string LogTail(const std::string& name) const;

  RigOptions options_;
  std::string simBinary_;
  std::string workDir_;
  pid_t pcscd_ = -1;
  std::vector<Sim> sims_;
};

}  // namespace tokensim::rig
