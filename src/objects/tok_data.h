// Attribute class of CKO_DATA objects; the values live behind the accessors.
#ifndef ZR_OBJECTS_TOK_DATA_H
#define ZR_OBJECTS_TOK_DATA_H

#include "objects/tok_object.h"

namespace zrck {

class TokData : public TokStorageObject {
public:
    static bool ClassCouldBeCreated(const AttributeTemplate& attributes);

    CK_OBJECT_CLASS GetClass() const override { return CKO_DATA; }
    bool IsObjectMeetConditions(const AttributeTemplate& search) const override;
    bool IsMyAttributeType(CK_ATTRIBUTE_TYPE type) const override;
    CK_RV GetAttributes(AttributeTemplate& attributes) override;
    CK_RV UpdateAttributes(AttributeTemplate& attributes) override;
    // Needs no attribute; the class defaults come from InitDefaults.
    void InitializeWithAttributes(ObjectToken* token, AttributeTemplate& attributes) override;
    void SetupAttributes(ObjectToken* token, AttributeTemplate& attributes) override;
    void RegisterObject() override {}
    const char* GetObjectClassName() const override { return "TokData"; }

    virtual const tru::Buffer& GetApplication() const = 0;
    virtual void SetApplication(const tru::Buffer& application) = 0;
    virtual const tru::Buffer& GetValue() const = 0;
    virtual void SetValue(const tru::Buffer& value) = 0;
    virtual const tru::Buffer& GetObjectID() const = 0;
    virtual void SetObjectID(const tru::Buffer& objectId) = 0;

private:
    // Applies CKA_APPLICATION, CKA_VALUE or CKA_OBJECT_ID; false for other types.
    bool ApplyOwn(const Attribute& attribute);
};

}  // namespace zrck

#endif  // ZR_OBJECTS_TOK_DATA_H
