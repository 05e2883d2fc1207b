// Faults a test asks for through the control socket, and the per-command counters.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "bytes.h"

namespace tokensim {

enum class Malformation {
  kNone,
  kStatusWordOnly,  // 90 00 and nothing before it
  kBadMarker,       // 02 00 90 00
  kBadStatusWord,   // 01 00 6A 82
  kTruncated,       // the right answer less the last byte before 90 00
  kOneByte,         // 90 alone
  kEmptyOutput      // 01 00 00 00 90 00: success with a two-byte zero length and no data
  // No empty answer: vpcd then waits for ever and hangs the reader.
};

bool ParseMalformation(const std::string& name, Malformation& out);

class FaultPlan {
 public:
  static constexpr int kAnyCommand = -1;

  // The next `count` commands (of `command`, or any) answer `status` without being executed.
  void ForceStatus(uint8_t status, unsigned count, int command);
  // The next `count` commands (of `command`, or any) are executed and answered malformed.
  void Malform(Malformation kind, unsigned count, int command);
  void SetDelayMs(unsigned ms) { delayMs_ = ms; }
  unsigned DelayMs() const { return delayMs_; }
  void Clear();

  // Consumes one forced status for this command; true and `status` set when one applies.
  bool TakeForcedStatus(uint8_t command, uint8_t& status);
  // Rewrites a framed answer when a malformation applies to this command.
  void ApplyMalformation(uint8_t command, Bytes& answer);

 private:
  static bool Applies(int filter, uint8_t command) { return filter == kAnyCommand || filter == command; }
  uint8_t forcedStatus_ = 0;
  unsigned forcedCount_ = 0;
  int forcedCommand_ = kAnyCommand;
  Malformation malformation_ = Malformation::kNone;
  unsigned malformedCount_ = 0;
  int malformedCommand_ = kAnyCommand;
  unsigned delayMs_ = 0;
};

class CommandCounters {
 public:
  void Count(uint8_t command) {
    ++perCommand_[command];
    ++total_;
  }
  // An answer with a status other than 0 (forced statuses included).
  void CountRefusal(uint8_t command) {
    ++refusedPerCommand_[command];
    ++refused_;
  }
  void Reset() {
    perCommand_.fill(0);
    total_ = 0;
    refusedPerCommand_.fill(0);
    refused_ = 0;
  }
  uint64_t Of(uint8_t command) const { return perCommand_[command]; }
  uint64_t Total() const { return total_; }
  // "total=N Name=n ..." for every command counted at least once.
  std::string Describe() const { return Describe(total_, perCommand_); }
  // The same for the answers with a status other than 0.
  std::string DescribeRefusals() const { return Describe(refused_, refusedPerCommand_); }

 private:
  static std::string Describe(uint64_t total, const std::array<uint64_t, 256>& perCommand);

  std::array<uint64_t, 256> perCommand_{};
  uint64_t total_ = 0;
  std::array<uint64_t, 256> refusedPerCommand_{};
  uint64_t refused_ = 0;
};

}  // namespace tokensim
