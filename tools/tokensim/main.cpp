// tokensim: plays one token behind vpcd. See README.md.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "simulator.h"
#include "token_options.h"

namespace {
volatile std::sig_atomic_t gStop = 0;
void OnSignal(int) { gStop = 1; }
}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
    std::fputs(tokensim::TokenOptionsUsage(), stdout);
    return 0;
  }
  tokensim::TokenOptions options;
  std::string error;
  if (!tokensim::ParseTokenOptions(args, options, error)) {
    std::fprintf(stderr, "tokensim: %s\n%s", error.c_str(), tokensim::TokenOptionsUsage());
    return 2;
  }
  struct sigaction sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sa_handler = OnSignal;  // no SA_RESTART: poll returns and the loop sees the flag
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);

  tokensim::Simulator sim(options);
  if (!sim.Start(error)) {
    std::fprintf(stderr, "tokensim: %s\n", error.c_str());
    return 1;
  }
  return sim.Run(gStop);
}
