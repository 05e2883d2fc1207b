#include "ckbase/attribute.h"

#include <atomic>
#include <cstring>

#include "ckbase/exception.h"

namespace zrck {

namespace {
std::atomic<EmptyBoolRule> sEmptyBoolRule{nullptr};
}  // namespace

void SetEmptyBoolRule(EmptyBoolRule rule) { sEmptyBoolRule.store(rule); }

const CK_BBOOL AttributeTemplate::TRUE_CONST = CK_TRUE;
const CK_BBOOL AttributeTemplate::FALSE_CONST = CK_FALSE;

Attribute::Attribute(Attribute&& other) noexcept
    : mProcessed(other.mProcessed), mpAttr(other.mpAttr), mOwned(other.mOwned) {
    other.mOwned = false;
}

Attribute& Attribute::operator=(Attribute&& other) noexcept {
    if (this != &other) {
        Release();
        mpAttr = other.mpAttr;
        mProcessed = other.mProcessed;
        mOwned = other.mOwned;
        other.mOwned = false;
    }
    return *this;
}

Attribute::~Attribute() { Release(); }

void Attribute::Release() {
    if (mOwned) delete mpAttr;
    mOwned = false;
}

void Attribute::TakeFrom(Attribute& source) {
    Release();
    mpAttr = source.mpAttr;
    mProcessed = source.mProcessed;
    mOwned = source.mOwned;
    source.mOwned = false;
}

void Attribute::SetupOwn(CK_ATTRIBUTE_TYPE type, const void* value, unsigned int length) {
    Release();
    mpAttr = new CK_ATTRIBUTE{type, const_cast<void*>(value), length};
    mOwned = true;
}

void Attribute::SetupOwnBool(CK_ATTRIBUTE_TYPE type, bool value) {
    SetupOwn(type, value ? &AttributeTemplate::TRUE_CONST : &AttributeTemplate::FALSE_CONST, 1);
}

const void* Attribute::GetValue() const {
    if (mpAttr->pValue == nullptr && mpAttr->ulValueLen != 0) throw Exception(CKR_ATTRIBUTE_VALUE_INVALID);
    return mpAttr->pValue;
}

void Attribute::SetValue(const tru::Buffer& data) {
    const unsigned long size = BufferSize(data);
    if (size == 0) {
        mpAttr->ulValueLen = 0;
        return;
    }
    if (mpAttr->pValue == nullptr || mpAttr->ulValueLen < size) throw Exception(CKR_GENERAL_ERROR);
    std::memmove(mpAttr->pValue, BufferBytes(data), size);
    mpAttr->ulValueLen = size;
}

bool Attribute::GetAsBool() const {
    if (mpAttr->ulValueLen == 1) return *static_cast<const CK_BBOOL*>(GetValue()) != 0;
    if (mpAttr->ulValueLen == 0) {
        // Some clients send an empty CK_BBOOL meaning false; accepted only when configured.
        const EmptyBoolRule rule = sEmptyBoolRule.load();
        if (rule != nullptr && rule()) return false;
    }
    throw Exception(CKR_ATTRIBUTE_VALUE_INVALID);
}

CK_ULONG Attribute::GetAsULong() const {
    if (mpAttr->ulValueLen != sizeof(CK_ULONG)) throw Exception(CKR_ATTRIBUTE_VALUE_INVALID);
    CK_ULONG value;
    std::memcpy(&value, GetValue(), sizeof value);
    return value;
}

CK_RV Attribute::TryToPlaceValue(unsigned char value) {
    if (mpAttr->pValue == nullptr) {
        mpAttr->ulValueLen = 1;
        return CKR_OK;
    }
    if (mpAttr->ulValueLen == 0) {
        mpAttr->ulValueLen = 1;
        return CKR_BUFFER_TOO_SMALL;
    }
    *static_cast<unsigned char*>(mpAttr->pValue) = value;
    mpAttr->ulValueLen = 1;
    return CKR_OK;
}

AttributeTemplate::AttributeTemplate(CK_ATTRIBUTE* records, CK_ULONG count) {
    if (records == nullptr || count == 0) return;
    mEntries.reserve(count + 8);
    for (CK_ULONG i = 0; i < count; ++i) {
        if (GetAttributeIfExists(records[i].type) != nullptr) throw Exception(CKR_TEMPLATE_INCONSISTENT);
        mEntries.emplace_back(&records[i]);
    }
}

Attribute* AttributeTemplate::GetAttributeIfExists(CK_ATTRIBUTE_TYPE type) const {
    for (const Attribute& entry : mEntries) {
        if (entry.GetType() == type) return const_cast<Attribute*>(&entry);
    }
    return nullptr;
}

void AttributeTemplate::ResetProcessed() {
    for (Attribute& entry : mEntries) entry.mProcessed = 0;
}

bool AttributeTemplate::HasSensitiveAttributes() const { return GetAttributeIfExists(CKA_SENSITIVE) != nullptr; }

bool AttributeTemplate::HasUsageAttributes() const {
    for (const Attribute& entry : mEntries) {
        if (entry.GetType() >= CKA_ENCRYPT && entry.GetType() <= CKA_DERIVE) return true;
    }
    return false;
}

void AttributeTemplate::AppendUnprocessed(Attribute* attributes, CK_ULONG count) {
    for (CK_ULONG i = 0; i < count; ++i) {
        if (attributes[i].mProcessed > 0) continue;
        mEntries.emplace_back();
        mEntries.back().TakeFrom(attributes[i]);
    }
}

void AttributeTemplate::AddAttributesIfNotExist(Attribute* attributes, CK_ULONG count) {
    for (CK_ULONG i = 0; i < count; ++i) {
        attributes[i].mProcessed = GetAttributeIfExists(attributes[i].GetType()) != nullptr ? 1 : 0;
    }
    AppendUnprocessed(attributes, count);
}

void AttributeTemplate::AddOrReplaceAttributes(Attribute* attributes, CK_ULONG count) {
    for (CK_ULONG i = 0; i < count; ++i) {
        attributes[i].mProcessed = 0;
        if (Attribute* present = GetAttributeIfExists(attributes[i].GetType())) {
            present->TakeFrom(attributes[i]);
            attributes[i].mProcessed = 1;
        }
    }
    AppendUnprocessed(attributes, count);
}

void AttributeTemplate::AddDefaultAttributes(CK_OBJECT_CLASS objectClass) {
    Attribute defaults[3];
    defaults[0].SetupOwnBool(CKA_TOKEN, true);
    defaults[1].SetupOwnBool(CKA_MODIFIABLE, true);
    defaults[2].SetupOwnBool(CKA_PRIVATE, objectClass == CKO_PRIVATE_KEY || objectClass == CKO_SECRET_KEY);
    AddAttributesIfNotExist(defaults, 3);
}

bool AttributeTemplate::IsClassAttributeSet(CK_OBJECT_CLASS objectClass, CK_KEY_TYPE keyType) const {
    bool classSeen = false;
    bool keyTypeSeen = false;
    for (const Attribute& entry : mEntries) {
        if (entry.GetType() == CKA_CLASS) {
            if (entry.GetAsULong() != objectClass) return false;
            classSeen = true;
        } else if (entry.GetType() == CKA_KEY_TYPE) {
            if (entry.GetAsULong() != keyType) return false;
            keyTypeSeen = true;
        }
    }
    return classSeen && keyTypeSeen;
}

}  // namespace zrck
