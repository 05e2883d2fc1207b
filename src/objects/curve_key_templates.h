// The two templates of a curve key-pair request (ECDSA and DSTU 4145, on the device or the
// host): what they say about the keys, and their completion with what the generation made.
#ifndef ZR_OBJECTS_CURVE_KEY_TEMPLATES_H
#define ZR_OBJECTS_CURVE_KEY_TEMPLATES_H

#include "ckbase/attribute.h"
#include "objects/template_value_detach.h"
#include "tru2/buffer.h"

#include <memory>
#include <vector>

namespace zrck {

// What a key-pair template says about the key it makes.
struct CurveTemplateFacts {
    bool token = true;
    bool isPrivate = false;
    const Attribute* ecParams = nullptr;
};

// Walks one template of a pair of key type keyType. CKA_CLASS and CKA_KEY_TYPE must be one
// CK_ULONG (CKR_ATTRIBUTE_VALUE_INVALID); a wrong class is CKR_TEMPLATE_INCONSISTENT on the
// public side and CKR_ATTRIBUTE_VALUE_INVALID on the private side; a wrong key type is
// CKR_ATTRIBUTE_VALUE_INVALID. An entry of type refused (0: none) is CKR_ATTRIBUTE_TYPE_INVALID.
CurveTemplateFacts WalkPublicCurveTemplate(const AttributeTemplate& attributes, CK_KEY_TYPE keyType,
                                           CK_ATTRIBUTE_TYPE refused);
CurveTemplateFacts WalkPrivateCurveTemplate(const AttributeTemplate& attributes, CK_KEY_TYPE keyType,
                                            CK_ATTRIBUTE_TYPE refused);

// Puts class, key type and curve into both templates of a new pair, the DER point into the
// public one and, when given, the private value into the private one, and clears their
// processed marks. The entries point at the values given, which must outlive this object; when
// it goes they are cut loose, since the templates outlive the call.
class CurvePairTemplates {
public:
    CurvePairTemplates(AttributeTemplate& publicAttributes, AttributeTemplate& privateAttributes, CK_KEY_TYPE keyType,
                       const tru::Buffer& curve, const tru::Buffer& derPoint, const tru::Buffer* privateValue);
    CurvePairTemplates(const CurvePairTemplates&) = delete;
    CurvePairTemplates& operator=(const CurvePairTemplates&) = delete;

private:
    CK_KEY_TYPE keyType_;
    std::vector<std::unique_ptr<TemplateValueDetach>> detached_;
};

}  // namespace zrck

#endif  // ZR_OBJECTS_CURVE_KEY_TEMPLATES_H
