// SHA digests through the token library's C_ functions and through pkcs11-tool, checked
// against OpenSSL and sha*sum.
#include <openssl/evp.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "host_crypto_rig_fixture.h"
#include "pkcs11_tool_runner.h"

using namespace librarytest;

namespace {

struct Sha {
    CK_MECHANISM_TYPE type;
    CK_ULONG length;
    const char* toolName;  // pkcs11-tool's -m
    const char* sumTool;
    const EVP_MD* (*evp)();
};
const Sha kShas[] = {
    {CKM_SHA_1, 20, "SHA-1", "sha1sum", &EVP_sha1},
    {CKM_SHA224, 28, "SHA224", "sha224sum", &EVP_sha224},
    {CKM_SHA256, 32, "SHA256", "sha256sum", &EVP_sha256},
    {CKM_SHA384, 48, "SHA384", "sha384sum", &EVP_sha384},
    {CKM_SHA512, 64, "SHA512", "sha512sum", &EVP_sha512},
};

std::string OpenSslDigest(const Sha& sha, const std::string& data)
{
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(data.data(), data.size(), out, &length, sha.evp(), nullptr);
    return Bytes(out, length);
}

std::string Mebibyte()
{
    std::string data(1 << 20, '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + (i >> 9));
    return data;
}

TEST_F(HostCryptoRig, ShaMechanismsOnlyOnTheFullModel)
{
    StartBoth();
    if (IsSkipped() || HasFatalFailure()) return;
    const auto full = Mechanisms(fullSlot);
    const auto lite = Mechanisms(liteSlot);
    for (const Sha& sha : kShas) {
        EXPECT_NE(std::find(full.begin(), full.end(), sha.type), full.end()) << sha.toolName;
        EXPECT_EQ(std::find(lite.begin(), lite.end(), sha.type), lite.end()) << sha.toolName;
        CK_MECHANISM_INFO info{};
        ASSERT_EQ(p11->C_GetMechanismInfo(fullSlot, sha.type, &info), CKR_OK);
        EXPECT_EQ(info.flags, CKF_DIGEST);
        EXPECT_EQ(info.ulMinKeySize, 0u);
        EXPECT_EQ(info.ulMaxKeySize, 0u);
        EXPECT_EQ(p11->C_GetMechanismInfo(liteSlot, sha.type, &info), CKR_MECHANISM_INVALID);
    }
    // A lite token's session has no SHA digest.
    const CK_SESSION_HANDLE session = Open(liteSlot, false);
    CK_MECHANISM mechanism{CKM_SHA256, nullptr, 0};
    EXPECT_EQ(p11->C_DigestInit(session, &mechanism), CKR_MECHANISM_INVALID);
}

TEST_F(HostCryptoRig, DigestsEqualOpenSslInOneAndManyParts)
{
    StartBoth();
    if (IsSkipped() || HasFatalFailure()) return;
    const CK_SESSION_HANDLE session = Open(fullSlot, false);
    const std::string big = Mebibyte();
    for (const Sha& sha : kShas) {
        for (const std::string& data : {std::string(), std::string("\x5A", 1), std::string("abc"), big}) {
            const std::string expected = OpenSslDigest(sha, data);
            EXPECT_EQ(Digest(session, sha.type, data), expected) << sha.toolName << " " << data.size();
            // Many parts of uneven sizes, a length query before the final one.
            CK_MECHANISM mechanism{sha.type, nullptr, 0};
            ASSERT_EQ(p11->C_DigestInit(session, &mechanism), CKR_OK);
            for (size_t at = 0, step = 1; at < data.size(); at += step, step = step * 3 + 1) {
                const std::string part = data.substr(at, step);
                ASSERT_EQ(p11->C_DigestUpdate(session, In(part), part.size()), CKR_OK);
            }
            CK_ULONG length = 0;
            ASSERT_EQ(p11->C_DigestFinal(session, nullptr, &length), CKR_OK);
            EXPECT_EQ(length, sha.length);
            std::string out(length - 1, '\0');
            length = out.size();
            EXPECT_EQ(p11->C_DigestFinal(session, In(out), &length), CKR_BUFFER_TOO_SMALL);
            EXPECT_EQ(length, sha.length);
            out.resize(length);
            ASSERT_EQ(p11->C_DigestFinal(session, In(out), &length), CKR_OK);
            EXPECT_EQ(out, expected) << sha.toolName << " parts " << data.size();
        }
    }
    // A parameter is refused; the operation is then not running.
    const char parameter[] = "p";
    CK_MECHANISM withParameter{CKM_SHA256, const_cast<char*>(parameter), 1};
    EXPECT_EQ(p11->C_DigestInit(session, &withParameter), CKR_MECHANISM_PARAM_INVALID);
    CK_ULONG length = 0;
    EXPECT_EQ(p11->C_DigestFinal(session, nullptr, &length), CKR_OPERATION_NOT_INITIALIZED);
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string Shell(const std::string& command)
{
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return output;
    char buffer[512];
    while (fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
    pclose(pipe);
    return output;
}

std::string ToHex(const std::string& bytes)
{
    static const char* digits = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : bytes) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return hex;
}

class ToolHashRig : public HostCryptoRig {
protected:
    void SetUp() override
    {
        ZR_REQUIRE_TOOLS("pkcs11-tool");
        char pattern[] = "/tmp/swcrypto-tool-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        work = pattern;
    }
    void TearDown() override
    {
        if (!work.empty()) std::system(("rm -rf '" + work + "'").c_str());
        HostCryptoRig::TearDown();
    }
    std::string work;
};

TEST_F(ToolHashRig, HashEqualsShaSumAndMechanismListShowsTheRows)
{
    StartRig({Token(kFullSerial, false)});
    if (IsSkipped() || HasFatalFailure()) return;
    const struct {
        const char* name;
        std::string data;
    } inputs[] = {{"empty", ""}, {"one", "\x01"}, {"mebibyte", Mebibyte()}};
    for (const auto& input : inputs) {
        const std::string path = work + "/" + input.name;
        std::ofstream(path, std::ios::binary) << input.data;
        for (const Sha& sha : kShas) {
            const std::string out = path + "." + sha.toolName;
            const librarytest::ToolResult result = librarytest::RunTool(
                ZR_REAL_MODULE, std::string("--hash -m ") + sha.toolName + " --input-file " + path + " --output-file " + out);
            EXPECT_EQ(result.status, 0) << result.output;
            const std::string sum = Shell(std::string(sha.sumTool) + " " + path);
            EXPECT_EQ(ToHex(ReadFile(out)), sum.substr(0, sum.find(' '))) << sha.toolName << " " << input.name;
        }
    }
    const librarytest::ToolResult list = librarytest::RunTool(ZR_REAL_MODULE, "-M");
    for (const char* row : {"SHA-1, digest", "SHA224, digest", "SHA256, digest", "SHA384, digest", "SHA512, digest",
                            "DES3-CBC, keySize={24,24}, encrypt, decrypt",
                            "DES3-CBC-PAD, keySize={24,24}, encrypt, decrypt",
                            "PBE-SHA1-DES3-EDE-CBC, keySize={24,24}, generate"}) {
        EXPECT_NE(list.output.find(row), std::string::npos) << row << "\n" << list.output;
    }
}

}  // namespace
