// OpenSC's pkcs11-tool against the fake-token module, as an application would use it.
#include <cstdio>
#include <string>

#include "module_fixture.h"
#include "rig_gtest.h"

namespace {

struct ToolResult {
    int status;
    std::string output;
};

// A sanitizer-built module needs its runtime loaded first into the uninstrumented tool.
std::string ToolPrefix() {
#ifdef ZR_SANITIZER_PRELOAD
    return "LD_PRELOAD='" ZR_SANITIZER_PRELOAD "' ASAN_OPTIONS=detect_leaks=0 ";
#else
    return "";
#endif
}

ToolResult RunTool(const std::string& arguments) {
    const std::string command =
        ToolPrefix() + "pkcs11-tool --module " + std::string(ZR_FAKE_MODULE) + " " + arguments + " 2>&1";
    ToolResult result{-1, std::string()};
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return result;
    char buffer[512];
    while (fgets(buffer, sizeof buffer, pipe) != nullptr) result.output += buffer;
    result.status = pclose(pipe);
    return result;
}

struct ToolCase {
    const char* arguments;
    std::vector<const char*> expected;
    const char* name;
};

class Pkcs11ToolTest : public ::testing::TestWithParam<ToolCase> {};

TEST_P(Pkcs11ToolTest, ReportsTheFakeToken) {
    ZR_REQUIRE_TOOLS("pkcs11-tool");
    const ToolResult result = RunTool(GetParam().arguments);
    EXPECT_EQ(0, result.status) << result.output;
    for (const char* text : GetParam().expected) EXPECT_NE(std::string::npos, result.output.find(text)) << result.output;
    // Any result the tool prints must be success.
    for (size_t at = result.output.find("CKR_"); at != std::string::npos; at = result.output.find("CKR_", at + 1)) {
        EXPECT_EQ("CKR_OK", result.output.substr(at, 6)) << result.output;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Tool, Pkcs11ToolTest,
    ::testing::Values(ToolCase{"-I", {"Cryptoki version 2.30", "ZR Test", "Fake token module"}, "Info"},
                      ToolCase{"-L", {"Slot 0", "Fake reader 0", "token label", "Fake token", "Slot 1"}, "Slots"},
                      ToolCase{"-T", {"Fake token", "token initialized", "PIN initialized"}, "Tokens"},
                      ToolCase{"-M", {"SHA-1", "SHA256", "SHA-1-HMAC"}, "Mechanisms"},
                      // Each thread initialises before it asks; the tool may wait up to 30 s for its threads.
                      ToolCase{"--test-threads INGISLT0 --test-threads INSL -L",
                               {"all threads have ended with CKR_OK"}, "Threads"}),
    [](const ::testing::TestParamInfo<ToolCase>& info) { return std::string(info.param.name); });

}  // namespace
