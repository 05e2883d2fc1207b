#include "objects/object_rules.h"

#include <array>
#include <vector>

#include "ckbase/exception.h"

namespace zrck {

CK_RV FillEntries(AttributeTemplate& attributes, const std::function<CK_RV(Attribute&)>& fill) {
    CK_RV first = CKR_OK;
    for (CK_ULONG i = 0; i < attributes.GetCount(); ++i) {
        Attribute& entry = attributes[i];
        CK_RV rv;
        try {
            rv = fill(entry);
        } catch (const Exception& e) {
            rv = e.GetCode() != CKR_OK ? e.GetCode() : CKR_GENERAL_ERROR;
        }
        if (rv != CKR_OK && rv != CKR_BUFFER_TOO_SMALL) PlaceUnavailable(entry, rv);
        if (first == CKR_OK) first = rv;
    }
    return first;
}

CK_RV UpdateOwnEntries(AttributeTemplate& attributes, const std::function<OwnChange(const Attribute&)>& change) {
    CK_RV first = CKR_OK;
    for (CK_ULONG i = 0; i < attributes.GetCount(); ++i) {
        Attribute& entry = attributes[i];
        if (entry.mProcessed > 0) continue;
        const OwnChange outcome = change(entry);
        if (outcome == OwnChange::NotMine) continue;
        entry.mProcessed = 1;
        if (outcome == OwnChange::ReadOnly && first == CKR_OK) first = CKR_ATTRIBUTE_READ_ONLY;
    }
    return first;
}

void AddTrueFlagsIfMissing(AttributeTemplate& attributes, std::initializer_list<CK_ATTRIBUTE_TYPE> flags) {
    std::vector<Attribute> defaults(flags.size());
    size_t index = 0;
    for (CK_ATTRIBUTE_TYPE flag : flags) defaults[index++].SetupOwnBool(flag, true);
    attributes.AddAttributesIfNotExist(defaults.data(), defaults.size());
}

void SetupEntries(AttributeTemplate& attributes, const std::function<void(const Attribute&)>& setup) {
    for (CK_ULONG i = 0; i < attributes.GetCount(); ++i) {
        if (attributes[i].mProcessed <= 0) setup(attributes[i]);
    }
}

bool MatchOwnEntries(const AttributeTemplate& search, const std::function<bool(CK_ATTRIBUTE_TYPE)>& baseOwns,
                     const std::function<bool(const Attribute&)>& compare) {
    for (CK_ULONG i = 0; i < search.GetCount(); ++i) {
        if (baseOwns(search[i].GetType())) continue;
        if (!compare(search[i])) return false;
    }
    return true;
}

bool TemplateNamesClass(const AttributeTemplate& attributes, CK_OBJECT_CLASS objectClass) {
    const Attribute* classEntry = attributes.GetAttributeIfExists(CKA_CLASS);
    return classEntry != nullptr && classEntry->GetAsULong() == objectClass;
}

bool TemplateNamesClass(const AttributeTemplate& attributes, CK_OBJECT_CLASS objectClass,
                        CK_ATTRIBUTE_TYPE subtypeAttribute, CK_ULONG subtype) {
    if (!TemplateNamesClass(attributes, objectClass)) return false;
    const Attribute* subtypeEntry = attributes.GetAttributeIfExists(subtypeAttribute);
    return subtypeEntry != nullptr && subtypeEntry->GetAsULong() == subtype;
}

namespace {

CK_RV AcceptBool(const Attribute& entry) {
    entry.GetAsBool();
    return CKR_OK;
}

// One-way flags may only move to the allowed value.
CK_RV AcceptOnly(const Attribute& entry, bool allowed) {
    return entry.GetAsBool() == allowed ? CKR_OK : CKR_ATTRIBUTE_VALUE_INVALID;
}

CK_RV StorageRule(const TokStorageObject& object, const Attribute& entry) {
    const bool copying = object.GetCopyMode() == TokStorageObject::COPY_MODE;
    switch (entry.GetType()) {
        case CKA_LABEL: ReadBytes(entry); return CKR_OK;
        case CKA_TOKEN:
        case CKA_PRIVATE:
        case CKA_MODIFIABLE: return copying ? AcceptBool(entry) : CKR_ATTRIBUTE_READ_ONLY;
        case CKA_COPYABLE: return copying || !entry.GetAsBool() ? CKR_OK : CKR_ATTRIBUTE_READ_ONLY;
        default: return CKR_ATTRIBUTE_READ_ONLY;
    }
}

CK_RV KeyRule(const Attribute& entry) {
    switch (entry.GetType()) {
        case CKA_ID: ReadBytes(entry); return CKR_OK;
        case CKA_START_DATE:
        case CKA_END_DATE: ReadDate(entry); return CKR_OK;
        case CKA_KEY_TYPE:
        case CKA_DERIVE:
        case CKA_LOCAL:
        case CKA_KEY_GEN_MECHANISM:
        case CKA_ALLOWED_MECHANISMS: return CKR_ATTRIBUTE_READ_ONLY;
        default: return NOT_OWN_TYPE;
    }
}

CK_RV PrivateKeyRule(const Attribute& entry) {
    switch (entry.GetType()) {
        case CKA_SUBJECT: ReadBytes(entry); return CKR_OK;
        case CKA_DECRYPT:
        case CKA_SIGN:
        case CKA_SIGN_RECOVER:
        case CKA_UNWRAP: return AcceptBool(entry);
        case CKA_SENSITIVE:
        case CKA_WRAP_WITH_TRUSTED: return AcceptOnly(entry, true);
        case CKA_EXTRACTABLE: return AcceptOnly(entry, false);
        case CKA_ALWAYS_SENSITIVE:
        case CKA_NEVER_EXTRACTABLE:
        case CKA_ALWAYS_AUTHENTICATE:
        case CKA_UNWRAP_TEMPLATE: return CKR_ATTRIBUTE_READ_ONLY;
        default: return NOT_OWN_TYPE;
    }
}

CK_RV PublicKeyRule(const Attribute& entry) {
    switch (entry.GetType()) {
        case CKA_SUBJECT: ReadBytes(entry); return CKR_OK;
        case CKA_ENCRYPT:
        case CKA_VERIFY:
        case CKA_VERIFY_RECOVER:
        case CKA_WRAP: return AcceptBool(entry);
        case CKA_TRUSTED: return CKR_ATTRIBUTE_READ_ONLY;
        case CKA_WRAP_TEMPLATE: return CKR_ATTRIBUTE_TYPE_INVALID;
        default: return NOT_OWN_TYPE;
    }
}

CK_RV SecretKeyRule(const Attribute& entry) {
    switch (entry.GetType()) {
        case CKA_ENCRYPT:
        case CKA_DECRYPT:
        case CKA_SIGN:
        case CKA_VERIFY:
        case CKA_WRAP:
        case CKA_UNWRAP: return AcceptBool(entry);
        case CKA_CHECK_VALUE: ReadBytes(entry); return CKR_OK;
        case CKA_SENSITIVE:
        case CKA_WRAP_WITH_TRUSTED: return AcceptOnly(entry, true);
        case CKA_EXTRACTABLE: return AcceptOnly(entry, false);
        case CKA_ALWAYS_SENSITIVE:
        case CKA_NEVER_EXTRACTABLE:
        case CKA_TRUSTED:
        case CKA_UNWRAP_TEMPLATE: return CKR_ATTRIBUTE_READ_ONLY;
        default: return NOT_OWN_TYPE;
    }
}

CK_RV KeyClassRule(CK_OBJECT_CLASS keyClass, const Attribute& entry) {
    switch (keyClass) {
        case CKO_PRIVATE_KEY: return PrivateKeyRule(entry);
        case CKO_PUBLIC_KEY: return PublicKeyRule(entry);
        case CKO_SECRET_KEY: return SecretKeyRule(entry);
        default: return NOT_OWN_TYPE;
    }
}

// Each entry is judged by the first level (most derived first) that owns its type; the
// result is the first refusal of the most derived level that refused anything.
template <size_t Levels>
CK_RV CheckLevels(const AttributeTemplate& attributes,
                  const std::array<std::function<CK_RV(const Attribute&)>, Levels>& levels) {
    std::array<CK_RV, Levels> firsts{};
    for (CK_ULONG i = 0; i < attributes.GetCount(); ++i) {
        const Attribute& entry = attributes[i];
        if (entry.mProcessed > 0) continue;
        for (size_t level = 0; level < Levels; ++level) {
            const CK_RV rv = levels[level](entry);
            if (rv == NOT_OWN_TYPE) continue;
            if (firsts[level] == CKR_OK) firsts[level] = rv;
            break;
        }
    }
    for (CK_RV rv : firsts) {
        if (rv != CKR_OK) return rv;
    }
    return CKR_OK;
}

}  // namespace

CK_RV CheckStorageUpdate(const TokStorageObject& object, const AttributeTemplate& attributes, const OwnCheck& own) {
    const std::array<std::function<CK_RV(const Attribute&)>, 2> levels = {
        own, [&object](const Attribute& entry) { return StorageRule(object, entry); }};
    return CheckLevels(attributes, levels);
}

CK_RV CheckKeyUpdate(const TokKey& key, const AttributeTemplate& attributes, const OwnCheck& own) {
    const CK_OBJECT_CLASS keyClass = key.GetClass();
    const std::array<std::function<CK_RV(const Attribute&)>, 4> levels = {
        own, [keyClass](const Attribute& entry) { return KeyClassRule(keyClass, entry); }, KeyRule,
        [&key](const Attribute& entry) { return StorageRule(key, entry); }};
    return CheckLevels(attributes, levels);
}

}  // namespace zrck
