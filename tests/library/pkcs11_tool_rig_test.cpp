// OpenSC's pkcs11-tool against the token library and the simulated token, each call a process
// of its own inside the test's rig.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "module_rig_fixture.h"
#include "pkcs11_tool_runner.h"

using namespace librarytest;

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

struct Step {
    const char* arguments;
    std::vector<const char*> expected;
    std::vector<const char*> absent;
};

class ToolRig : public ModuleRigTest {
protected:
    void SetUp() override {
        ZR_REQUIRE_TOOLS("pkcs11-tool");
        char pattern[] = "/tmp/library-tool-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        work = pattern;
    }

    void TearDown() override {
        if (!work.empty()) std::system(("rm -rf '" + work + "'").c_str());
        ModuleRigTest::TearDown();
    }

    // Runs the steps in order; each must succeed and print (or not print) its texts.
    void Run(const std::vector<Step>& steps, const std::string& module = ZR_REAL_MODULE) {
        for (const Step& step : steps) {
            std::string arguments = step.arguments;
            for (size_t at; (at = arguments.find("$W")) != std::string::npos;) arguments.replace(at, 2, work);
            const ToolResult result = RunTool(module, arguments);
            EXPECT_EQ(result.status, 0) << arguments << "\n" << result.output;
            for (const char* text : step.expected) {
                EXPECT_NE(result.output.find(text), std::string::npos) << arguments << ": " << text << "\n" << result.output;
            }
            for (const char* text : step.absent) {
                EXPECT_EQ(result.output.find(text), std::string::npos) << arguments << ": " << text << "\n" << result.output;
            }
        }
    }

    std::string work;
};

TEST_F(ToolRig, TokenLifeFromANewToken) {
    StartRig({{"--serial", "ZRTOOL0000000001"}});
    if (IsSkipped() || HasFatalFailure()) return;
    Run({
        {"-I", {"Cryptoki version 2.30", "ZorvaneUA plc", "Zorvane Cryptoki QEL Token"}, {}},
        {"--init-token --so-pin 87654321 --label drv2token", {"Token successfully initialized"}, {}},
        {"--login --login-type so --so-pin 87654321 --init-pin --pin 12345678", {"User PIN successfully initialized"}, {}},
        {"-L", {"Slot 0", "Virtual PCD", "drv2token", "PIN initialized", "ZRTOOL0000000001"}, {}},
        {"-T", {"drv2token", "token initialized", "pin min/max        : 6/80"}, {}},
        {"-M", {"Supported mechanisms", "mechtype-0x80420021", "mechtype-0x80420031", "mechtype-0x80420042"}, {"0x80420043"}},
        {"--login --pin 12345678 --change-pin --new-pin 11223344", {"PIN successfully changed"}, {}},
        {"--login --pin 11223344 --generate-random 32 --output-file $W/random.bin", {}, {"error"}},
    });
    EXPECT_EQ(ReadFile(work + "/random.bin").size(), 32u);
    EXPECT_NE(RunTool(ZR_REAL_MODULE, "--login --pin 12345678 -O").status, 0) << "the old PIN no longer works";
}

TEST_F(ToolRig, DataObjectsAndCertificatesAcrossProcesses) {
    StartRig();
    if (IsSkipped() || HasFatalFailure()) return;
    { std::ofstream(work + "/data.bin") << "driver two data"; }
    ASSERT_EQ(std::system(("openssl req -x509 -newkey rsa:1024 -nodes -subj /CN=drv2 -days 2 -keyout " + work +
                           "/key.pem -outform DER -out " + work + "/cert.der > /dev/null 2>&1")
                              .c_str()),
              0);
    Run({
        {"--login --pin 12345678 --write-object $W/data.bin --type data --label d1", {}, {"error"}},
        {"--login --pin 12345678 --write-object $W/cert.der --type cert --label c1 --id 01", {}, {"error"}},
        {"--login --pin 12345678 -O", {"Data object", "d1", "Certificate Object", "c1", "CN=drv2"}, {}},
        {"--login --pin 12345678 --read-object --type data --label d1 --output-file $W/back.bin", {}, {"error"}},
        {"--login --pin 12345678 --delete-object --type data --label d1", {}, {"error"}},
        {"--login --pin 12345678 -O", {"c1"}, {"d1"}},
    });
    EXPECT_EQ(ReadFile(work + "/back.bin"), "driver two data");
}

TEST_F(ToolRig, TheOtherBrandsFileNameServesOnlyItsTokens) {
    StartRig({InitialisedToken(), {"--brand", "1", "--serial", "ULMARSIM00000001", "--so-pin", kSoPin, "--user-pin", kUserPin}});
    if (IsSkipped() || HasFatalFailure()) return;
    const std::string copy = work + "/libulmarkeyqel.so";
    ASSERT_EQ(std::system(("cp '" ZR_REAL_MODULE "' '" + copy + "'").c_str()), 0);
    Run({{"-I", {"Ulmar Technologies", "Ulmar Cryptoki QEL Token"}, {"Zorvane"}},
         {"-L", {"ULMARSIM00000001"}, {"ZRDRV2SIM0000001"}}},
        copy);
    Run({{"-L", {"ZRDRV2SIM0000001"}, {"ULMARSIM00000001"}}});
}

}  // namespace
