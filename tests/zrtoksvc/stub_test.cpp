// The zrtoksvc program against the scripted stub module: command line, loader configuration,
// library start, sessions and PINs, printing, info, list, random and next.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "tool_runner.h"

using namespace zrtoksvctest;

namespace {

const char kBanner[] = "zrtoksvc version 3.8.1.9557 for Test module.\n";
const char kHint[] = "Use parameter help (-h) to see help on usage.\n";

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

size_t Count(const std::vector<std::string>& log, const std::string& prefix) { return Calls(log, prefix).size(); }

class StubTest : public ::testing::Test {
protected:
    void SetUp() override { runner.UseLibrary(ZR_STUB_MODULE); }
    void Script(const std::string& text) { runner.WriteFile("script", text); }
    RunResult Run(const std::vector<std::string>& args, const std::string& input = std::string()) {
        return runner.Run(args, input);
    }
    std::vector<std::string> Log() { return ReadLog(runner); }

    ToolRunner runner;
};

struct UsageCase {
    std::vector<std::string> args;
    int status;
    std::string out;  // exact standard output
    std::string err;  // exact standard error
};

TEST_F(StubTest, UsageErrorsAndVersion) {
    const std::string banner = kBanner;
    const UsageCase cases[] = {
        {{}, 1, "", banner + "Not enough parameters.\n" + kHint},
        {{"-v"}, 0, banner, ""},
        {{"--version", "list"}, 0, banner, ""},
        {{"list", "-v"}, 1, "", banner + "Error: Unknown option \"v\"\n" + kHint},
        {{"-slot=1", "foo"}, 1, "", banner + "Error: Unknown command \"-slot=1\"\n" + kHint},
        {{"list", "-ql"}, 1, "", banner + "Error: Unknown parameter \"-ql\"\n" + kHint},
        {{"list", "-slot", "2"}, 1, "", banner + "Error: Unknown parameter \"-slot\"\n" + kHint},
        {{"info", "-identity", "01"}, 1, "", banner + "Error: Unknown parameter \"-identity\"\n" + kHint},
        {{"-label", "info", "list"}, 1, "", banner + "Error: Unknown parameter \"list\"\n" + kHint},
        // A misspelled option is named without its value, which may be a secret.
        {{"list", "-pasword=S3cretPIN9"}, 1, "", banner + "Error: Unknown parameter \"-pasword\"\n" + kHint},
        {{"list", "-size=abc"}, 1, "Exception: Unable to parse size_t from \"abc\".\n", ""},
        {{"list", "-size=-1"}, 1, "Exception: Unable to parse size_t from \"-1\".\n", ""},
        {{"list", "-count=-3"}, 1, "Exception: Unable to parse int from \"-3\".\n", ""},
        {{"list", "-id=xyz"}, 1, banner + "Parameter id should be hexadecimal string\n", ""},
    };
    for (const UsageCase& c : cases) {
        // Parsing failures never start the library.
        runner.WriteFile("calls.log", "");
        const RunResult r = Run(c.args);
        std::string joined;
        for (const std::string& a : c.args) joined += a + " ";
        EXPECT_EQ(r.status, c.status) << joined;
        EXPECT_EQ(r.out, c.out) << joined;
        EXPECT_EQ(r.err, c.err) << joined;
        EXPECT_EQ(Count(Log(), "C_Initialize"), 0u) << joined;
    }
}

TEST_F(StubTest, HelpPrintsTheUsageText) {
    const RunResult r = Run({"-h"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind(std::string(kBanner) + "Usage: zrtoksvc <options> <command> <command parameters>\n\nCommands\n", 0), 0u);
    EXPECT_TRUE(Has(r.out, "    -mode=ecb|ctr|cfb - encryption mode. \n"));
    EXPECT_TRUE(Has(r.out, "    -f  - continue operation even if error occured.\n"));
    EXPECT_TRUE(Has(r.out, "    could be shrinked to \n       zrtoksvc generate belt ...\n"));
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 131);
}

TEST_F(StubTest, WordsFailAfterTheLibraryStartAndRelease) {
    const struct {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"list", "-type=foo"}, "Exception: Unknown object type.\n"},
        {{"list", "-key_type=Rsa"}, "Exception: Unknown key type.\n"},
        {{"hash", "-hash_type=md5"}, "Exception: Unknown hash type.\n"},
        {{"encrypt", "-mode=ofb"}, "Exception: Unknown encryption mode.\n"},
        {{"wrap"}, "Unknown command (INTERNAL ERROR)\n"},
        {{"mac", "-q"}, "Unknown command (INTERNAL ERROR)\n"},
    };
    for (const auto& c : cases) {
        runner.WriteFile("calls.log", "");
        const RunResult r = Run(c.args);
        EXPECT_EQ(r.status, 1) << c.args[0];
        EXPECT_TRUE(Has(r.out, c.message)) << r.out;
        const std::vector<std::string> log = Log();
        EXPECT_EQ(Count(log, "C_Initialize flags=2 reserved=null"), 1u) << c.args[0];
        EXPECT_EQ(Count(log, "C_Finalize"), 1u) << c.args[0];
    }
}

TEST_F(StubTest, ConfigurationThatCannotBeReadEndsWith99) {
    runner.WriteFile("load-zrcryptoki.cfg", "no equals sign here\n");
    const RunResult r = Run({"info"});
    EXPECT_EQ(r.status, 99);
    EXPECT_EQ(r.out.rfind("Cannot read config file \"load-zrcryptoki.cfg\" - FileConfig: wrong data in config file ", 0), 0u)
        << r.out;
    EXPECT_EQ(r.err, "");
}

TEST_F(StubTest, ForeignWritableConfigurationIsSkipped) {
    runner.UseLibrary(ZR_STUB_MODULE);
    chmod(runner.Path("load-zrcryptoki.cfg").c_str(), 0666);
    const RunResult r = Run({"info"});
    EXPECT_TRUE(Has(r.err, "Warning: load-zrcryptoki.cfg in the current directory is skipped")) << r.err;
    // The built-in library is not installed here: the stub was not chosen.
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Has(r.err, "Can't load library ZorvaneUA ZorvaneKey token from file \"libzrcryptokiqel.so\", dlopen error "))
        << r.err;
    EXPECT_TRUE(Has(r.out, "Exception occured.\n"));
    EXPECT_EQ(Count(Log(), "C_"), 0u);
}

TEST_F(StubTest, LibraryNameEntryAndInitialisationText) {
    const std::string stubDir = std::string(ZR_STUB_MODULE).substr(0, std::string(ZR_STUB_MODULE).rfind('/'));
    runner.SetEnv("LD_LIBRARY_PATH", stubDir);
    // A bare name gets "lib" and ".so"; the entry key names the entry function.
    runner.WriteFile("load-zrcryptoki.cfg",
                     "zorvanecorp.zrcryptoki.lib.description = Test module\n"
                     "zorvanecorp.zrcryptoki.lib.name = zrtoksvc_stub\n"
                     "zorvanecorp.zrcryptoki.lib.entry = Stub_GetFunctionList\n"
                     "zorvanecorp.zrcryptoki.lib.nss_init = from the configuration\n");
    RunResult r = Run({"list", "-type=mech", "-q"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Count(Log(), "C_Initialize flags=2 reserved=[from the configuration]"), 1u);

    runner.WriteFile("init.txt", "ResponseDelay = 0\n");
    runner.WriteFile("calls.log", "");
    r = Run({"list", "-type=mech", "-q", "-lib_init_config=init.txt"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(Count(Log(), "C_Initialize flags=2 reserved=[ResponseDelay = 0\n]"), 0u);  // the log line breaks
    EXPECT_EQ(Count(Log(), "C_Initialize flags=2 reserved=[ResponseDelay = 0"), 1u);

    runner.UseLibrary(ZR_STUB_MODULE, "zorvanecorp.zrcryptoki.lib.entry = No_Such_Entry\n");
    r = Run({"info"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Has(r.err, "dlsym error ")) << r.err;

    r = Run({"info", "-lib_init_config=missing.txt"});
    EXPECT_EQ(r.status, 1);
}

TEST_F(StubTest, SlotChoice) {
    const struct {
        const char* script;
        std::vector<std::string> args;
        const char* openLine;
    } cases[] = {
        {"slots 1,3,5\ntokens 3,5\n", {"list", "-type=mech", "-q"}, "C_OpenSession slot=3 flags=6"},
        {"slots 1,3,5\ntokens 3,5\n", {"list", "-type=mech", "-q", "-slot=5"}, "C_OpenSession slot=5 flags=6"},
    };
    for (const auto& c : cases) {
        Script(c.script);
        runner.WriteFile("calls.log", "");
        const RunResult r = Run(c.args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(Count(Log(), c.openLine), 1u) << c.script;
    }
    // With -slot the slot list is not read at the start.
    EXPECT_EQ(Count(Log(), "C_GetSlotList"), 0u);
    // No token anywhere: slot 0, and the session cannot be opened.
    Script("slots 1,3\ntokens none\n");
    runner.WriteFile("calls.log", "");
    const RunResult r = Run({"list", "-type=mech", "-q"});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(Count(Log(), "C_OpenSession slot=0"), 1u);
    EXPECT_TRUE(Has(r.err, "C_OpenSession returned 0xe0 TOKEN NOT PRESENT\n")) << r.err;
}

std::string SlotIds(int n) {
    std::string ids;
    for (int i = 0; i < n; ++i) ids += (i ? "," : "") + std::to_string(i);
    return ids;
}

TEST_F(StubTest, InfoSlotListing) {
    Script("slots " + SlotIds(30) + "\n");
    RunResult r = Run({"info", "-test_presence=0"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Has(r.out, "There are 30 slots: 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, ... 21, 22, 23, 24, 25, 26, 27, 28, 29.\n"))
        << r.out;
    Script("slots " + SlotIds(25) + "\n");
    r = Run({"info", "-test_presence=no"});
    EXPECT_TRUE(Has(r.out, "There are 25 slots: 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, "
                           "21, 22, 23, 24.\n"));
    Script("slots 4,6\ntokens 6\n");
    r = Run({"info", "-slot=4"});
    EXPECT_TRUE(Has(r.out, "There are 2 slots: 4, 6. 1 with tokens.\n")) << r.out;
    // The first listed slot is reported; it holds no token.
    EXPECT_TRUE(Has(r.out, "***Token not found.\n"));
    EXPECT_EQ(r.status, 0);
}

TEST_F(StubTest, InfoReportsSessionAndStatistics) {
    Script("object 0=u:5 300=u:2\nobject 0=u:1 2=b:0 3=t:cert\n");
    const RunResult r = Run({"info", "-password=12345678", "-seed=0102"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Has(r.out, "\t ---Session 7 opened.\n\t ---Session 7 logged.\n\t ---Session 7 random: 0x000102030405"));
    EXPECT_TRUE(Has(r.out, "\n\tToken statistics:\n\t    Found 1 hardware features.\n"));
    EXPECT_TRUE(Has(r.out, "\t    Found 1 public certificates.\n"));
    const std::vector<std::string> log = Log();
    EXPECT_EQ(Count(log, "C_SeedRandom 0102"), 1u);
    EXPECT_EQ(Count(log, "C_FindObjectsInit"), Count(log, "C_FindObjectsFinal"));
}

struct FailureCase {
    const char* name;
    const char* script;
    std::vector<std::string> args;
    int status;
    const char* err;
};

TEST_F(StubTest, FailuresAreNeverSuccess) {
    const FailureCase cases[] = {
        {"info, session cannot be opened", "fail C_OpenSession 32\n", {"info"}, 3,
         "C_OpenSession returned 0x32 DEVICE REMOVED\n"},
        {"info, search fails", "fail C_FindObjects 30\n", {"info"}, 5, "C_FindObjects returned 0x30 DEVICE ERROR\n"},
        {"list, search fails", "fail C_FindObjects 30\n", {"list", "-type=cert"}, 5, "C_FindObjects returned 0x30"},
        {"list all, search init fails", "fail C_FindObjectsInit 5\n", {"list"}, 5, "C_FindObjectsInit returned 0x5"},
        {"list, session fails", "fail C_OpenSession 6\n", {"list", "-type=data"}, 1, "C_OpenSession returned 0x6"},
        {"mechanisms, list fails", "fail C_GetMechanismList 30\n", {"list", "mech"}, 5, "C_GetMechanismList returned 0x30"},
        {"random fails", "fail C_GenerateRandom 101\n", {"random"}, 5, "C_GenerateRandom returned 0x101 USER NOT LOGGED IN\n"},
        {"next, no counter", "", {"next"}, 1, "No monotonic counter found.\n"},
        {"initialisation fails", "fail C_Initialize 5\n", {"info"}, 1, "C_Initialize returned 0x5 GENERAL ERROR\n"},
    };
    for (const FailureCase& c : cases) {
        Script(c.script);
        runner.WriteFile("calls.log", "");
        const RunResult r = Run(c.args);
        EXPECT_EQ(r.status, c.status) << c.name << "\n" << r.out << r.err;
        EXPECT_TRUE(Has(r.err, c.err)) << c.name << "\n" << r.err;
        const std::vector<std::string> log = Log();
        // Every search that started was ended.
        size_t started = 0;
        for (const std::string& line : Calls(log, "C_FindObjectsInit"))
            if (line.size() > 5 && line.substr(line.size() - 4) == "-> 0") ++started;
        EXPECT_EQ(started, Count(log, "C_FindObjectsFinal")) << c.name;
    }
}

TEST_F(StubTest, ReleaseFailuresArePrintedAndFinaliseStillRuns) {
    Script("fail C_CloseSession 5\nfail C_Finalize 5\n");
    const RunResult r = Run({"list", "-type=mech", "-q"});
    EXPECT_EQ(r.status, 1);  // the close failure ends the command
    EXPECT_TRUE(Has(r.out, "***C_Finalize Error 0x5\n")) << r.out;
    EXPECT_EQ(Count(Log(), "C_Finalize"), 1u);
}

TEST_F(StubTest, ObjectPrintingShortAndLong) {
    std::string script = "object 0=u:1 2=b:0 3=t:big 11=z:5000 8e000002=t:20211231235959\nobject 0=u:1 2=b:0 102=h:01AB\n";
    Script(script);
    RunResult r = Run({"list", "-type=cert", "-q", "-password=12345678"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Has(r.out, "\nPublic Certificates:\n---------------------------\nCertificate #1 (handle: 1) attributes:\n"
                           "  CKA_LABEL: big (attribute size: 3)\n  CKA_VALUE: <too big value>, size: 5000\n"
                           "  Generated at 31.12.2021 23:59:59 (Local time)\n"))
        << r.out;
    EXPECT_TRUE(Has(r.out, "Certificate #2 (handle: 2) attributes:\n  CKA_ID: hex: 01AB (attribute size: 2)\n")) << r.out;
    r = Run({"list", "-type=cert", "-q", "-l", "-password=12345678"});
    EXPECT_TRUE(Has(r.out, "    CKA_VALUE<too big value>\n")) << r.out;
    EXPECT_TRUE(Has(r.out, "    CKA_CLASS\t        type: 0x0, len: 8, value: 0100000000000000 ........ : 1 (CKO_CERTIFICATE)\n"));
}

TEST_F(StubTest, ListingNumbersAcrossRoundsAndFilters) {
    std::string script;
    for (int i = 0; i < 150; ++i) script += "object 0=u:5 3=t:feature\n";
    script += "object 0=u:0 2=b:0 3=t:data 10=t:app 11=t:v\n";
    Script(script);
    RunResult r = Run({"list", "hwf", "-q"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(Has(r.out, "Hardware Feature #150 (handle: 150) attributes:\n"));
    EXPECT_EQ(Count(Log(), "C_FindObjects room=100"), 3u);
    // A data object's text filter is CKA_APPLICATION; -id is CKA_OBJECT_ID.
    runner.WriteFile("calls.log", "");
    r = Run({"list", "data", "-q", "-application=app", "-id=0102"});
    EXPECT_EQ(Count(Log(), "C_FindObjectsInit 0=0000000000000000 12=0102 10=617070 2=00"), 1u);
    // A key type that maps to nothing leaves CKA_KEY_TYPE out.
    runner.WriteFile("calls.log", "");
    r = Run({"list", "pub_key", "-q", "-key_type=belt", "-label=x"});
    EXPECT_EQ(Count(Log(), "C_FindObjectsInit 2=0000000000000000 3=78 2=00"), 0u);
    EXPECT_EQ(Count(Log(), "C_FindObjectsInit 0=0200000000000000 3=78 2=00"), 1u);
}

TEST_F(StubTest, MechanismListing) {
    RunResult r = Run({"list", "-type=mech", "-q"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(Has(r.out, "\nMechanisms:\n---------------------------\nMechanism #1 -\t[0x00000001] CKM_RSA_PKCS "
                           "[CKF_HW, CKF_SIGN, CKF_VERIFY]\nMechanism #2 -\t[0x00000250] CKM_SHA256 []\n"))
        << r.out;
    r = Run({"list", "-type=mech", "-q", "-l"});
    const size_t names = r.out.find("Mechanism #2");
    const size_t details = r.out.find("\t    [1]: CK_MECHANISM_TYPE = 1 \"[0x00000001] CKM_RSA_PKCS\"\n");
    ASSERT_NE(details, std::string::npos) << r.out;
    EXPECT_LT(names, details);
    EXPECT_TRUE(Has(r.out, "\t        -> EXTENSION = FALSE\n"));
}

TEST_F(StubTest, RandomAndNext) {
    Script("object 0=u:5 300=u:1 11=h:000000000000000000000005\n");
    RunResult r = Run({"random", "-password=12345678"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(HasTimed(r.out, "\n000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F\nGenerated in ", ".\n"))
        << r.out;
    r = Run({"random", "-password=12345678", "-q", "-size=2k", "-file=random.bin"});
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(runner.ReadFile("random.bin").size(), 2048u);

    // Leading zero bytes do not count towards overflow.
    runner.WriteFile("calls.log", "");
    r = Run({"next", "-count=3", "-q", "-password=12345678"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "5\n5\n5\n");
    EXPECT_EQ(Count(Log(), "C_OpenSession"), 1u);
    EXPECT_EQ(Count(Log(), "C_GetAttributeValue"), 3u);
    r = Run({"next", "-count=0"});
    EXPECT_FALSE(Has(r.out, "Done in")) << r.out;
    r = Run({"next", "-h", "-q", "-password=12345678"});
    EXPECT_EQ(r.out, "000000000000000000000005\n");

    Script("object 0=u:5 300=u:1 11=h:010000000000000000000001\n");
    r = Run({"next", "-q", "-password=12345678"});
    EXPECT_EQ(r.out, "0 OVERFLOW\n");  // the fold of the first nine bytes
    Script("object 0=u:5 300=u:1 11=h:00FFFFFFFFFFFFFFFF\n");
    r = Run({"next", "-q", "-password=12345678"});
    EXPECT_EQ(r.out, "18446744073709551615\n");
}

TEST_F(StubTest, PromptedPinOnATerminal) {
    // A wrong PIN on the command line, then the right one typed without echo.
    RunResult r = runner.RunOnTerminal({"random", "-password=wrong"},
                                       {{"Enter user password:", "12345678\r"}});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(Has(r.out, "Cannot login with default password.\r\nEnter user password:\r\n")) << r.out;
    EXPECT_FALSE(Has(r.out, "12345678")) << r.out;
    std::vector<std::string> log = Log();
    EXPECT_EQ(Count(log, "C_Login user=1 pin=wrong"), 1u);
    EXPECT_EQ(Count(log, "C_Login user=1 pin=12345678 -> 0"), 1u);

    // Ctrl-C at the prompt ends the run after releasing the library.
    runner.WriteFile("calls.log", "");
    Script("pin abcdef\n");
    r = runner.RunOnTerminal({"random"}, {{"Enter user password:", "ab\x03"}});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Has(r.out, "Error number 0x1 occured.")) << r.out;
    log = Log();
    EXPECT_EQ(Count(log, "C_CloseSession"), 1u);
    EXPECT_EQ(Count(log, "C_Finalize"), 1u);

    // 1024 characters are the PIN; the 1025th is left unread.
    const std::string longPin(1024, 'p');
    Script("pin " + longPin + "\n");
    runner.WriteFile("calls.log", "");
    r = runner.RunOnTerminal({"random"}, {{"Enter user password:", longPin + "X\r"}});
    EXPECT_EQ(r.status, 0) << r.out.substr(0, 300);
    EXPECT_EQ(Count(Log(), "C_Login user=1 pin=" + longPin + " -> 0"), 1u);
}

TEST_F(StubTest, PinTypedByteByByteIsNeverEchoed) {
    // Echo stays off for the whole prompt, also between two characters' reads.
    const std::string pin(600, 'q');
    Script("pin " + pin + "\n");
    runner.TypeByteByByte(true);
    for (int round = 0; round < 3; ++round) {
        runner.WriteFile("calls.log", "");
        const RunResult r = runner.RunOnTerminal({"random"}, {{"Enter user password:", pin + "\r"}});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out.find('q'), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("[timed out"), std::string::npos) << r.out;
        EXPECT_EQ(Count(Log(), "C_Login user=1 pin=" + pin + " -> 0"), 1u);
    }
}

// The stub's gated C_Login waits for one byte from the FIFO "gate" before it answers.
class StubTerminal : public StubTest {
protected:
    void SetUp() override {
        StubTest::SetUp();
        ASSERT_EQ(mkfifo(runner.Path("gate").c_str(), 0600), 0);
    }
    // True once the program is inside C_Login with this PIN.
    std::function<bool()> InLogin(const std::string& pin) {
        return [this, pin] { return !Calls(Log(), "C_Login user=1 pin=" + pin + " ").empty(); };
    }
    // Sends the signal while the token still checks, or else lets the token answer.
    std::function<void(pid_t)> OpenGate(int signal = 0) {
        return [this, signal](pid_t pid) {
            if (signal != 0) {
                kill(pid, signal);
                return;
            }
            // The program may have stopped waiting (it was interrupted): never block for ever.
            int fd = -1;
            for (int tries = 0; fd < 0 && tries < 10000; ++tries) {
                fd = open(runner.Path("gate").c_str(), O_WRONLY | O_NONBLOCK);
                if (fd < 0) usleep(1000);
            }
            ASSERT_GE(fd, 0);
            ssize_t written = write(fd, "x", 1);
            (void)written;
            close(fd);
        };
    }
};

struct EchoCase {
    const char* name;
    std::vector<std::string> args;
    std::string during;  // typed while the token checks the refused PIN 11110000
    int signal;          // sent instead while it checks
    std::string second;  // typed at the next prompt
    int status;
};

class StubEcho : public StubTerminal, public ::testing::WithParamInterface<EchoCase> {};

// Echo goes off before the first prompt shows and stays off to the end of the run: through the
// refused PIN's login, the next prompt and every later entry, so a PIN typed while the token is
// busy is never shown. However the run ends, the terminal gets its modes back.
TEST_P(StubEcho, OffFromTheFirstPromptAndBackAtTheEnd) {
    const EchoCase& c = GetParam();
    Script("pin 12345678\ngate C_Login 1\n");
    std::vector<TerminalStep> steps = {{"Enter user password:", true, nullptr, "11110000\r", nullptr},
                                       {"", true, InLogin("11110000"), c.during, OpenGate(c.signal)}};
    if (!c.second.empty()) steps.push_back({"Enter user password:", true, nullptr, c.second, nullptr});
    const RunResult r = runner.RunOnTerminalSteps(c.args, steps);
    EXPECT_EQ(r.out.find("[timed out"), std::string::npos) << r.out;
    EXPECT_EQ(r.status, c.status) << r.out;
    EXPECT_FALSE(r.echoSeenOn) << r.out;
    EXPECT_FALSE(Has(r.out, "1111")) << r.out;
    EXPECT_FALSE(Has(r.out, "5678")) << r.out;
    EXPECT_EQ(r.localModes & (ECHO | ICANON), static_cast<unsigned long>(ECHO | ICANON)) << r.out;
}

INSTANTIATE_TEST_SUITE_P(
    Ends, StubEcho,
    ::testing::Values(EchoCase{"Success", {"random"}, "12345678\r", 0, "", 0},
                      EchoCase{"TypedAtTheNextPrompt", {"random"}, "", 0, "12345678\r", 0},
                      EchoCase{"CommandFails", {"sign", "-label=none", "-file=none"}, "12345678\r", 0, "", 1},
                      EchoCase{"EmptyAnswerGivesUp", {"sign", "-label=none", "-file=none"}, "\r", 0, "", 5},
                      EchoCase{"CtrlCAtTheNextPrompt", {"random"}, "", 0, "5678\x03", 1},
                      EchoCase{"CtrlCWhileTheTokenChecks", {"random"}, "\x03", 0, "", 1},
                      // Nothing typed: bytes still on their way through the line discipline would
                      // be echoed by the terminal given back.
                      EchoCase{"Terminated", {"random"}, "", SIGTERM, "", 128 + SIGTERM}),
    [](const auto& info) { return std::string(info.param.name); });

// Ctrl-Z at a PIN prompt stops the program with the terminal given back; once continued, echo
// is off again and the PIN entry goes on. A job-control shell runs it, as a user's shell would.
TEST_F(StubTerminal, CtrlZGivesTheTerminalBackWhileStopped) {
    Script("pin 12345678\n");
    runner.SetShell("set -m; \"$0\" \"$@\"; echo \"stopped with $?\"; read -r; fg");
    const RunResult r = runner.RunOnTerminalSteps({"random"}, {{"Enter user password:", true, nullptr, "\x1a", nullptr},
                                                               {"stopped with 148", false, nullptr, "\r", nullptr},
                                                               {"", true, nullptr, "12345678\r", nullptr}});
    EXPECT_EQ(r.out.find("[timed out"), std::string::npos) << r.out;
    ASSERT_EQ(r.echoAtStep.size(), 3u) << r.out;
    EXPECT_TRUE(r.echoAtStep[1]) << r.out;  // stopped
    EXPECT_FALSE(r.echoAtStep[2]) << r.out;  // continued
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(Count(Log(), "C_Login user=1 pin=12345678 -> 0"), 1u) << r.out;
    EXPECT_FALSE(Has(r.out, "1234")) << r.out;
}

struct EraseCase {
    const char* name;
    int erase;  // the terminal's erase character, -1 its default
    std::string typed;
};

class StubErase : public StubTerminal, public ::testing::WithParamInterface<EraseCase> {};

// On a terminal the erase character, DEL and BS take back the last character typed.
TEST_P(StubErase, TakesBackTheLastCharacter) {
    const EraseCase& c = GetParam();
    Script("pin 12345678\n");
    runner.SetEraseChar(c.erase);
    const RunResult r = runner.RunOnTerminal({"random"}, {{"Enter user password:", c.typed}});
    EXPECT_EQ(r.out.find("[timed out"), std::string::npos) << r.out;
    EXPECT_EQ(r.status, 0) << r.out;
    const std::vector<std::string> logins = Calls(Log(), "C_Login");
    ASSERT_EQ(logins.size(), 1u) << r.out;
    EXPECT_EQ(logins[0], "C_Login user=1 pin=12345678 -> 0");
}

INSTANTIATE_TEST_SUITE_P(
    Keys, StubErase,
    ::testing::Values(EraseCase{"Delete", -1, "1234567X\x7f" "8\r"},
                      EraseCase{"Backspace", -1, "1234567X\b8\r"},
                      EraseCase{"TerminalsOwn", '#', "1234567X#8\r"},
                      EraseCase{"MoreThanTyped", -1, "\x7f" "12X\x7f\x7f" "2345678\r"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(StubTest, PinFromAPipeKeepsEveryByte) {
    Script("pin 12345678\n");
    const RunResult r = Run({"random"}, "1234567X\x7f" "8\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(Count(Log(), "C_Login user=1 pin=1234567X\x7f" "8 -> a0"), 1u);
}

struct AskCase {
    std::vector<std::string> args;
    bool asks;  // reads the missing PIN (from the pipe here), prompting on standard output
};

// Only the commands that log in ask for a missing PIN; random and delete not with -q. A command
// that does not ask leaves standard input alone.
TEST_F(StubTest, OnlyTheCommandsThatLogInAsk) {
    runner.WriteFile("in.bin", "abc");
    const std::string objects = "object 0=u:0 3=t:x 11=h:01\nobject 0=u:3 100=u:0 3=t:k\nobject 0=u:2 100=u:0 3=t:k\n"
                                "object 0=u:4 100=u:0x80420111 3=t:k\n";
    const AskCase cases[] = {
        {{"list"}, false},
        {{"info"}, false},
        {{"hash", "sha1", "-file=in.bin"}, false},
        {{"next"}, false},
        {{"random"}, true},
        {{"random", "-q"}, false},
        {{"delete", "data", "-label=x", "-y"}, true},
        {{"delete", "data", "-label=x", "-q"}, false},
        {{"generate", "dstu4145", "-q"}, true},
        {{"load", "data", "-file=in.bin", "-q"}, true},
        {{"unload", "data", "-label=x", "-file=o.bin", "-q"}, true},
        {{"set", "-label=x", "-attr=SIGN", "-q"}, true},
        {{"sign", "-label=k", "-file=in.bin", "-q"}, true},
        {{"verify", "-label=k", "-file=in.bin", "-signature=00", "-q"}, true},
        {{"encrypt", "ecb", "-label=k", "-file=in.bin", "-out_file=e.bin", "-q"}, true},
        {{"decrypt", "ecb", "-label=k", "-file=in.bin", "-out_file=e.bin", "-q"}, true},
    };
    for (const AskCase& c : cases) {
        std::string name;
        for (const std::string& a : c.args) name += a + " ";
        Script(objects);
        runner.WriteFile("calls.log", "");
        const RunResult r = Run(c.args, "12345678\n");
        EXPECT_EQ(Count(Log(), "C_Login user=1 pin=12345678 -> 0"), c.asks ? 1u : 0u) << name << r.out << r.err;
        EXPECT_EQ(Has(r.out, "Enter user password:"), c.asks) << name << r.out;
    }
}

TEST_F(StubTest, PromptedPinFromAPipe) {
    // A PIN is read from a pipe once; an empty line is no PIN and is never sent.
    Script("pin 12345678\n");
    RunResult r = Run({"random"}, "\n12345678\n");
    EXPECT_EQ(r.status, 0);  // the stub's generator needs no login
    EXPECT_TRUE(Calls(Log(), "C_Login").empty());
    EXPECT_EQ(r.err, "Cannot log in - no password specified\n");

    runner.WriteFile("calls.log", "");
    r = Run({"random"}, "12345678\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Count(Log(), "C_Login user=1 pin=12345678 -> 0"), 1u);
}

}  // namespace
