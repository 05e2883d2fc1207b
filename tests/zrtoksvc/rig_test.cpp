// The zrtoksvc program against the token library on the simulated token, through real pcscd.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "rig_gtest.h"
#include "tool_runner.h"

using namespace zrtoksvctest;

namespace {

constexpr const char* kUserPin = "12345678";

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class RigTest : public ::testing::Test {
protected:
    void StartRig(std::vector<std::string> simulator = {"--so-pin", "87654321", "--user-pin", kUserPin}) {
        ZR_REQUIRE_RIG();
        tokensim::rig::RigOptions options;
        options.simulators = {simulator};
        rig = std::make_unique<tokensim::rig::Rig>(options);
        runner.UseLibrary(ZR_REAL_MODULE);
    }
    void TearDown() override { rig.reset(); }

    ToolRunner runner;
    std::unique_ptr<tokensim::rig::Rig> rig;
};

TEST_F(RigTest, InfoListsLibrarySlotsTokenAndSession) {
    StartRig();
    if (IsSkipped() || HasFatalFailure()) return;
    const RunResult r = runner.Run({"info", std::string("-password=") + kUserPin});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(Has(r.out, "\t        cryptokiVersion = 2.30\n")) << r.out;
    EXPECT_TRUE(Has(r.out, "There are 2 slots: 0, 1. 1 with tokens.\n"));
    EXPECT_TRUE(Has(r.out, "\t            -> TOKEN INITIALIZED = TRUE\n"));
    EXPECT_TRUE(Has(r.out, "\t ---Session 1 logged.\n"));
    EXPECT_TRUE(Has(r.out, "\t ---Session 1 random: 0x"));
    EXPECT_TRUE(Has(r.out, "\n\tToken statistics:\n"));
    EXPECT_EQ(r.err, "");
}

TEST_F(RigTest, ListingsWithAndWithoutLogin) {
    StartRig();
    if (IsSkipped() || HasFatalFailure()) return;
    RunResult r = runner.Run({"list", "-q", "-s"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(Has(r.out, "\nPublic Domain Parameters:\n")) << r.out;
    EXPECT_TRUE(Has(r.out, "\nMechanisms:\n---------------------------\n"));
    EXPECT_TRUE(Has(r.out, "CKM_DSTU4145_KEY_PAIR_GEN [CKF_HW, CKF_GENERATE_KEY_PAIR]"));
    EXPECT_TRUE(Has(r.out, "\n\tPublic area statistics:\n"));
    // Every lister goes on without the login; the missing PIN is said once.
    EXPECT_FALSE(Has(r.out, "Cannot log in")) << r.out;
    EXPECT_EQ(r.err, "Cannot log in - no password specified\n");

    r = runner.Run({"list", "params", "-q", "-l", std::string("-password=") + kUserPin, "dstu4145"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Has(r.out, "\nDomain Parameters:\n---------------------------\nDomain Parameters #1 (handle: ")) << r.out;
    EXPECT_TRUE(Has(r.out, "(CKK_DSTU4145)"));
    EXPECT_FALSE(Has(r.out, "(CKK_GOST28147)"));

    r = runner.Run({"list", "mech", "-q", "-l"});
    EXPECT_TRUE(Has(r.out, "\t    ulMinKeySize = 163\n")) << r.out;
}

TEST_F(RigTest, RandomNeedsTheUserAndNextFindsNoCounter) {
    StartRig();
    if (IsSkipped() || HasFatalFailure()) return;
    RunResult r = runner.Run({"random", "-q", std::string("-password=") + kUserPin});
    EXPECT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(r.out.size(), 65u) << r.out;
    EXPECT_EQ(r.out.find_first_not_of("0123456789ABCDEF"), 64u);

    r = runner.RunOnTerminal({"random", "-size=16"}, {{"Enter user password:", std::string(kUserPin) + "\r"}});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_FALSE(Has(r.out, kUserPin));
    EXPECT_TRUE(HasTimed(r.out, "Generated in ", ".")) << r.out;

    r = runner.Run({"next", "-q", std::string("-password=") + kUserPin});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "No monotonic counter found.\n");
}

TEST_F(RigTest, RemovedTokenIsNoSuccess) {
    StartRig();
    if (IsSkipped() || HasFatalFailure()) return;
    rig->RemoveCard();
    const RunResult r = runner.Run({"list", "-type=cert", "-q", "-slot=0"});
    EXPECT_NE(r.status, 0) << r.out << r.err;
}

}  // namespace
