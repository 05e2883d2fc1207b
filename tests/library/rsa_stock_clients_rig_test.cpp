// Stock PKCS#11 clients against the token library's RSA: OpenSC's pkcs11-tool, GnuTLS's p11tool
// and NSS's certutil, each call a process of its own inside the test's rig; OpenSSL's command
// line checks what they produce.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "module_rig_fixture.h"

using namespace librarytest;

namespace {

struct Result {
    int status;
    std::string output;
};

// A sanitizer-built module needs its runtime loaded first into the uninstrumented tool.
std::string Environment() {
    std::string prefix = "GNUTLS_PIN=12345678 ";
#ifdef ZR_SANITIZER_PRELOAD
    prefix += "LD_PRELOAD='" ZR_SANITIZER_PRELOAD "' ASAN_OPTIONS=detect_leaks=0 ";
#endif
    return prefix;
}

Result Shell(const std::string& command) {
    Result result{-1, std::string()};
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return result;
    char buffer[512];
    while (fgets(buffer, sizeof buffer, pipe) != nullptr) result.output += buffer;
    result.status = pclose(pipe);
    return result;
}

class StockClients : public ModuleRigTest {
protected:
    void SetUp() override {
        ZR_REQUIRE_TOOLS("pkcs11-tool", "p11tool", "certutil", "modutil", "openssl");
        char pattern[] = "/tmp/rsa-clients-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        work = pattern;
        StartRig();
    }

    void TearDown() override {
        if (!work.empty()) std::system(("rm -rf '" + work + "'").c_str());
        ModuleRigTest::TearDown();
    }

    // Runs the command (with $W for the work folder and $M for the module); it must succeed and
    // print each expected text.
    std::string Run(std::string command, std::vector<const char*> expected = {}) {
        for (size_t at; (at = command.find("$W")) != std::string::npos;) command.replace(at, 2, work);
        for (size_t at; (at = command.find("$M")) != std::string::npos;) command.replace(at, 2, ZR_REAL_MODULE);
        const Result result = Shell(Environment() + command);
        EXPECT_EQ(result.status, 0) << command << "\n" << result.output;
        for (const char* text : expected) {
            EXPECT_NE(result.output.find(text), std::string::npos) << command << ": " << text << "\n" << result.output;
        }
        return result.output;
    }

    void Write(const std::string& name, const std::string& contents) { std::ofstream(work + "/" + name) << contents; }

    // The DER DigestInfo of the file's SHA-256 hash, what CKM_RSA_PKCS signs for SHA256withRSA.
    void DigestInfoOf(const std::string& name, const std::string& infoName) {
        Run("openssl dgst -sha256 -binary $W/" + name + " > $W/" + infoName + ".hash");
        static const char prefix[] = "\x30\x31\x30\x0d\x06\x09\x60\x86\x48\x01\x65\x03\x04\x02\x01\x05\x00\x04\x20";
        Write(infoName, std::string(prefix, sizeof prefix - 1) + Read(infoName + ".hash"));
    }

    std::string Read(const std::string& name) {
        std::ifstream in(work + "/" + name, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::string work;
};

const char kTool[] = "pkcs11-tool --module $M --login --pin 12345678 ";

TEST_F(StockClients, Pkcs11ToolGeneratesSignsAndDecryptsWhatOpenSslEncrypted) {
    if (IsSkipped() || HasFatalFailure()) return;
    Write("data.txt", "a document signed on the token");
    Write("secret.txt", "session secret");
    Run(std::string(kTool) + "--keypairgen --key-type rsa:2048 --label tool --id 01", {"Key pair generated", "RSA 2048"});
    Run(std::string(kTool) + "--read-object --type pubkey --id 01 -o $W/pub.der");
    Run("openssl pkey -pubin -inform DER -in $W/pub.der -out $W/pub.pem");

    // Signature with SHA-256 on the host, checked by OpenSSL.
    const std::string mechanisms = Run("pkcs11-tool --module $M -M");
    if (mechanisms.find("SHA256-RSA-PKCS") != std::string::npos) {
        Run(std::string(kTool) + "--sign -m SHA256-RSA-PKCS --id 01 -i $W/data.txt -o $W/data.sig");
        Run("openssl dgst -sha256 -verify $W/pub.pem -signature $W/data.sig $W/data.txt", {"Verified OK"});
    }
    // The raw PKCS#1 signature of a DigestInfo is the same check.
    DigestInfoOf("data.txt", "data.info");
    Run(std::string(kTool) + "--sign -m RSA-PKCS --id 01 -i $W/data.info -o $W/raw.sig");
    Run("openssl dgst -sha256 -verify $W/pub.pem -signature $W/raw.sig $W/data.txt", {"Verified OK"});

    // OpenSSL's encryption decrypted on the token (this pkcs11-tool encrypts with secret keys only).
    Run("openssl pkeyutl -encrypt -pubin -inkey $W/pub.pem -in $W/secret.txt -out $W/openssl.enc");
    Run(std::string(kTool) + "--decrypt -m RSA-PKCS --id 01 -i $W/openssl.enc -o $W/openssl.back");
    EXPECT_EQ(Read("openssl.back"), "session secret");
}

TEST_F(StockClients, Pkcs11ToolImportsAnOpenSslKeyThatThenSigns) {
    if (IsSkipped() || HasFatalFailure()) return;
    Write("data.txt", "imported key document");
    Run("openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:1024 -out $W/key.pem");
    Run("openssl pkey -in $W/key.pem -outform DER -out $W/key.der");
    Run("openssl pkey -in $W/key.pem -pubout -out $W/pub.pem");
    Run(std::string(kTool) + "--write-object $W/key.der --type privkey --label imported --id 02");
    Run(std::string(kTool) + "-O", {"Private Key Object; RSA", "imported"});
    DigestInfoOf("data.txt", "data.info");
    Run(std::string(kTool) + "--sign -m RSA-PKCS --id 02 -i $W/data.info -o $W/data.sig");
    Run("openssl dgst -sha256 -verify $W/pub.pem -signature $W/data.sig $W/data.txt", {"Verified OK"});
}

TEST_F(StockClients, P11toolGeneratesAndTestSignsAndNssListsTheKey) {
    if (IsSkipped() || HasFatalFailure()) return;
    Run("p11tool --provider $M --login --generate-privkey rsa --bits 2048 --label gnutls 'pkcs11:token=tokensim'");
    Run("p11tool --provider $M --login --test-sign 'pkcs11:token=tokensim;object=gnutls;type=private'",
        {"Verifying against public key in the token... ok"});

    Write("pin.txt", "12345678\n");
    Run("certutil -N -d sql:$W --empty-password");
    Run("modutil -force -dbdir sql:$W -add zrtoken -libfile $M");
    Run("certutil -K -d sql:$W -h tokensim -f $W/pin.txt", {"rsa"});
}

}  // namespace
