// Attributes and templates over a caller's CK_ATTRIBUTE array. An entry points at the caller's
// record (answers land in the caller's array) or at a small record it allocated itself; value
// bytes are never owned.
#ifndef ZR_CKBASE_ATTRIBUTE_H
#define ZR_CKBASE_ATTRIBUTE_H

#include <vector>

#include "ckbase/base_access.h"
#include "ckbase/zr_pkcs11.h"

namespace zrck {

// Whether an empty CK_BBOOL reads as false; the framework installs the answer of its
// configuration. Without a rule an empty Boolean is refused.
using EmptyBoolRule = bool (*)();
void SetEmptyBoolRule(EmptyBoolRule rule);

class Attribute {
public:
    Attribute() = default;
    explicit Attribute(CK_ATTRIBUTE* callerRecord) : mpAttr(callerRecord) {}
    Attribute(Attribute&& other) noexcept;
    Attribute& operator=(Attribute&& other) noexcept;
    Attribute(const Attribute&) = delete;
    Attribute& operator=(const Attribute&) = delete;
    virtual ~Attribute();

    void SetupOwn(CK_ATTRIBUTE_TYPE type, const void* value, unsigned int length);
    void SetupOwnBool(CK_ATTRIBUTE_TYPE type, bool value);

    // Writes data into the record's buffer (CKR_GENERAL_ERROR when it has none or it is short).
    void SetValue(const tru::Buffer& data);
    // Value readers for input templates; a null value pointer is never read.
    bool GetAsBool() const;
    CK_ULONG GetAsULong() const;
    // Answers a one-byte attribute of C_GetAttributeValue.
    CK_RV TryToPlaceValue(unsigned char value);

    CK_ATTRIBUTE_TYPE GetType() const { return mpAttr->type; }
    CK_ULONG GetLength() const { return mpAttr->ulValueLen; }
    // The value for reading: refuses a null pointer with a non-zero length.
    const void* GetValue() const;
    CK_ATTRIBUTE* GetRecord() const { return mpAttr; }

    int mProcessed = 0;

private:
    friend class AttributeTemplate;
    void Release();
    void TakeFrom(Attribute& source);

    CK_ATTRIBUTE* mpAttr = nullptr;
    bool mOwned = false;
};

class AttributeTemplate {
public:
    static const CK_BBOOL TRUE_CONST;
    static const CK_BBOOL FALSE_CONST;

    AttributeTemplate() = default;
    // A repeated type throws CKR_TEMPLATE_INCONSISTENT.
    AttributeTemplate(CK_ATTRIBUTE* records, CK_ULONG count);
    AttributeTemplate(const AttributeTemplate&) = delete;
    AttributeTemplate& operator=(const AttributeTemplate&) = delete;

    CK_ULONG GetCount() const { return mEntries.size(); }
    Attribute& operator[](CK_ULONG index) { return mEntries[index]; }
    const Attribute& operator[](CK_ULONG index) const { return mEntries[index]; }

    Attribute* GetAttributeIfExists(CK_ATTRIBUTE_TYPE type) const;
    void ResetProcessed();
    bool HasSensitiveAttributes() const;
    bool HasUsageAttributes() const;

    // Given attributes must carry distinct types; taken-over records change owner.
    void AddAttributesIfNotExist(Attribute* attributes, CK_ULONG count);
    void AddOrReplaceAttributes(Attribute* attributes, CK_ULONG count);
    // CKA_TOKEN true, CKA_MODIFIABLE true, CKA_PRIVATE (true for private and secret keys).
    void AddDefaultAttributes(CK_OBJECT_CLASS objectClass);
    bool IsClassAttributeSet(CK_OBJECT_CLASS objectClass, CK_KEY_TYPE keyType) const;

private:
    void AppendUnprocessed(Attribute* attributes, CK_ULONG count);

    std::vector<Attribute> mEntries;
};

}  // namespace zrck

#endif  // ZR_CKBASE_ATTRIBUTE_H
