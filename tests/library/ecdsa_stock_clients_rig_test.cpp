// Stock PKCS#11 clients against the token library, each step a process of its own inside the
// test's rig: OpenSC's pkcs11-tool, GnuTLS's p11tool, NSS's certutil and OpenSSL's pkcs11
// engine, on a token holding EC keys only.
#include "ecdsa_fixture.h"

#include <cstdio>
#include <cstdlib>
#include <string>

using namespace ecdsatest;

namespace {

struct ShellRun {
    int status;
    std::string output;
};

// A sanitizer-built module needs its runtime loaded first into the uninstrumented tools.
std::string Prefix()
{
#ifdef ZR_SANITIZER_PRELOAD
    return "export LD_PRELOAD='" ZR_SANITIZER_PRELOAD "' ASAN_OPTIONS=detect_leaks=0; ";
#else
    return "";
#endif
}

ShellRun Shell(const std::string& command)
{
    ShellRun run{-1, std::string()};
    FILE* pipe = popen(("(" + command + ") 2>&1").c_str(), "r");
    if (pipe == nullptr) return run;
    char buffer[512];
    while (fgets(buffer, sizeof buffer, pipe) != nullptr) run.output += buffer;
    run.status = pclose(pipe);
    return run;
}

#ifdef ZR_SANITIZER_PRELOAD
constexpr bool kSanitizerPreloaded = true;
#else
constexpr bool kSanitizerPreloaded = false;
#endif

class StockClients : public EcdsaLibraryTest {
protected:
    void SetUp() override
    {
        ZR_REQUIRE_TOOLS("pkcs11-tool", "p11tool", "certutil", "modutil", "openssl");
        // The clients load the module themselves; this process only runs the rig.
        StartRig();
        if (IsSkipped() || HasFatalFailure()) return;
        char pattern[] = "/tmp/ecdsa-stock-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }

    void TearDown() override
    {
        if (!dir.empty()) Shell("rm -rf '" + dir + "'");
        EcdsaLibraryTest::TearDown();
    }

    // Runs the step; on failure the output says why.
    std::string Step(const std::string& command)
    {
        const ShellRun run = Shell(Prefix() + command);
        EXPECT_EQ(run.status, 0) << command << "\n" << run.output;
        return run.output;
    }

    std::string Tool(const std::string& arguments)
    {
        return Step("pkcs11-tool --module '" ZR_REAL_MODULE "' --login --pin " + std::string(kUserPin) + " " +
                    arguments);
    }

    std::string dir;
};

TEST_F(StockClients, Pkcs11ToolGeneratesSignsAndOpenSslVerifiesFromThePointReadBack)
{
    // pkcs11-tool cannot export a P-192 public key through OpenSSL 3 ("cannot create EVP_PKEY"):
    // that curve is checked with the token's own verification here and by OpenSSL in process.
    // Each key also signs the file itself with one ECDSA-with-SHA mechanism (the library hashes).
    const struct {
        const char* keyType;
        const char* id;
        bool exportable;
        const char* shaMechanism;
        const char* digest;
    } rows[] = {{"EC:secp192r1", "c1", false, "ECDSA-SHA1", "sha1"},
                {"EC:prime256v1", "c2", true, "ECDSA-SHA256", "sha256"},
                {"EC:secp521r1", "c3", true, "ECDSA-SHA384", "sha384"}};
    Step("echo 'signed by the token' > '" + dir + "/data' && openssl dgst -sha256 -binary '" + dir + "/data' > '" +
         dir + "/hash'");
    for (const auto& row : rows) {
        SCOPED_TRACE(row.keyType);
        const std::string out = Tool(std::string("--keypairgen --key-type ") + row.keyType + " --id " + row.id);
        EXPECT_NE(out.find("Private Key Object; EC"), std::string::npos) << out;
        const std::string base = dir + "/" + row.id;
        Tool(std::string("--sign -m ECDSA --signature-format openssl --id ") + row.id + " -i '" + dir + "/hash' -o '" +
             base + ".sig'");
        Tool(std::string("--sign -m ") + row.shaMechanism + " --signature-format openssl --id " + row.id + " -i '" +
             dir + "/data' -o '" + base + ".shasig'");
        // OpenSC's --read-object of an EC public key uses a buffer after freeing it; with the
        // sanitizer runtime preloaded into the tool that aborts, so such runs verify on the token.
        if (!row.exportable || kSanitizerPreloaded) {
            const std::string checked = Tool(std::string("--verify -m ECDSA --signature-format openssl --id ") +
                                             row.id + " -i '" + dir + "/hash' --signature-file '" + base + ".sig'");
            EXPECT_NE(checked.find("Signature is valid"), std::string::npos) << checked;
            const std::string shaChecked =
                Tool(std::string("--verify -m ") + row.shaMechanism + " --signature-format openssl --id " + row.id +
                     " -i '" + dir + "/data' --signature-file '" + base + ".shasig'");
            EXPECT_NE(shaChecked.find("Signature is valid"), std::string::npos) << shaChecked;
            continue;
        }
        Tool(std::string("--read-object --type pubkey --id ") + row.id + " -o '" + base + ".pub'");
        const std::string verified = Step("openssl pkeyutl -verify -pubin -keyform DER -inkey '" + base +
                                          ".pub' -in '" + dir + "/hash' -sigfile '" + base + ".sig'");
        EXPECT_NE(verified.find("Signature Verified Successfully"), std::string::npos) << verified;
        const std::string shaVerified = Step(std::string("openssl dgst -") + row.digest + " -verify '" + base +
                                             ".pub' -keyform DER -signature '" + base + ".shasig' '" + dir + "/data'");
        EXPECT_NE(shaVerified.find("Verified OK"), std::string::npos) << shaVerified;
    }
}

TEST_F(StockClients, P11toolCertutilAndTheOpenSslEngineUseATokenKey)
{
    const std::string provider = "--provider='" ZR_REAL_MODULE "' ";
    const std::string pin = std::string("GNUTLS_PIN=") + kUserPin + " ";
    Step(pin + "p11tool " + provider + "--login --generate-privkey ecdsa --curve secp256r1 --label p11ec 'pkcs11:token=tokensim'");
    const std::string tested = Step(pin + "p11tool " + provider + "--login --test-sign 'pkcs11:object=p11ec;type=private'");
    EXPECT_NE(tested.find("Verifying against public key in the token... ok"), std::string::npos) << tested;

    Step("mkdir '" + dir + "/nss' && certutil -N -d 'sql:" + dir + "/nss' --empty-password && modutil -force -dbdir 'sql:" +
         dir + "/nss' -add zr -libfile '" ZR_REAL_MODULE "' && echo " + kUserPin + " > '" + dir + "/pin'");
    const std::string keys = Step("certutil -K -d 'sql:" + dir + "/nss' -h all -f '" + dir + "/pin'");
    EXPECT_NE(keys.find("ec "), std::string::npos) << keys;
    EXPECT_NE(keys.find("p11ec"), std::string::npos) << keys;

    Step("printf 'openssl_conf = init\\n[init]\\nengines = engines\\n[engines]\\npkcs11 = pkcs11\\n[pkcs11]\\n"
         "engine_id = pkcs11\\ndynamic_path = /usr/lib/x86_64-linux-gnu/engines-3/pkcs11.so\\n"
         "MODULE_PATH = " ZR_REAL_MODULE "\\ninit = 0\\n' > '" + dir + "/engine.cnf'");
    Step("OPENSSL_CONF='" + dir + "/engine.cnf' openssl req -new -engine pkcs11 -keyform engine -key "
         "'pkcs11:object=p11ec;type=private;pin-value=" + std::string(kUserPin) + "' -subj /CN=ectest -out '" + dir +
         "/req.pem'");
    const std::string verified = Step("openssl req -in '" + dir + "/req.pem' -verify -noout");
    EXPECT_NE(verified.find("verify OK"), std::string::npos) << verified;
}

} // namespace
