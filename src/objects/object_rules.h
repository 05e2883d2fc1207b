// Template walks shared by the attribute classes of the object model: reading every entry,
// applying one level's own entries, matching a search, creation tests, and the up-front check
// that makes C_SetAttributeValue all or nothing.
#ifndef ZR_OBJECTS_OBJECT_RULES_H
#define ZR_OBJECTS_OBJECT_RULES_H

#include <cstddef>
#include <functional>
#include <initializer_list>

#include "objects/attribute_value.h"
#include "objects/tok_key.h"

namespace zrck {

// Reads every entry in order and returns the first non-zero result. A zrck::Exception from
// an accessor becomes that entry's result; every entry that fails for another reason than a
// short buffer ends with ulValueLen CK_UNAVAILABLE_INFORMATION, never a stale length.
CK_RV FillEntries(AttributeTemplate& attributes, const std::function<CK_RV(Attribute&)>& fill);

// A secret component: refused (CKR_ATTRIBUTE_SENSITIVE) unless revealable; the value's
// accessor is not called for a refused read.
template <class Getter>
CK_RV PlaceGuardedBytes(Attribute& attribute, bool revealable, Getter value) {
    if (!revealable) return PlaceUnavailable(attribute, CKR_ATTRIBUTE_SENSITIVE);
    return PlaceBytes(attribute, value());
}

// Not sensitive, not always sensitive, extractable and not never extractable.
template <class Key>
bool IsValueRevealable(const Key& key) {
    return !key.GetIsSensitive() && !key.GetIsAlwaysSensitive() && key.GetIsExtractable() &&
           !key.GetIsNeverExtractable();
}

// Outcome of one level's handling of an entry during an update.
enum class OwnChange { NotMine, Applied, ReadOnly };

// Applies the unprocessed entries one level owns and marks them processed; returns the
// level's first error (CKR_ATTRIBUTE_READ_ONLY for refused entries).
CK_RV UpdateOwnEntries(AttributeTemplate& attributes, const std::function<OwnChange(const Attribute&)>& change);

// Appends each flag as CK_TRUE when the template does not hold it yet.
void AddTrueFlagsIfMissing(AttributeTemplate& attributes, std::initializer_list<CK_ATTRIBUTE_TYPE> flags);

// Calls setup() for every unprocessed entry (it applies own types or hands them to the base).
void SetupEntries(AttributeTemplate& attributes, const std::function<void(const Attribute&)>& setup);

// Search walk of a concrete level: entries the base owns are skipped; every other entry must
// pass compare(), which answers false for types the level does not know.
bool MatchOwnEntries(const AttributeTemplate& search, const std::function<bool(CK_ATTRIBUTE_TYPE)>& baseOwns,
                     const std::function<bool(const Attribute&)>& compare);

// A byte-string attribute of one level and its accessors; a level lists its own in a table.
template <class Object>
struct BytesAttribute {
    CK_ATTRIBUTE_TYPE type;
    const tru::Buffer& (Object::*get)() const;
    void (Object::*set)(const tru::Buffer&);
};

template <class Object, size_t N>
const BytesAttribute<Object>* FindBytesAttribute(const BytesAttribute<Object> (&table)[N], CK_ATTRIBUTE_TYPE type) {
    for (const BytesAttribute<Object>& attribute : table) {
        if (attribute.type == type) return &attribute;
    }
    return nullptr;
}

// A search entry of a type the table does not hold does not match.
template <class Object, size_t N>
bool MatchBytesAttribute(const Object& object, const BytesAttribute<Object> (&table)[N], const Attribute& entry) {
    const BytesAttribute<Object>* attribute = FindBytesAttribute(table, entry.GetType());
    return attribute != nullptr && MatchBytes(entry, (object.*attribute->get)());
}

// Answers a type of the table; other types go to the level below.
template <class Object, size_t N, class Below>
CK_RV FillBytesAttribute(const Object& object, const BytesAttribute<Object> (&table)[N], Attribute& entry,
                         Below below) {
    const BytesAttribute<Object>* attribute = FindBytesAttribute(table, entry.GetType());
    return attribute != nullptr ? PlaceBytes(entry, (object.*attribute->get)()) : below(entry);
}

// Sets a type of the table; false for any other.
template <class Object, size_t N>
bool ApplyBytesAttribute(Object& object, const BytesAttribute<Object> (&table)[N], const Attribute& entry) {
    const BytesAttribute<Object>* attribute = FindBytesAttribute(table, entry.GetType());
    if (attribute == nullptr) return false;
    (object.*attribute->set)(ReadBytes(entry));
    return true;
}

// Creation tests: false when CKA_CLASS or the subtype attribute is missing or differs; a
// value of the wrong length throws CKR_ATTRIBUTE_VALUE_INVALID.
bool TemplateNamesClass(const AttributeTemplate& attributes, CK_OBJECT_CLASS objectClass);
bool TemplateNamesClass(const AttributeTemplate& attributes, CK_OBJECT_CLASS objectClass,
                        CK_ATTRIBUTE_TYPE subtypeAttribute, CK_ULONG subtype);

// All-or-nothing updates. own() answers the outcome of entries the concrete level handles
// (CKR_OK when it would apply them) or NOT_OWN_TYPE; the rest is judged by the storage and
// key base rules, which these checks restate because the bases apply as they walk (the
// update_check test holds both in step). Value-format errors throw as the update would.
// Returns the first refusal of the most derived level that refuses, or CKR_OK when every
// unprocessed entry would be applied.
const CK_RV NOT_OWN_TYPE = static_cast<CK_RV>(-1);
using OwnCheck = std::function<CK_RV(const Attribute&)>;
CK_RV CheckStorageUpdate(const TokStorageObject& object, const AttributeTemplate& attributes, const OwnCheck& own);
CK_RV CheckKeyUpdate(const TokKey& key, const AttributeTemplate& attributes, const OwnCheck& own);

}  // namespace zrck

#endif  // ZR_OBJECTS_OBJECT_RULES_H
