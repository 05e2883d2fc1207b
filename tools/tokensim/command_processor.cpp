#include "command_processor.h"

#include <openssl/evp.h>

#include "crypto/token_crypto.h"
#include "device_protocol.h"

namespace tokensim {

namespace {

constexpr uint32_t kStateUserLoggedIn = 1u << 1;

Bytes TextAttribute(const std::string& text) {
  return ByteWriter().U8(static_cast<uint8_t>(text.size())).Append(Bytes(text.begin(), text.end())).Release();
}

Bytes WordAttribute(uint32_t v) { return ByteWriter().U8(4).U32(v).Release(); }

}  // namespace

CommandProcessor::Handler CommandProcessor::Find(uint8_t command) {
  switch (command) {
    case cmd::kCreateFile: return &CommandProcessor::CreateFile;
    case cmd::kDeleteFile: return &CommandProcessor::DeleteFile;
    case cmd::kGetFileSize: return &CommandProcessor::GetFileSize;
    case cmd::kWriteFile: return &CommandProcessor::WriteFile;
    case cmd::kReadFile: return &CommandProcessor::ReadFile;
    case cmd::kGetAttr: return &CommandProcessor::GetAttr;
    case cmd::kSetAttr: return &CommandProcessor::SetAttr;
    case cmd::kTestResponseDelay: return &CommandProcessor::TestResponseDelay;
    case cmd::kSetResponseDelay: return &CommandProcessor::SetResponseDelay;
    case cmd::kInitSOPIN: return &CommandProcessor::InitSOPIN;
    case cmd::kInitUserPIN: return &CommandProcessor::InitUserPIN;
    case cmd::kChangeSOPIN: return &CommandProcessor::ChangeSOPIN;
    case cmd::kChangeUserPIN: return &CommandProcessor::ChangeUserPIN;
    case cmd::kCheckSOPIN: return &CommandProcessor::CheckSOPIN;
    case cmd::kCheckUserPIN: return &CommandProcessor::CheckUserPIN;
    case cmd::kOpenSession: return &CommandProcessor::OpenSession;
    case cmd::kCloseSession: return &CommandProcessor::CloseSession;
    case cmd::kLogin: return &CommandProcessor::Login;
    case cmd::kLogout: return &CommandProcessor::Logout;
    case cmd::kGetSessionState: return &CommandProcessor::GetSessionState;
    case cmd::kGetFirmwareIntegrityCode: return &CommandProcessor::GetFirmwareIntegrityCode;
    case cmd::kResetDevice: return &CommandProcessor::ResetDevice;
    case cmd::kSetMaxAuthCtr: return &CommandProcessor::SetMaxAuthCtr;
    case cmd::kGetRand: return &CommandProcessor::GetRand;
    case cmd::kGenerateKey: return &CommandProcessor::GenerateKey;
    case cmd::kSign: return &CommandProcessor::Sign;
    case cmd::kVerify: return &CommandProcessor::Verify;
    case cmd::kGetCommonKey: return &CommandProcessor::GetCommonKey;
    case cmd::kEncrypt: return &CommandProcessor::Encrypt;
    case cmd::kDecrypt: return &CommandProcessor::Decrypt;
    case cmd::kLoadKey: return &CommandProcessor::LoadKey;
    default: return nullptr;
  }
}

Answer CommandProcessor::Execute(const Bytes& data) {
  Answer a;
  if (data.size() < 2 || data[0] != 0x01) {
    a.status = st::kNoCommand;
    return a;
  }
  Handler h = Find(data[1]);
  if (h == nullptr) {
    a.status = st::kNoCommand;
    return a;
  }
  ByteReader in(data.data() + 2, data.size() - 2);
  try {
    a.fields = (this->*h)(in);
    if (a.fields.size() + 2 > kMaxAnswerData) {
      a.fields.clear();
      a.status = st::kInternal;
    }
  } catch (const TruncatedField&) {
    a.status = st::kBadLength;
  } catch (const DeviceStatus& s) {
    a.status = s.status;
  }
  return a;
}

// ---- shared checks

void CommandProcessor::Finish(const ByteReader& in) {
  if (!in.AtEnd()) throw DeviceStatus{st::kBadLength};
}

SessionHandle CommandProcessor::ReadHandle(ByteReader& in) {
  SessionHandle h;
  Bytes raw = in.Take(h.size());
  std::copy(raw.begin(), raw.end(), h.begin());
  return h;
}

DeviceSession& CommandProcessor::SessionOf(const SessionHandle& handle) {
  DeviceSession* s = card_.sessions.Find(handle);
  if (s == nullptr) throw DeviceStatus{st::kInvalidSession};
  return *s;
}

DeviceSession& CommandProcessor::UserSessionOf(const SessionHandle& handle) {
  DeviceSession& s = SessionOf(handle);
  if (!s.userLoggedIn) throw DeviceStatus{st::kNotAuthorized};
  return s;
}

void CommandProcessor::RequireInitialized() const {
  if (!card_.state.initialized) throw DeviceStatus{st::kNotInitialized};
}

// ---- sessions

Bytes CommandProcessor::OpenSession(ByteReader& in) {
  Finish(in);
  const SessionHandle* h = card_.sessions.Open(card_.sessionLimit);
  if (h == nullptr) throw DeviceStatus{st::kSessionsLimit};
  return Bytes(h->begin(), h->end());
}

Bytes CommandProcessor::CloseSession(ByteReader& in) {
  SessionHandle h = ReadHandle(in);
  Finish(in);
  if (!card_.sessions.Close(h)) throw DeviceStatus{st::kInvalidSession};
  return {};
}

Bytes CommandProcessor::Login(ByteReader& in) {
  SessionHandle handle = ReadHandle(in);
  Bytes pin = in.ShortBlock();
  Finish(in);
  DeviceSession& s = SessionOf(handle);
  if (!card_.state.userPinInitialized) throw DeviceStatus{st::kNotInitialized};
  s.userLoggedIn = false;  // a failed login leaves the session logged out
  CheckPin(card_.state.user, card_.state.maxTries, pin);
  s.userLoggedIn = true;
  return {};
}

Bytes CommandProcessor::Logout(ByteReader& in) {
  SessionHandle handle = ReadHandle(in);
  Finish(in);
  DeviceSession& s = SessionOf(handle);
  s.userLoggedIn = false;
  return {};
}

Bytes CommandProcessor::GetSessionState(ByteReader& in) {
  SessionHandle handle = ReadHandle(in);
  Finish(in);
  DeviceSession& s = SessionOf(handle);
  return ByteWriter().U32(s.userLoggedIn ? kStateUserLoggedIn : 0).Release();
}

// ---- device attributes and service commands

Bytes CommandProcessor::GetAttr(ByteReader& in) {
  uint8_t id = in.U8();
  Finish(in);
  const TokenState& t = card_.state;
  switch (id) {
    case attr::kLabel: return ByteWriter().U8(static_cast<uint8_t>(t.label.size())).Append(t.label).Release();
    case attr::kSerial: return TextAttribute(t.serial);
    case attr::kModel: return TextAttribute(t.model);
    case attr::kManufacturer: return TextAttribute(t.manufacturer);
    case attr::kVersion: return WordAttribute(t.versionWord);
    case attr::kFlags: return WordAttribute(t.FlagsWord());
    case attr::kRandomFieldLength: return WordAttribute(t.randomFieldLength);
    case attr::kMaxPinTries: return WordAttribute(t.maxTries);
    default: throw DeviceStatus{st::kInvalidAttributeId};
  }
}

Bytes CommandProcessor::SetAttr(ByteReader& in) {
  uint8_t id = in.U8();
  in.ShortBlock();
  Finish(in);
  switch (id) {
    case attr::kLabel: case attr::kSerial: case attr::kModel: case attr::kManufacturer:
    case attr::kVersion: case attr::kFlags: case attr::kRandomFieldLength: case attr::kMaxPinTries:
      throw DeviceStatus{st::kNotAuthorized};  // set through the PIN commands only
    default:
      throw DeviceStatus{st::kInvalidAttributeId};
  }
}

Bytes CommandProcessor::TestResponseDelay(ByteReader& in) {
  uint16_t d = in.U16();
  Finish(in);
  if (d + 2u > kMaxAnswerData) throw DeviceStatus{st::kBadLength};
  Bytes out(d);
  for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<uint8_t>(i);
  return out;
}

Bytes CommandProcessor::SetResponseDelay(ByteReader& in) {
  uint16_t d = in.U16();
  Finish(in);
  card_.responseDelayMs = d;
  return {};
}

Bytes CommandProcessor::GetFirmwareIntegrityCode(ByteReader& in) {
  Bytes input = in.ShortBlock();
  Finish(in);
  // SHA-256 over a fixed firmware image name, the version word and the host's challenge.
  static const char kImage[] = "tokensim firmware";
  Bytes message(kImage, kImage + sizeof kImage - 1);
  ByteWriter w;
  w.Append(message).U32(card_.state.versionWord).Append(input);
  Bytes code(EVP_MAX_MD_SIZE);
  unsigned int codeLength = 0;
  if (EVP_Digest(w.Get().data(), w.Get().size(), code.data(), &codeLength, EVP_sha256(), nullptr) != 1) {
    throw DeviceStatus{st::kInternal};
  }
  code.resize(codeLength);
  return ByteWriter().U8(static_cast<uint8_t>(code.size())).Append(code).Release();
}

Bytes CommandProcessor::ResetDevice(ByteReader& in) {
  in.ShortBlock();
  Finish(in);
  card_.sessions.CloseAll();
  card_.responseDelayMs = 0;
  return {};
}

Bytes CommandProcessor::GetRand(ByteReader& in) {
  SessionHandle handle = ReadHandle(in);
  uint8_t n = in.U8();
  in.ShortBlock();  // the host's seed; OpenSSL's generator needs none
  Finish(in);
  UserSessionOf(handle);
  Bytes out(n);
  crypto::RandomBytes(out.data(), out.size());
  return out;
}

}  // namespace tokensim
