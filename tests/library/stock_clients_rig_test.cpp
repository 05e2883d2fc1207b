// Stock PKCS#11 clients against the token library and the simulated token: OpenSC's
// pkcs11-tool, GnuTLS's p11tool, NSS's modutil and certutil, p11-kit's proxy and OpenSSL's
// pkcs11 engine, each run as a process of its own inside the test's rig, as a user runs them.
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>

#include "module_rig_fixture.h"

using namespace librarytest;

namespace {

struct ClientResult {
    int status;
    std::string output;
};

// A sanitizer-built module needs its runtime loaded first into the uninstrumented client.
std::string SanitizerPrefix() {
#ifdef ZR_SANITIZER_PRELOAD
    return "LD_PRELOAD='" ZR_SANITIZER_PRELOAD "' ASAN_OPTIONS=detect_leaks=0 ";
#else
    return "";
#endif
}

// Runs a shell command line (stdin from /dev/null, stderr joined to stdout).
ClientResult RunClient(const std::string& command) {
    const std::string line = SanitizerPrefix() + command + " < /dev/null 2>&1";
    ClientResult result{-1, std::string()};
    FILE* pipe = popen(line.c_str(), "r");
    if (pipe == nullptr) return result;
    char buffer[512];
    while (fgets(buffer, sizeof buffer, pipe) != nullptr) result.output += buffer;
    const int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> MatchingLines(const std::string& text, const std::regex& pattern) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (std::regex_search(line, pattern)) lines.push_back(line);
    }
    return lines;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

const std::string kModule = ZR_REAL_MODULE;
constexpr const char* kLabel = "zrclients";

class StockClients : public ModuleRigTest {
protected:
    void SetUp() override {
        ZR_REQUIRE_TOOLS("pkcs11-tool", "p11tool", "modutil", "certutil", "p11-kit", "openssl");
        char pattern[] = "/tmp/zr-clients-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        work = pattern;
        StartRig({InitialisedToken({"--label", kLabel})});
    }

    void TearDown() override {
        ModuleRigTest::TearDown();
        if (!work.empty()) std::system(("rm -rf '" + work + "'").c_str());
    }

    ClientResult Pkcs11Tool(const std::string& arguments, const std::string& module = kModule) {
        return RunClient("pkcs11-tool --module '" + module + "' " + arguments);
    }

    // A self-signed certificate made by OpenSSL: its PEM and DER files in the work folder.
    void MakeCertificate(const std::string& name) {
        const std::string base = work + "/" + name;
        ASSERT_EQ(RunClient("openssl req -x509 -newkey rsa:1024 -nodes -subj /CN=" + name + " -days 2 -keyout " + base +
                            ".key -out " + base + ".pem && openssl x509 -in " + base + ".pem -outform DER -out " +
                            base + ".der")
                      .status,
                  0);
    }

    // A DSTU 4145 key pair made through the library in this process (no stock client can ask for one).
    void GenerateDstuKeyPair(const std::string& label) {
        LoadModule();
        ASSERT_EQ(Initialize(nullptr), CKR_OK);
        const CK_SESSION_HANDLE session = Open();
        ASSERT_EQ(Login(session, CKU_USER, kUserPin), CKR_OK);
        CK_BBOOL yes = CK_TRUE;
        CK_BYTE id[] = {0x11};
        CK_ATTRIBUTE publicTemplate[] = {{CKA_LABEL, const_cast<char*>(label.data()), label.size()},
                                         {CKA_ID, id, sizeof id},
                                         {CKA_TOKEN, &yes, sizeof yes},
                                         {CKA_VERIFY, &yes, sizeof yes}};
        CK_ATTRIBUTE privateTemplate[] = {{CKA_LABEL, const_cast<char*>(label.data()), label.size()},
                                          {CKA_ID, id, sizeof id},
                                          {CKA_TOKEN, &yes, sizeof yes},
                                          {CKA_SIGN, &yes, sizeof yes}};
        CK_MECHANISM mechanism{CKM_DSTU4145_KEY_PAIR_GEN, nullptr, 0};
        CK_OBJECT_HANDLE publicKey = 0, privateKey = 0;
        ASSERT_EQ(p11->C_GenerateKeyPair(session, &mechanism, publicTemplate, 4, privateTemplate, 4, &publicKey,
                                         &privateKey),
                  CKR_OK);
        ASSERT_EQ(p11->C_CloseSession(session), CKR_OK);
        ASSERT_EQ(p11->C_Finalize(nullptr), CKR_OK);
        initialized = false;
    }

    std::string work;
};

// The library refuses a zero-length C_GenerateRandom on purpose; nothing else may fail.
TEST_F(StockClients, Pkcs11ToolSelfTestReportsOnlyTheRefusedEmptyRandom) {
    if (IsSkipped() || HasFatalFailure()) return;
    const ClientResult run = Pkcs11Tool(std::string("--test --login --pin ") + kUserPin);
    EXPECT_EQ(run.status, 0) << run.output;
    const std::vector<std::string> errors = MatchingLines(run.output, std::regex("ERR|error|failed|CKR_"));
    ASSERT_EQ(errors.size(), 2u) << run.output;
    EXPECT_EQ(errors[0], "  ERR: C_GenerateRandom(buf1,0) failed: CKR_ARGUMENTS_BAD (0x7)");
    EXPECT_EQ(errors[1], "1 errors");
    EXPECT_TRUE(Contains(run.output, "Digests:")) << run.output;
}

TEST_F(StockClients, Pkcs11ToolForkedChildInitialisesAgain) {
    if (IsSkipped() || HasFatalFailure()) return;
    const ClientResult run = Pkcs11Tool(std::string("--test-fork --login --pin ") + kUserPin + " -L");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(Contains(run.output, "Calling C_Initialize in forked child process")) << run.output;
    EXPECT_TRUE(Contains(run.output, kLabel)) << run.output;
    EXPECT_TRUE(MatchingLines(run.output, std::regex("error|CKR_")).empty()) << run.output;
}

// Threads on one module with the OS's locks: every thread sees the one reader that holds a token.
// (pkcs11-tool waits 30 s for threads still running when it checks, so one run holds all specs.)
TEST_F(StockClients, Pkcs11ToolThreadsSeeStableSlotsAndTokens) {
    if (IsSkipped() || HasFatalFailure()) return;
    std::string arguments = "--use-locking";
    for (const char* specs : {"IL:SL:T0:SL:T0", "IL:GI:SL:T0:GI:SL:T0", "IL:SL:SL:SL:SL:T0:T0", "IL:SL:T0:SL:T0"}) {
        arguments += std::string(" --test-threads ") + specs;
    }
    const ClientResult run = Pkcs11Tool(arguments);
    EXPECT_EQ(run.status, 0) << run.output;
    const std::vector<std::string> counts = MatchingLines(run.output, std::regex("l_p11_num_slots:"));
    EXPECT_FALSE(counts.empty()) << run.output;
    for (const std::string& line : counts) EXPECT_TRUE(Contains(line, "l_p11_num_slots:1")) << line;
    EXPECT_EQ(MatchingLines(run.output, std::regex("returned CKR_[A-Z_]+")).size(),
              MatchingLines(run.output, std::regex("returned CKR_OK")).size())
        << run.output;
    EXPECT_FALSE(Contains(run.output, "some errors")) << run.output;
    EXPECT_TRUE(Contains(run.output, std::string("token label        : ") + kLabel)) << run.output;
}

TEST_F(StockClients, Pkcs11ToolSignsVerifiesAndHashesWithTheNationalMechanisms) {
    if (IsSkipped() || HasFatalFailure()) return;
    GenerateDstuKeyPair("dstukey");
    { std::ofstream(work + "/message") << "a document to sign"; }
    { std::ofstream(work + "/abc") << "abc"; }
    const std::string login = std::string("--login --pin ") + kUserPin;
    const ClientResult sign = Pkcs11Tool(login + " --sign -m 0x80420032 --label dstukey --input-file " + work +
                                         "/message --output-file " + work + "/signature");
    ASSERT_EQ(sign.status, 0) << sign.output;
    EXPECT_EQ(ReadFile(work + "/signature").size(), 48u) << "two 24-byte halves on the default curve";

    const std::string verify = login + " --verify -m 0x80420032 --label dstukey --signature-file " + work +
                               "/signature --input-file " + work + "/";
    const ClientResult good = Pkcs11Tool(verify + "message");
    EXPECT_EQ(good.status, 0) << good.output;
    EXPECT_TRUE(Contains(good.output, "Signature is valid")) << good.output;
    const ClientResult bad = Pkcs11Tool(verify + "abc");  // pkcs11-tool exits 0 here too
    EXPECT_TRUE(Contains(bad.output, "Invalid signature")) << bad.output;

    // GOST 34.311 of "abc" with the DKE1 S-box and a zero start vector.
    const ClientResult hash =
        Pkcs11Tool("--hash -m 0x80420021 --input-file " + work + "/abc --output-file " + work + "/digest");
    ASSERT_EQ(hash.status, 0) << hash.output;
    const std::string digest = ReadFile(work + "/digest");
    std::string hex;
    for (unsigned char c : digest) {
        char two[3];
        std::snprintf(two, sizeof two, "%02X", c);
        hex += two;
    }
    EXPECT_EQ(hex, "A34A53504D8BA070CB73A583146167A0A3C226D793440D9CEA24465FE02251F2");
}

TEST_F(StockClients, P11toolListsWritesExportsDeletesAndInitialises) {
    if (IsSkipped() || HasFatalFailure()) return;
    MakeCertificate("gnutls");
    const std::string tool = "GNUTLS_PIN=" + std::string(kUserPin) + " GNUTLS_SO_PIN=" + kSoPin +
                             " p11tool --provider '" + kModule + "' ";
    const std::string token = std::string("'pkcs11:token=") + kLabel;

    ClientResult run = RunClient(tool + "--list-tokens");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(Contains(run.output, std::string("Label: ") + kLabel)) << run.output;
    EXPECT_TRUE(Contains(run.output, "Flags: RNG, Requires login")) << run.output;

    run = RunClient(tool + "--login --write " + token + "' --load-certificate " + work + "/gnutls.pem --label gcert");
    EXPECT_EQ(run.status, 0) << run.output;
    run = RunClient(tool + "--list-all " + token + "'");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(Contains(run.output, "object=gcert;type=cert")) << run.output;
    GenerateDstuKeyPair("dstukey");
    run = RunClient(tool + "--login --list-privkeys " + token + "'");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(Contains(run.output, "object=dstukey;type=private")) << run.output;

    run = RunClient(tool + "--export " + token + ";object=gcert;type=cert' --outder --outfile " + work + "/back.der");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(ReadFile(work + "/back.der"), ReadFile(work + "/gnutls.der"));

    run = RunClient(tool + "--login --batch --delete " + token + ";object=gcert;type=cert'");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(Contains(run.output, "1 objects deleted")) << run.output;
    run = RunClient(tool + "--list-all-certs " + token + "'");
    EXPECT_FALSE(Contains(run.output, "gcert")) << run.output;

    run = RunClient(tool + "--initialize " + token + "' --label relabelled");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(Contains(run.output, "Token was successfully initialized")) << run.output;
    run = RunClient(tool + "--list-tokens");
    EXPECT_TRUE(Contains(run.output, "Label: relabelled")) << run.output;
}

TEST_F(StockClients, NssAddsTheModuleAndKeepsCertificatesOnTheToken) {
    if (IsSkipped() || HasFatalFailure()) return;
    MakeCertificate("nss");
    { std::ofstream(work + "/pin") << kUserPin << "\n"; }
    const std::string plain = "sql:" + work + "/plaindb";
    const std::string configured = "sql:" + work + "/configureddb";
    for (const std::string& db : {plain, configured}) {
        ASSERT_EQ(RunClient("mkdir -p " + db.substr(4) + " && certutil -N -d " + db + " --empty-password").status, 0);
    }
    ClientResult run = RunClient("modutil -force -dbdir " + plain + " -add zrtoken -libfile '" + kModule + "'");
    ASSERT_EQ(run.status, 0) << run.output;
    run = RunClient("modutil -force -dbdir " + configured + " -add zrtoken -libfile '" + kModule +
                    "' -string 'ResponseDelay = 7'");
    ASSERT_EQ(run.status, 0) << run.output;

    run = RunClient("modutil -dbdir " + plain + " -list");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(Contains(run.output, "library-description=Zorvane%20Cryptoki%20QEL%20Token")) << run.output;
    EXPECT_TRUE(Contains(run.output, std::string("token: ") + kLabel)) << run.output;

    // The configuration text reaches C_Initialize: only that module sends the response delay.
    const std::string certutil = "certutil -f " + work + "/pin -d ";
    rig->Control().ResetCounters();
    run = RunClient(certutil + plain + " -L -h all");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(rig->Control().Count("SetResponseDelay"), 0u);
    run = RunClient(certutil + configured + " -L -h all");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_GT(rig->Control().Count("SetResponseDelay"), 0u);

    run = RunClient(certutil + plain + " -K -h " + kLabel);
    EXPECT_TRUE(Contains(run.output, std::string("Checking token \"") + kLabel + "\"")) << run.output;

    run = RunClient(certutil + plain + " -A -h " + kLabel + " -n nsscert -t ,, -i " + work + "/nss.der");
    EXPECT_EQ(run.status, 0) << run.output;
    run = RunClient(certutil + plain + " -L -h " + kLabel);
    EXPECT_TRUE(Contains(run.output, std::string(kLabel) + ":nsscert")) << run.output;
    run = RunClient(certutil + plain + " -L -h " + kLabel + " -n " + kLabel + ":nsscert -r -o " + work + "/nss.back");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(ReadFile(work + "/nss.back"), ReadFile(work + "/nss.der"));
    run = RunClient(certutil + plain + " -D -n " + kLabel + ":nsscert");
    EXPECT_EQ(run.status, 0) << run.output;
    run = RunClient(certutil + plain + " -L -h " + kLabel);
    EXPECT_FALSE(Contains(run.output, "nsscert")) << run.output;
}

// p11-kit reads no user configuration for root, so the test's own mount namespace puts a private
// module folder in place of the packaged one; the machine's configuration is never touched.
TEST_F(StockClients, P11KitProxyReachesTheTokenThroughAPrivateModuleFile) {
    if (IsSkipped() || HasFatalFailure()) return;
    const std::string modules = work + "/modules";
    ASSERT_EQ(RunClient("mkdir -p " + modules).status, 0);
    { std::ofstream(modules + "/zrtoken.module") << "module: " << kModule << "\n"; }
    const char* packaged = "/usr/share/p11-kit/modules";
    if (access(packaged, F_OK) != 0) {
        ASSERT_EQ(RunClient(std::string("mkdir -p ") + packaged).status, 0);
    }
    ASSERT_EQ(mount(modules.c_str(), packaged, nullptr, MS_BIND, nullptr), 0);

    ClientResult run = RunClient("p11-kit list-modules");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(Contains(run.output, "zrtoken: " + kModule)) << run.output;
    EXPECT_TRUE(Contains(run.output, std::string("token: ") + kLabel)) << run.output;

    run = RunClient("p11tool --list-tokens");
    EXPECT_TRUE(Contains(run.output, std::string("Label: ") + kLabel)) << run.output;

    run = Pkcs11Tool("-L", "/usr/lib/x86_64-linux-gnu/p11-kit-proxy.so");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(Contains(run.output, std::string("token label        : ") + kLabel)) << run.output;
    umount(packaged);
}

TEST_F(StockClients, OpensslEngineLoadsTheLibrary) {
    if (IsSkipped() || HasFatalFailure()) return;
    const std::string config = work + "/openssl.cnf";
    {
        std::ofstream out(config);
        out << "openssl_conf = init\n[init]\nengines = engines\n[engines]\npkcs11 = pkcs11\n"
            << "[pkcs11]\nengine_id = pkcs11\nMODULE_PATH = " << kModule << "\nPIN = " << kUserPin << "\ninit = 1\n";
    }
    ClientResult run = RunClient("OPENSSL_CONF=" + config + " openssl engine pkcs11 -t");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(Contains(run.output, "[ available ]")) << run.output;

    // The engine opens the module lazily: a key lookup makes it find our token and log in.
    rig->Control().ResetCounters();
    run = RunClient("OPENSSL_CONF=" + config + " openssl pkey -engine pkcs11 -inform engine -pubin -in 'pkcs11:token=" +
                    kLabel + ";object=absent;type=public'");
    EXPECT_TRUE(Contains(run.output, "The public key was not found")) << run.output;
    EXPECT_FALSE(Contains(run.output, "No matching initialized token")) << run.output;
    EXPECT_GT(rig->Control().Count("Login"), 0u);
}

}  // namespace
