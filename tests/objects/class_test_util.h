// Drives object-model classes the way the framework does and reports the CK_RV.
#ifndef ZR_TESTS_OBJECTS_CLASS_TEST_UTIL_H
#define ZR_TESTS_OBJECTS_CLASS_TEST_UTIL_H

#include "ckbase/exception.h"
#include "objects/tok_object.h"
#include "template_builder.h"

namespace zrtest {

template <class Call>
CK_RV CodeOf(Call call) {
    try {
        call();
    } catch (const zrck::Exception& e) {
        return e.GetCode();
    }
    return CKR_OK;
}

// C_CreateObject's order: class defaults, then the creation rule.
inline CK_RV Create(zrck::TokStorageObject& object, Attrs& attrs) {
    auto tmpl = attrs.Make();
    object.InitDefaults();
    return CodeOf([&] { object.InitializeWithAttributes(nullptr, *tmpl); });
}

inline CK_RV Update(zrck::TokObject& object, Attrs& attrs) {
    auto tmpl = attrs.Make();
    CK_RV rv = CKR_OK;
    const CK_RV thrown = CodeOf([&] { rv = object.UpdateAttributes(*tmpl); });
    return thrown != CKR_OK ? thrown : rv;
}

inline CK_RV Read(zrck::TokObject& object, Attrs& attrs) {
    auto tmpl = attrs.Make();
    CK_RV rv = CKR_OK;
    const CK_RV thrown = CodeOf([&] { rv = object.GetAttributes(*tmpl); });
    return thrown != CKR_OK ? thrown : rv;
}

inline bool Matches(const zrck::TokObject& object, Attrs& attrs) {
    auto tmpl = attrs.Make();
    return object.IsObjectMeetConditions(*tmpl);
}

inline CK_RV MatchCode(const zrck::TokObject& object, Attrs& attrs) {
    auto tmpl = attrs.Make();
    return CodeOf([&] { object.IsObjectMeetConditions(*tmpl); });
}

// A CK_ULONG attribute with a value of the wrong width (4 bytes on LP64).
inline Attrs& NarrowULong(Attrs& attrs, CK_ATTRIBUTE_TYPE type, uint32_t value) {
    return attrs.Raw(type, &value, sizeof value);
}

}  // namespace zrtest

#endif  // ZR_TESTS_OBJECTS_CLASS_TEST_UTIL_H
