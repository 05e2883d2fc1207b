// Caller templates and mechanism parameters through every C_ function that takes them, on a
// logged-in session of the seeded token: attribute types, lengths and values, mechanism types
// and parameters and key handles all come from the input.
#include <vector>

#include "support/library_session.h"

namespace {

const CK_ATTRIBUTE_TYPE kTypes[] = {
    CKA_CLASS,    CKA_KEY_TYPE,   CKA_TOKEN,     CKA_PRIVATE,       CKA_LABEL,      CKA_APPLICATION,
    CKA_VALUE,    CKA_ID,         CKA_OBJECT_ID, CKA_CERTIFICATE_TYPE, CKA_SUBJECT, CKA_ISSUER,
    CKA_SERIAL_NUMBER, CKA_TRUSTED, CKA_SENSITIVE, CKA_ENCRYPT,     CKA_DECRYPT,    CKA_WRAP,
    CKA_UNWRAP,   CKA_SIGN,       CKA_VERIFY,    CKA_DERIVE,        CKA_MODULUS,    CKA_MODULUS_BITS,
    CKA_PUBLIC_EXPONENT, CKA_PRIVATE_EXPONENT, CKA_PRIME_1, CKA_EC_PARAMS, CKA_EC_POINT, CKA_VALUE_LEN,
    CKA_EXTRACTABLE, CKA_MODIFIABLE, CKA_START_DATE, CKA_END_DATE, CKA_GOST_SBOXES, CKA_WRAP_WITH_TRUSTED,
    CKA_HW_FEATURE_TYPE, CKA_KEY_GEN_MECHANISM, CKA_ALWAYS_SENSITIVE, CKA_NEVER_EXTRACTABLE};

const CK_MECHANISM_TYPE kMechanisms[] = {
    CKM_DSTU4145,          CKM_GOST34311_DSTU4145, CKM_DSTU4145_KEY_PAIR_GEN, CKM_DSTUDH_DERIVE,
    CKM_DSTUDH_COFACTOR_DERIVE, CKM_GOST34311,   CKM_GOST28147_KEY_GEN_NAT, CKM_GOST28147_ECB_NAT,
    CKM_GOST28147_CNT,     CKM_GOST28147_CFB,      CKM_GOST28147_MAC_NAT,     CKM_GOST28147_WRAP,
    CKM_RSA_PKCS,          CKM_RSA_X_509,          CKM_RSA_PKCS_KEY_PAIR_GEN, CKM_SHA256_RSA_PKCS,
    CKM_ECDSA,             CKM_ECDSA_SHA256,       CKM_EC_KEY_PAIR_GEN,       CKM_SHA_1,
    CKM_SHA256,            CKM_DES3_CBC,           CKM_DES3_CBC_PAD,          CKM_PBE_SHA1_DES3_EDE_CBC,
    CKM_DES3_KEY_GEN};

// Owns the values a template points at.
struct Template {
    std::vector<CK_ATTRIBUTE> records;
    std::vector<std::vector<uint8_t>> values;
};

Template ReadTemplate(inproc::ByteStream& input) {
    Template out;
    const size_t count = input.Next() % 12;
    out.values.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t pick = input.Next();
        const CK_ATTRIBUTE_TYPE type = pick < 0xF0 ? kTypes[pick % (sizeof kTypes / sizeof kTypes[0])] : input.Next32();
        out.values.push_back(input.Take(input.Next()));
        std::vector<uint8_t>& value = out.values.back();
        // A length byte of 0xFF leaves a null value pointer with a length: a hostile caller.
        const bool nullValue = !value.empty() && value[0] == 0xFF && value.size() == 1;
        out.records.push_back({type, nullValue || value.empty() ? nullptr : value.data(),
                               static_cast<CK_ULONG>(nullValue ? 64 : value.size())});
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    inproc::ByteStream input(data, size);
    inproc::InstallToken(inproc::SeededToken());
    CK_FUNCTION_LIST_PTR p11 = inproc::Functions();
    CK_C_INITIALIZE_ARGS args{};
    args.flags = CKF_OS_LOCKING_OK;
    if (p11->C_Initialize(&args) != CKR_OK) return 0;
    CK_SESSION_HANDLE session = 0;
    if (p11->C_OpenSession(0, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session) == CKR_OK) {
        p11->C_Login(session, CKU_USER,
                     reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(inproc::kUserPin)), 8);
        std::vector<CK_OBJECT_HANDLE> objects = inproc::FindAll(session);
        uint8_t out[1024];
        for (int call = 0; call < 8 && !input.Empty(); ++call) {
            const uint8_t selector = input.Next();
            Template attributes = ReadTemplate(input);
            Template second = (selector % 16 == 6) ? ReadTemplate(input) : Template();
            const uint8_t pick = input.Next();
            CK_MECHANISM mechanism{pick < 0xF0 ? kMechanisms[pick % (sizeof kMechanisms / sizeof kMechanisms[0])]
                                                : input.Next32(),
                                   nullptr, 0};
            std::vector<uint8_t> parameter = input.Take(input.Next());
            mechanism.pParameter = parameter.empty() ? nullptr : parameter.data();
            mechanism.ulParameterLen = parameter.size();
            const CK_OBJECT_HANDLE key = objects.empty() ? input.Next32() : objects[input.Next() % objects.size()];
            std::vector<uint8_t> payload = input.Take(input.Next() * 4);
            CK_ULONG outLength = input.Next() & 1 ? sizeof out : input.Next();
            CK_OBJECT_HANDLE made = 0, madeToo = 0;
            CK_ATTRIBUTE* records = attributes.records.empty() ? nullptr : attributes.records.data();
            const CK_ULONG count = attributes.records.size();
            switch (selector % 16) {
                case 0:
                    if (p11->C_CreateObject(session, records, count, &made) == CKR_OK) objects.push_back(made);
                    break;
                case 1: p11->C_CopyObject(session, key, records, count, &made); break;
                case 2: p11->C_SetAttributeValue(session, key, records, count); break;
                case 3: p11->C_GetAttributeValue(session, key, records, count); break;
                case 4:
                    if (p11->C_FindObjectsInit(session, records, count) == CKR_OK) {
                        CK_OBJECT_HANDLE found[8];
                        CK_ULONG foundCount = 0;
                        p11->C_FindObjects(session, found, 8, &foundCount);
                        p11->C_FindObjectsFinal(session);
                    }
                    break;
                case 5: p11->C_GenerateKey(session, &mechanism, records, count, &made); break;
                case 6:
                    p11->C_GenerateKeyPair(session, &mechanism, records, count,
                                           second.records.empty() ? nullptr : second.records.data(),
                                           second.records.size(), &made, &madeToo);
                    break;
                case 7:
                    if (p11->C_EncryptInit(session, &mechanism, key) == CKR_OK) {
                        p11->C_Encrypt(session, payload.data(), payload.size(), out, &outLength);
                    }
                    break;
                case 8:
                    if (p11->C_DecryptInit(session, &mechanism, key) == CKR_OK) {
                        p11->C_Decrypt(session, payload.data(), payload.size(), out, &outLength);
                    }
                    break;
                case 9:
                    if (p11->C_SignInit(session, &mechanism, key) == CKR_OK) {
                        p11->C_Sign(session, payload.data(), payload.size(), out, &outLength);
                    }
                    break;
                case 10:
                    if (p11->C_VerifyInit(session, &mechanism, key) == CKR_OK) {
                        p11->C_Verify(session, payload.data(), payload.size(), out, outLength % sizeof out);
                    }
                    break;
                case 11:
                    if (p11->C_DigestInit(session, &mechanism) == CKR_OK) {
                        p11->C_DigestUpdate(session, payload.data(), payload.size());
                        p11->C_DigestFinal(session, out, &outLength);
                    }
                    break;
                case 12: p11->C_DeriveKey(session, &mechanism, key, records, count, &made); break;
                case 13: p11->C_WrapKey(session, &mechanism, key, objects.empty() ? 0 : objects.back(), out, &outLength);
                    break;
                case 14:
                    p11->C_UnwrapKey(session, &mechanism, key, payload.data(), payload.size(), records, count, &made);
                    break;
                default:
                    p11->C_SetOperationState(session, payload.data(), payload.size(), key, 0);
                    break;
            }
        }
        p11->C_CloseSession(session);
    }
    p11->C_Finalize(nullptr);
    return 0;
}
