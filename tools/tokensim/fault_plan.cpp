#include "fault_plan.h"

#include "device_protocol.h"

namespace tokensim {

bool ParseMalformation(const std::string& name, Malformation& out) {
  if (name == "sw-only") out = Malformation::kStatusWordOnly;
  else if (name == "bad-marker") out = Malformation::kBadMarker;
  else if (name == "bad-sw") out = Malformation::kBadStatusWord;
  else if (name == "truncated") out = Malformation::kTruncated;
  else if (name == "one-byte") out = Malformation::kOneByte;
  else if (name == "empty-output") out = Malformation::kEmptyOutput;
  else return false;
  return true;
}

void FaultPlan::ForceStatus(uint8_t status, unsigned count, int command) {
  forcedStatus_ = status;
  forcedCount_ = count;
  forcedCommand_ = command;
}

void FaultPlan::Malform(Malformation kind, unsigned count, int command) {
  malformation_ = kind;
  malformedCount_ = count;
  malformedCommand_ = command;
}

void FaultPlan::Clear() { *this = FaultPlan(); }

bool FaultPlan::TakeForcedStatus(uint8_t command, uint8_t& status) {
  if (forcedCount_ == 0 || !Applies(forcedCommand_, command)) return false;
  --forcedCount_;
  status = forcedStatus_;
  return true;
}

void FaultPlan::ApplyMalformation(uint8_t command, Bytes& answer) {
  if (malformedCount_ == 0 || !Applies(malformedCommand_, command)) return;
  --malformedCount_;
  switch (malformation_) {
    case Malformation::kNone: break;
    case Malformation::kStatusWordOnly: answer = {0x90, 0x00}; break;
    case Malformation::kBadMarker: answer = {0x02, 0x00, 0x90, 0x00}; break;
    case Malformation::kBadStatusWord: answer = {0x01, 0x00, 0x6A, 0x82}; break;
    case Malformation::kTruncated:
      if (answer.size() > 4) answer.erase(answer.end() - 3);  // keep 90 00
      else answer = {0x01, 0x90, 0x00};
      break;
    case Malformation::kOneByte: answer = {0x90}; break;
    case Malformation::kEmptyOutput: answer = {0x01, 0x00, 0x00, 0x00, 0x90, 0x00}; break;
  }
}

std::string CommandCounters::Describe(uint64_t total, const std::array<uint64_t, 256>& perCommand) {
  std::string s = "total=" + std::to_string(total);
  for (size_t c = 0; c < perCommand.size(); ++c) {
    if (perCommand[c] == 0) continue;
    std::string name = CommandName(static_cast<uint8_t>(c));
    if (name == "Unknown") name = "Unknown" + ToHex(Bytes{static_cast<uint8_t>(c)});
    s += " " + name + "=" + std::to_string(perCommand[c]);
  }
  return s;
}

}  // namespace tokensim
