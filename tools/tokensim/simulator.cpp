#include "simulator.h"

#include <poll.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <thread>
#include <vector>

#include "apdu_frame.h"
#include "atr.h"
#include "device_protocol.h"

namespace tokensim {

namespace {

constexpr uint8_t kPowerOff = 0x00;
constexpr uint8_t kPowerOn = 0x01;
constexpr uint8_t kReset = 0x02;
constexpr uint8_t kSendAtr = 0x04;
constexpr int kPollMs = 100;

bool ParseNumber(const std::string& text, unsigned long max, unsigned long& out) {
  if (text.empty() || text[0] == '-') return false;
  char* end = nullptr;
  unsigned long v = std::strtoul(text.c_str(), &end, 0);
  if (*end != '\0' || v > max) return false;
  out = v;
  return true;
}

// A command given by name ("Sign") or number ("0xA4", "164").
bool ParseCommand(const std::string& text, int& out) {
  unsigned long v = 0;
  if (ParseNumber(text, 255, v)) {
    out = static_cast<int>(v);
    return true;
  }
  for (int c = 0; c < 256; ++c) {
    if (text == CommandName(static_cast<uint8_t>(c)) && text != "Unknown") {
      out = c;
      return true;
    }
  }
  return false;
}

void Trace(const char* direction, uint8_t command, const std::string& detail) {
  std::fprintf(stderr, "tokensim: %s %-24s %s\n", direction, CommandName(command), detail.c_str());
}

}  // namespace

Simulator::Simulator(TokenOptions options) : options_(std::move(options)), atr_(BuildAtr(options_)) {
  card_ = &CardFor(options_.serial);
}

Card& Simulator::CardFor(const std::string& serial) {
  auto it = cards_.find(serial);
  if (it != cards_.end()) return it->second;
  Card& c = cards_[serial];
  c.state = TokenState::FromOptions(options_, serial);
  c.sessionLimit = options_.sessionLimit;
  return c;
}

bool Simulator::Start(std::string& error) {
  if (!options_.stateFile.empty()) {
    FILE* f = std::fopen(options_.stateFile.c_str(), "r");
    if (f != nullptr) {
      std::fclose(f);
      if (!card_->state.Load(options_.stateFile, error)) return false;
    } else if (!card_->state.Save(options_.stateFile, error)) {
      return false;
    }
  }
  if (!options_.controlSocket.empty() && !control_.Listen(options_.controlSocket, error)) return false;
  return link_.Connect(options_.vpcdPort, options_.connectTimeoutMs, error);
}

int Simulator::Run(const volatile std::sig_atomic_t& stop) {
  auto nextReconnect = std::chrono::steady_clock::now();
  while (stop == 0) {
    // A connection vpcd dropped is made again while the card is inserted.
    if (inserted_ && !link_.Connected() && std::chrono::steady_clock::now() >= nextReconnect) {
      std::string ignored;
      link_.Connect(options_.vpcdPort, 0, ignored);
      nextReconnect = std::chrono::steady_clock::now() + std::chrono::milliseconds(kPollMs);
    }
    std::vector<pollfd> fds;
    if (link_.Connected()) fds.push_back({link_.Fd(), POLLIN, 0});
    control_.AddPollFds(fds);
    int n = poll(fds.data(), fds.size(), kPollMs);
    if (n < 0) {
      if (errno == EINTR) continue;
      std::perror("tokensim: poll");
      return 1;
    }
    if (n == 0) continue;
    if (link_.Connected() && (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
      Bytes payload, answer;
      if (!link_.ReadFrame(payload)) {
        link_.Close();
        PowerOff();
      } else if (HandleFrame(payload, answer)) {
        link_.WriteFrame(answer);
      }
    }
    control_.Serve(fds, [this](const std::string& line) { return HandleControl(line); });
  }
  return 0;
}

bool Simulator::HandleFrame(const Bytes& payload, Bytes& answer) {
  if (payload.size() == 1) {
    // vpcd asks for the ATR at every presence poll: only the power events are traced.
    if (options_.trace && payload[0] != kSendAtr) {
      static const char* const kNames[] = {"power off", "power on", "reset"};
      std::fprintf(stderr, "tokensim: * %s\n", payload[0] < 3 ? kNames[payload[0]] : "unknown control");
    }
    switch (payload[0]) {
      case kPowerOff: PowerOff(); return false;
      case kPowerOn: return false;
      case kReset: return false;  // warm reset: sessions and logins stay
      case kSendAtr: answer = atr_; return true;
      default:
        // vpcd sends no other controls: this is a one-byte APDU from a client, and the
        // client waits for an answer.
        answer = StatusWordOnly(0x6700);
        return true;
    }
  }
  if (pullAfter_ == 0) {
    // Pulled while the command is on its way: not executed, never answered.
    pullAfter_ = -1;
    Remove();
    return false;
  }
  if (pullAfter_ > 0) --pullAfter_;
  answer = AnswerApdu(payload);
  return true;
}

Bytes Simulator::AnswerApdu(const Bytes& apdu) {
  Bytes data;
  uint16_t sw = 0;
  if (!ParseCommandApdu(apdu, data, sw)) {
    if (options_.trace) Trace(">", 0xFF, ToHex(apdu) + " framing error " + ToHex(StatusWordOnly(sw)));
    return StatusWordOnly(sw);
  }
  uint8_t command = data.size() >= 2 ? data[1] : 0xFF;
  counters_.Count(command);
  if (options_.trace) Trace(">", command, ToHex(apdu));

  Answer a;
  if (!faults_.TakeForcedStatus(command, a.status)) {
    a = CommandProcessor(*card_).Execute(data);
    if (card_->contentChanged) SaveState();
  }
  if (a.status != 0) counters_.CountRefusal(command);
  Bytes out = FrameAnswer(a.status, a.fields);
  faults_.ApplyMalformation(command, out);
  unsigned delay = faults_.DelayMs() + card_->responseDelayMs;
  if (delay > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delay));
  if (options_.trace) Trace("<", command, "status " + std::to_string(a.status) + " " + ToHex(out));
  return out;
}

void Simulator::PowerOff() {
  card_->sessions.CloseAll();
  card_->responseDelayMs = 0;
}

void Simulator::SaveState() {
  card_->contentChanged = false;
  // Only the card the simulator started with has a state file; swapped-in cards live in memory.
  if (options_.stateFile.empty() || card_->state.serial != options_.serial) return;
  std::string error;
  if (!card_->state.Save(options_.stateFile, error)) std::fprintf(stderr, "tokensim: %s\n", error.c_str());
}

bool Simulator::Insert(std::string& error) {
  inserted_ = true;
  return link_.Connected() || link_.Connect(options_.vpcdPort, options_.connectTimeoutMs, error);
}

void Simulator::Remove() {
  inserted_ = false;
  link_.Close();
  PowerOff();
}

std::string Simulator::HandleControl(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> w;
  for (std::string word; in >> word;) w.push_back(word);
  if (w.empty()) return "error empty request";
  const std::string& op = w[0];
  unsigned long a = 0, b = 0;
  int command = FaultPlan::kAnyCommand;
  std::string error;

  if (op == "ping" && w.size() == 1) return "ok";
  if (op == "remove" && w.size() == 1) {
    Remove();
    return "ok";
  }
  if (op == "insert" && w.size() == 1) return Insert(error) ? "ok" : "error " + error;
  if (op == "swap" && w.size() == 2 && !w[1].empty() && w[1].size() <= 16) {
    Remove();
    card_ = &CardFor(w[1]);
    return Insert(error) ? "ok" : "error " + error;
  }
  if (op == "force" && (w.size() == 3 || w.size() == 4) && ParseNumber(w[1], 255, a) &&
      ParseNumber(w[2], 1u << 20, b) && (w.size() == 3 || ParseCommand(w[3], command))) {
    faults_.ForceStatus(static_cast<uint8_t>(a), static_cast<unsigned>(b), command);
    return "ok";
  }
  Malformation kind;
  if (op == "malformed" && (w.size() == 3 || w.size() == 4) && ParseMalformation(w[1], kind) &&
      ParseNumber(w[2], 1u << 20, b) && (w.size() == 3 || ParseCommand(w[3], command))) {
    faults_.Malform(kind, static_cast<unsigned>(b), command);
    return "ok";
  }
  if (op == "delay" && w.size() == 2 && ParseNumber(w[1], 600000, a)) {
    faults_.SetDelayMs(static_cast<unsigned>(a));
    return "ok";
  }
  if (op == "pull-after" && w.size() == 2 && ParseNumber(w[1], 1u << 20, a)) {
    pullAfter_ = static_cast<long>(a);
    return "ok";
  }
  if (op == "clear-faults" && w.size() == 1) {
    pullAfter_ = -1;
    faults_.Clear();
    return "ok";
  }
  if (op == "counters" && w.size() == 1) return "ok " + counters_.Describe();
  if (op == "refusals" && w.size() == 1) return "ok " + counters_.DescribeRefusals();
  if (op == "count" && w.size() == 2 && ParseCommand(w[1], command)) {
    return "ok " + std::to_string(counters_.Of(static_cast<uint8_t>(command)));
  }
  if (op == "reset-counters" && w.size() == 1) {
    counters_.Reset();
    return "ok";
  }
  if (op == "sessions" && w.size() == 1) return "ok " + std::to_string(card_->sessions.Count());
  if (op == "status" && w.size() == 1) {
    return "ok serial=" + card_->state.serial + " inserted=" + (inserted_ ? "1" : "0") +
           " connected=" + (link_.Connected() ? "1" : "0") +
           " sessions=" + std::to_string(card_->sessions.Count()) +
           " flags=" + std::to_string(card_->state.FlagsWord());
  }
  if (op == "trace" && w.size() == 2 && (w[1] == "on" || w[1] == "off")) {
    options_.trace = w[1] == "on";
    return "ok";
  }
  return "error bad request: " + line;
}

}  // namespace tokensim
