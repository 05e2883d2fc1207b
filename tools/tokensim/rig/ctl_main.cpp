// tokensim-ctl SOCKET REQUEST...: sends one control request, prints the reply after "ok".
// tokensim-ctl --reset READER: resets the card in READER through PC/SC (a warm reset that the
// other connections see as SCARD_W_RESET_CARD).
// Exit status 0 on success, 1 on "error" or a socket or PC/SC failure.
#include <cstdio>
#include <string>

#include "control_client.h"
#include "rig.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fputs("usage: tokensim-ctl SOCKET REQUEST...\n       tokensim-ctl --reset READER\n", stderr);
    return 2;
  }
  if (std::string(argv[1]) == "--reset" && argc == 3) {
    try {
      tokensim::rig::Rig::ResetReader(argv[2]);
      return 0;
    } catch (const std::exception& e) {
      std::fprintf(stderr, "tokensim-ctl: %s\n", e.what());
      return 1;
    }
  }
  std::string line;
  for (int i = 2; i < argc; ++i) line += (i > 2 ? " " : "") + std::string(argv[i]);
  try {
    std::string reply = tokensim::rig::ControlClient(argv[1]).Request(line);
    if (!reply.empty()) std::printf("%s\n", reply.c_str());
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tokensim-ctl: %s\n", e.what());
    return 1;
  }
}
