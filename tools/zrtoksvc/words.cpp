#include "words.h"

#include <cstdio>
#include <cstring>
#include <list>
#include <memory>
#include <stdexcept>

#include "support/string_utils.h"

namespace zrsvc {

namespace {

template <typename T>
struct Word {
    const char* text;
    T value;
};

const Word<EObjectType> kObjectWords[] = {
    {"all", OT_ALL}, {"key", OT_KEYS}, {"keys", OT_KEYS}, {"public_key", OT_PUBLIC_KEYS},
    {"public_keys", OT_PUBLIC_KEYS}, {"pub_key", OT_PUBLIC_KEYS}, {"private_key", OT_PRIVATE_KEYS},
    {"private_keys", OT_PRIVATE_KEYS}, {"priv_key", OT_PRIVATE_KEYS}, {"secret_key", OT_SECRET_KEYS},
    {"secret_keys", OT_SECRET_KEYS}, {"cert", OT_CERTIFICATES}, {"certificate", OT_CERTIFICATES},
    {"certificates", OT_CERTIFICATES}, {"data", OT_DATA}, {"params", OT_PARAMS}, {"parameters", OT_PARAMS},
    {"mech", OT_MECHANISMS}, {"mechanism", OT_MECHANISMS}, {"mechanisms", OT_MECHANISMS},
    {"hwf", OT_HW_FEATURES}, {"hardware_feature", OT_HW_FEATURES}, {"hardware_features", OT_HW_FEATURES},
};
const Word<EKeyType> kKeyWords[] = {
    {"bign", KT_BIGN}, {"bds", KT_BDS}, {"hashbds", KT_HASHBDS}, {"compound-bds", KT_COMPOUND_BDS},
    {"compound-hashbds", KT_COMPOUND_HASHBDS}, {"belt", KT_BELT}, {"gost", KT_GOST}, {"gost89", KT_GOST},
    {"dstu4145", KT_DSTU4145}, {"dstu28147", KT_DSTU28147}, {"rds", KT_RDS}, {"rsa", KT_RSA},
    {"ecdsa", KT_ECDSA}, {"dsa-dm", KT_DSA_DM}, {"generic", KT_GENERIC},
};
const Word<EHashType> kHashWords[] = {
    {"belt", HT_BELT}, {"bhf", HT_BHF}, {"sha1", HT_SHA1}, {"sha256", HT_SHA256}, {"gost", HT_GOST},
    {"streebog256", HT_STREEBOG256}, {"streebog512", HT_STREEBOG512},
};
const Word<EEncryptionMode> kModeWords[] = {{"ecb", EM_ECB}, {"ctr", EM_CTR}, {"cfb", EM_CFB}, {"cbc", EM_CBC}};

template <typename T, size_t N>
T Lookup(const Word<T> (&table)[N], const std::string& text, bool throwing, const char* error) {
    for (const Word<T>& word : table)
        if (text == word.text)
            return word.value;
    if (throwing && !text.empty())
        throw std::runtime_error(error);
    return static_cast<T>(0);
}

struct AttrName {
    const char* upper;
    const char* lower;
    CK_ATTRIBUTE_TYPE type;
};

const AttrName kAttrNames[] = {
    {"MODIFIABLE", "modifiable", CKA_MODIFIABLE},
    {"COPYABLE", "copiable", CKA_COPYABLE},
    {"EXTRACTABLE", "extractable", CKA_EXTRACTABLE},
    {"SENSITIVE", "sensitive", CKA_SENSITIVE},
    {"ALWAYS_AUTHENTICATE", "always_authenticate", CKA_ALWAYS_AUTHENTICATE},
    {"ENCRYPT", "encrypt", CKA_ENCRYPT},
    {"DECRYPT", "decrypt", CKA_DECRYPT},
    {"WRAP", "wrap", CKA_WRAP},
    {"UNWRAP", "unwrap", CKA_UNWRAP},
    {"SIGN", "sign", CKA_SIGN},
    {"VERIFY", "verify", CKA_VERIFY},
    {"DERIVE", "derive", CKA_DERIVE},
    {"ID", "id", CKA_ID},
    {"ISSUER", "issuer", CKA_ISSUER},
    {"SUBJECT", "subject", CKA_SUBJECT},
    {"LABEL", "label", CKA_LABEL},
    {"SERIAL", "serial", CKA_SERIAL_NUMBER},
};

CK_BBOOL gTrue = CK_TRUE;
CK_BBOOL gFalse = CK_FALSE;

// Values of -attr items, alive until the process ends.
std::list<std::shared_ptr<tru::BufferDynamic>>& AttrValues() {
    static std::list<std::shared_ptr<tru::BufferDynamic>> values;
    return values;
}

bool StartsWith(const std::string& text, const char* prefix) { return text.compare(0, std::strlen(prefix), prefix) == 0; }

[[noreturn]] void FailHex(const char* name) {
    std::printf("Parameter %s should be hexadecimal string\n", name);
    throw ExitStatus{ST_ERROR};
}

// "file:" and "hex:" values into bytes; false when the text has neither prefix.
bool ResolvePrefixed(const char* name, const std::string& text, tru::BufferDynamic& out) {
    if (StartsWith(text, "file:")) {
        const std::string path = text.substr(5);
        const tru::TResult rc = out.Load(path.c_str());
        if (rc != tru::SUCCESS) {
            std::printf("Parameter %s: error 0x%lX while loading file \"%s\"\n", name, rc, path.c_str());
            throw ExitStatus{ST_ERROR};
        }
        return true;
    }
    if (StartsWith(text, "hex:")) {
        if (out.FromHex(text.c_str() + 4) != tru::SUCCESS)
            FailHex(name);
        return true;
    }
    return false;
}

}  // namespace

WipeOnExit::~WipeOnExit() {
    if (!text_.empty())
        vdk::WipeMemory(&text_[0], static_cast<unsigned>(text_.size()));
}

bool testForParam(const char* arg, const char* name, std::string& out, int argc, char** argv, int& index) {
    // Compared in place: the argument may hold a secret, so no copy of it is made.
    const size_t length = std::strlen(name);
    if (arg[0] != '-' || std::strncmp(arg + 1, name, length) != 0)
        return false;
    const char* rest = arg + 1 + length;
    if (*rest == '=') {
        out.assign(rest + 1);
        return true;
    }
    if (*rest == 0 && index + 1 < argc) {
        ++index;
        out.assign(argv[index]);
        return true;
    }
    return false;
}

bool testForParam(const char* arg, const char* name, tru::BufferDynamic& out, int argc, char** argv, int& index) {
    std::string value;
    WipeOnExit wipe(value);  // it may hold a key value
    if (!testForParam(arg, name, value, argc, argv, index))
        return false;
    const tru::TResult code = out.Set(value);
    if (code != tru::SUCCESS)
        throw tru::Exception(code);
    return true;
}

void LoadFileIfNeeded(const char* name, std::string& value) {
    if (value.empty())
        return;
    vdk::SafeBuffer bytes;
    if (ResolvePrefixed(name, value, bytes))
        value.assign(reinterpret_cast<const char*>(bytes.Data()), bytes.Size());
}

void LoadFileIfNeeded(const char* name, SecretText& value) {
    if (value.empty())
        return;
    vdk::SafeBuffer bytes;
    std::string text(value.data(), value.size());
    WipeOnExit wipe(text);
    if (ResolvePrefixed(name, text, bytes))
        value.Assign(bytes.Data(), bytes.Size());
}

void LoadFileIfNeeded(const char* name, tru::BufferDynamic& value) {
    if (value.Empty())
        return;
    std::string text(reinterpret_cast<const char*>(value.Data()), value.Size());
    WipeOnExit wipe(text);  // the text of a key value
    if (ResolvePrefixed(name, text, value))
        return;
    if (value.FromHex(text.c_str()) != tru::SUCCESS)
        FailHex(name);
}

bool convertBooleanArg(const std::string& text, bool defaultValue) {
    if (text.empty())
        return defaultValue;
    return text == "1" || text == "true" || text == "TRUE" || text == "yes" || text == "YES";
}

EObjectType ConvertObjectTypeFromStr(const std::string& text, bool throwing) {
    return Lookup(kObjectWords, text, throwing, "Unknown object type");
}
EKeyType ConvertKeyTypeFromStr(const std::string& text, bool throwing) {
    return Lookup(kKeyWords, text, throwing, "Unknown key type");
}
EHashType ConvertHashTypeFromStr(const std::string& text, bool throwing) {
    return Lookup(kHashWords, text, throwing, "Unknown hash type");
}
EEncryptionMode ConvertEncrModeFromStr(const std::string& text, bool throwing) {
    return Lookup(kModeWords, text, throwing, "Unknown encryption mode");
}

CK_KEY_TYPE ConvertKeyTypeForToken(EKeyType kind) {
    switch (kind) {
    case KT_RSA: return CKK_RSA;
    case KT_ECDSA: return CKK_EC;
    case KT_DSTU4145: return CKK_DSTU4145;
    case KT_RDS: return CKK_GOSTR3410;
    case KT_DSA_DM: return CKK_DSA;
    case KT_GENERIC: return CKK_GENERIC_SECRET;
    case KT_DSTU28147: return CKK_GOST28147_NAT;
    default: return kNoKeyType;
    }
}

bool AddOneAtrr(CK_ATTRIBUTE& attribute, const std::string& item) {
    const size_t colon = item.find(':');
    const std::string name = item.substr(0, colon);
    // A name matches a row when it begins that row's name: SIG and sign give CKA_SIGN, S gives
    // CKA_SENSITIVE; the first row that matches wins.
    const auto begins = [&name](const std::string& full) {
        return name.size() <= full.size() && full.compare(0, name.size(), name) == 0;
    };
    const AttrName* found = nullptr;
    for (const AttrName& row : kAttrNames)
        if (begins(row.upper) || begins(row.lower)) {
            found = &row;
            break;
        }
    if (found == nullptr) {
        std::printf("Error: unsupported attribute name \"%s\"\n", item.c_str());
        return false;
    }
    attribute.type = found->type;
    const bool hasValue = colon != std::string::npos;
    const std::string value = hasValue ? item.substr(colon + 1) : std::string();
    if (!hasValue || value == "TRUE" || value == "true") {
        attribute.pValue = &gTrue;
        attribute.ulValueLen = 1;
        return true;
    }
    if (value == "FALSE" || value == "false") {
        attribute.pValue = &gFalse;
        attribute.ulValueLen = 1;
        return true;
    }
    // Any other value is bytes, for a Boolean too (SIGN:00 is false): file:, hex: or hexadecimal.
    auto buffer = std::make_shared<tru::BufferDynamic>();
    if (buffer->Set(value) != tru::SUCCESS)
        throw tru::Exception(tru::ERROR_MEM);
    AttrValues().push_back(buffer);
    LoadFileIfNeeded("attr", *buffer);
    attribute.pValue = buffer->Data();
    attribute.ulValueLen = buffer->Size();
    return true;
}

CK_ULONG AddAttr(const std::string& text, CK_ATTRIBUTE* entries, CK_ULONG room) {
    if (text.empty())
        return 0;
    CK_ULONG filled = 0;
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        const std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        const bool last = comma == std::string::npos;
        // A trailing comma leaves an empty last item, which is no attribute.
        if (!(last && item.empty())) {
            if (filled == room) {
                std::printf("Error: too many attributes, room for %lu\n", room);
                throw ExitStatus{ST_ERROR};
            }
            if (!AddOneAtrr(entries[filled], item))
                throw ExitStatus{ST_ERROR};
            ++filled;
        }
        if (last)
            return filled;
        start = comma + 1;
    }
}

}  // namespace zrsvc
