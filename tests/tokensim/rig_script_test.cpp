// rig.sh: runs a command inside a rig of its own and passes its exit status back.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "rig_fixture.h"

namespace tokensim::test {
namespace {

int RunScript(const std::string& arguments) {
  std::string line = "TOKENSIM_BUILD_DIR='" TOKENSIM_BUILD_DIR "' '" TOKENSIM_RIG_SCRIPT "' " + arguments;
  int status = std::system(line.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class RigScriptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why = rig::Rig::WhyUnavailable();
    if (!why.empty()) GTEST_SKIP() << why;
  }
};

TEST_F(RigScriptTest, CommandSeesTheCardAndItsExitStatusComesBack) {
  // The command talks to the simulator and checks the card is in the reader pcscd lists.
  EXPECT_EQ(RunScript("--sim '--serial SCRIPT1' -- sh -c '"
                      "tokensim-ctl \"$TOKENSIM_CONTROL\" status | grep -q serial=SCRIPT1 && "
                      "tokensim-ctl --reset \"$TOKENSIM_READER_0\" && "
                      "test \"$TOKENSIM_READER_0\" = \"Virtual PCD 00 00\" && exit 7'"),
            7);
}

TEST_F(RigScriptTest, RefusesBadUsageAndReportsAFailedStart) {
  EXPECT_EQ(RunScript("--no-such-option -- true 2>/dev/null"), 2);
  EXPECT_EQ(RunScript("--sim '--brand 7' -- true 2>/dev/null"), 125) << "a simulator that cannot start";
}

// Without root the rig says why at once instead of failing later or hanging.
TEST(RigAvailability, NonRootIsToldWhy) {
  if (geteuid() != 0) {
    EXPECT_NE(rig::Rig::WhyUnavailable().find("root"), std::string::npos);
    return;
  }
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(3);
    bool told = rig::Rig::WhyUnavailable().find("root") != std::string::npos;
    bool thrown = false;
    try {
      rig::Rig rig;
    } catch (const rig::RigError& e) {
      thrown = std::string(e.what()).find("root") != std::string::npos;
    }
    _exit(told && thrown ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace tokensim::test
