// Attribute class of CKO_DOMAIN_PARAMETERS objects: CKA_KEY_TYPE and CKA_LOCAL; the parameter
// values belong to the algorithm classes.
#ifndef ZR_OBJECTS_TOK_DOMAIN_PARAMS_H
#define ZR_OBJECTS_TOK_DOMAIN_PARAMS_H

#include "objects/tok_object.h"

namespace zrck {

class TokDomainParams : public TokStorageObject {
public:
    CK_OBJECT_CLASS GetClass() const override { return CKO_DOMAIN_PARAMETERS; }
    bool IsObjectMeetConditions(const AttributeTemplate& search) const override;
    bool IsMyAttributeType(CK_ATTRIBUTE_TYPE type) const override;
    // Only the label may change, and only when nothing else in the template is refused.
    CK_RV UpdateAttributes(AttributeTemplate& attributes) override;
    const char* GetObjectClassName() const override { return "TokDomainParams"; }
    CK_RV FillAttribute(Attribute& attribute) override;
    void SetupAttribute(const Attribute& attribute) override;

    virtual CK_KEY_TYPE GetKeyType() const = 0;
    virtual CK_BBOOL GetLocal() const = 0;
    virtual void SetLocal(CK_BBOOL local) = 0;
};

}  // namespace zrck

#endif  // ZR_OBJECTS_TOK_DOMAIN_PARAMS_H
