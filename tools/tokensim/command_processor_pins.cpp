// PIN commands. Each wrong PIN counts one try; the try that reaches the maximum answers
// "invalid PIN" and locks the PIN, later tries answer "PIN locked" until it is set again.
// The right PIN before that resets the count.
#include "command_processor.h"
#include "device_protocol.h"

namespace tokensim {

namespace {
constexpr size_t kMinPin = 6;
constexpr size_t kMaxPin = 80;
constexpr size_t kMaxAuthCtrData = 39 - 2;  // the command's fixed data less 01 3D
}  // namespace

void CommandProcessor::CheckPin(PinState& pin, uint32_t maxTries, const Bytes& given) {
  if (pin.locked) throw DeviceStatus{st::kPinLocked};
  if (pin.pin.Equals(given)) {
    if (pin.failures != 0) card_.contentChanged = true;
    pin.failures = 0;
    return;
  }
  ++pin.failures;
  if (pin.failures >= maxTries) pin.locked = true;
  card_.contentChanged = true;
  throw DeviceStatus{st::kInvalidPin};
}

void CommandProcessor::CheckNewPinLength(const Bytes& pin) {
  if (pin.size() < kMinPin || pin.size() > kMaxPin) throw DeviceStatus{st::kBadLength};
}

Bytes CommandProcessor::InitSOPIN(ByteReader& in) {
  SecretBytes soPin(in.ShortBlock());
  Bytes random = in.ShortBlock();
  Bytes label = in.ShortBlock();
  Finish(in);
  CheckNewPinLength(soPin.Get());
  if (random.size() != card_.state.randomFieldLength || label.size() > 32) throw DeviceStatus{st::kBadLength};
  TokenState& t = card_.state;
  if (t.initialized) CheckPin(t.so, TokenState::kSoMaxTries, soPin.Get());  // re-initialisation
  t.EraseContent();
  t.so = PinState();
  t.so.pin = soPin;
  label.resize(32, ' ');
  t.label = label;
  t.initialized = true;
  card_.sessions.CloseAll();
  card_.contentChanged = true;
  return {};
}

Bytes CommandProcessor::InitUserPIN(ByteReader& in) {
  SecretBytes soPin(in.ShortBlock());
  SecretBytes userPin(in.ShortBlock());
  Finish(in);
  RequireInitialized();
  CheckPin(card_.state.so, TokenState::kSoMaxTries, soPin.Get());
  CheckNewPinLength(userPin.Get());
  card_.state.user = PinState();
  card_.state.user.pin = userPin;
  card_.state.userPinInitialized = true;
  card_.contentChanged = true;
  return {};
}

Bytes CommandProcessor::ChangeSOPIN(ByteReader& in) {
  SecretBytes oldPin(in.ShortBlock());
  SecretBytes newPin(in.ShortBlock());
  Finish(in);
  RequireInitialized();
  CheckPin(card_.state.so, TokenState::kSoMaxTries, oldPin.Get());
  CheckNewPinLength(newPin.Get());
  card_.state.so.pin = newPin;
  card_.contentChanged = true;
  return {};
}

Bytes CommandProcessor::ChangeUserPIN(ByteReader& in) {
  SecretBytes oldPin(in.ShortBlock());
  SecretBytes newPin(in.ShortBlock());
  Bytes random = in.ShortBlock();
  Finish(in);
  if (!card_.state.userPinInitialized) throw DeviceStatus{st::kNotInitialized};
  if (random.size() != card_.state.randomFieldLength) throw DeviceStatus{st::kBadLength};
  CheckPin(card_.state.user, card_.state.maxTries, oldPin.Get());
  CheckNewPinLength(newPin.Get());
  card_.state.user.pin = newPin;
  card_.contentChanged = true;
  return {};
}

Bytes CommandProcessor::CheckSOPIN(ByteReader& in) {
  SecretBytes pin(in.ShortBlock());
  Finish(in);
  RequireInitialized();
  CheckPin(card_.state.so, TokenState::kSoMaxTries, pin.Get());
  return {};
}

Bytes CommandProcessor::CheckUserPIN(ByteReader& in) {
  SecretBytes pin(in.ShortBlock());
  Finish(in);
  if (!card_.state.userPinInitialized) throw DeviceStatus{st::kNotInitialized};
  CheckPin(card_.state.user, card_.state.maxTries, pin.Get());
  return {};
}

Bytes CommandProcessor::SetMaxAuthCtr(ByteReader& in) {
  // Fixed 37 bytes after the command byte: l + SO PIN, the count, zero filler.
  if (in.Remaining() != kMaxAuthCtrData) throw DeviceStatus{st::kBadLength};
  SecretBytes soPin(in.ShortBlock());
  uint32_t count = in.U32();
  in.Take(in.Remaining());
  RequireInitialized();
  if (count == 0 || count > 255) throw DeviceStatus{st::kInvalidArgument};
  CheckPin(card_.state.so, TokenState::kSoMaxTries, soPin.Get());
  TokenState& t = card_.state;
  t.maxTries = count;
  if (t.user.failures >= count) t.user.locked = true;
  card_.contentChanged = true;
  return {};
}

}  // namespace tokensim
