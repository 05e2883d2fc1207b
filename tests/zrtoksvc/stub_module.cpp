// A scripted Cryptoki module for the utility's tests: it records every call (with templates)
// in the file named by ZRSTUB_LOG and answers from the script named by ZRSTUB_SCRIPT.
//
// Script lines:
//   slots ID,ID,...          slot IDs (default 0)
//   tokens ID,ID,...         slots holding a token (default every slot)
//   fail FUNCTION RV [N]     FUNCTION answers RV (hex) for its next N calls (default always)
//   pin TEXT                 the user PIN (default 12345678)
//   so_pin TEXT              the SO PIN (default 87654321)
//   object TYPE=VALUE ...    an object; TYPE hex, VALUE u:NUMBER, b:0|1, t:TEXT, h:HEX, z:SIZE
//   verify_ok HEX            the one signature C_Verify accepts
//   digest_len N             length of the digest C_DigestFinal returns (default 32)
//   gate FUNCTION N          FUNCTION's next N calls, once logged, wait for one byte from the
//                            FIFO named by ZRSTUB_GATE before they answer
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "ckbase/zr_pkcs11.h"

namespace {

using Bytes = std::string;

struct Object {
    std::map<CK_ATTRIBUTE_TYPE, Bytes> attributes;
    bool destroyed = false;
};

struct Fail {
    CK_RV rv;
    long remaining;  // -1: always
};

struct State {
    std::vector<CK_SLOT_ID> slots{0};
    std::vector<CK_SLOT_ID> tokens;
    bool tokensGiven = false;
    std::multimap<std::string, Fail> fails;
    std::map<std::string, long> gates;
    std::string pin = "12345678";
    std::string soPin = "87654321";
    std::vector<Object> objects;
    Bytes verifyOk;
    unsigned long digestLength = 32;
    // session
    bool loggedIn = false;
    CK_USER_TYPE user = CKU_USER;
    std::vector<CK_OBJECT_HANDLE> found;
    size_t foundAt = 0;
    bool loaded = false;
} g;

std::string Hex(const void* data, CK_ULONG length) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (CK_ULONG i = 0; data != nullptr && i < length; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

Bytes FromHex(const std::string& text) {
    Bytes out;
    for (size_t i = 0; i + 1 < text.size(); i += 2) out += static_cast<char>(std::stoul(text.substr(i, 2), nullptr, 16));
    return out;
}

void Log(const std::string& line) {
    const char* path = std::getenv("ZRSTUB_LOG");
    if (path == nullptr) return;
    FILE* out = std::fopen(path, "a");
    if (out == nullptr) return;
    std::fprintf(out, "%s\n", line.c_str());
    std::fclose(out);
}

std::string Template(const CK_ATTRIBUTE* attributes, CK_ULONG count) {
    std::string text;
    for (CK_ULONG i = 0; i < count; ++i) {
        char type[32];
        std::snprintf(type, sizeof type, "%lx", attributes[i].type);
        text += std::string(" ") + type + "=";
        if (attributes[i].pValue == nullptr)
            text += "null/" + std::to_string(attributes[i].ulValueLen);
        else
            text += Hex(attributes[i].pValue, attributes[i].ulValueLen);
    }
    return text;
}

std::vector<CK_SLOT_ID> List(const std::string& text) {
    std::vector<CK_SLOT_ID> ids;
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) ids.push_back(std::stoul(item));
    return ids;
}

Bytes Value(const std::string& text) {
    const std::string kind = text.substr(0, 2);
    const std::string rest = text.substr(2);
    if (kind == "u:") {
        CK_ULONG number = std::stoul(rest, nullptr, 0);
        return Bytes(reinterpret_cast<const char*>(&number), sizeof number);
    }
    if (kind == "b:") return Bytes(1, rest == "1" ? 1 : 0);
    if (kind == "t:") return rest;
    if (kind == "h:") return FromHex(rest);
    if (kind == "z:") return Bytes(std::stoul(rest), '\0');
    return Bytes();
}

void Load() {
    if (g.loaded) return;
    g.loaded = true;
    const char* path = std::getenv("ZRSTUB_SCRIPT");
    if (path == nullptr) return;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string key;
        words >> key;
        if (key == "slots") {
            std::string ids;
            words >> ids;
            g.slots = List(ids);
        } else if (key == "tokens") {
            std::string ids;
            words >> ids;
            g.tokens = ids == "none" ? std::vector<CK_SLOT_ID>() : List(ids);
            g.tokensGiven = true;
        } else if (key == "fail") {
            std::string function, rv;
            long count = -1;
            words >> function >> rv;
            if (!(words >> count)) count = -1;
            g.fails.insert({function, Fail{std::stoul(rv, nullptr, 16), count}});
        } else if (key == "pin") {
            words >> g.pin;
        } else if (key == "so_pin") {
            words >> g.soPin;
        } else if (key == "verify_ok") {
            std::string hex;
            words >> hex;
            g.verifyOk = FromHex(hex);
        } else if (key == "gate") {
            std::string function;
            long count = 1;
            words >> function >> count;
            g.gates[function] = count;
        } else if (key == "digest_len") {
            words >> g.digestLength;
        } else if (key == "object") {
            Object object;
            std::string item;
            while (words >> item) {
                const size_t eq = item.find('=');
                object.attributes[std::stoul(item.substr(0, eq), nullptr, 16)] = Value(item.substr(eq + 1));
            }
            g.objects.push_back(object);
        }
    }
    if (!g.tokensGiven) g.tokens = g.slots;
}

// The injected answer of the function, or CKR_OK.
CK_RV Injected(const char* function) {
    auto range = g.fails.equal_range(function);
    for (auto it = range.first; it != range.second; ++it) {
        if (it->second.remaining == 0) continue;
        if (it->second.remaining > 0) --it->second.remaining;
        return it->second.rv;
    }
    return CKR_OK;
}

CK_RV Answer(const char* function, const std::string& details, CK_RV rv = CKR_OK) {
    Load();
    const CK_RV injected = Injected(function);
    if (injected != CKR_OK) rv = injected;
    char code[32];
    std::snprintf(code, sizeof code, " -> %lx", rv);
    Log(std::string(function) + details + code);
    auto gate = g.gates.find(function);
    if (gate != g.gates.end() && gate->second > 0) {
        --gate->second;
        const char* path = std::getenv("ZRSTUB_GATE");
        int fd = -1;
        while (path != nullptr && (fd = open(path, O_RDONLY)) < 0 && errno == EINTR) {
        }
        char byte = 0;
        while (fd >= 0 && read(fd, &byte, 1) < 0 && errno == EINTR) {
        }
        if (fd >= 0) close(fd);
    }
    return rv;
}

bool HasToken(CK_SLOT_ID slot) {
    for (CK_SLOT_ID id : g.tokens)
        if (id == slot) return true;
    return false;
}

Object* Find(CK_OBJECT_HANDLE handle) {
    if (handle == 0 || handle > g.objects.size() || g.objects[handle - 1].destroyed) return nullptr;
    return &g.objects[handle - 1];
}

void Pad(CK_UTF8CHAR* field, size_t width, const char* text) {
    std::memset(field, ' ', width);
    std::memcpy(field, text, std::min(width, std::strlen(text)));
}

#define ARGS(...) __VA_ARGS__
#define UNSUPPORTED(name, params) \
    CK_RV name(params) { return Answer(#name, "", CKR_FUNCTION_NOT_SUPPORTED); }

CK_RV C_Initialize(CK_VOID_PTR args) {
    std::string details;
    if (args == nullptr) {
        details = " null";
    } else {
        auto* init = static_cast<CK_C_INITIALIZE_ARGS*>(args);
        details = " flags=" + std::to_string(init->flags) + " reserved=" +
                  (init->pReserved ? "[" + std::string(static_cast<const char*>(init->pReserved)) + "]" : "null");
    }
    return Answer("C_Initialize", details);
}
CK_RV C_Finalize(CK_VOID_PTR) { return Answer("C_Finalize", ""); }
CK_RV C_GetInfo(CK_INFO_PTR info) {
    std::memset(info, 0, sizeof *info);
    info->cryptokiVersion = {2, 30};
    Pad(info->manufacturerID, 32, "stub");
    Pad(info->libraryDescription, 32, "stub module");
    return Answer("C_GetInfo", "");
}
CK_RV GetList(CK_FUNCTION_LIST_PTR_PTR list);
CK_RV C_GetSlotList(CK_BBOOL present, CK_SLOT_ID_PTR list, CK_ULONG_PTR count) {
    Load();
    std::vector<CK_SLOT_ID> ids;
    for (CK_SLOT_ID id : g.slots)
        if (!present || HasToken(id)) ids.push_back(id);
    const std::string details = " present=" + std::to_string(present) + (list ? " list" : " null");
    if (list != nullptr) {
        if (*count < ids.size()) {
            *count = ids.size();
            return Answer("C_GetSlotList", details, CKR_BUFFER_TOO_SMALL);
        }
        for (size_t i = 0; i < ids.size(); ++i) list[i] = ids[i];
    }
    *count = ids.size();
    return Answer("C_GetSlotList", details);
}
CK_RV C_GetSlotInfo(CK_SLOT_ID slot, CK_SLOT_INFO_PTR info) {
    std::memset(info, 0, sizeof *info);
    Pad(info->slotDescription, 64, "stub slot");
    Pad(info->manufacturerID, 32, "stub");
    info->flags = CKF_REMOVABLE_DEVICE | CKF_HW_SLOT | (HasToken(slot) ? CKF_TOKEN_PRESENT : 0);
    return Answer("C_GetSlotInfo", " slot=" + std::to_string(slot));
}
CK_RV C_GetTokenInfo(CK_SLOT_ID slot, CK_TOKEN_INFO_PTR info) {
    std::memset(info, 0, sizeof *info);
    Pad(info->label, 32, "stub token");
    Pad(info->manufacturerID, 32, "stub");
    Pad(info->model, 16, "STUB");
    Pad(info->serialNumber, 16, "STUB0001");
    info->flags = CKF_RNG | CKF_LOGIN_REQUIRED | CKF_TOKEN_INITIALIZED | CKF_USER_PIN_INITIALIZED;
    info->ulTotalPublicMemory = CK_UNAVAILABLE_INFORMATION;
    info->ulFreePublicMemory = CK_UNAVAILABLE_INFORMATION;
    info->ulTotalPrivateMemory = CK_UNAVAILABLE_INFORMATION;
    info->ulFreePrivateMemory = CK_UNAVAILABLE_INFORMATION;
    return Answer("C_GetTokenInfo", " slot=" + std::to_string(slot), HasToken(slot) ? CKR_OK : CKR_TOKEN_NOT_PRESENT);
}
CK_RV C_GetMechanismList(CK_SLOT_ID, CK_MECHANISM_TYPE_PTR list, CK_ULONG_PTR count) {
    static const CK_MECHANISM_TYPE kList[] = {CKM_RSA_PKCS, CKM_SHA256};
    if (list != nullptr)
        for (size_t i = 0; i < 2 && i < *count; ++i) list[i] = kList[i];
    *count = 2;
    return Answer("C_GetMechanismList", "");
}
CK_RV C_GetMechanismInfo(CK_SLOT_ID, CK_MECHANISM_TYPE type, CK_MECHANISM_INFO_PTR info) {
    info->ulMinKeySize = 512;
    info->ulMaxKeySize = 2048;
    info->flags = type == CKM_RSA_PKCS ? 0x2801 : 0;
    return Answer("C_GetMechanismInfo", "");
}
CK_RV C_InitToken(CK_SLOT_ID slot, CK_UTF8CHAR_PTR pin, CK_ULONG length, CK_UTF8CHAR_PTR label) {
    g.soPin.assign(reinterpret_cast<char*>(pin), length);
    return Answer("C_InitToken", " slot=" + std::to_string(slot) + " pin=" + std::string(reinterpret_cast<char*>(pin), length) +
                                     " label=[" + std::string(reinterpret_cast<char*>(label), 32) + "]");
}
CK_RV C_InitPIN(CK_SESSION_HANDLE, CK_UTF8CHAR_PTR pin, CK_ULONG length) {
    g.pin.assign(reinterpret_cast<char*>(pin), length);
    return Answer("C_InitPIN", " pin=" + std::string(reinterpret_cast<char*>(pin), length));
}
CK_RV C_SetPIN(CK_SESSION_HANDLE, CK_UTF8CHAR_PTR oldPin, CK_ULONG oldLength, CK_UTF8CHAR_PTR newPin, CK_ULONG newLength) {
    (g.user == CKU_SO ? g.soPin : g.pin).assign(reinterpret_cast<char*>(newPin), newLength);
    return Answer("C_SetPIN", " old=" + std::string(reinterpret_cast<char*>(oldPin), oldLength) +
                                  " new=" + std::string(reinterpret_cast<char*>(newPin), newLength));
}
CK_RV C_OpenSession(CK_SLOT_ID slot, CK_FLAGS flags, CK_VOID_PTR, CK_NOTIFY, CK_SESSION_HANDLE_PTR session) {
    *session = 7;
    return Answer("C_OpenSession", " slot=" + std::to_string(slot) + " flags=" + std::to_string(flags),
                  HasToken(slot) ? CKR_OK : CKR_TOKEN_NOT_PRESENT);
}
CK_RV C_CloseSession(CK_SESSION_HANDLE) {
    g.loggedIn = false;
    return Answer("C_CloseSession", "");
}
CK_RV C_CloseAllSessions(CK_SLOT_ID slot) { return Answer("C_CloseAllSessions", " slot=" + std::to_string(slot)); }
CK_RV C_GetSessionInfo(CK_SESSION_HANDLE, CK_SESSION_INFO_PTR info) {
    std::memset(info, 0, sizeof *info);
    info->state = g.loggedIn ? CKS_RW_USER_FUNCTIONS : CKS_RW_PUBLIC_SESSION;
    return Answer("C_GetSessionInfo", "");
}
UNSUPPORTED(C_GetOperationState, ARGS(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG_PTR))
UNSUPPORTED(C_SetOperationState, ARGS(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_OBJECT_HANDLE, CK_OBJECT_HANDLE))
CK_RV C_Login(CK_SESSION_HANDLE, CK_USER_TYPE user, CK_UTF8CHAR_PTR pin, CK_ULONG length) {
    const std::string typed(reinterpret_cast<char*>(pin), length);
    const bool right = typed == (user == CKU_SO ? g.soPin : g.pin);
    const CK_RV rv = Answer("C_Login", " user=" + std::to_string(user) + " pin=" + typed, right ? CKR_OK : CKR_PIN_INCORRECT);
    if (rv == CKR_OK) {
        g.loggedIn = true;
        g.user = user;
    }
    return rv;
}
CK_RV C_Logout(CK_SESSION_HANDLE) {
    g.loggedIn = false;
    return Answer("C_Logout", "");
}
CK_RV C_CreateObject(CK_SESSION_HANDLE, CK_ATTRIBUTE_PTR attributes, CK_ULONG count, CK_OBJECT_HANDLE_PTR handle) {
    const CK_RV rv = Answer("C_CreateObject", Template(attributes, count));
    if (rv == CKR_OK) {
        Object object;
        for (CK_ULONG i = 0; i < count; ++i)
            object.attributes[attributes[i].type] = Bytes(static_cast<const char*>(attributes[i].pValue), attributes[i].ulValueLen);
        g.objects.push_back(object);
        *handle = g.objects.size();
    }
    return rv;
}
UNSUPPORTED(C_CopyObject, ARGS(CK_SESSION_HANDLE, CK_OBJECT_HANDLE, CK_ATTRIBUTE_PTR, CK_ULONG, CK_OBJECT_HANDLE_PTR))
CK_RV C_DestroyObject(CK_SESSION_HANDLE, CK_OBJECT_HANDLE handle) {
    const CK_RV rv = Answer("C_DestroyObject", " " + std::to_string(handle));
    if (rv == CKR_OK && Find(handle)) Find(handle)->destroyed = true;
    return rv;
}
CK_RV C_GetObjectSize(CK_SESSION_HANDLE, CK_OBJECT_HANDLE, CK_ULONG_PTR size) {
    *size = 0;
    return Answer("C_GetObjectSize", "");
}
CK_RV C_GetAttributeValue(CK_SESSION_HANDLE, CK_OBJECT_HANDLE handle, CK_ATTRIBUTE_PTR attributes, CK_ULONG count) {
    Object* object = Find(handle);
    CK_RV rv = object ? CKR_OK : CKR_OBJECT_HANDLE_INVALID;
    for (CK_ULONG i = 0; object && i < count; ++i) {
        auto it = object->attributes.find(attributes[i].type);
        if (it == object->attributes.end()) {
            attributes[i].ulValueLen = CK_UNAVAILABLE_INFORMATION;
            rv = CKR_ATTRIBUTE_TYPE_INVALID;
        } else if (attributes[i].pValue == nullptr) {
            attributes[i].ulValueLen = it->second.size();
        } else if (attributes[i].ulValueLen < it->second.size()) {
            attributes[i].ulValueLen = CK_UNAVAILABLE_INFORMATION;
            rv = CKR_BUFFER_TOO_SMALL;
        } else {
            std::memcpy(attributes[i].pValue, it->second.data(), it->second.size());
            attributes[i].ulValueLen = it->second.size();
        }
    }
    return Answer("C_GetAttributeValue", " " + std::to_string(handle), rv);
}
CK_RV C_SetAttributeValue(CK_SESSION_HANDLE, CK_OBJECT_HANDLE handle, CK_ATTRIBUTE_PTR attributes, CK_ULONG count) {
    return Answer("C_SetAttributeValue", " " + std::to_string(handle) + Template(attributes, count));
}
CK_RV C_FindObjectsInit(CK_SESSION_HANDLE, CK_ATTRIBUTE_PTR attributes, CK_ULONG count) {
    const CK_RV rv = Answer("C_FindObjectsInit", Template(attributes, count));
    g.found.clear();
    g.foundAt = 0;
    for (size_t h = 0; rv == CKR_OK && h < g.objects.size(); ++h) {
        if (g.objects[h].destroyed) continue;
        bool match = true;
        for (CK_ULONG i = 0; i < count && match; ++i) {
            auto it = g.objects[h].attributes.find(attributes[i].type);
            match = it != g.objects[h].attributes.end() &&
                    it->second == Bytes(static_cast<const char*>(attributes[i].pValue), attributes[i].ulValueLen);
        }
        if (match) g.found.push_back(h + 1);
    }
    return rv;
}
CK_RV C_FindObjects(CK_SESSION_HANDLE, CK_OBJECT_HANDLE_PTR handles, CK_ULONG room, CK_ULONG_PTR count) {
    *count = 0;
    while (*count < room && g.foundAt < g.found.size()) handles[(*count)++] = g.found[g.foundAt++];
    return Answer("C_FindObjects", " room=" + std::to_string(room) + " found=" + std::to_string(*count));
}
CK_RV C_FindObjectsFinal(CK_SESSION_HANDLE) { return Answer("C_FindObjectsFinal", ""); }

std::string Mechanism(CK_MECHANISM_PTR m) {
    char text[64];
    std::snprintf(text, sizeof text, " mech=%lx", m ? m->mechanism : 0UL);
    return std::string(text) + (m && m->pParameter ? " param=" + Hex(m->pParameter, m->ulParameterLen) : "");
}

// Encrypt and decrypt turn every byte over (xor 0x5A), so decryption gives the input back.
CK_RV Xor(const char* name, CK_BYTE_PTR in, CK_ULONG length, CK_BYTE_PTR out, CK_ULONG_PTR outLength) {
    const CK_RV rv = Answer(name, " len=" + std::to_string(length));
    if (rv != CKR_OK) return rv;
    for (CK_ULONG i = 0; i < length; ++i) out[i] = in[i] ^ 0x5A;
    *outLength = length;
    return CKR_OK;
}
CK_RV C_EncryptInit(CK_SESSION_HANDLE, CK_MECHANISM_PTR m, CK_OBJECT_HANDLE key) {
    return Answer("C_EncryptInit", Mechanism(m) + " key=" + std::to_string(key));
}
CK_RV C_Encrypt(CK_SESSION_HANDLE, CK_BYTE_PTR in, CK_ULONG length, CK_BYTE_PTR out, CK_ULONG_PTR outLength) {
    return Xor("C_Encrypt", in, length, out, outLength);
}
UNSUPPORTED(C_EncryptUpdate, ARGS(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR))
UNSUPPORTED(C_EncryptFinal, ARGS(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG_PTR))
CK_RV C_DecryptInit(CK_SESSION_HANDLE, CK_MECHANISM_PTR m, CK_OBJECT_HANDLE key) {
    return Answer("C_DecryptInit", Mechanism(m) + " key=" + std::to_string(key));
}
CK_RV C_Decrypt(CK_SESSION_HANDLE, CK_BYTE_PTR in, CK_ULONG length, CK_BYTE_PTR out, CK_ULONG_PTR outLength) {
    return Xor("C_Decrypt", in, length, out, outLength);
}
UNSUPPORTED(C_DecryptUpdate, ARGS(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR))
UNSUPPORTED(C_DecryptFinal, ARGS(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG_PTR))
CK_RV C_DigestInit(CK_SESSION_HANDLE, CK_MECHANISM_PTR m) { return Answer("C_DigestInit", Mechanism(m)); }
UNSUPPORTED(C_Digest, ARGS(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR))
CK_RV C_DigestUpdate(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG length) {
    return Answer("C_DigestUpdate", " len=" + std::to_string(length));
}
UNSUPPORTED(C_DigestKey, ARGS(CK_SESSION_HANDLE, CK_OBJECT_HANDLE))
CK_RV C_DigestFinal(CK_SESSION_HANDLE, CK_BYTE_PTR out, CK_ULONG_PTR length) {
    if (out != nullptr && *length >= g.digestLength) std::memset(out, 0xAB, g.digestLength);
    *length = g.digestLength;
    return Answer("C_DigestFinal", "");
}
CK_RV C_SignInit(CK_SESSION_HANDLE, CK_MECHANISM_PTR m, CK_OBJECT_HANDLE key) {
    return Answer("C_SignInit", Mechanism(m) + " key=" + std::to_string(key));
}
CK_RV C_Sign(CK_SESSION_HANDLE, CK_BYTE_PTR data, CK_ULONG length, CK_BYTE_PTR signature, CK_ULONG_PTR signatureLength) {
    const CK_RV rv = Answer("C_Sign", " data=" + Hex(data, length) + " room=" + std::to_string(*signatureLength));
    if (rv == CKR_OK) {
        std::memset(signature, 0x5C, 4);
        *signatureLength = 4;
    }
    return rv;
}
UNSUPPORTED(C_SignUpdate, ARGS(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG))
UNSUPPORTED(C_SignFinal, ARGS(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG_PTR))
UNSUPPORTED(C_SignRecoverInit, ARGS(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE))
UNSUPPORTED(C_SignRecover, ARGS(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR))
CK_RV C_VerifyInit(CK_SESSION_HANDLE, CK_MECHANISM_PTR m, CK_OBJECT_HANDLE key) {
    return Answer("C_VerifyInit", Mechanism(m) + " key=" + std::to_string(key));
}
CK_RV C_Verify(CK_SESSION_HANDLE, CK_BYTE_PTR data, CK_ULONG length, CK_BYTE_PTR signature, CK_ULONG signatureLength) {
    const bool ok = Bytes(reinterpret_cast<char*>(signature), signatureLength) == g.verifyOk;
    return Answer("C_Verify", " data=" + Hex(data, length) + " sig=" + Hex(signature, signatureLength),
                  ok ? CKR_OK : CKR_SIGNATURE_INVALID);
}
UNSUPPORTED(C_VerifyUpdate, ARGS(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG))
UNSUPPORTED(C_VerifyFinal, ARGS(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG))
UNSUPPORTED(C_VerifyRecoverInit, ARGS(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE))
UNSUPPORTED(C_VerifyRecover, ARGS(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR))
UNSUPPORTED(C_DigestEncryptUpdate, ARGS(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR))
UNSUPPORTED(C_DecryptDigestUpdate, ARGS(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR))
UNSUPPORTED(C_SignEncryptUpdate, ARGS(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR))
UNSUPPORTED(C_DecryptVerifyUpdate, ARGS(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR))
UNSUPPORTED(C_GenerateKey, ARGS(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_ATTRIBUTE_PTR, CK_ULONG, CK_OBJECT_HANDLE_PTR))
CK_RV C_GenerateKeyPair(CK_SESSION_HANDLE, CK_MECHANISM_PTR m, CK_ATTRIBUTE_PTR pub, CK_ULONG pubCount,
                        CK_ATTRIBUTE_PTR priv, CK_ULONG privCount, CK_OBJECT_HANDLE_PTR pubHandle,
                        CK_OBJECT_HANDLE_PTR privHandle) {
    *pubHandle = 1001;
    *privHandle = 1002;
    return Answer("C_GenerateKeyPair", Mechanism(m) + " public:" + Template(pub, pubCount) + " private:" + Template(priv, privCount));
}
UNSUPPORTED(C_WrapKey, ARGS(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE, CK_OBJECT_HANDLE, CK_BYTE_PTR, CK_ULONG_PTR))
UNSUPPORTED(C_UnwrapKey, ARGS(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_ATTRIBUTE_PTR, CK_ULONG, CK_OBJECT_HANDLE_PTR))
UNSUPPORTED(C_DeriveKey, ARGS(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE, CK_ATTRIBUTE_PTR, CK_ULONG, CK_OBJECT_HANDLE_PTR))
CK_RV C_SeedRandom(CK_SESSION_HANDLE, CK_BYTE_PTR seed, CK_ULONG length) { return Answer("C_SeedRandom", " " + Hex(seed, length)); }
CK_RV C_GenerateRandom(CK_SESSION_HANDLE, CK_BYTE_PTR out, CK_ULONG length) {
    for (CK_ULONG i = 0; i < length; ++i) out[i] = static_cast<CK_BYTE>(i);
    return Answer("C_GenerateRandom", " len=" + std::to_string(length));
}
UNSUPPORTED(C_GetFunctionStatus, ARGS(CK_SESSION_HANDLE))
UNSUPPORTED(C_CancelFunction, ARGS(CK_SESSION_HANDLE))
UNSUPPORTED(C_WaitForSlotEvent, ARGS(CK_FLAGS, CK_SLOT_ID_PTR, CK_VOID_PTR))

CK_FUNCTION_LIST gList = {
    {2, 30}, C_Initialize, C_Finalize, C_GetInfo, GetList, C_GetSlotList, C_GetSlotInfo, C_GetTokenInfo,
    C_GetMechanismList, C_GetMechanismInfo, C_InitToken, C_InitPIN, C_SetPIN, C_OpenSession, C_CloseSession,
    C_CloseAllSessions, C_GetSessionInfo, C_GetOperationState, C_SetOperationState, C_Login, C_Logout,
    C_CreateObject, C_CopyObject, C_DestroyObject, C_GetObjectSize, C_GetAttributeValue, C_SetAttributeValue,
    C_FindObjectsInit, C_FindObjects, C_FindObjectsFinal, C_EncryptInit, C_Encrypt, C_EncryptUpdate,
    C_EncryptFinal, C_DecryptInit, C_Decrypt, C_DecryptUpdate, C_DecryptFinal, C_DigestInit, C_Digest,
    C_DigestUpdate, C_DigestKey, C_DigestFinal, C_SignInit, C_Sign, C_SignUpdate, C_SignFinal, C_SignRecoverInit,
    C_SignRecover, C_VerifyInit, C_Verify, C_VerifyUpdate, C_VerifyFinal, C_VerifyRecoverInit, C_VerifyRecover,
    C_DigestEncryptUpdate, C_DecryptDigestUpdate, C_SignEncryptUpdate, C_DecryptVerifyUpdate, C_GenerateKey,
    C_GenerateKeyPair, C_WrapKey, C_UnwrapKey, C_DeriveKey, C_SeedRandom, C_GenerateRandom, C_GetFunctionStatus,
    C_CancelFunction, C_WaitForSlotEvent};

CK_RV GetList(CK_FUNCTION_LIST_PTR_PTR list) {
    *list = &gList;
    return Answer("C_GetFunctionList", "");
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR list) {
    return GetList(list);
}

// Under another name, for the loader configuration's entry key.
__attribute__((visibility("default"))) CK_RV Stub_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR list) {
    return GetList(list);
}

#ifndef ZRSTUB_NO_VENDOR
using RandomCallback = CK_RV (*)(CK_BYTE_PTR, CK_ULONG);

// Takes the callback and asks it at once for the sizes listed in ZRSTUB_RANDOM_ASKS
// ("32,32,..."), logging each answer and the bytes.
__attribute__((visibility("default"))) CK_RV C_SetLibraryAttributes(CK_ATTRIBUTE_PTR attributes, CK_ULONG count) {
    const CK_RV rv = Answer("C_SetLibraryAttributes", Template(attributes, 0) + " count=" + std::to_string(count));
    if (rv != CKR_OK || count != 1 || attributes[0].type != CKA_ZR_EXT_RANDOM_CALLBACK) return rv;
    RandomCallback callback;
    std::memcpy(&callback, attributes[0].pValue, sizeof callback);
    const char* asks = std::getenv("ZRSTUB_RANDOM_ASKS");
    std::stringstream in(asks ? asks : "");
    std::string item;
    while (std::getline(in, item, ',')) {
        std::vector<CK_BYTE> buffer(std::stoul(item));
        const CK_RV answer = callback(buffer.data(), buffer.size());
        Log("random " + item + " -> " + std::to_string(answer) + " " + (answer == 0 ? Hex(buffer.data(), buffer.size()) : ""));
    }
    return rv;
}
#endif
}
