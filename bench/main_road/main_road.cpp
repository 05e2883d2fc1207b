// The main road of an application signing with a DSTU 4145 key on the token, through the
// exported Cryptoki functions only, with the APDUs each call sends to the simulated token.
//
//   main_road [document] [module]
//
// Inside the rig (TOKENSIM_CONTROL names the simulator's control socket) it prints the counts;
// elsewhere it only signs and verifies. A key pair labelled "main-road" is generated on the
// token the first time (set 11, m = 257); its C_GenerateKeyPair is counted too.
#include "control_client.h"
#include "ckbase/zr_pkcs11.h"
#include "national/ua_sgn_util.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr char kUserPin[] = "12345678";
constexpr char kKeyLabel[] = "main-road";

CK_FUNCTION_LIST_PTR p11 = nullptr;

void Check(CK_RV rv, const char* call)
{
    if (rv == CKR_OK) return;
    std::fprintf(stderr, "main_road: %s failed: 0x%08lX\n", call, static_cast<unsigned long>(rv));
    std::exit(1);
}

// Prints the APDUs sent since the last report, by command name.
class ApduMeter {
public:
    ApduMeter()
    {
        if (const char* socket = std::getenv("TOKENSIM_CONTROL")) {
            client_ = std::make_unique<tokensim::rig::ControlClient>(socket);
            client_->ResetCounters();
        }
    }
    void Report(const char* step)
    {
        if (!client_) return;
        const auto counters = client_->Counters();
        uint64_t total = 0;
        std::string detail;
        for (const auto& [name, count] : counters) {
            if (name == "total") {
                total = count;
            } else if (count > 0) {
                detail += " " + name + "=" + std::to_string(count);
            }
        }
        const uint64_t refused = client_->Refusals()["total"];
        if (refused != 0) detail += " (refused: " + std::to_string(refused) + ")";
        std::printf("%-46s %3llu APDU%s%s\n", step, static_cast<unsigned long long>(total), total == 1 ? " " : "s",
                    detail.c_str());
        client_->ResetCounters();
    }
    explicit operator bool() const { return client_ != nullptr; }

private:
    std::unique_ptr<tokensim::rig::ControlClient> client_;
};

CK_SLOT_ID FirstSlotWithToken()
{
    CK_ULONG count = 0;
    Check(p11->C_GetSlotList(CK_TRUE, nullptr, &count), "C_GetSlotList");
    if (count == 0) {
        std::fprintf(stderr, "main_road: no token present\n");
        std::exit(1);
    }
    std::vector<CK_SLOT_ID> slots(count);
    Check(p11->C_GetSlotList(CK_TRUE, slots.data(), &count), "C_GetSlotList");
    return slots[0];
}

CK_OBJECT_HANDLE FindKey(CK_SESSION_HANDLE session, CK_OBJECT_CLASS objectClass)
{
    CK_KEY_TYPE keyType = CKK_DSTU4145;
    CK_ATTRIBUTE search[] = {{CKA_CLASS, &objectClass, sizeof objectClass},
                             {CKA_KEY_TYPE, &keyType, sizeof keyType},
                             {CKA_LABEL, const_cast<char*>(kKeyLabel), sizeof kKeyLabel - 1}};
    Check(p11->C_FindObjectsInit(session, search, 3), "C_FindObjectsInit");
    CK_OBJECT_HANDLE found = CK_INVALID_HANDLE;
    CK_ULONG count = 0;
    Check(p11->C_FindObjects(session, &found, 1, &count), "C_FindObjects");
    Check(p11->C_FindObjectsFinal(session), "C_FindObjectsFinal");
    return count == 1 ? found : CK_INVALID_HANDLE;
}

void GenerateKeyPair(CK_SESSION_HANDLE session)
{
    const tru::Buffer& params = qel::UA_SGN_PARAMSET_6_OID_DKE1_VALUE;
    CK_BBOOL yes = CK_TRUE;
    CK_ATTRIBUTE publicTemplate[] = {
        {CKA_EC_PARAMS, const_cast<uint8_t*>(params.Data()), params.Size()},
        {CKA_TOKEN, &yes, sizeof yes},
        {CKA_LABEL, const_cast<char*>(kKeyLabel), sizeof kKeyLabel - 1}};
    CK_ATTRIBUTE privateTemplate[] = {{CKA_TOKEN, &yes, sizeof yes},
                                      {CKA_PRIVATE, &yes, sizeof yes},
                                      {CKA_LABEL, const_cast<char*>(kKeyLabel), sizeof kKeyLabel - 1}};
    CK_MECHANISM generation = {CKM_DSTU4145_KEY_PAIR_GEN, nullptr, 0};
    CK_OBJECT_HANDLE publicKey = 0, privateKey = 0;
    Check(p11->C_GenerateKeyPair(session, &generation, publicTemplate, 3, privateTemplate, 3, &publicKey, &privateKey),
          "C_GenerateKeyPair");
}

std::string Hex(const std::vector<CK_BYTE>& bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (CK_BYTE b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string document = argc > 1 ? argv[1] : "Text to sign";
    const char* module = argc > 2 ? argv[2] : ZR_MODULE_PATH;
    void* library = dlopen(module, RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        std::fprintf(stderr, "main_road: %s\n", dlerror());
        return 1;
    }
    auto getList = reinterpret_cast<CK_C_GetFunctionList>(dlsym(library, "C_GetFunctionList"));
    if (!getList) {
        std::fprintf(stderr, "main_road: no C_GetFunctionList in %s\n", module);
        return 1;
    }
    Check(getList(&p11), "C_GetFunctionList");
    CK_C_INITIALIZE_ARGS args = {};
    args.flags = CKF_OS_LOCKING_OK;

    // Set-up, not measured: make sure the key pair exists.
    Check(p11->C_Initialize(&args), "C_Initialize");
    CK_SLOT_ID slot = FirstSlotWithToken();
    CK_SESSION_HANDLE session = 0;
    Check(p11->C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session), "C_OpenSession");
    Check(p11->C_Login(session, CKU_USER, reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(kUserPin)),
                       sizeof kUserPin - 1),
          "C_Login");
    if (FindKey(session, CKO_PRIVATE_KEY) == CK_INVALID_HANDLE) {
        ApduMeter generation;
        GenerateKeyPair(session);
        generation.Report("C_GenerateKeyPair (set-up: the pair is made)");
    }
    Check(p11->C_Finalize(nullptr), "C_Finalize");

    // The road itself, each call counted.
    ApduMeter meter;
    if (meter) std::printf("APDUs per Cryptoki call of the main road (DSTU 4145, m = 257):\n");
    Check(p11->C_Initialize(&args), "C_Initialize");
    slot = FirstSlotWithToken();
    meter.Report("C_Initialize + C_GetSlotList");
    Check(p11->C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session), "C_OpenSession");
    meter.Report("C_OpenSession");
    Check(p11->C_Login(session, CKU_USER, reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(kUserPin)),
                       sizeof kUserPin - 1),
          "C_Login");
    meter.Report("C_Login (user)");
    const CK_OBJECT_HANDLE privateKey = FindKey(session, CKO_PRIVATE_KEY);
    meter.Report("C_FindObjects* (private key, first)");
    if (privateKey == CK_INVALID_HANDLE) {
        std::fprintf(stderr, "main_road: the key pair was not found\n");
        return 1;
    }
    const CK_OBJECT_HANDLE publicKey = FindKey(session, CKO_PUBLIC_KEY);
    meter.Report("C_FindObjects* (public key, nothing changed)");

    CK_MECHANISM signing = {CKM_GOST34311_DSTU4145, nullptr, 0};
    Check(p11->C_SignInit(session, &signing, privateKey), "C_SignInit");
    meter.Report("C_SignInit (CKM_GOST34311_DSTU4145)");
    auto* data = reinterpret_cast<CK_BYTE_PTR>(const_cast<char*>(document.data()));
    CK_ULONG signatureLength = 0;
    Check(p11->C_Sign(session, data, document.size(), nullptr, &signatureLength), "C_Sign (length)");
    meter.Report("C_Sign (length query)");
    std::vector<CK_BYTE> signature(signatureLength);
    Check(p11->C_Sign(session, data, document.size(), signature.data(), &signatureLength), "C_Sign");
    signature.resize(signatureLength);
    meter.Report("C_Sign");

    Check(p11->C_VerifyInit(session, &signing, publicKey), "C_VerifyInit");
    const CK_RV verified = p11->C_Verify(session, data, document.size(), signature.data(), signature.size());
    meter.Report("C_VerifyInit + C_Verify");
    p11->C_Logout(session);
    p11->C_CloseSession(session);
    Check(p11->C_Finalize(nullptr), "C_Finalize");

    std::printf("\ndocument:  \"%s\"\nsignature: %s (%zu bytes)\nverified:  %s\n", document.c_str(),
                Hex(signature).c_str(), signature.size(), verified == CKR_OK ? "yes" : "NO");
    dlclose(library);
    return verified == CKR_OK ? 0 : 1;
}
