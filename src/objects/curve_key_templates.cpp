#include "objects/curve_key_templates.h"

#include "ckbase/exception.h"

namespace zrck {

namespace {

CK_ULONG ULongValue(const Attribute& entry)
{
    if (entry.GetLength() != sizeof(CK_ULONG)) throw Exception(CKR_ATTRIBUTE_VALUE_INVALID);
    return entry.GetAsULong();
}

CurveTemplateFacts WalkCurveTemplate(const AttributeTemplate& attributes, CK_OBJECT_CLASS objectClass,
                                     CK_RV wrongClass, CK_KEY_TYPE keyType, CK_ATTRIBUTE_TYPE refused)
{
    CurveTemplateFacts facts;
    facts.isPrivate = objectClass == CKO_PRIVATE_KEY;
    for (CK_ULONG i = 0; i < attributes.GetCount(); ++i) {
        const Attribute& entry = attributes[i];
        const CK_ATTRIBUTE_TYPE type = entry.GetType();
        if (type == CKA_TOKEN) {
            facts.token = entry.GetAsBool();
        } else if (type == CKA_PRIVATE) {
            facts.isPrivate = entry.GetAsBool();
        } else if (type == CKA_CLASS) {
            if (ULongValue(entry) != objectClass) throw Exception(wrongClass);
        } else if (type == CKA_KEY_TYPE) {
            if (ULongValue(entry) != keyType) throw Exception(CKR_ATTRIBUTE_VALUE_INVALID);
        } else if (type == CKA_EC_PARAMS) {
            facts.ecParams = &entry;
        } else if (refused != 0 && type == refused) {
            throw Exception(CKR_ATTRIBUTE_TYPE_INVALID);
        }
    }
    return facts;
}

}  // namespace

CurveTemplateFacts WalkPublicCurveTemplate(const AttributeTemplate& attributes, CK_KEY_TYPE keyType,
                                           CK_ATTRIBUTE_TYPE refused)
{
    return WalkCurveTemplate(attributes, CKO_PUBLIC_KEY, CKR_TEMPLATE_INCONSISTENT, keyType, refused);
}

CurveTemplateFacts WalkPrivateCurveTemplate(const AttributeTemplate& attributes, CK_KEY_TYPE keyType,
                                            CK_ATTRIBUTE_TYPE refused)
{
    return WalkCurveTemplate(attributes, CKO_PRIVATE_KEY, CKR_ATTRIBUTE_VALUE_INVALID, keyType, refused);
}

CurvePairTemplates::CurvePairTemplates(AttributeTemplate& publicAttributes, AttributeTemplate& privateAttributes,
                                       CK_KEY_TYPE keyType, const tru::Buffer& curve, const tru::Buffer& derPoint,
                                       const tru::Buffer* privateValue)
    : keyType_(keyType)
{
    static const CK_OBJECT_CLASS privateClass = CKO_PRIVATE_KEY;
    static const CK_OBJECT_CLASS publicClass = CKO_PUBLIC_KEY;
    const auto detach = [this](AttributeTemplate& attributes, CK_ATTRIBUTE_TYPE type, const void* value) {
        detached_.emplace_back(new TemplateValueDetach(attributes, type, value));
    };
    detach(privateAttributes, CKA_EC_PARAMS, curve.Data());
    detach(privateAttributes, CKA_KEY_TYPE, &keyType_);
    detach(publicAttributes, CKA_EC_PARAMS, curve.Data());
    detach(publicAttributes, CKA_KEY_TYPE, &keyType_);
    detach(publicAttributes, CKA_EC_POINT, derPoint.Data());
    struct Entry {
        CK_ATTRIBUTE_TYPE type;
        const void* value;
        CK_ULONG length;
    };
    const auto fill = [](AttributeTemplate& attributes, std::vector<Entry> entries) {
        std::unique_ptr<Attribute[]> added(new Attribute[entries.size()]);
        for (size_t i = 0; i < entries.size(); ++i) {
            added[i].SetupOwn(entries[i].type, entries[i].value, static_cast<unsigned>(entries[i].length));
        }
        attributes.AddOrReplaceAttributes(added.get(), entries.size());
        attributes.ResetProcessed();
    };
    std::vector<Entry> privateEntries = {{CKA_CLASS, &privateClass, sizeof privateClass},
                                         {CKA_KEY_TYPE, &keyType_, sizeof keyType_},
                                         {CKA_EC_PARAMS, curve.Data(), curve.Size()}};
    if (privateValue != nullptr) {
        detach(privateAttributes, CKA_VALUE, privateValue->Data());
        privateEntries.push_back({CKA_VALUE, privateValue->Data(), privateValue->Size()});
    }
    fill(privateAttributes, privateEntries);
    fill(publicAttributes, {{CKA_CLASS, &publicClass, sizeof publicClass},
                            {CKA_KEY_TYPE, &keyType_, sizeof keyType_},
                            {CKA_EC_POINT, derPoint.Data(), derPoint.Size()},
                            {CKA_EC_PARAMS, curve.Data(), curve.Size()}});
}

}  // namespace zrck
