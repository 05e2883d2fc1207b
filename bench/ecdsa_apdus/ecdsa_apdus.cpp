// APDUs that ECDSA on the token costs, through the exported Cryptoki functions only: per curve,
// C_GenerateKeyPair (with the answers the token refused), then for CKM_ECDSA and each ECDSA-with-SHA mechanism C_SignInit and C_Sign
// with the key found by label, and C_Verify.
//
//   ecdsa_apdus [module]
//
// Needs the rig (TOKENSIM_CONTROL names the simulator's control socket).
#include "control_client.h"
#include "ckbase/zr_pkcs11.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr char kUserPin[] = "12345678";
CK_FUNCTION_LIST_PTR p11 = nullptr;

void Check(CK_RV rv, const char* call)
{
    if (rv == CKR_OK) return;
    std::fprintf(stderr, "ecdsa_apdus: %s failed: 0x%08lX\n", call, static_cast<unsigned long>(rv));
    std::exit(1);
}

uint64_t Total(const tokensim::rig::ControlClient& control)
{
    uint64_t total = 0;
    for (const auto& entry : control.Counters()) {
        if (entry.first == "total") total = entry.second;
    }
    return total;
}

struct Mechanism {
    const char* name;
    CK_MECHANISM_TYPE type;
};

const Mechanism kMechanisms[] = {
    {"ECDSA", CKM_ECDSA},
    {"ECDSA-SHA1", CKM_ECDSA_SHA1},
    {"ECDSA-SHA224", CKM_ECDSA_SHA224},
    {"ECDSA-SHA256", CKM_ECDSA_SHA256},
    {"ECDSA-SHA384", CKM_ECDSA_SHA384},
    {"ECDSA-SHA512", CKM_ECDSA_SHA512},
};

struct Curve {
    const char* name;
    std::vector<CK_BYTE> oid;
};

} // namespace

int main(int argc, char** argv)
{
    const char* socket = std::getenv("TOKENSIM_CONTROL");
    if (socket == nullptr) {
        std::fprintf(stderr, "ecdsa_apdus: run inside the rig (TOKENSIM_CONTROL is not set)\n");
        return 1;
    }
    tokensim::rig::ControlClient control(socket);
    const char* module = argc > 1 ? argv[1] : ZR_MODULE_PATH;
    void* library = dlopen(module, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        std::fprintf(stderr, "ecdsa_apdus: %s\n", dlerror());
        return 1;
    }
    auto getList = reinterpret_cast<CK_C_GetFunctionList>(dlsym(library, "C_GetFunctionList"));
    Check(getList(&p11), "C_GetFunctionList");
    CK_C_INITIALIZE_ARGS args = {};
    args.flags = CKF_OS_LOCKING_OK;
    Check(p11->C_Initialize(&args), "C_Initialize");
    CK_SLOT_ID slot = 0;
    CK_ULONG count = 1;
    Check(p11->C_GetSlotList(CK_TRUE, &slot, &count), "C_GetSlotList");
    CK_SESSION_HANDLE session = 0;
    Check(p11->C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session), "C_OpenSession");
    Check(p11->C_Login(session, CKU_USER, reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(kUserPin)),
                       sizeof kUserPin - 1),
          "C_Login");

    const Curve curves[] = {
        {"P-192", {0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x01}},
        {"P-256", {0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07}},
        {"P-521", {0x06, 0x05, 0x2B, 0x81, 0x04, 0x00, 0x23}},
    };
    std::printf("%-6s %10s %7s %-13s %9s %5s %7s\n", "curve", "KeyPairGen", "refused", "mechanism", "SignInit", "Sign",
                "Verify");
    for (const Curve& curve : curves) {
        const std::string label = std::string("apdus ") + curve.name;
        CK_BBOOL yes = CK_TRUE;
        CK_ATTRIBUTE publicTemplate[] = {
            {CKA_EC_PARAMS, const_cast<CK_BYTE*>(curve.oid.data()), curve.oid.size()},
            {CKA_LABEL, const_cast<char*>(label.data()), label.size()}};
        CK_ATTRIBUTE privateTemplate[] = {{CKA_SIGN, &yes, sizeof yes},
                                          {CKA_LABEL, const_cast<char*>(label.data()), label.size()}};
        CK_MECHANISM generation = {CKM_EC_KEY_PAIR_GEN, nullptr, 0};
        CK_OBJECT_HANDLE publicKey = 0;
        CK_OBJECT_HANDLE privateKey = 0;
        control.ResetCounters();
        Check(p11->C_GenerateKeyPair(session, &generation, publicTemplate, 2, privateTemplate, 2, &publicKey,
                                     &privateKey),
              "C_GenerateKeyPair");
        const uint64_t generated = Total(control);
        const uint64_t refused = control.Refusals()["total"];

        CK_OBJECT_CLASS privateClass = CKO_PRIVATE_KEY;
        CK_ATTRIBUTE search[] = {{CKA_CLASS, &privateClass, sizeof privateClass},
                                 {CKA_LABEL, const_cast<char*>(label.data()), label.size()}};
        CK_OBJECT_HANDLE found = 0;
        Check(p11->C_FindObjectsInit(session, search, 2), "C_FindObjectsInit");
        Check(p11->C_FindObjects(session, &found, 1, &count), "C_FindObjects");
        Check(p11->C_FindObjectsFinal(session), "C_FindObjectsFinal");

        std::vector<CK_BYTE> data(32, 0x5A);
        for (const Mechanism& mechanism : kMechanisms) {
            CK_MECHANISM ecdsa = {mechanism.type, nullptr, 0};
            control.ResetCounters();
            Check(p11->C_SignInit(session, &ecdsa, found), "C_SignInit");
            const uint64_t signInit = Total(control);
            std::vector<CK_BYTE> signature(132);
            CK_ULONG length = signature.size();
            control.ResetCounters();
            Check(p11->C_Sign(session, data.data(), data.size(), signature.data(), &length), "C_Sign");
            const uint64_t sign = Total(control);
            control.ResetCounters();
            Check(p11->C_VerifyInit(session, &ecdsa, publicKey), "C_VerifyInit");
            Check(p11->C_Verify(session, data.data(), data.size(), signature.data(), length), "C_Verify");
            const uint64_t verify = Total(control);
            std::printf("%-6s %10llu %7llu %-13s %9llu %5llu %7llu\n", curve.name,
                        static_cast<unsigned long long>(generated), static_cast<unsigned long long>(refused),
                        mechanism.name,
                        static_cast<unsigned long long>(signInit), static_cast<unsigned long long>(sign),
                        static_cast<unsigned long long>(verify));
        }
    }
    p11->C_Logout(session);
    p11->C_CloseSession(session);
    Check(p11->C_Finalize(nullptr), "C_Finalize");
    dlclose(library);
    return 0;
}
