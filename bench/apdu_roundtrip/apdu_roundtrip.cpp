// APDU round-trip time through pcscd and vpcd to the simulator (target: median under 0.5 ms).
//   apdu_roundtrip [COUNT]
// Inside rig.sh it uses the rig's first reader ($TOKENSIM_READER_0); otherwise it starts a rig
// of its own (root). Prints median and p90 for a short answer and for a 1 KiB answer, and their
// ratio, all from one run.
#include <reader.h>
#include <winscard.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "rig.h"

namespace {

struct Figures {
  double median;
  double p90;
};

Figures Measure(SCARDHANDLE card, const std::vector<uint8_t>& apdu, int count) {
  std::vector<double> ms;
  ms.reserve(count);
  std::vector<uint8_t> answer(1302);
  for (int i = 0; i < count; ++i) {
    DWORD length = static_cast<DWORD>(answer.size());
    auto start = std::chrono::steady_clock::now();
    LONG rv = SCardTransmit(card, SCARD_PCI_T1, apdu.data(), static_cast<DWORD>(apdu.size()), nullptr,
                            answer.data(), &length);
    auto end = std::chrono::steady_clock::now();
    if (rv != SCARD_S_SUCCESS || length < 4 || answer[1] != 0) {
      std::fprintf(stderr, "apdu_roundtrip: exchange failed: %s\n", pcsc_stringify_error(rv));
      std::exit(1);
    }
    ms.push_back(std::chrono::duration<double, std::milli>(end - start).count());
  }
  std::sort(ms.begin(), ms.end());
  return {ms[ms.size() / 2], ms[ms.size() * 9 / 10]};
}

int Run(const std::string& reader, int count) {
  SCARDCONTEXT ctx = 0;
  SCARDHANDLE card = 0;
  DWORD protocol = 0;
  if (SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &ctx) != SCARD_S_SUCCESS ||
      SCardConnect(ctx, reader.c_str(), SCARD_SHARE_SHARED, SCARD_PROTOCOL_T1, &card, &protocol) != SCARD_S_SUCCESS) {
    std::fprintf(stderr, "apdu_roundtrip: cannot connect to \"%s\"\n", reader.c_str());
    return 1;
  }
  // GetAttr(version): 11 bytes out, 8 back. TestResponseDelay(1024): 12 bytes out, 1028 back.
  const std::vector<uint8_t> small = {0x81, 0, 0, 0, 0x03, 0x01, 0x10, 0x07, 0x00, 0x16, 0x05};
  const std::vector<uint8_t> large = {0x81, 0, 0, 0, 0x04, 0x01, 0x12, 0x00, 0x04, 0x00, 0x16, 0x05};
  Measure(card, small, count / 10 + 1);  // warm-up
  Figures s = Measure(card, small, count);
  Figures l = Measure(card, large, count);
  std::printf("APDU round trip through pcscd, %d exchanges each\n", count);
  std::printf("  %-28s median %.3f ms  p90 %.3f ms\n", "short answer (GetAttr)", s.median, s.p90);
  std::printf("  %-28s median %.3f ms  p90 %.3f ms\n", "1 KiB answer", l.median, l.p90);
  std::printf("  ratio 1 KiB / short (median) %.2f\n", l.median / s.median);
  std::printf("  target: short median under 0.5 ms: %s\n", s.median < 0.5 ? "met" : "NOT met");
  SCardDisconnect(card, SCARD_LEAVE_CARD);
  SCardReleaseContext(ctx);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  int count = argc > 1 ? std::max(10, std::atoi(argv[1])) : 2000;
  if (const char* reader = std::getenv("TOKENSIM_READER_0")) return Run(reader, count);
  std::string why = tokensim::rig::Rig::WhyUnavailable();
  if (!why.empty()) {
    std::fprintf(stderr, "apdu_roundtrip: no rig: %s\n", why.c_str());
    return 1;
  }
  try {
    tokensim::rig::Rig rig;
    return Run(rig.ReaderName(), count);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "apdu_roundtrip: %s\n", e.what());
    return 1;
  }
}
