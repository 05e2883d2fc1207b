// zrtoksvc's key, object, cryptographic and administration commands against the scripted stub:
// exact templates, call orders and the failures a real token cannot show.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "tool_runner.h"

using namespace zrtoksvctest;

namespace {

const std::string kPin = "-password=12345678";

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Position of the first log line beginning with the prefix (log size when none).
size_t IndexOf(const std::vector<std::string>& log, const std::string& prefix) {
    for (size_t i = 0; i < log.size(); ++i)
        if (log[i].compare(0, prefix.size(), prefix) == 0) return i;
    return log.size();
}

class StubCommands : public ::testing::Test {
protected:
    void SetUp() override { runner.UseLibrary(ZR_STUB_MODULE); }
    void Script(const std::string& text) { runner.WriteFile("script", text); }
    RunResult Run(const std::vector<std::string>& args, const std::string& input = std::string()) {
        runner.WriteFile("calls.log", "");
        return runner.Run(args, input);
    }
    std::vector<std::string> Log() { return ReadLog(runner); }
    std::string Only(const std::string& prefix) {
        const std::vector<std::string> lines = Calls(Log(), prefix);
        EXPECT_EQ(lines.size(), 1u) << prefix;
        return lines.empty() ? std::string() : lines[0];
    }
    // The run ended through the normal clean-up: logged out (when logged in), closed, finalised.
    void ExpectReleased() {
        const std::vector<std::string> log = Log();
        EXPECT_EQ(Calls(log, "C_Finalize").size(), 1u);
        EXPECT_EQ(Calls(log, "C_OpenSession").size(), Calls(log, "C_CloseSession").size());
        EXPECT_EQ(Calls(log, "C_Login").size() > 0, Calls(log, "C_Logout").size() > 0);
    }

    ToolRunner runner;
};

struct GenerateCase {
    std::vector<std::string> args;
    std::string publicPart;   // expected text of the public template in the log
    std::string privatePart;  // expected text of the private template
    std::string announce;
};

TEST_F(StubCommands, GenerationTemplates) {
    const GenerateCase cases[] = {
        {{"generate", "rsa", kPin},
         "mech=0 public: 0=0200000000000000 100=0000000000000000 1=01 104=01 121=0004000000000000 122=010001 private:",
         "private: 0=0300000000000000 100=0000000000000000 1=01 105=01 -> 0", "Generating RSA 1024-bits keypair...\n"},
        {{"generate", "ecdsa", kPin, "-bits=256", "-label=L"},
         "public: 0=0200000000000000 100=0300000000000000 1=01 10a=01 3=4C 180=06082A8648CE3D030107 private:",
         "private: 0=0300000000000000 100=0300000000000000 1=01 108=01 3=4C -> 0",
         "Generating EC DSA keypair with EC parameters: 256-bits NIST curve...\n"},
        {{"generate", "ecdsa", kPin, "-bits=521"}, "10a=01 180=06052B81040023 private:", "108=01 -> 0",
         "Generating EC DSA keypair with EC parameters: 521-bits NIST curve...\n"},
        // Without -bits: P-256.
        {{"generate", "ecdsa", kPin}, "10a=01 180=06082A8648CE3D030107 private:", "108=01 -> 0",
         "Generating EC DSA keypair with EC parameters: 256-bits NIST curve...\n"},
        {{"generate", "dstu4145", kPin, "-id=0102", "-subject=3000", "-attr=DERIVE:FALSE,ID:0A"},
         "mech=80420042 public: 0=0200000000000000 100=3101428000000000 1=01 10a=01 102=0102 101=3000 private:",
         "private: 0=0300000000000000 100=3101428000000000 1=01 108=01 102=0102 101=3000 10c=00 102=0A -> 0",
         "Generating DSTU 4145 keypair with default EC parameters...\n"},
    };
    for (const GenerateCase& c : cases) {
        const RunResult r = Run(c.args);
        EXPECT_EQ(r.status, 0) << c.args[1] << r.err;
        const std::string line = Only("C_GenerateKeyPair");
        EXPECT_TRUE(Has(line, c.publicPart)) << line;
        EXPECT_TRUE(Has(line, c.privatePart)) << line;
        EXPECT_TRUE(Has(r.out, c.announce)) << r.out;
    }
}

TEST_F(StubCommands, BadAttributesEndBeforeAnythingIsSentAndRelease) {
    std::string many;
    for (int i = 0; i < 40; ++i) many += std::string(i ? "," : "") + "SIGN";
    const std::vector<std::vector<std::string>> runs = {
        {"generate", "dstu4145", kPin, "-attr=" + many},
        {"generate", "rsa", kPin, "-attr=NOSUCH"},
        {"generate", "rsa", kPin, "-attr=ID:xyz"},
        {"set", kPin, "-label=x", "-attr=SIGN:maybe"},
    };
    for (const auto& args : runs) {
        const RunResult r = Run(args);
        EXPECT_EQ(r.status, 1) << args.back() << r.out;
        EXPECT_TRUE(Calls(Log(), "C_GenerateKeyPair").empty());
        EXPECT_TRUE(Calls(Log(), "C_SetAttributeValue").empty());
        ExpectReleased();
    }
}

TEST_F(StubCommands, CipherUsageIsCheckedBeforeTheToken) {
    runner.WriteFile("in.bin", "12345678");
    const struct {
        std::vector<std::string> args;
        const char* err;
    } cases[] = {
        {{"encrypt", kPin, "-file=in.bin", "-out_file=o"}, "Error: -mode must be ecb, ctr or cfb\n"},
        {{"decrypt", kPin, "-file=in.bin", "-out_file=o", "cbc"}, "Error: -mode must be ecb, ctr or cfb\n"},
        {{"encrypt", kPin, "-file=in.bin", "-out_file=o", "ecb", "-key_value=0011"}, "Error: -key_value needs -key_type\n"},
    };
    for (const auto& c : cases) {
        const RunResult r = Run(c.args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, c.err);
        EXPECT_TRUE(Calls(Log(), "C_Login").empty());
        EXPECT_TRUE(Calls(Log(), "C_EncryptInit").empty());
    }
}

TEST_F(StubCommands, CipherWithSessionKeyAndFoundKey) {
    runner.WriteFile("in.bin", "abcdefgh");
    RunResult r = Run({"encrypt", kPin, "-file=in.bin", "-out_file=enc.bin", "ctr", "-key_type=dstu28147",
                       "-key_value=00112233", "-synchro=0102030405060708"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Only("C_CreateObject"), "C_CreateObject 0=0400000000000000 100=1101428000000000 1=00 104=01 105=01 11=00112233 -> 0");
    EXPECT_EQ(Only("C_EncryptInit"), "C_EncryptInit mech=80420012 param=0102030405060708 key=1 -> 0");
    Script("object 0=u:4 100=u:0x80420111 3=t:k\nobject 0=u:4 100=u:0x80420111 3=t:k\nobject 0=u:4 100=u:0x10 3=t:g\n");
    r = Run({"decrypt", kPin, "-file=enc.bin", "-out_file=dec.bin", "cfb", "-label=k"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Too many keys found\n");
    r = Run({"decrypt", kPin, "-file=enc.bin", "-out_file=dec.bin", "ecb", "-label=g"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Error: Unknown key type\n");
    Script("object 0=u:4 100=u:0x80420111 3=t:k\n");
    r = Run({"decrypt", kPin, "-file=enc.bin", "-out_file=dec.bin", "ecb", "-label=k"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Only("C_DecryptInit"), "C_DecryptInit mech=80420011 key=1 -> 0");
    EXPECT_EQ(runner.ReadFile("dec.bin"), "abcdefgh");
}

TEST_F(StubCommands, HashReadsInPiecesAndNeverHidesAReadError) {
    runner.WriteFile("big.bin", std::string(600000, 'b'));
    runner.WriteFile("empty.bin", "");
    RunResult r = Run({"hash", "sha256", kPin, "-file=big.bin", "-q"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "ABABABABABABABABABABABABABABABABABABABABABABABABABABABABABABABAB\n");
    const std::vector<std::string> updates = Calls(Log(), "C_DigestUpdate");
    ASSERT_EQ(updates.size(), 3u);
    EXPECT_EQ(updates[0], "C_DigestUpdate len=262144 -> 0");
    EXPECT_EQ(updates[2], "C_DigestUpdate len=75712 -> 0");
    EXPECT_EQ(Only("C_DigestInit"), "C_DigestInit mech=250 -> 0");
    r = Run({"hash", "sha1", kPin, "-file=empty.bin", "-q"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(Calls(Log(), "C_DigestUpdate").empty());
    // A directory opens but cannot be read: an error, not a digest.
    r = Run({"hash", "gost", kPin, "-file=.", "-q"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Cannot read file \".\"\n");
    EXPECT_TRUE(Calls(Log(), "C_DigestFinal").empty());
    r = Run({"hash", "sha1", kPin, "-q"});
    EXPECT_EQ(r.err, "Cannot proceed: no file specified\n");
    // -out_file gets the digest's bytes; the line is printed as well.
    Script("digest_len 20\n");
    r = Run({"hash", "sha1", kPin, "-file=empty.bin", "-out_file=d.bin"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(runner.ReadFile("d.bin"), std::string(20, '\xAB'));
    EXPECT_TRUE(Has(r.out, std::string("ABABABABABABABABABABABABABABABABABABABAB\nd.bin file saved.\n"))) << r.out;
    r = Run({"hash", "sha1", kPin, "-file=empty.bin", "-out_file=no-dir/d.bin", "-q"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Has(r.out + r.err, "no-dir/d.bin")) << r.out << r.err;
}

TEST_F(StubCommands, SignAndVerifyByKeyType) {
    runner.WriteFile("doc", "doc");
    Script("object 0=u:3 100=u:3 3=t:ec\nobject 0=u:2 100=u:3 3=t:ec\nverify_ok 5C5C5C5C\n");
    RunResult r = Run({"sign", kPin, "-label=ec", "-file=doc"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(Has(r.out, "Signature: 5C5C5C5C\n"));
    EXPECT_EQ(Only("C_SignInit"), "C_SignInit mech=1044 key=1 -> 0");
    EXPECT_TRUE(Has(Only("C_Sign "), "room=512"));
    // Verification is not offered for EC keys.
    r = Run({"verify", kPin, "-label=ec", "-file=doc", "-signature=5C5C5C5C"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Error: verify is not offered for EC keys\n");
    EXPECT_FALSE(Has(r.out, "Signature"));
    EXPECT_TRUE(Calls(Log(), "C_VerifyInit").empty());
    Script("object 0=u:2 100=u:0 3=t:r\nverify_ok 5C5C5C5C\n");
    r = Run({"verify", kPin, "-label=r", "-file=doc", "-signature=0000"});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(Has(r.out, "Signature INVALID\n"));
    EXPECT_EQ(Only("C_VerifyInit"), "C_VerifyInit mech=1 key=1 -> 0");
    Script("object 0=u:2 100=u:0 3=t:r\nfail C_Verify 151\n");
    r = Run({"verify", kPin, "-label=r", "-file=doc", "-signature=00"});
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(r.err.rfind("C_Verify returned 0x151 ", 0), 0u) << r.err;
    runner.WriteFile("empty", "");
    r = Run({"verify", kPin, "-label=r", "-file=empty", "-signature=00"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Input file empty\n");
    r = Run({"sign", kPin, "-label=r"});
    EXPECT_EQ(r.err, "File parameter not defined\n");
}

// A DSTU 4145 key takes at most a GOST 34.311 hash (32 bytes): a longer file would be signed
// only in part, so it is refused before anything is signed or verified; RSA files go on as given.
TEST_F(StubCommands, DstuTakesAtMostAHash) {
    const std::string hash(32, 'h');
    std::string hashHex;
    for (size_t i = 0; i < hash.size(); ++i) hashHex += "68";
    runner.WriteFile("hash", hash);
    runner.WriteFile("doc", hash + "x");
    const std::string keys = "object 0=u:3 100=u:0x80420131 3=t:d\nobject 0=u:2 100=u:0x80420131 3=t:d\n"
                             "object 0=u:3 100=u:0 3=t:r\nverify_ok 5C5C5C5C\n";
    for (const char* command : {"sign", "verify"}) {
        Script(keys);
        RunResult r = Run({command, kPin, "-label=d", "-file=doc", "-signature=5C5C5C5C"});
        EXPECT_EQ(r.status, 1) << command;
        EXPECT_TRUE(Has(r.err, "\"doc\" has 33 bytes, but a DSTU 4145 key takes at most 32")) << r.err;
        EXPECT_TRUE(Has(r.err, "zrtoksvc hash -hash_type=gost -file=doc -out_file=doc.hash, then " +
                                   std::string(command) + " -file=doc.hash\n")) << r.err;
        EXPECT_FALSE(Has(r.out, "Signature")) << r.out;
        EXPECT_TRUE(Calls(Log(), "C_SignInit").empty() && Calls(Log(), "C_VerifyInit").empty());
        ExpectReleased();
        r = Run({command, kPin, "-label=d", "-file=hash", "-signature=5C5C5C5C"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(Has(Only(std::string(command) == "sign" ? "C_Sign " : "C_Verify "), "data=" + hashHex + " ")) << command;
    }
    Script(keys);
    const RunResult r = Run({"sign", kPin, "-label=r", "-file=doc"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Only("C_SignInit"), "C_SignInit mech=1 key=3 -> 0");
}

TEST_F(StubCommands, LoadTemplatesAndZeroFill) {
    runner.WriteFile("four", "ABCD");
    RunResult r = Run({"load", "data", kPin, "-file=four", "-size=10", "-label=d", "-id=01", "-application=a"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Has(r.out, "(enlarged to 10 bytes) with label \"d\" into public zone...\n"));
    EXPECT_EQ(Only("C_CreateObject"),
              "C_CreateObject 0=0000000000000000 1=01 2=00 3=64 12=01 10=61 11=41424344000000000000 -> 0");
    r = Run({"load", "pub_key", "ecdsa", kPin, "-file=four", "-params=0600"});
    EXPECT_EQ(Only("C_CreateObject"),
              "C_CreateObject 0=0200000000000000 100=0300000000000000 1=01 2=00 3= 102=null/0 101=null/0 181=41424344 180=0600 -> 0");
    r = Run({"load", "priv_key", "rsa", kPin, "-file=four"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Calls(Log(), "C_CreateObject").empty());
    EXPECT_TRUE(Calls(Log(), "C_Login").empty());  // refused before the token is touched

    // With -subject any file is loaded as the certificate's value; without, only a DER certificate.
    r = Run({"load", "cert", kPin, "-file=four", "-subject=3000", "-label=c", "-q"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Has(Only("C_CreateObject"), " 101=3000 11=41424344 -> 0")) << Only("C_CreateObject");
    // A certificate's subject comes from the certificate unless -subject is given.
    const std::string certHex =
        "3055304ba0030201020201013003060100300c310a300806035504030c0169301e170d3235303130313030303030305a170d3236"
        "303130313030303030305a300c310a300806035504030c017830003003060100030100";
    std::string cert;
    for (size_t i = 0; i < certHex.size(); i += 2) cert += static_cast<char>(std::stoi(certHex.substr(i, 2), nullptr, 16));
    runner.WriteFile("cert.der", cert);
    for (const char* subject : {"", "-subject=3000"}) {
        std::vector<std::string> args = {"load", "cert", kPin, "-file=cert.der", "-label=c", "-q"};
        if (*subject) args.push_back(subject);
        r = Run(args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(Has(Only("C_CreateObject"), *subject ? " 101=3000 " : " 101=300C310A300806035504030C0178 "))
            << Only("C_CreateObject");
    }
}

TEST_F(StubCommands, UnloadReadsTheValueOfTheKeyType) {
    Script("object 0=u:2 100=u:3 3=t:e 181=h:0403010203 11=h:FF\nobject 0=u:2 100=u:0 3=t:r 120=h:C0FFEE\n"
           "object 0=u:1 3=t:c 11=h:01\nobject 0=u:1 3=t:c 11=h:02\n");
    RunResult r = Run({"unload", "pub_key", kPin, "-label=e", "-file=e.bin"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(runner.ReadFile("e.bin"), std::string("\x04\x03\x01\x02\x03", 5));
    r = Run({"unload", "pub_key", kPin, "-label=r", "-file=r.bin", "-q"});
    EXPECT_EQ(runner.ReadFile("r.bin"), "\xC0\xFF\xEE");
    r = Run({"unload", "cert", kPin, "-label=c", "-file=c.bin"});
    EXPECT_TRUE(Has(r.out, "2 certificates found, only the first one would be saved.\n"));
    EXPECT_EQ(runner.ReadFile("c.bin"), "\x01");
    r = Run({"unload", "cert", kPin});
    EXPECT_EQ(r.status, 7);
    EXPECT_TRUE(Calls(Log(), "C_Initialize").size() == 1 && Calls(Log(), "C_OpenSession").empty());
}

TEST_F(StubCommands, SetChangesEveryMatchAndAsksForAll) {
    std::string script;
    for (int i = 0; i < 12; ++i) script += "object 0=u:0 3=t:same\n";
    script += "object 0=u:1 3=t:shared\nobject 0=u:2 3=t:shared\n";
    Script(script);
    RunResult r = Run({"set", kPin, "-label=same", "-attr=LABEL:6E6577"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Has(r.out, "12 objects modified."));
    EXPECT_EQ(Calls(Log(), "C_SetAttributeValue").size(), 12u);
    r = Run({"set", "keys", kPin, "-label=shared", "-attr=SIGN"});
    EXPECT_EQ(Calls(Log(), "C_SetAttributeValue").size(), 1u);
    EXPECT_EQ(Calls(Log(), "C_SetAttributeValue 14 108=01")[0].substr(0, 27), "C_SetAttributeValue 14 108=");
    r = Run({"set", kPin, "-attr=SIGN"}, "n");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Has(r.out, "ALL TOKEN OBJECTS WILL BE MODIFIED!\nY/N ?\n"));
    EXPECT_TRUE(Calls(Log(), "C_SetAttributeValue").empty());
    r = Run({"set", kPin, "-attr=SIGN", "-y"});
    EXPECT_EQ(Calls(Log(), "C_SetAttributeValue").size(), 14u);
    Script("object 0=u:0 3=t:a\nobject 0=u:0 3=t:a\nfail C_SetAttributeValue 10 1\n");
    r = Run({"set", kPin, "-label=a", "-attr=SIGN", "-f"});
    EXPECT_TRUE(Has(r.out, "1 objects modified.")) << r.out;
}

TEST_F(StubCommands, DeleteCollectsThenDestroys) {
    Script("object 0=u:1 3=t:x\nobject 0=u:1 3=t:x\nobject 0=u:0 3=t:x\n");
    RunResult r = Run({"delete", "cert", kPin, "-label=x"});
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<std::string> log = Log();
    EXPECT_LT(IndexOf(log, "C_FindObjectsFinal"), IndexOf(log, "C_DestroyObject"));
    EXPECT_EQ(Calls(log, "C_DestroyObject").size(), 2u);
    EXPECT_TRUE(HasTimed(r.out, "\t    2 objects deleted in ", "\n")) << r.out;
    // Mechanisms and hardware features are never deleted by a search of every class.
    r = Run({"delete", "mech", kPin, "-label=x"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Calls(Log(), "C_FindObjectsInit").empty());
    r = Run({"delete", "hwf", kPin}, "y");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Has(r.err, "No search parameters specified.\n"));
    // -f goes on after a failure, and every kind's failure reaches the status.
    Script("object 0=u:1 3=t:x\nobject 0=u:1 3=t:x\nfail C_DestroyObject 5 1\n");
    r = Run({"delete", "cert", kPin, "-label=x", "-f"});
    EXPECT_EQ(Calls(Log(), "C_DestroyObject").size(), 2u);
    EXPECT_TRUE(Has(r.out, "\t    1 objects deleted in "));
    Script("object 0=u:1 3=t:x\nobject 0=u:0 3=t:x\nfail C_DestroyObject 5 1\n");
    r = Run({"delete", kPin, "-label=x"});
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(Calls(Log(), "C_DestroyObject").size(), 2u);  // the data object still went
}

TEST_F(StubCommands, AdministrationCallsAndRandomFile) {
    std::string random;
    for (int i = 0; i < 100; ++i) random += static_cast<char>(i);
    runner.WriteFile("rnd.bin", random);
    runner.SetEnv("ZRSTUB_RANDOM_ASKS", "32,32,32,32");
    RunResult r = Run({"initialize", "-so_password=87654321", "-label=x", "-password=11112222", "-file=rnd.bin"});
    EXPECT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> log = Log();
    EXPECT_EQ(Only("C_InitToken"), "C_InitToken slot=0 pin=87654321 label=[x                               ] -> 0");
    const std::vector<std::string> served = Calls(log, "random ");
    ASSERT_EQ(served.size(), 4u);
    EXPECT_EQ(served[0].substr(0, 20), "random 32 -> 0 00010");
    EXPECT_EQ(served[2].substr(0, 21), "random 32 -> 0 404142");
    EXPECT_EQ(served[3], "random 32 -> 1 ");  // the rest is never served twice
    EXPECT_TRUE(Has(r.err, "Not enough random data loaded from file: loaded 4, but library need 32 bytes"));
    EXPECT_LT(IndexOf(log, "C_InitToken"), IndexOf(log, "C_InitPIN"));
    EXPECT_EQ(Only("C_InitPIN"), "C_InitPIN pin=11112222 -> 0");

    runner.UseLibrary(ZR_STUB_NOVENDOR_MODULE);
    r = Run({"newpasswd", "-password=12345678", "-new_password=23456789", "-file=rnd.bin", "-q"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "Using external random data from file impossible: can't find C_SetLibraryAttributes.\n");
    EXPECT_EQ(Only("C_SetPIN"), "C_SetPIN old=12345678 new=23456789 -> 0");

    runner.UseLibrary(ZR_STUB_MODULE);
    Script("object 0=u:5 300=u:0x80420901 80420901=u:10\n");
    r = Run({"get_max_pin_try_count", "-so_password=87654321", "-q"});
    EXPECT_EQ(r.out, "Max user authorization try count: 10.\n");
    r = Run({"set_max_pin_try_count", "-so_password=87654321", "-count=1", "-q"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(Only("C_SetAttributeValue"), "C_SetAttributeValue 1 80420901=0100000000000000 -> 0");
    Script("");
    r = Run({"set_max_pin_try_count", "-so_password=87654321", "-count=3", "-q"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Error! Feature not available.\n");
}

TEST_F(StubCommands, PinPromptsOnATerminal) {
    // newpasswd asks for the current PIN, then the new one twice; a mismatch asks again.
    RunResult r = runner.RunOnTerminal({"newpasswd", "-q"}, {{"Enter current user's password:", "12345678\r"},
                                                             {"Enter new user's password:", "aaaaaaaa\r"},
                                                             {"Repeat new user's password:", "bbbbbbbb\r"},
                                                             {"Enter new user's password:", "cccccccc\r"},
                                                             {"Repeat new user's password:", "cccccccc\r"}});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(Has(r.out, "new user's password and confirmation differ!"));
    EXPECT_FALSE(Has(r.out, "cccccccc"));
    EXPECT_EQ(Only("C_SetPIN"), "C_SetPIN old=12345678 new=cccccccc -> 0");
    // passwd prompts for the user PIN when none is given.
    r = runner.RunOnTerminal({"passwd"}, {{"Enter user password:", "12345678\r"}});
    EXPECT_EQ(r.status, 0) << r.out;
    // Between the PIN prompts the token label is typed as a line, with echo.
    r = runner.RunOnTerminal({"initialize", "-q"}, {{"Enter Security Officer password:", "87654321\r"},
                                                    {"~Enter token label:", "mylabel\r"},
                                                    {"Enter new user password:", "11112222\r"},
                                                    {"Repeat new user password:", "11112222\r"}});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(Has(r.out, "Enter token label:mylabel")) << r.out;
    EXPECT_FALSE(Has(r.out, "8765")) << r.out;
    EXPECT_FALSE(Has(r.out, "1111")) << r.out;
    EXPECT_TRUE(Has(Only("C_InitToken"), "label=[mylabel ")) << r.out;
}

}  // namespace

namespace {

struct SecretFileCase {
    const char* name;
    std::string script;
    std::vector<std::string> args;  // write out.bin
};

class StubSecretFiles : public StubCommands, public ::testing::WithParamInterface<SecretFileCase> {};

// Files that hold secrets are the caller's alone (0600 whatever the umask, also when they
// existed) and are never written through a symbolic link.
TEST_P(StubSecretFiles, PrivateAndNoLinkFollowed) {
    const SecretFileCase& c = GetParam();
    runner.WriteFile("in.bin", "abcdefgh");
    for (const bool existed : {false, true}) {
        if (existed) runner.WriteFile("out.bin", "old", 0666);
        Script(c.script);
        const RunResult r = Run(c.args);
        EXPECT_EQ(r.status, 0) << existed << r.out << r.err;
        struct stat st {};
        ASSERT_EQ(stat(runner.Path("out.bin").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u) << existed;
        std::remove(runner.Path("out.bin").c_str());
    }
    runner.WriteFile("victim.txt", "keep", 0644);
    ASSERT_EQ(symlink(runner.Path("victim.txt").c_str(), runner.Path("out.bin").c_str()), 0);
    Script(c.script);
    const RunResult r = Run(c.args);
    EXPECT_NE(r.status, 0);
    EXPECT_TRUE(Has(r.out + r.err, "out.bin")) << r.out << r.err;
    EXPECT_EQ(runner.ReadFile("victim.txt"), "keep");
}

INSTANTIATE_TEST_SUITE_P(
    Commands, StubSecretFiles,
    ::testing::Values(SecretFileCase{"Random", "", {"random", "-file=out.bin", "-q"}},
                      SecretFileCase{"Decrypt", "object 0=u:4 100=u:0x80420111 3=t:k\n",
                                     {"decrypt", kPin, "-file=in.bin", "-out_file=out.bin", "ecb", "-label=k"}},
                      SecretFileCase{"UnloadSecretKey", "object 0=u:4 100=u:0x80420111 3=t:k 11=h:00112233\n",
                                     {"unload", "secret_key", kPin, "-label=k", "-file=out.bin", "-q"}},
                      SecretFileCase{"UnloadPrivateKey", "object 0=u:3 100=u:0 3=t:k 11=h:00112233\n",
                                     {"unload", "priv_key", kPin, "-label=k", "-file=out.bin", "-q"}},
                      SecretFileCase{"UnloadPrivateData", "object 0=u:0 2=b:1 3=t:k 11=h:00112233\n",
                                     {"unload", "data", kPin, "-label=k", "-file=out.bin", "-q"}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace

namespace {

struct MessageCase {
    const char* name;
    std::vector<std::string> args;
    std::string input;     // standard input (answers to Y/N)
    std::string script;
    int status;
    std::string says;      // on standard output or error
    bool tokenTouched;     // false: refused before any session was opened
};

class StubMessages : public StubCommands, public ::testing::WithParamInterface<MessageCase> {};

// Every failure says what is wrong, once, and nothing that is not: the unknown-type message only
// for a type word the command does not know.
TEST_P(StubMessages, SayWhatIsWrong) {
    const MessageCase& c = GetParam();
    runner.WriteFile("in.bin", "abcdefgh");
    Script(c.script);
    const RunResult r = Run(c.args, c.input);
    const std::string all = r.out + r.err;
    EXPECT_EQ(r.status, c.status) << all;
    EXPECT_TRUE(Has(all, c.says)) << all;
    EXPECT_EQ(Has(all, "Unknown type"), Has(c.says, "Unknown type")) << all;
    EXPECT_FALSE(Has(all, "Unknown key type") && !Has(c.says, "Unknown key type")) << all;
    EXPECT_EQ(!Calls(Log(), "C_OpenSession").empty(), c.tokenTouched) << all;
}

INSTANTIATE_TEST_SUITE_P(
    Commands, StubMessages,
    ::testing::Values(
        MessageCase{"CertificateNotFound", {"unload", "cert", kPin, "-label=none", "-file=x"}, "", "", 1,
                    "Certificate not found\n", true},
        MessageCase{"DeleteDeclined", {"delete", "data", kPin}, "n", "", 1, "Y/N ?", true},
        MessageCase{"LoadRsaPrivateKey", {"load", "priv_key", "rsa", kPin, "-file=in.bin"}, "", "", 1,
                    "only ecdsa and dstu4145 private keys can be loaded", false},
        MessageCase{"LoadWithoutType", {"load", kPin, "-file=in.bin"}, "", "", 1, "Error: Unknown type \"\"", false},
        MessageCase{"HashWithoutType", {"hash", kPin, "-file=in.bin"}, "", "", 1, "-hash_type", false},
        MessageCase{"VerifyWithoutSignature", {"verify", kPin, "-label=k", "-file=in.bin"}, "", "", 1, "-signature",
                    false},
        MessageCase{"SignUnknownKeyType", {"sign", kPin, "-label=k", "-file=in.bin"}, "",
                    "object 0=u:3 100=u:0x10 3=t:k\n", 1, "Error: Unknown key type", true},
        MessageCase{"ModifiedLineEnds", {"set", kPin, "-label=a", "-attr=SIGN"}, "", "object 0=u:0 3=t:a\n", 0,
                    "1 objects modified.\n", true},
        MessageCase{"InitConfigFileNamed", {"list", "mech", "-lib_init_config=no-such.cfg"}, "", "", 1,
                    "no-such.cfg", false},
        MessageCase{"RandomFileNamed", {"random", "-file=no-dir/r.bin"}, "", "", 1, "no-dir/r.bin", true},
        MessageCase{"LoadSecretKey", {"load", "secret_key", "generic", kPin, "-file=in.bin"}, "", "", 1,
                    "no generic secret keys", false},
        MessageCase{"EcdsaBitsOutsideTheCurves", {"generate", "ecdsa", kPin, "-bits=384"}, "", "", 1,
                    "192, 256 or 521", false},
        MessageCase{"NotACertificate", {"load", "cert", kPin, "-file=in.bin"}, "", "", 1, "\"in.bin\"", false},
        MessageCase{"UsageOffersWorkingModes", {"-h"}, "", "", 0, "-mode=ecb|ctr|cfb - ", false},
        MessageCase{"InitPinStatisticsLoggedIn",
                    {"initpin", "-so_password=87654321", "-password=11112222", "-s", "-q"}, "", "", 0,
                    "\tToken statistics:", true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
