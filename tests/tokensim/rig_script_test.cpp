// rig.sh: runs a command inside a rig of its own and passes its exit status back.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include <gtest/gtest-spi.h>

#include "rig_fixture.h"
#include "rig_gtest.h"

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
    ZR_REQUIRE_RIG();
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

// Where the rig cannot start, or a stock program is missing, a test that needs it skips outside
// CI and fails under CI.
void NeedsRig() { ZR_REQUIRE_RIG(); }
void NeedsMissingTool() { ZR_REQUIRE_TOOLS("sh", "zr-no-such-tool"); }

TEST(RigAvailability, MissingRigOrToolFailsOnlyUnderCI) {
  const struct {
    const char* ci;  // null: CI unset
    bool required;
  } cases[] = {{nullptr, false}, {"true", true}, {"1", true}, {"false", false}, {"", false}};
  const struct {
    const char* what;
    void (*needs)();
    bool asNobody;  // as nobody the rig cannot start
  } needs[] = {{"rig", NeedsRig, true}, {"tool", NeedsMissingTool, false}};
  for (const auto& need : needs) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(need.what) + ", CI " + (c.ci == nullptr ? "unset" : c.ci));
      pid_t pid = fork();
      ASSERT_GE(pid, 0);
      if (pid == 0) {
        if (need.asNobody && geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
        if (c.ci == nullptr) unsetenv("CI"); else setenv("CI", c.ci, 1);
        if (rig::Rig::RequiredHere() != c.required) _exit(4);
        // The child reports through its exit status only, not through this test's result.
        ::testing::TestPartResultArray results;
        {
          ::testing::ScopedFakeTestPartResultReporter reporter(
              ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &results);
          need.needs();
        }
        if (results.size() != 1) _exit(5);
        const bool failed = results.GetTestPartResult(0).fatally_failed();
        const bool skipped = results.GetTestPartResult(0).skipped();
        _exit(failed == c.required && skipped != c.required ? 0 : 6);
      }
      int status = 0;
      waitpid(pid, &status, 0);
      ASSERT_TRUE(WIFEXITED(status));
      EXPECT_EQ(WEXITSTATUS(status), 0);
    }
  }
}

TEST(RigAvailability, ToolsAreLookedForOnPath) {
  EXPECT_EQ(rig::WhyToolsMissing({"sh"}), "");
  EXPECT_EQ(rig::WhyToolsMissing({"zr-no-such-tool", "sh", "zr-nor-this"}), "not installed: zr-no-such-tool, zr-nor-this");
  const std::string path = std::getenv("PATH");
  setenv("PATH", "/nonexistent", 1);
  EXPECT_EQ(rig::WhyToolsMissing({"sh"}), "not installed: sh");
  setenv("PATH", path.c_str(), 1);
}

}  // namespace
}  // namespace tokensim::test
