#include "library_session.h"

#include <cstring>
#include <string>

namespace inproc {

namespace {

CK_RV Login(CK_FUNCTION_LIST_PTR p11, CK_SESSION_HANDLE session) {
    return p11->C_Login(session, CKU_USER, reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(kUserPin)),
                        std::strlen(kUserPin));
}

CK_RV Initialize(CK_FUNCTION_LIST_PTR p11, const char* configuration) {
    CK_C_INITIALIZE_ARGS args{};
    args.flags = CKF_OS_LOCKING_OK;
    args.pReserved = const_cast<char*>(configuration);
    return p11->C_Initialize(&args);
}

void Seed() {
    CK_FUNCTION_LIST_PTR p11 = Functions();
    if (Initialize(p11, nullptr) != CKR_OK) return;
    CK_SESSION_HANDLE session = 0;
    if (p11->C_OpenSession(0, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session) == CKR_OK &&
        Login(p11, session) == CKR_OK) {
        CK_OBJECT_CLASS dataClass = CKO_DATA;
        CK_BBOOL yes = CK_TRUE;
        char label[] = "seeded data";
        char application[] = "fuzz";
        uint8_t value[40] = {1, 2, 3, 4, 5};
        CK_ATTRIBUTE data[] = {{CKA_CLASS, &dataClass, sizeof dataClass},
                               {CKA_TOKEN, &yes, sizeof yes},
                               {CKA_LABEL, label, sizeof label - 1},
                               {CKA_APPLICATION, application, sizeof application - 1},
                               {CKA_VALUE, value, sizeof value}};
        CK_OBJECT_HANDLE object = 0;
        p11->C_CreateObject(session, data, 5, &object);

        CK_OBJECT_CLASS secretClass = CKO_SECRET_KEY;
        CK_KEY_TYPE gost = CKK_GOST28147_NAT;
        uint8_t key[32];
        for (size_t i = 0; i < sizeof key; ++i) key[i] = static_cast<uint8_t>(i);
        char keyLabel[] = "seeded gost";
        CK_ATTRIBUTE secret[] = {{CKA_CLASS, &secretClass, sizeof secretClass},
                                 {CKA_KEY_TYPE, &gost, sizeof gost},
                                 {CKA_TOKEN, &yes, sizeof yes},
                                 {CKA_LABEL, keyLabel, sizeof keyLabel - 1},
                                 {CKA_ENCRYPT, &yes, sizeof yes},
                                 {CKA_DECRYPT, &yes, sizeof yes},
                                 {CKA_VALUE, key, sizeof key}};
        p11->C_CreateObject(session, secret, 7, &object);

        char pairLabel[] = "seeded dstu";
        CK_ATTRIBUTE publicTemplate[] = {{CKA_LABEL, pairLabel, sizeof pairLabel - 1},
                                         {CKA_TOKEN, &yes, sizeof yes},
                                         {CKA_VERIFY, &yes, sizeof yes}};
        CK_ATTRIBUTE privateTemplate[] = {{CKA_LABEL, pairLabel, sizeof pairLabel - 1},
                                          {CKA_TOKEN, &yes, sizeof yes},
                                          {CKA_SIGN, &yes, sizeof yes}};
        CK_MECHANISM generate{CKM_DSTU4145_KEY_PAIR_GEN, nullptr, 0};
        CK_OBJECT_HANDLE publicKey = 0, privateKey = 0;
        p11->C_GenerateKeyPair(session, &generate, publicTemplate, 3, privateTemplate, 3, &publicKey, &privateKey);
    }
    p11->C_Finalize(nullptr);
}

}  // namespace

CK_FUNCTION_LIST_PTR Functions() {
    static CK_FUNCTION_LIST_PTR list = [] {
        CK_FUNCTION_LIST_PTR found = nullptr;
        C_GetFunctionList(&found);
        return found;
    }();
    return list;
}

tokensim::TokenOptions InitialisedTokenOptions() {
    tokensim::TokenOptions options;
    options.soPin = kSoPin;
    options.userPin = kUserPin;
    // No daemon here: an "insert" or "swap" control line must fail at once, not wait for vpcd.
    options.vpcdPort = 0;
    options.connectTimeoutMs = 0;
    return options;
}

const tokensim::TokenState& SeededToken() {
    static const tokensim::TokenState seeded = [] {
        Pcsc::Instance().Reset();
        tokensim::Simulator& simulator = Pcsc::Instance().AddReader(kReaderName, InitialisedTokenOptions());
        Seed();
        tokensim::TokenState state = simulator.State();
        Pcsc::Instance().Reset();
        return state;
    }();
    return seeded;
}

tokensim::Simulator& InstallToken(const tokensim::TokenState& state) {
    Pcsc::Instance().Reset();
    tokensim::Simulator& simulator = Pcsc::Instance().AddReader(kReaderName, InitialisedTokenOptions());
    simulator.State() = state;
    return simulator;
}

std::vector<CK_OBJECT_HANDLE> FindAll(CK_SESSION_HANDLE session) {
    CK_FUNCTION_LIST_PTR p11 = Functions();
    std::vector<CK_OBJECT_HANDLE> found(64);
    CK_ULONG count = 0;
    if (p11->C_FindObjectsInit(session, nullptr, 0) != CKR_OK) return {};
    if (p11->C_FindObjects(session, found.data(), found.size(), &count) != CKR_OK) count = 0;
    p11->C_FindObjectsFinal(session);
    found.resize(std::min<CK_ULONG>(count, found.size()));
    return found;
}

void RunApplicationRoad(const char* configuration) {
    CK_FUNCTION_LIST_PTR p11 = Functions();
    if (Initialize(p11, configuration) != CKR_OK) return;
    CK_SLOT_ID slots[8];
    CK_ULONG slotCount = 8;
    if (p11->C_GetSlotList(CK_FALSE, slots, &slotCount) != CKR_OK) slotCount = 0;
    for (CK_ULONG i = 0; i < std::min<CK_ULONG>(slotCount, 8); ++i) {
        CK_SLOT_INFO slotInfo;
        CK_TOKEN_INFO tokenInfo;
        p11->C_GetSlotInfo(slots[i], &slotInfo);
        p11->C_GetTokenInfo(slots[i], &tokenInfo);
        CK_MECHANISM_TYPE mechanisms[64];
        CK_ULONG mechanismCount = 64;
        if (p11->C_GetMechanismList(slots[i], mechanisms, &mechanismCount) != CKR_OK) mechanismCount = 0;
        for (CK_ULONG m = 0; m < std::min<CK_ULONG>(mechanismCount, 64); ++m) {
            CK_MECHANISM_INFO info;
            p11->C_GetMechanismInfo(slots[i], mechanisms[m], &info);
        }
    }

    CK_SESSION_HANDLE session = 0;
    if (p11->C_OpenSession(0, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session) == CKR_OK) {
        Login(p11, session);
        for (CK_OBJECT_HANDLE object : FindAll(session)) {
            const CK_ATTRIBUTE_TYPE types[] = {CKA_CLASS,     CKA_KEY_TYPE, CKA_LABEL,    CKA_ID,
                                               CKA_VALUE,     CKA_TOKEN,    CKA_PRIVATE,  CKA_APPLICATION,
                                               CKA_EC_PARAMS, CKA_EC_POINT, CKA_MODULUS,  CKA_PUBLIC_EXPONENT,
                                               CKA_SENSITIVE, CKA_SIGN,     CKA_VALUE_LEN, CKA_GOST_SBOXES,
                                               CKA_START_DATE, CKA_SUBJECT, CKA_TRUSTED,  CKA_MODIFIABLE};
            for (CK_ATTRIBUTE_TYPE type : types) {
                CK_ATTRIBUTE attribute{type, nullptr, 0};
                if (p11->C_GetAttributeValue(session, object, &attribute, 1) != CKR_OK) continue;
                if (attribute.ulValueLen > 4096) continue;
                std::vector<uint8_t> value(attribute.ulValueLen);
                attribute.pValue = value.data();
                p11->C_GetAttributeValue(session, object, &attribute, 1);
            }
            CK_OBJECT_CLASS objectClass = 0;
            CK_ATTRIBUTE classAttribute{CKA_CLASS, &objectClass, sizeof objectClass};
            if (p11->C_GetAttributeValue(session, object, &classAttribute, 1) != CKR_OK) continue;
            uint8_t data[32] = {7};
            uint8_t out[512];
            CK_ULONG outLength = sizeof out;
            if (objectClass == CKO_PRIVATE_KEY) {
                CK_MECHANISM sign{CKM_DSTU4145, nullptr, 0};
                if (p11->C_SignInit(session, &sign, object) == CKR_OK) {
                    p11->C_Sign(session, data, sizeof data, out, &outLength);
                }
            } else if (objectClass == CKO_SECRET_KEY) {
                CK_MECHANISM encrypt{CKM_GOST28147_ECB_NAT, nullptr, 0};
                if (p11->C_EncryptInit(session, &encrypt, object) == CKR_OK) {
                    p11->C_Encrypt(session, data, sizeof data, out, &outLength);
                }
            }
        }
        CK_MECHANISM digest{CKM_GOST34311, nullptr, 0};
        uint8_t digestOut[64];
        CK_ULONG digestLength = sizeof digestOut;
        if (p11->C_DigestInit(session, &digest) == CKR_OK) {
            p11->C_Digest(session, reinterpret_cast<CK_BYTE_PTR>(const_cast<char*>("abc")), 3, digestOut,
                          &digestLength);
        }
        CK_OBJECT_CLASS dataClass = CKO_DATA;
        char label[] = "road";
        CK_ATTRIBUTE data[] = {{CKA_CLASS, &dataClass, sizeof dataClass}, {CKA_LABEL, label, sizeof label - 1}};
        CK_OBJECT_HANDLE created = 0;
        if (p11->C_CreateObject(session, data, 2, &created) == CKR_OK) p11->C_DestroyObject(session, created);
        p11->C_Logout(session);
        p11->C_CloseSession(session);
    }
    p11->C_Finalize(nullptr);
}

}  // namespace inproc
