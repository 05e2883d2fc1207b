// A second application changing objects on the first token, one step after another, each in a
// session of its own (user login, or the security officer's for initpin):
// object_writer MODULE USER_PIN SO_PIN STEP...
//   data:LABEL:VALUE            a public token data object
//   private:LABEL:VALUE         a private token data object
//   cert:LABEL:VALUE            a public X.509 certificate (subject "subject")
//   keypair:MECHANISM:LABEL:HEX a token key pair (DSTU 4145 / EC with CKA_EC_PARAMS HEX, or
//                               1024-bit RSA), both halves labelled LABEL, CKA_ID 01
//   destroy:LABEL               every object labelled LABEL
//   destroyprivate:LABEL        the private keys labelled LABEL
//   label:LABEL:NEW             CKA_LABEL of every object labelled LABEL (NEW may equal LABEL)
//   value:LABEL:VALUE           CKA_VALUE of every object labelled LABEL
//   set:LABEL:TYPE:HEX          attribute TYPE (a number) of every object labelled LABEL
//   initpin                     C_InitPIN with USER_PIN
// MECHANISM is a number (0x... for hex). Exit status 0 when every step was done; otherwise the
// failing call and its code on stderr.
#include "helper_process.h"

namespace {

using helperprocess::Check;
using helperprocess::FromHex;

CK_FUNCTION_LIST_PTR p11 = nullptr;

std::vector<std::string> Split(const std::string& step)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t colon; (colon = step.find(':', start)) != std::string::npos; start = colon + 1) {
        parts.push_back(step.substr(start, colon - start));
    }
    parts.push_back(step.substr(start));
    return parts;
}

std::vector<CK_OBJECT_HANDLE> Labelled(CK_SESSION_HANDLE session, std::string label, CK_OBJECT_CLASS* only)
{
    CK_ATTRIBUTE search[] = {{CKA_LABEL, &label[0], label.size()}, {CKA_CLASS, only, sizeof(CK_OBJECT_CLASS)}};
    std::vector<CK_OBJECT_HANDLE> found(32);
    CK_ULONG count = 0;
    if (!Check("C_FindObjectsInit", p11->C_FindObjectsInit(session, search, only != nullptr ? 2 : 1)) ||
        !Check("C_FindObjects", p11->C_FindObjects(session, found.data(), found.size(), &count)) ||
        !Check("C_FindObjectsFinal", p11->C_FindObjectsFinal(session))) {
        return {};
    }
    found.resize(count);
    if (found.empty()) std::fprintf(stderr, "nothing labelled %s\n", label.c_str());
    return found;
}

bool Create(CK_SESSION_HANDLE session, CK_OBJECT_CLASS objectClass, bool isPrivate, std::string label,
            std::string value)
{
    CK_BBOOL yes = CK_TRUE;
    CK_BBOOL priv = isPrivate ? CK_TRUE : CK_FALSE;
    CK_CERTIFICATE_TYPE x509 = CKC_X_509;
    char subject[] = "subject";
    std::vector<CK_ATTRIBUTE> attributes = {{CKA_CLASS, &objectClass, sizeof objectClass},
                                            {CKA_TOKEN, &yes, sizeof yes},
                                            {CKA_PRIVATE, &priv, sizeof priv},
                                            {CKA_LABEL, &label[0], label.size()},
                                            {CKA_VALUE, &value[0], value.size()}};
    if (objectClass == CKO_CERTIFICATE) {
        attributes.push_back({CKA_CERTIFICATE_TYPE, &x509, sizeof x509});
        attributes.push_back({CKA_SUBJECT, subject, sizeof subject - 1});
    }
    CK_OBJECT_HANDLE made = 0;
    return Check("C_CreateObject", p11->C_CreateObject(session, attributes.data(), attributes.size(), &made));
}

bool KeyPair(CK_SESSION_HANDLE session, CK_MECHANISM_TYPE type, std::string label, std::vector<CK_BYTE> params)
{
    CK_BBOOL yes = CK_TRUE;
    CK_ULONG bits = 1024;
    CK_BYTE id = 1;
    CK_ATTRIBUTE publicTemplate[] = {type == CKM_RSA_PKCS_KEY_PAIR_GEN
                                         ? CK_ATTRIBUTE{CKA_MODULUS_BITS, &bits, sizeof bits}
                                         : CK_ATTRIBUTE{CKA_EC_PARAMS, params.data(), params.size()},
                                     {CKA_LABEL, &label[0], label.size()},
                                     {CKA_TOKEN, &yes, sizeof yes},
                                     {CKA_ID, &id, 1}};
    CK_ATTRIBUTE privateTemplate[] = {
        {CKA_LABEL, &label[0], label.size()}, {CKA_TOKEN, &yes, sizeof yes}, {CKA_ID, &id, 1}};
    CK_MECHANISM mechanism{type, nullptr, 0};
    CK_OBJECT_HANDLE publicKey = 0, privateKey = 0;
    return Check("C_GenerateKeyPair", p11->C_GenerateKeyPair(session, &mechanism, publicTemplate, 4, privateTemplate,
                                                             3, &publicKey, &privateKey));
}

bool Set(CK_SESSION_HANDLE session, const std::string& label, CK_ATTRIBUTE_TYPE type, std::string value)
{
    for (CK_OBJECT_HANDLE object : Labelled(session, label, nullptr)) {
        CK_ATTRIBUTE change{type, &value[0], value.size()};
        if (!Check("C_SetAttributeValue", p11->C_SetAttributeValue(session, object, &change, 1))) return false;
    }
    return true;
}

bool Destroy(CK_SESSION_HANDLE session, const std::string& label, CK_OBJECT_CLASS* only)
{
    const std::vector<CK_OBJECT_HANDLE> found = Labelled(session, label, only);
    for (CK_OBJECT_HANDLE object : found) {
        if (!Check("C_DestroyObject", p11->C_DestroyObject(session, object))) return false;
    }
    return !found.empty();
}

bool Step(CK_SLOT_ID slot, const std::string& userPin, const std::string& soPin, const std::string& text)
{
    const std::vector<std::string> step = Split(text);
    const std::string& what = step[0];
    const bool so = what == "initpin";
    CK_SESSION_HANDLE session = 0;
    if (!Check("C_OpenSession",
               p11->C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session))) {
        return false;
    }
    std::string pin = so ? soPin : userPin;
    if (!Check("C_Login", p11->C_Login(session, so ? CKU_SO : CKU_USER, reinterpret_cast<CK_UTF8CHAR_PTR>(&pin[0]),
                                       pin.size()))) {
        return false;
    }
    CK_OBJECT_CLASS privateKey = CKO_PRIVATE_KEY;
    bool done = false;
    if (so) {
        std::string user = userPin;
        done = Check("C_InitPIN", p11->C_InitPIN(session, reinterpret_cast<CK_UTF8CHAR_PTR>(&user[0]), user.size()));
    } else if ((what == "data" || what == "private" || what == "cert") && step.size() == 3) {
        done = Create(session, what == "cert" ? CKO_CERTIFICATE : CKO_DATA, what == "private", step[1], step[2]);
    } else if (what == "keypair" && step.size() == 4) {
        done = KeyPair(session, std::stoul(step[1], nullptr, 0), step[2], FromHex(step[3]));
    } else if (what == "destroy" && step.size() == 2) {
        done = Destroy(session, step[1], nullptr);
    } else if (what == "destroyprivate" && step.size() == 2) {
        done = Destroy(session, step[1], &privateKey);
    } else if (what == "label" && step.size() == 3) {
        done = Set(session, step[1], CKA_LABEL, step[2]);
    } else if (what == "value" && step.size() == 3) {
        done = Set(session, step[1], CKA_VALUE, step[2]);
    } else if (what == "set" && step.size() == 4) {
        const std::vector<CK_BYTE> bytes = FromHex(step[3]);
        done = Set(session, step[1], std::stoul(step[2], nullptr, 0), std::string(bytes.begin(), bytes.end()));
    } else {
        std::fprintf(stderr, "unknown step %s\n", text.c_str());
    }
    return Check("C_CloseSession", p11->C_CloseSession(session)) && done;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s MODULE USER_PIN SO_PIN STEP...\n", argv[0]);
        return 2;
    }
    p11 = helperprocess::LoadModule(argv[1]);
    if (p11 == nullptr) return 1;
    CK_SLOT_ID slots[4];
    CK_ULONG count = 4;
    bool done = Check("C_GetSlotList", p11->C_GetSlotList(CK_TRUE, slots, &count)) && count != 0;
    for (int i = 4; done && i < argc; ++i) done = Step(slots[0], argv[2], argv[3], argv[i]);
    const bool finished = Check("C_Finalize", p11->C_Finalize(nullptr));
    return done && finished ? 0 : 1;
}
