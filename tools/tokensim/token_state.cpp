#include "token_state.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include "device_protocol.h"

namespace tokensim {

namespace {

Bytes BlankPadded(const std::string& text, size_t width) {
  Bytes b(text.begin(), text.end());
  b.resize(width, ' ');
  return b;
}

std::string HexOrDash(const Bytes& b) { return b.empty() ? "-" : ToHex(b); }

bool ReadHex(std::istream& in, Bytes& out) {
  std::string word;
  if (!(in >> word)) return false;
  if (word == "-") {
    out.clear();
    return true;
  }
  return FromHex(word, out);
}

}  // namespace

TokenState TokenState::FromOptions(const TokenOptions& o, const std::string& serial) {
  TokenState t;
  t.serial = serial;
  t.model = !o.modelName.empty() ? o.modelName : (o.liteModel ? "SIM-U" : "SIM-K");
  t.manufacturer = o.manufacturer;
  t.versionWord = static_cast<uint32_t>(o.firmwareMajor) << 24 | static_cast<uint32_t>(o.firmwareMinor) << 16;
  t.liteModel = o.liteModel;
  t.label = BlankPadded(o.label, 32);
  t.maxTries = o.maxPinTries;
  t.randomFieldLength = o.randomFieldLength;
  t.capacity = o.capacity;
  if (!o.soPin.empty()) {
    t.initialized = true;
    t.so.pin.Assign(Bytes(o.soPin.begin(), o.soPin.end()));
  }
  if (!o.userPin.empty()) {
    t.userPinInitialized = true;
    t.user.pin.Assign(Bytes(o.userPin.begin(), o.userPin.end()));
  }
  return t;
}

uint32_t TokenState::FlagsWord() const {
  uint32_t f = 0;
  if (initialized) f |= flag::kTokenInitialized;
  if (userPinInitialized) f |= flag::kUserPinInitialized;
  if (user.failures > 0) f |= flag::kUserPinCountLow;
  if (!user.locked && user.failures + 1 == maxTries) f |= flag::kUserPinFinalTry;
  if (user.locked) f |= flag::kUserPinLocked;
  return f;
}

size_t TokenState::UsedBytes() const {
  size_t n = 0;
  for (const auto& f : files) n += f.second.size();
  return n;
}

bool TokenState::SupportsParamSet(uint8_t p) const {
  uint8_t major = FirmwareMajor(), minor = FirmwareMinor();
  auto atLeast = [&](uint8_t ma, uint8_t mi) { return major > ma || (major == ma && minor >= mi); };
  if (paramset::IsDstu(p)) return p != paramset::kDstu431 || (!liteModel && atLeast(4, 14));
  if (liteModel) return false;
  if (p == paramset::kRsa512) return atLeast(4, 15);
  if (paramset::IsRsa(p)) return true;
  if (paramset::IsEcdsa(p)) return major >= 5;
  return false;
}

bool TokenState::SupportsKeyAgreement() const {
  uint8_t major = FirmwareMajor();
  return liteModel || major == 2 || major >= 4;
}

void TokenState::StoreKey(uint8_t slot, crypto::KeySlot key) {
  EraseKey(slot);
  keys.emplace(slot, std::move(key));
}

size_t TokenState::EraseKey(uint8_t slot) {
  auto it = keys.find(slot);
  if (it == keys.end()) return 0;
  crypto::ClearKeySlot(it->second);
  keys.erase(it);
  return 1;
}

void TokenState::EraseContent() {
  files.clear();
  for (auto& k : keys) crypto::ClearKeySlot(k.second);
  keys.clear();
  userPinInitialized = false;
  user = PinState();
}

bool TokenState::Save(const std::string& path, std::string& error) const {
  std::ostringstream s;
  s << "tokensim-state 1\n";
  s << "initialized " << (initialized ? 1 : 0) << "\n";
  s << "label " << HexOrDash(label) << "\n";
  s << "so-pin " << HexOrDash(so.pin.Get()) << " " << so.failures << " " << (so.locked ? 1 : 0) << "\n";
  s << "user-pin " << HexOrDash(user.pin.Get()) << " " << user.failures << " " << (user.locked ? 1 : 0)
    << " " << (userPinInitialized ? 1 : 0) << "\n";
  s << "max-tries " << maxTries << "\n";
  for (const auto& f : files) s << "file " << unsigned(f.first) << " " << HexOrDash(f.second) << "\n";
  for (const auto& k : keys) {
    s << "key " << unsigned(k.first) << " " << unsigned(k.second.paramSet) << " "
      << HexOrDash(k.second.privateBlob) << " " << HexOrDash(k.second.publicKey) << "\n";
  }
  // Write beside and rename, so a crash never leaves half a state file.
  std::string tmp = path + ".tmp";
  {
    std::ofstream out(tmp, std::ios::trunc);
    out << s.str();
    out.flush();
    if (!out) {
      error = "cannot write " + tmp;
      return false;
    }
  }
  if (std::rename(tmp.c_str(), path.c_str()) != 0) {
    error = "cannot rename " + tmp + " to " + path;
    return false;
  }
  return true;
}

bool TokenState::Load(const std::string& path, std::string& error) {
  std::ifstream in(path);
  if (!in) {
    error = "cannot read " + path;
    return false;
  }
  TokenState t = *this;  // identity stays; content is replaced
  t.files.clear();
  t.keys.clear();
  std::string line;
  int lineNo = 0;
  bool headerSeen = false;
  while (std::getline(in, line)) {
    ++lineNo;
    if (line.empty()) continue;
    std::istringstream ls(line);
    std::string name;
    ls >> name;
    bool ok = true;
    if (name == "tokensim-state") {
      int version = 0;
      ok = static_cast<bool>(ls >> version) && version == 1;
      headerSeen = ok;
    } else if (name == "initialized") {
      int v = 0;
      ok = static_cast<bool>(ls >> v);
      t.initialized = v != 0;
    } else if (name == "label") {
      ok = ReadHex(ls, t.label) && t.label.size() <= 32;
      t.label.resize(32, ' ');
    } else if (name == "so-pin" || name == "user-pin") {
      PinState& p = name == "so-pin" ? t.so : t.user;
      Bytes pin;
      int locked = 0;
      ok = ReadHex(ls, pin) && static_cast<bool>(ls >> p.failures >> locked);
      p.pin.Assign(pin);
      p.locked = locked != 0;
      if (ok && name == "user-pin") {
        int init = 0;
        ok = static_cast<bool>(ls >> init);
        t.userPinInitialized = init != 0;
      }
    } else if (name == "max-tries") {
      ok = static_cast<bool>(ls >> t.maxTries) && t.maxTries > 0;
    } else if (name == "file") {
      unsigned id = 0;
      Bytes content;
      ok = static_cast<bool>(ls >> id) && fileid::IsFile(static_cast<uint8_t>(id)) && id < 256 &&
           ReadHex(ls, content) && content.size() <= kMaxFileSize;
      if (ok) t.files[static_cast<uint8_t>(id)] = content;
    } else if (name == "key") {
      unsigned slot = 0, ps = 0;
      crypto::KeySlot k;
      ok = static_cast<bool>(ls >> slot >> ps) && slot < 256 && fileid::IsKeySlot(static_cast<uint8_t>(slot)) &&
           ps < 256 && ReadHex(ls, k.privateBlob) && ReadHex(ls, k.publicKey);
      k.paramSet = static_cast<uint8_t>(ps);
      if (ok) t.keys[static_cast<uint8_t>(slot)] = k;
    } else {
      ok = false;
    }
    if (!ok || !headerSeen) {
      error = path + ":" + std::to_string(lineNo) + ": bad line";
      return false;
    }
  }
  *this = t;
  return true;
}

}  // namespace tokensim
