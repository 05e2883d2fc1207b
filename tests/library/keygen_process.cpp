// Generates a key pair (DSTU 4145, EC or 1024-bit RSA) as token objects on the first token in a
// process of its own, as a second application would:
// keygen_process MODULE USER_PIN MECHANISM LABEL EC_PARAMS_HEX [replace|relabel], MECHANISM a
// number (0x... for hex). With "replace", every object labelled LABEL is destroyed first; with
// "relabel", every object labelled LABEL is given that label again and nothing is made. MECHANISM
// CK_UNAVAILABLE_INFORMATION makes no key pair but, with EC_PARAMS_HEX not empty, a data object
// of that value; CKM_GOST28147_KEY_GEN_NAT makes a GOST 28147-89 token key that wraps.
// keygen_process MODULE USER_PIN count LABEL N [ID_HEX] looks instead: it ends with 0 when exactly N
// objects are labelled LABEL (with that CKA_ID when given).
// Exit status 0 when all was done; otherwise the failing call and its code on stderr.
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "helper_process.h"

namespace {

using helperprocess::Check;
using helperprocess::FromHex;

// Runs act on every object labelled `label`.
bool ForLabelled(CK_FUNCTION_LIST_PTR p11, CK_SESSION_HANDLE session, std::string& label,
                 const std::function<bool(CK_OBJECT_HANDLE, CK_ATTRIBUTE&)>& act)
{
    CK_ATTRIBUTE search[] = {{CKA_LABEL, &label[0], label.size()}};
    if (!Check("C_FindObjectsInit", p11->C_FindObjectsInit(session, search, 1))) return false;
    CK_OBJECT_HANDLE found[16];
    CK_ULONG count = 0;
    const bool listed = Check("C_FindObjects", p11->C_FindObjects(session, found, 16, &count));
    if (!Check("C_FindObjectsFinal", p11->C_FindObjectsFinal(session)) || !listed) return false;
    for (CK_ULONG i = 0; i < count; ++i) {
        if (!act(found[i], search[0])) return false;
    }
    return true;
}

bool DestroyLabelled(CK_FUNCTION_LIST_PTR p11, CK_SESSION_HANDLE session, std::string& label)
{
    return ForLabelled(p11, session, label, [&](CK_OBJECT_HANDLE object, CK_ATTRIBUTE&) {
        return Check("C_DestroyObject", p11->C_DestroyObject(session, object));
    });
}

bool RelabelLabelled(CK_FUNCTION_LIST_PTR p11, CK_SESSION_HANDLE session, std::string& label)
{
    return ForLabelled(p11, session, label, [&](CK_OBJECT_HANDLE object, CK_ATTRIBUTE& labelled) {
        return Check("C_SetAttributeValue", p11->C_SetAttributeValue(session, object, &labelled, 1));
    });
}

bool MakeWrappingKey(CK_FUNCTION_LIST_PTR p11, CK_SESSION_HANDLE session, std::string& label)
{
    CK_BBOOL yes = CK_TRUE;
    CK_ATTRIBUTE key[] = {{CKA_TOKEN, &yes, sizeof yes},
                          {CKA_LABEL, &label[0], label.size()},
                          {CKA_WRAP, &yes, sizeof yes},
                          {CKA_UNWRAP, &yes, sizeof yes}};
    CK_MECHANISM mechanism{CKM_GOST28147_KEY_GEN_NAT, nullptr, 0};
    CK_OBJECT_HANDLE made = 0;
    return Check("C_GenerateKey", p11->C_GenerateKey(session, &mechanism, key, 4, &made));
}

bool MakeData(CK_FUNCTION_LIST_PTR p11, CK_SESSION_HANDLE session, std::string& label, std::vector<CK_BYTE>& value)
{
    CK_OBJECT_CLASS dataClass = CKO_DATA;
    CK_BBOOL yes = CK_TRUE;
    CK_ATTRIBUTE data[] = {{CKA_CLASS, &dataClass, sizeof dataClass},
                           {CKA_TOKEN, &yes, sizeof yes},
                           {CKA_LABEL, &label[0], label.size()},
                           {CKA_VALUE, value.data(), value.size()}};
    CK_OBJECT_HANDLE made = 0;
    return Check("C_CreateObject", p11->C_CreateObject(session, data, 4, &made));
}

CK_SESSION_HANDLE OpenUserSession(CK_FUNCTION_LIST_PTR p11, std::string pin)
{
    CK_SLOT_ID slots[4];
    CK_ULONG count = 4;
    if (!Check("C_GetSlotList", p11->C_GetSlotList(CK_TRUE, slots, &count))) return 0;
    if (count == 0) {
        Check("no token", CKR_TOKEN_NOT_PRESENT);
        return 0;
    }
    CK_SESSION_HANDLE session = 0;
    if (!Check("C_OpenSession",
               p11->C_OpenSession(slots[0], CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session))) {
        return 0;
    }
    if (!Check("C_Login", p11->C_Login(session, CKU_USER, reinterpret_cast<CK_UTF8CHAR_PTR>(&pin[0]), pin.size()))) {
        return 0;
    }
    return session;
}

bool CountLabelled(CK_FUNCTION_LIST_PTR p11, std::string pin, std::string label, unsigned long wanted,
                   std::vector<CK_BYTE> id, bool withId)
{
    const CK_SESSION_HANDLE session = OpenUserSession(p11, pin);
    if (session == 0) return false;
    CK_ATTRIBUTE search[] = {{CKA_LABEL, &label[0], label.size()}, {CKA_ID, id.data(), id.size()}};
    if (!Check("C_FindObjectsInit", p11->C_FindObjectsInit(session, search, withId ? 2 : 1))) return false;
    CK_OBJECT_HANDLE found[16];
    CK_ULONG count = 0;
    const bool listed = Check("C_FindObjects", p11->C_FindObjects(session, found, 16, &count));
    if (!Check("C_FindObjectsFinal", p11->C_FindObjectsFinal(session)) || !listed) return false;
    if (count != wanted) std::fprintf(stderr, "%lu objects labelled %s\n", count, label.c_str());
    return count == wanted && Check("C_CloseSession", p11->C_CloseSession(session));
}

bool Generate(CK_FUNCTION_LIST_PTR p11, std::string pin, CK_MECHANISM_TYPE type, std::string label,
              std::vector<CK_BYTE> params, const std::string& change)
{
    const CK_SESSION_HANDLE session = OpenUserSession(p11, pin);
    if (session == 0) return false;
    if (change == "relabel") {
        return RelabelLabelled(p11, session, label) && Check("C_CloseSession", p11->C_CloseSession(session));
    }
    if (change == "replace" && !DestroyLabelled(p11, session, label)) return false;
    if (type == CKM_GOST28147_KEY_GEN_NAT) {
        return MakeWrappingKey(p11, session, label) && Check("C_CloseSession", p11->C_CloseSession(session));
    }
    if (type == CK_UNAVAILABLE_INFORMATION) {
        return (params.empty() || MakeData(p11, session, label, params)) &&
               Check("C_CloseSession", p11->C_CloseSession(session));
    }
    CK_BBOOL yes = CK_TRUE;
    CK_ULONG bits = 1024;
    CK_ATTRIBUTE rsaTemplate[] = {{CKA_MODULUS_BITS, &bits, sizeof bits},
                                  {CKA_LABEL, &label[0], label.size()},
                                  {CKA_TOKEN, &yes, sizeof yes}};
    CK_ATTRIBUTE publicTemplate[] = {{CKA_EC_PARAMS, params.data(), params.size()},
                                     {CKA_LABEL, &label[0], label.size()},
                                     {CKA_TOKEN, &yes, sizeof yes}};
    CK_ATTRIBUTE privateTemplate[] = {{CKA_LABEL, &label[0], label.size()}, {CKA_TOKEN, &yes, sizeof yes}};
    CK_MECHANISM mechanism{type, nullptr, 0};
    CK_OBJECT_HANDLE publicKey = 0, privateKey = 0;
    return Check("C_GenerateKeyPair", p11->C_GenerateKeyPair(session, &mechanism,
                                                             type == CKM_RSA_PKCS_KEY_PAIR_GEN ? rsaTemplate
                                                                                               : publicTemplate,
                                                             3, privateTemplate, 2,
                                                             &publicKey, &privateKey)) &&
           Check("C_CloseSession", p11->C_CloseSession(session));
}

} // namespace

int main(int argc, char** argv)
{
    const bool count = argc >= 6 && std::strcmp(argv[3], "count") == 0;
    const std::string change = argc == 7 ? argv[6] : "";
    if (!count && argc != 6 && change != "replace" && change != "relabel") {
        std::fprintf(stderr, "usage: %s MODULE USER_PIN MECHANISM LABEL EC_PARAMS_HEX [replace|relabel]\n", argv[0]);
        return 2;
    }
    CK_FUNCTION_LIST_PTR p11 = helperprocess::LoadModule(argv[1]);
    if (p11 == nullptr) return 1;
    const bool made = count ? CountLabelled(p11, argv[2], argv[4], std::stoul(argv[5]),
                                            argc > 6 ? FromHex(argv[6]) : std::vector<CK_BYTE>(), argc > 6)
                            : Generate(p11, argv[2], std::stoul(argv[3], nullptr, 0), argv[4], FromHex(argv[5]),
                                       change);
    const bool finished = Check("C_Finalize", p11->C_Finalize(nullptr));
    return made && finished ? 0 : 1;
}
