// Root of CKO_HW_FEATURE objects: not a storage object, never created from a template or copied.
#ifndef ZR_OBJECTS_TOK_HW_FEATURE_H
#define ZR_OBJECTS_TOK_HW_FEATURE_H

#include "objects/tok_object.h"

namespace zrck {

class TokHWFeature : public TokObject {
public:
    CK_OBJECT_CLASS GetClass() const override { return CKO_HW_FEATURE; }
    // CKA_CLASS and CKA_HW_FEATURE_TYPE are compared; every other type is ignored.
    bool IsObjectMeetConditions(const AttributeTemplate& search) const override;
    bool IsMyAttributeType(CK_ATTRIBUTE_TYPE type) const override;
    void SetLifeTime(ObjectLifeTimeEnum) override {}
    void InitializeWithAttributes(ObjectToken* token, AttributeTemplate& attributes) override;
    void RegisterObject() override {}
    TokObject* GenerateCopy() override;
    void SetupAttribute(const Attribute& attribute) override;

    virtual CK_HW_FEATURE_TYPE GetFeatureType() const = 0;
};

}  // namespace zrck

#endif  // ZR_OBJECTS_TOK_HW_FEATURE_H
