// zrtoksvc's key, object, cryptographic and administration commands against the token library
// on the simulated token.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <memory>
#include <string>

#include "rig_gtest.h"
#include "tool_runner.h"

using namespace zrtoksvctest;

namespace {

const std::string kPin = "-password=12345678";
// DER DSTU 4145 parameters of the token's default curve (m = 191) with the DKE1 S-box.
const char kDefaultCurve[] =
    "3051060d2a8624020101010103010102040440a9d6eb45f13c708280c4967b231f5eadf658eba4c037291d38d96bf025ca4e17f8e9720dc6"
    "15b43a28975f0bc1dea36438b564ea2c179fd0123e6db8fac57904";

// Independent digests of "x" * 64 (sha1sum, sha256sum).
const std::string kSha1Of64x = "BB2FA3EE7AFB9F54C6DFB5D021F14B1FFE40C163\n";
const std::string kSha256Of64x = "7CE100971F64E7001E8FE5A51973ECDFE1CED42BEFE7EE8D5FD6219506B5393C\n";

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class RigCommands : public ::testing::Test {
protected:
    void SetUp() override {
        ZR_REQUIRE_RIG();
        tokensim::rig::RigOptions options;
        options.simulators = {{"--so-pin", "87654321", "--user-pin", "12345678"}};
        rig = std::make_unique<tokensim::rig::Rig>(options);
        runner.UseLibrary(ZR_REAL_MODULE);
    }
    void TearDown() override { rig.reset(); }
    RunResult Run(std::vector<std::string> args, const std::string& input = std::string()) {
        return runner.Run(args, input);
    }
    // Runs and expects status 0.
    RunResult Ok(std::vector<std::string> args) {
        RunResult r = runner.Run(args);
        std::string joined;
        for (const std::string& a : args) joined += a + " ";
        EXPECT_EQ(r.status, 0) << joined << "\n" << r.out << r.err;
        return r;
    }

    ToolRunner runner;
    std::unique_ptr<tokensim::rig::Rig> rig;
};

TEST_F(RigCommands, AdministrationOfPinsAndTries) {
    RunResult r = Ok({"initialize", "-so_password=87654321", "-label=fresh", "-password=11112222"});
    EXPECT_FALSE(Has(r.out, "Y/N ?"));
    EXPECT_TRUE(Has(r.out, "Token initialized with the label \"fresh                           \".\n"));
    EXPECT_TRUE(Has(r.out, "New user password passed OK.\n"));
    Ok({"passwd", "-password=11112222"});
    r = Run({"passwd", "-password=wrongpin"});
    EXPECT_EQ(r.status, 5);
    EXPECT_TRUE(Has(r.err, "C_Login returned 0xa0 PIN INCORRECT\n")) << r.err;
    Ok({"passwd", "-so_password=87654321", "-q"});
    r = Ok({"newpasswd", "-password=11112222", "-new_password=33334444"});
    EXPECT_TRUE(Has(r.out, "User PIN changed.\n"));
    r = Ok({"newpasswd", "-so_password=87654321", "-new_password=55556666"});
    EXPECT_TRUE(Has(r.out, "New SO password passed OK.\n"));
    Ok({"initpin", "-so_password=55556666", "-password=77778888", "-q"});
    Ok({"passwd", "-password=77778888", "-q"});

    Ok({"set_max_pin_try_count", "-so_password=55556666", "-count=7", "-q"});
    r = Ok({"get_max_pin_try_count", "-password=77778888", "-q"});
    EXPECT_EQ(r.out, "Max user authorization try count: 7.\n");
    Ok({"set_max_pin_try_count", "-so_password=55556666", "-count=1", "-q"});
    r = Ok({"get_max_pin_try_count", "-so_password=55556666", "-q"});
    EXPECT_EQ(r.out, "Max user authorization try count: 1.\n");
    for (const char* count : {"-count=0", ""}) {
        std::vector<std::string> args = {"set_max_pin_try_count", "-so_password=55556666", "-q"};
        if (*count) args.push_back(count);
        r = Run(args);
        EXPECT_EQ(r.status, 1) << count;
        EXPECT_TRUE(Has(r.out, "Error! count parameter")) << r.out;
    }
    r = Run({"initialize", "-so_password=55556666", "-password=11112222", "-label=" + std::string(33, 'L')});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Has(r.err, "Error! Token label is longer than 32 bytes.\n"));
    Ok({"passwd", "-password=77778888", "-q"});  // the token was left alone
}

TEST_F(RigCommands, InitialiseAsksOnTheTerminal) {
    const RunResult r = runner.RunOnTerminal({"initialize", "-so_password=87654321"},
                                             {{"Y/N ?", "y"},
                                              {"~Enter token label:", "termlabel\r"},
                                              {"Enter new user password:", "24682468\r"},
                                              {"Repeat new user password:", "24682468\r"}});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_FALSE(Has(r.out, "24682468"));
    EXPECT_TRUE(Has(r.out, "with the label \"termlabel")) << r.out;
    Ok({"passwd", "-password=24682468", "-q"});
}

TEST_F(RigCommands, GenerateSignVerify) {
    RunResult r = Ok({"generate", "dstu4145", kPin, "-label=signer", "-id=0A0B"});
    EXPECT_TRUE(Has(r.out, "Generating DSTU 4145 keypair with default EC parameters...\n"));
    runner.WriteFile("doc.txt", "the document");
    r = Ok({"sign", kPin, "-label=signer", "-file=doc.txt", "-q"});
    ASSERT_EQ(r.out.rfind("Signature: ", 0), 0u) << r.out;
    const std::string hex = r.out.substr(11, r.out.size() - 12);
    EXPECT_EQ(hex.find_first_not_of("0123456789ABCDEF"), std::string::npos);
    r = Ok({"verify", kPin, "-label=signer", "-file=doc.txt", "-signature=" + hex, "-q"});
    EXPECT_EQ(r.out, "Signature OK\n");
    Ok({"sign", kPin, "-id=0A0B", "-file=doc.txt", "-out_file=doc.sig", "-q"});
    Ok({"verify", kPin, "-id=0A0B", "-file=doc.txt", "-signature=file:doc.sig", "-q"});
    runner.WriteFile("doc.txt", "the documenT");
    r = Run({"verify", kPin, "-label=signer", "-file=doc.txt", "-signature=file:doc.sig", "-q"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "Signature INVALID\n");
    // The public key outlived the generating run, and the list shows both halves.
    r = Ok({"list", "keys", kPin, "-q"});
    EXPECT_TRUE(Has(r.out, "\nPrivate keys:\n")) << r.out;
    EXPECT_TRUE(Has(r.out, "\nPublic keys:\n"));
}

// A document is signed through its GOST 34.311 hash. The document itself, longer than a hash, is
// refused: a DSTU 4145 signature of it would cover only part of it.
TEST_F(RigCommands, DstuSignsTheHashOfADocument) {
    Ok({"generate", "dstu4145", kPin, "-label=signer", "-q"});
    const std::string doc(100, 'd');
    runner.WriteFile("doc.txt", doc);
    RunResult r = Run({"sign", kPin, "-label=signer", "-file=doc.txt", "-out_file=whole.sig", "-q"});
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_TRUE(Has(r.err, "at most 32")) << r.err;
    EXPECT_TRUE(Has(r.err, "zrtoksvc hash -hash_type=gost -file=doc.txt -out_file=doc.txt.hash")) << r.err;
    for (const size_t at : {30, 97}) {
        std::string changed = doc;
        changed[at] = 'D';
        runner.WriteFile("changed.txt", changed);
        r = Run({"verify", kPin, "-label=signer", "-file=changed.txt", "-signature=file:whole.sig", "-q"});
        EXPECT_NE(r.status, 0) << at;
        EXPECT_FALSE(Has(r.out, "Signature OK")) << at;
    }

    r = Ok({"hash", "-hash_type=gost", "-file=doc.txt", "-out_file=doc.hash", "-q"});
    const std::string hash = runner.ReadFile("doc.hash");
    ASSERT_EQ(hash.size(), 32u);
    std::string hex;
    for (unsigned char c : hash) hex += "0123456789ABCDEF"[c >> 4], hex += "0123456789ABCDEF"[c & 15];
    EXPECT_EQ(r.out, hex + "\n");
    Ok({"sign", kPin, "-label=signer", "-file=doc.hash", "-out_file=doc.sig", "-q"});
    r = Ok({"verify", kPin, "-label=signer", "-file=doc.hash", "-signature=file:doc.sig", "-q"});
    EXPECT_EQ(r.out, "Signature OK\n");
    for (const size_t at : {30, 97}) {
        std::string changed = doc;
        changed[at] = 'D';
        runner.WriteFile("changed.txt", changed);
        Ok({"hash", "-hash_type=gost", "-file=changed.txt", "-out_file=changed.hash", "-q"});
        r = Run({"verify", kPin, "-label=signer", "-file=changed.hash", "-signature=file:doc.sig", "-q"});
        EXPECT_EQ(r.status, 2) << at;
        EXPECT_EQ(r.out, "Signature INVALID\n");
    }
}

TEST_F(RigCommands, HashAndCipherModes) {
    runner.WriteFile("data.bin", std::string(64, 'x'));
    // GOST 34.311 known answers (the national digest vectors the library's tests use too).
    runner.WriteFile("123123.txt", "123123");
    runner.WriteFile("empty.txt", "");
    RunResult r = Ok({"hash", "gost", kPin, "-file=123123.txt", "-q"});
    EXPECT_EQ(r.out, "34D4DA2C04E9C1CEB933282069C864617D94ED7CC5C0A9840C0C1A99629DF637\n");
    r = Ok({"hash", "-hash_type=gost", "-file=empty.txt", "-q", kPin});
    EXPECT_EQ(r.out, "DA37BDF41145E39E34111775B40646E8059C2E969C1460BB98ABCCB26F0F76A5\n");
    for (const char* type : {"sha1", "sha256"}) {
        r = Run({"hash", type, kPin, "-file=data.bin", "-q"});
        if (r.status == 0) {  // once the token library offers SHA
            EXPECT_EQ(r.out, std::string(type) == "sha1" ? kSha1Of64x : kSha256Of64x);
        } else {
            EXPECT_EQ(r.status, 5);
            EXPECT_TRUE(Has(r.err, "C_DigestInit returned 0x70 MECHANISM INVALID\n")) << r.err;
        }
    }
    const std::string key = "-key_value=00112233445566778899AABBCCDDEEFF00112233445566778899AABBCCDDEEFF";
    for (const char* mode : {"ecb", "ctr", "cfb"}) {
        std::vector<std::string> common = {kPin, "-key_type=dstu28147", key, std::string("-mode=") + mode, "-q"};
        if (std::string(mode) != "ecb") common.push_back("-synchro=0102030405060708");
        std::vector<std::string> enc = {"encrypt", "-file=data.bin", "-out_file=enc.bin"};
        enc.insert(enc.end(), common.begin(), common.end());
        r = Ok(enc);
        EXPECT_EQ(r.out, "enc.bin file saved.\n");
        EXPECT_NE(runner.ReadFile("enc.bin"), runner.ReadFile("data.bin"));
        EXPECT_EQ(runner.ReadFile("enc.bin").size(), 64u);
        std::vector<std::string> dec = {"decrypt", "-file=enc.bin", "-out_file=dec.bin"};
        dec.insert(dec.end(), common.begin(), common.end());
        Ok(dec);
        EXPECT_EQ(runner.ReadFile("dec.bin"), runner.ReadFile("data.bin")) << mode;
    }
}

TEST_F(RigCommands, LoadUnloadRoundTrips) {
    const std::string cert = std::string("\x30\x82\x01\x00", 4) + std::string(256, 'c');
    runner.WriteFile("cert.der", cert);
    Ok({"load", "cert", kPin, "-label=c1", "-id=01", "-subject=3000", "-file=cert.der", "-q"});
    RunResult r = Ok({"unload", "cert", kPin, "-label=c1", "-file=cert.out"});
    EXPECT_TRUE(Has(r.out, "Certificate (260 bytes) saved to file cert.out.\n")) << r.out;
    EXPECT_EQ(runner.ReadFile("cert.out"), cert);

    runner.WriteFile("data.txt", "data!");
    r = Ok({"load", "data", kPin, "-label=d1", "-application=app", "-file=data.txt", "-size=9", "-p"});
    EXPECT_TRUE(Has(r.out, "Loading data object from file \"data.txt\" (enlarged to 9 bytes) with label \"d1\" into private zone...\n"));
    Ok({"unload", "data", kPin, "-label=d1", "-file=data.out", "-q"});
    EXPECT_EQ(runner.ReadFile("data.out"), std::string("data!") + std::string(4, '\0'));
    // A private object's value is the caller's alone.
    struct stat st {};
    ASSERT_EQ(stat(runner.Path("data.out").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    Ok({"generate", "dstu4145", kPin, "-label=k", "-q"});
    Ok({"unload", "pub_key", kPin, "-label=k", "-file=point.bin", "-q"});
    const std::string point = runner.ReadFile("point.bin");
    ASSERT_GT(point.size(), 2u);
    EXPECT_EQ(point[0], '\x04');  // an OCTET STRING around the point
    Ok({"load", "pub_key", "dstu4145", kPin, "-label=copy", "-file=point.bin", std::string("-params=") + kDefaultCurve, "-q"});
    Ok({"unload", "pub_key", kPin, "-label=copy", "-file=point2.bin", "-q"});
    EXPECT_EQ(runner.ReadFile("point2.bin"), point);

    r = Run({"unload", "cert", kPin, "-label=none", "-file=x"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Has(r.err, "Certificate not found\n"));
    r = Run({"unload", "cert", kPin});
    EXPECT_EQ(r.status, 7);
}

// The default paths work as they stand on the token library: ecdsa without -bits, and a
// certificate file loaded without -subject.
TEST_F(RigCommands, DefaultPathsWork) {
    RunResult r = Ok({"generate", "ecdsa", kPin, "-label=ec"});
    EXPECT_TRUE(Has(r.out, "256-bits NIST curve")) << r.out;
    r = Ok({"sign", kPin, "-label=ec", "-file=load-zrcryptoki.cfg", "-q"});
    EXPECT_EQ(r.out.rfind("Signature: ", 0), 0u) << r.out;
    for (const char* bits : {"-bits=192", "-bits=521"}) Ok({"generate", "ecdsa", kPin, bits, "-q"});

    // Version 3, serial 1, issuer CN=i, subject CN=x.
    const std::string certHex =
        "3055304ba0030201020201013003060100300c310a300806035504030c0169301e170d3235303130313030303030305a170d3236"
        "303130313030303030305a300c310a300806035504030c017830003003060100030100";
    std::string cert;
    for (size_t i = 0; i < certHex.size(); i += 2) cert += static_cast<char>(std::stoi(certHex.substr(i, 2), nullptr, 16));
    runner.WriteFile("x.der", cert);
    Ok({"load", "cert", kPin, "-label=x", "-file=x.der", "-q"});
    r = Ok({"unload", "cert", kPin, "-subject=300C310A300806035504030C0178", "-file=x.out", "-q"});
    EXPECT_EQ(runner.ReadFile("x.out"), cert);
}

TEST_F(RigCommands, SetAndDeleteWithConfirmations) {
    runner.WriteFile("v.txt", "value");
    for (const char* label : {"one", "two"})
        Ok({"load", "data", kPin, std::string("-label=") + label, "-file=v.txt", "-q"});
    RunResult r = Ok({"set", "data", kPin, "-label=one", "-attr=LABEL:hex:756E6F"});
    EXPECT_TRUE(Has(r.out, "1 objects modified.")) << r.out;
    r = Run({"set", "data", kPin, "-label=one", "-attr=LABEL:7878"});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(Has(r.out, "Object not found\n"));
    r = Run({"set", "data", kPin, "-label=uno"});
    EXPECT_EQ(r.status, 3);
    EXPECT_TRUE(Has(r.out, "No attributes to set\n"));

    r = Run({"delete", "data", kPin}, "n");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Has(r.out, "ALL TOKEN OBJECTS WILL BE DELETED!\nY/N ?\n")) << r.out;
    r = Ok({"delete", "data", kPin, "-label=uno"});
    EXPECT_TRUE(Has(r.out, "Erasing CKO_DATA (handle: ")) << r.out;
    EXPECT_TRUE(Has(r.out, "label: uno)...   OK\n"));
    EXPECT_TRUE(Has(r.out, "\t    1 objects deleted in "));
    r = Run({"delete", "data", kPin}, "y");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Has(r.out, "label: two)...   OK\n")) << r.out;
    r = Ok({"list", "data", kPin, "-q"});
    EXPECT_FALSE(Has(r.out, "Data #1"));
}

}  // namespace
