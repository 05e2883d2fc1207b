// For GoogleTest tests that need the rig, or a stock program run as a process: where it cannot
// run here the test is skipped, saying why; under CI (CI=true, as .ci/run is run) that is a
// failure instead, so a broken rig or a missing tool never passes as a run of skipped tests.
// Returns from the calling function either way; callers of a helper that uses it check
// IsSkipped() || HasFatalFailure().
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <initializer_list>
#include <sstream>
#include <string>

#include "rig.h"

namespace tokensim::rig {

// Empty when each program is an executable on PATH; otherwise names the ones missing.
inline std::string WhyToolsMissing(std::initializer_list<const char*> tools) {
  const char* path = std::getenv("PATH");
  std::string missing;
  for (const char* tool : tools) {
    bool found = false;
    std::istringstream dirs(path != nullptr ? path : "");
    for (std::string dir; !found && std::getline(dirs, dir, ':');) {
      found = !dir.empty() && access((dir + "/" + tool).c_str(), X_OK) == 0;
    }
    if (!found) missing += (missing.empty() ? "" : ", ") + std::string(tool);
  }
  return missing.empty() ? missing : "not installed: " + missing;
}

}  // namespace tokensim::rig

// Skips with the reason `why` when it is not empty, or fails under CI.
#define ZR_REQUIRE_OR_SKIP_(what, why)                                                       \
  do {                                                                                       \
    const std::string zrWhy = (why);                                                         \
    if (!zrWhy.empty()) {                                                                    \
      if (::tokensim::rig::Rig::RequiredHere()) FAIL() << what " required under CI: " << zrWhy; \
      GTEST_SKIP() << zrWhy;                                                                 \
    }                                                                                        \
  } while (false)

#define ZR_REQUIRE_RIG() ZR_REQUIRE_OR_SKIP_("rig", ::tokensim::rig::Rig::WhyUnavailable())

// ZR_REQUIRE_TOOLS("pkcs11-tool", "p11tool"): the stock programs a test runs.
#define ZR_REQUIRE_TOOLS(...) ZR_REQUIRE_OR_SKIP_("stock tools", ::tokensim::rig::WhyToolsMissing({__VA_ARGS__}))
