// APDUs per Cryptoki call of RSA on the token, for each key size: C_GenerateKeyPair, then with a
// key found by label C_SignInit/C_Sign (CKM_RSA_PKCS and, where offered, CKM_SHA256_RSA_PKCS),
// C_Verify, C_Encrypt and C_Decrypt. Encryption draws its random padding from the token, so its
// count is the mean and the largest of several runs.
//
//   rsa_road [module]
//
// Needs the simulator's control socket (TOKENSIM_CONTROL, set inside the rig).
#include "control_client.h"
#include "ckbase/zr_pkcs11.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr char kUserPin[] = "12345678";
constexpr int kEncryptRuns = 20;

CK_FUNCTION_LIST_PTR p11 = nullptr;
CK_SESSION_HANDLE session = 0;

void Check(CK_RV rv, const char* call)
{
    if (rv == CKR_OK) return;
    std::fprintf(stderr, "rsa_road: %s failed: 0x%08lX\n", call, static_cast<unsigned long>(rv));
    std::exit(1);
}

class Counter {
public:
    explicit Counter(const char* socket) : client_(socket) {}
    uint64_t Total() const { return client_.Counters()["total"]; }
    uint64_t Refused() const { return client_.Refusals()["total"]; }

private:
    tokensim::rig::ControlClient client_;
};

CK_OBJECT_HANDLE FindKey(CK_OBJECT_CLASS objectClass, const std::string& label)
{
    CK_ATTRIBUTE search[] = {{CKA_CLASS, &objectClass, sizeof objectClass},
                             {CKA_LABEL, const_cast<char*>(label.data()), label.size()}};
    CK_OBJECT_HANDLE handle = CK_INVALID_HANDLE;
    CK_ULONG count = 0;
    Check(p11->C_FindObjectsInit(session, search, 2), "C_FindObjectsInit");
    Check(p11->C_FindObjects(session, &handle, 1, &count), "C_FindObjects");
    Check(p11->C_FindObjectsFinal(session), "C_FindObjectsFinal");
    if (count != 1) Check(CKR_GENERAL_ERROR, "finding the key");
    return handle;
}

void Print(CK_ULONG bits, const char* call, uint64_t apdus)
{
    std::printf("RSA-%-5lu %-42s %3llu\n", static_cast<unsigned long>(bits), call,
                static_cast<unsigned long long>(apdus));
}

bool Offered(CK_SLOT_ID slot, CK_MECHANISM_TYPE type)
{
    CK_MECHANISM_INFO info{};
    return p11->C_GetMechanismInfo(slot, type, &info) == CKR_OK;
}

void Road(const Counter& counter, CK_SLOT_ID slot, CK_ULONG bits)
{
    const std::string label = "rsa-road-" + std::to_string(bits);
    CK_BBOOL yes = CK_TRUE;
    CK_ATTRIBUTE publicTemplate[] = {{CKA_MODULUS_BITS, &bits, sizeof bits},
                                     {CKA_LABEL, const_cast<char*>(label.data()), label.size()}};
    CK_ATTRIBUTE privateTemplate[] = {{CKA_LABEL, const_cast<char*>(label.data()), label.size()},
                                      {CKA_TOKEN, &yes, sizeof yes}};
    CK_MECHANISM generation{CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
    CK_OBJECT_HANDLE publicKey = 0, privateKey = 0;
    uint64_t before = counter.Total();
    const uint64_t refusedBefore = counter.Refused();
    Check(p11->C_GenerateKeyPair(session, &generation, publicTemplate, 2, privateTemplate, 2, &publicKey, &privateKey),
          "C_GenerateKeyPair");
    Print(bits, "C_GenerateKeyPair", counter.Total() - before);
    Print(bits, "C_GenerateKeyPair, answers refused", counter.Refused() - refusedBefore);

    privateKey = FindKey(CKO_PRIVATE_KEY, label);
    publicKey = FindKey(CKO_PUBLIC_KEY, label);
    std::vector<CK_BYTE> data(32, 0x5A);
    std::vector<CK_BYTE> signature(bits / 8);
    for (CK_MECHANISM_TYPE type : {CKM_RSA_PKCS, CKM_SHA256_RSA_PKCS}) {
        if (!Offered(slot, type)) continue;
        const char* name = type == CKM_RSA_PKCS ? "CKM_RSA_PKCS" : "CKM_SHA256_RSA_PKCS";
        CK_MECHANISM mechanism{type, nullptr, 0};
        before = counter.Total();
        Check(p11->C_SignInit(session, &mechanism, privateKey), "C_SignInit");
        Print(bits, (std::string("C_SignInit ") + name).c_str(), counter.Total() - before);
        CK_ULONG length = signature.size();
        before = counter.Total();
        Check(p11->C_Sign(session, data.data(), data.size(), signature.data(), &length), "C_Sign");
        Print(bits, (std::string("C_Sign ") + name).c_str(), counter.Total() - before);
        Check(p11->C_VerifyInit(session, &mechanism, publicKey), "C_VerifyInit");
        before = counter.Total();
        Check(p11->C_Verify(session, data.data(), data.size(), signature.data(), length), "C_Verify");
        Print(bits, (std::string("C_Verify ") + name).c_str(), counter.Total() - before);
    }

    CK_MECHANISM pkcs{CKM_RSA_PKCS, nullptr, 0};
    uint64_t sum = 0, most = 0;
    std::vector<CK_BYTE> encrypted(bits / 8);
    for (int run = 0; run < kEncryptRuns; ++run) {
        Check(p11->C_EncryptInit(session, &pkcs, publicKey), "C_EncryptInit");
        CK_ULONG length = encrypted.size();
        before = counter.Total();
        Check(p11->C_Encrypt(session, data.data(), 1, encrypted.data(), &length), "C_Encrypt");
        const uint64_t apdus = counter.Total() - before;
        sum += apdus;
        most = std::max(most, apdus);
    }
    std::printf("RSA-%-5lu %-42s %5.1f (largest %llu, %d runs)\n", static_cast<unsigned long>(bits),
                "C_Encrypt CKM_RSA_PKCS, 1 byte (mean)", double(sum) / kEncryptRuns,
                static_cast<unsigned long long>(most), kEncryptRuns);
    Check(p11->C_DecryptInit(session, &pkcs, privateKey), "C_DecryptInit");
    std::vector<CK_BYTE> plain(bits / 8);
    CK_ULONG length = plain.size();
    before = counter.Total();
    Check(p11->C_Decrypt(session, encrypted.data(), encrypted.size(), plain.data(), &length), "C_Decrypt");
    Print(bits, "C_Decrypt CKM_RSA_PKCS", counter.Total() - before);
}

}  // namespace

int main(int argc, char** argv)
{
    const char* socket = std::getenv("TOKENSIM_CONTROL");
    if (socket == nullptr) {
        std::fprintf(stderr, "rsa_road: run inside the rig (TOKENSIM_CONTROL is not set)\n");
        return 2;
    }
    const char* module = argc > 1 ? argv[1] : ZR_MODULE_PATH;
    void* library = dlopen(module, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        std::fprintf(stderr, "rsa_road: %s\n", dlerror());
        return 1;
    }
    auto getList = reinterpret_cast<CK_C_GetFunctionList>(dlsym(library, "C_GetFunctionList"));
    Check(getList(&p11), "C_GetFunctionList");
    CK_C_INITIALIZE_ARGS args{};
    args.flags = CKF_OS_LOCKING_OK;
    Check(p11->C_Initialize(&args), "C_Initialize");
    CK_SLOT_ID slot = 0;
    CK_ULONG count = 1;
    Check(p11->C_GetSlotList(CK_TRUE, &slot, &count), "C_GetSlotList");
    Check(p11->C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session), "C_OpenSession");
    Check(p11->C_Login(session, CKU_USER, reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(kUserPin)), 8),
          "C_Login");
    const Counter counter(socket);
    CK_MECHANISM_INFO info{};
    Check(p11->C_GetMechanismInfo(slot, CKM_RSA_PKCS_KEY_PAIR_GEN, &info), "C_GetMechanismInfo");
    for (CK_ULONG bits : {512ul, 1024ul, 1536ul, 2048ul}) {
        if (bits >= info.ulMinKeySize) Road(counter, slot, bits);
    }
    p11->C_Logout(session);
    p11->C_CloseSession(session);
    p11->C_Finalize(nullptr);
    return 0;
}
