#include "token_options.h"

#include <cstdlib>

#include "bytes.h"

namespace tokensim {

namespace {

bool ParseUnsigned(const std::string& text, unsigned long max, unsigned long& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  unsigned long v = std::strtoul(text.c_str(), &end, 0);
  if (*end != '\0' || v > max || text[0] == '-') return false;
  out = v;
  return true;
}

bool ParseFirmware(const std::string& text, TokenOptions& o) {
  auto dot = text.find('.');
  unsigned long major = 0, minor = 0;
  if (dot == std::string::npos) {
    if (!ParseUnsigned(text, 255, major)) return false;
  } else if (!ParseUnsigned(text.substr(0, dot), 255, major) ||
             !ParseUnsigned(text.substr(dot + 1), 255, minor)) {
    return false;
  }
  o.firmwareMajor = static_cast<uint8_t>(major);
  o.firmwareMinor = static_cast<uint8_t>(minor);
  return true;
}

bool ParseAtr(const std::string& text, TokenOptions& o) {
  if (text == "genuine") o.atrKind = AtrKind::kGenuine;
  else if (text == "long") o.atrKind = AtrKind::kLong;
  else if (text == "bad-tail") o.atrKind = AtrKind::kBadTail;
  else if (text == "foreign") o.atrKind = AtrKind::kForeign;
  else {
    Bytes atr;
    if (!FromHex(text, atr) || atr.empty() || atr.size() > 33) return false;
    o.atrKind = AtrKind::kCustom;
    o.customAtr = atr;
  }
  return true;
}

}  // namespace

const char* TokenOptionsUsage() {
  return "tokensim [options]\n"
         "  --brand 0|1              brand of the ATR (default 0)\n"
         "  --model full|lite        lite: the model without RSA and ECDSA (default full)\n"
         "  --atr genuine|long|bad-tail|foreign|HEX   deliberately wrong ATRs for recognition tests\n"
         "  --firmware MAJOR.MINOR   version word (default 5.15)\n"
         "  --serial S --label L --manufacturer M --model-name N   attribute texts\n"
         "  --sessions N             device session limit (default 16)\n"
         "  --capacity BYTES         total file content (default 65536)\n"
         "  --max-tries N            maximum user PIN tries (default 10)\n"
         "  --random-length N        random field of InitSOPIN and ChangeUserPIN (default 32)\n"
         "  --so-pin P [--user-pin U]  start initialised with these PINs (default: a new token)\n"
         "  --state FILE             keep the token's contents in FILE across restarts\n"
         "  --port P                 vpcd port on 127.0.0.1 (default 35963)\n"
         "  --control PATH           control socket (Unix stream socket, line protocol)\n"
         "  --connect-timeout MS     how long to wait for vpcd (default 10000)\n"
         "  --trace                  print every command and answer to stderr\n";
}

bool ParseTokenOptions(const std::vector<std::string>& args, TokenOptions& o, std::string& error) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& name = args[i];
    if (name == "--trace") {
      o.trace = true;
      continue;
    }
    if (i + 1 >= args.size()) {
      error = "option " + name + " needs a value";
      return false;
    }
    const std::string& v = args[++i];
    unsigned long n = 0;
    bool ok = true;
    if (name == "--brand") {
      ok = ParseUnsigned(v, 1, n);
      o.brand = static_cast<int>(n);
    } else if (name == "--model") {
      ok = v == "full" || v == "lite";
      o.liteModel = v == "lite";
    } else if (name == "--atr") {
      ok = ParseAtr(v, o);
    } else if (name == "--firmware") {
      ok = ParseFirmware(v, o);
    } else if (name == "--serial") {
      ok = !v.empty() && v.size() <= 16;
      o.serial = v;
    } else if (name == "--label") {
      ok = v.size() <= 32;
      o.label = v;
    } else if (name == "--manufacturer") {
      ok = v.size() <= 32;
      o.manufacturer = v;
    } else if (name == "--model-name") {
      ok = v.size() <= 16;
      o.modelName = v;
    } else if (name == "--sessions") {
      ok = ParseUnsigned(v, 1000, n) && n > 0;
      o.sessionLimit = static_cast<unsigned>(n);
    } else if (name == "--capacity") {
      ok = ParseUnsigned(v, 16u << 20, n);
      o.capacity = static_cast<unsigned>(n);
    } else if (name == "--max-tries") {
      ok = ParseUnsigned(v, 255, n) && n > 0;
      o.maxPinTries = static_cast<uint32_t>(n);
    } else if (name == "--random-length") {
      ok = ParseUnsigned(v, 255, n);
      o.randomFieldLength = static_cast<uint32_t>(n);
    } else if (name == "--so-pin") {
      ok = !v.empty() && v.size() <= 80;
      o.soPin = v;
    } else if (name == "--user-pin") {
      ok = !v.empty() && v.size() <= 80;
      o.userPin = v;
    } else if (name == "--state") {
      o.stateFile = v;
    } else if (name == "--port") {
      ok = ParseUnsigned(v, 65535, n) && n > 0;
      o.vpcdPort = static_cast<uint16_t>(n);
    } else if (name == "--control") {
      o.controlSocket = v;
    } else if (name == "--connect-timeout") {
      ok = ParseUnsigned(v, 600000, n);
      o.connectTimeoutMs = static_cast<unsigned>(n);
    } else {
      error = "unknown option " + name;
      return false;
    }
    if (!ok) {
      error = "bad value for " + name + ": " + v;
      return false;
    }
  }
  if (!o.userPin.empty() && o.soPin.empty()) {
    error = "--user-pin needs --so-pin";
    return false;
  }
  return true;
}

}  // namespace tokensim
