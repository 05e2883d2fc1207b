// tokensim-ctl SOCKET REQUEST...: sends one control request, prints the reply after "ok".
// Exit status 0 on "ok", 1 on "error" or a socket failure.
#include <cstdio>
#include <string>

#include "control_client.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fputs("usage: tokensim-ctl SOCKET REQUEST...\n", stderr);
    return 2;
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
