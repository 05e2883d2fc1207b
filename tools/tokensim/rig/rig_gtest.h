// For GoogleTest tests that need the rig: where it cannot start here the test is skipped, saying
// why; under CI (CI=true, as .ci/run is run) that is a failure instead, so a broken rig never
// passes as a run of skipped tests. Returns from the calling function either way; callers of a
// helper that uses it check IsSkipped() || HasFatalFailure().
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "rig.h"

#define ZR_REQUIRE_RIG()                                                                    \
  do {                                                                                      \
    const std::string zrRigWhy = ::tokensim::rig::Rig::WhyUnavailable();                   \
    if (!zrRigWhy.empty()) {                                                                \
      if (::tokensim::rig::Rig::RequiredHere()) FAIL() << "rig required under CI: " << zrRigWhy; \
      GTEST_SKIP() << zrRigWhy;                                                             \
    }                                                                                       \
  } while (false)
