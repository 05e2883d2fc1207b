// zrtoksvc's user login on the simulated token: a PIN the token refused is sent once per run,
// counted through the simulator's Login counter.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "rig_gtest.h"
#include "tool_runner.h"

using namespace zrtoksvctest;

namespace {

const std::string kRightPin = "12345678";
const std::string kWrongPin = "-password=87878787";

size_t Occurrences(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
    return n;
}

class RigLogin : public ::testing::Test {
protected:
    void SetUp() override {
        ZR_REQUIRE_RIG();
        tokensim::rig::RigOptions options;
        options.simulators = {{"--so-pin", "87654321", "--user-pin", kRightPin}};
        rig = std::make_unique<tokensim::rig::Rig>(options);
        runner.UseLibrary(ZR_REAL_MODULE);
        runner.SetEnv("ZR_TEST_CACHE_CLOCK", "0");
        runner.WriteFile("v.txt", "value");
        for (const char* zone : {"", "-p"}) {
            std::vector<std::string> load = {"load", "data", "-password=" + kRightPin, "-file=v.txt", "-q",
                                             *zone ? "-label=privdata" : "-label=pubdata"};
            if (*zone) load.push_back(zone);
            ASSERT_EQ(runner.Run(load).status, 0);
        }
        rig->Control(0).ResetCounters();
    }
    void TearDown() override { rig.reset(); }
    uint64_t Logins() const { return rig->Control(0).Count("Login"); }

    ToolRunner runner;
    std::unique_ptr<tokensim::rig::Rig> rig;
};

struct RefusedCase {
    const char* name;
    std::vector<std::string> args;
    int status;             // listings go on with the public objects; the others need the login
    const char* outShows;   // what the run still shows without the login
};

class RigLoginRefused : public RigLogin, public ::testing::WithParamInterface<RefusedCase> {};

// Without a terminal a refused PIN is sent once, the command goes on without a login where it
// can, and the refusal is said once, on standard error.
TEST_P(RigLoginRefused, SentOnceAndSaidOnce) {
    const RefusedCase& c = GetParam();
    std::vector<std::string> args = c.args;
    args.push_back(kWrongPin);
    const RunResult r = runner.Run(args);
    EXPECT_EQ(Logins(), 1u) << r.out << r.err;
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
    EXPECT_EQ(Occurrences(r.err, "PIN INCORRECT"), 1u) << r.err;
    EXPECT_EQ(Occurrences(r.out, "PIN INCORRECT"), 0u) << r.out;
    EXPECT_EQ(Occurrences(r.out, "privdata"), 0u) << r.out;
    EXPECT_NE(r.out.find(c.outShows), std::string::npos) << r.out;
}

INSTANTIATE_TEST_SUITE_P(
    Commands, RigLoginRefused,
    ::testing::Values(RefusedCase{"List", {"list"}, 0, "pubdata"},
                      RefusedCase{"ListKeys", {"list", "-type=keys"}, 0, ""},
                      RefusedCase{"ListData", {"list", "-type=data"}, 0, "pubdata"},
                      RefusedCase{"Info", {"info"}, 0, "Session 1 opened"},
                      RefusedCase{"Hash", {"hash", "gost", "-file=v.txt"}, 0, "Done in"},
                      RefusedCase{"Random", {"random"}, 5, ""},
                      RefusedCase{"Next", {"next"}, 1, ""},
                      RefusedCase{"Sign", {"sign", "-label=any", "-file=v.txt"}, 5, ""},
                      RefusedCase{"Generate", {"generate", "dstu4145", "-label=k"}, 5, ""},
                      RefusedCase{"Unload", {"unload", "data", "-label=privdata", "-file=out.bin"}, 5, ""},
                      RefusedCase{"Delete", {"delete", "data", "-label=privdata", "-y"}, 5, ""}),
    [](const auto& info) { return std::string(info.param.name); });

struct TypedCase {
    const char* name;
    std::vector<std::string> args;
    std::vector<std::string> typed;  // each answers one "Enter user password:"
    uint64_t logins;
    int status;
    bool privateShown;
};

class RigLoginTyped : public RigLogin, public ::testing::WithParamInterface<TypedCase> {};

// On a terminal each typed PIN is sent once; an empty answer stops asking.
TEST_P(RigLoginTyped, EachTypedPinSentOnce) {
    const TypedCase& c = GetParam();
    std::vector<std::pair<std::string, std::string>> dialog;
    for (const std::string& pin : c.typed) dialog.push_back({"Enter user password:", pin + "\r"});
    std::vector<std::string> args = c.args;
    args.push_back(kWrongPin);
    const RunResult r = runner.RunOnTerminal(args, dialog);
    EXPECT_EQ(r.out.find("[timed out"), std::string::npos) << r.out;
    EXPECT_EQ(Logins(), c.logins) << r.out;
    EXPECT_EQ(r.status, c.status) << r.out;
    EXPECT_EQ(Occurrences(r.out, "Enter user password:"), c.typed.size()) << r.out;
    EXPECT_EQ(r.out.find(kRightPin), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("privdata") != std::string::npos, c.privateShown) << r.out;
}

INSTANTIATE_TEST_SUITE_P(
    Commands, RigLoginTyped,
    ::testing::Values(TypedCase{"ListRightPin", {"list", "-type=data"}, {kRightPin}, 2, 0, true},
                      TypedCase{"ListGivesUp", {"list", "-type=data"}, {""}, 1, 0, false},
                      TypedCase{"UnloadWrongThenRight",
                                {"unload", "data", "-label=privdata", "-file=out.bin"},
                                {"11110000", kRightPin}, 3, 0, false},
                      TypedCase{"UnloadGivesUp", {"unload", "data", "-label=privdata", "-file=out.bin"},
                                {"11110000", ""}, 2, 5, false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
