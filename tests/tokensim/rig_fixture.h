// A GoogleTest fixture that runs each test in its own rig, skipping with the reason when the
// rig cannot run here (not root, namespaces refused, pcscd missing); under CI that fails instead.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "pcsc_client.h"
#include "rig_gtest.h"

namespace tokensim::test {

class RigTest : public ::testing::Test {
 protected:
  // A test body never runs without its rig: skipped here, saying why, or failed under CI.
  void SetUp() override { ZR_REQUIRE_RIG(); }
  // Starts the rig with one simulator per entry of `simulators`.
  void StartRig(std::vector<std::vector<std::string>> simulators = {{}}, bool trace = false) {
    ZR_REQUIRE_RIG();
    rig::RigOptions options;
    options.simulators = std::move(simulators);
    options.simulatorTrace = trace;
    rig_ = std::make_unique<rig::Rig>(options);
  }
  std::unique_ptr<PcscClient> Connect(size_t index = 0) {
    return std::make_unique<PcscClient>(rig_->ReaderName(index));
  }

  std::unique_ptr<rig::Rig> rig_;
};

// Options of an initialised token with known PINs.
inline std::vector<std::string> InitialisedToken(std::vector<std::string> more = {}) {
  std::vector<std::string> o = {"--so-pin", "87654321", "--user-pin", "12345678"};
  o.insert(o.end(), more.begin(), more.end());
  return o;
}

}  // namespace tokensim::test
