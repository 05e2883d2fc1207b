// The simulator: one card slot behind vpcd, the cards that can be put into it, the fault plan,
// the counters and the control socket, driven by one poll loop.
#pragma once

#include <csignal>
#include <map>
#include <string>

#include "command_processor.h"
#include "control_server.h"
#include "fault_plan.h"
#include "token_options.h"
#include "vpcd_link.h"

namespace tokensim {

class Simulator {
 public:
  explicit Simulator(TokenOptions options);
  // Loads the state file, opens the control socket, connects to vpcd; false with a message.
  bool Start(std::string& error);
  // Runs until `stop` becomes non-zero; returns the exit status.
  int Run(const volatile std::sig_atomic_t& stop);

  // One control line to one reply line; public so tests can drive it without sockets.
  std::string HandleControl(const std::string& line);
  // One vpcd payload (control byte or APDU) to the answer payload; false: send nothing.
  bool HandleFrame(const Bytes& payload, Bytes& answer);
  // The inserted card's contents, for drivers that run the simulator in-process.
  TokenState& State() { return card_->state; }

 private:
  Bytes AnswerApdu(const Bytes& apdu);
  Card& CardFor(const std::string& serial);
  void PowerOff();
  void SaveState();
  bool Insert(std::string& error);
  void Remove();

  TokenOptions options_;
  Bytes atr_;
  std::map<std::string, Card> cards_;
  Card* card_ = nullptr;
  bool inserted_ = true;
  VpcdLink link_;
  ControlServer control_;
  FaultPlan faults_;
  CommandCounters counters_;
};

}  // namespace tokensim
