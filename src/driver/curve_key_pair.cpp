#include "driver/curve_key_pair.h"

#include "ckbase/exception.h"
#include "cryptoki/names/ck_names.h"
#include "driver/template_value_detach.h"
#include "driver/token_storage.h"
#include "driver/token_stored_object.h"
#include "objects/tok_key.h"

namespace qel {

namespace {

CK_ULONG ULongValue(const zrck::Attribute& entry)
{
    if (entry.GetLength() != sizeof(CK_ULONG)) throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID);
    return entry.GetAsULong();
}

CurveTemplateFacts WalkCurveTemplate(const zrck::AttributeTemplate& attributes, CK_OBJECT_CLASS objectClass,
                                     CK_RV wrongClass, CK_KEY_TYPE keyType, CK_ATTRIBUTE_TYPE refused)
{
    CurveTemplateFacts facts;
    facts.isPrivate = objectClass == CKO_PRIVATE_KEY;
    for (CK_ULONG i = 0; i < attributes.GetCount(); ++i) {
        const zrck::Attribute& entry = attributes[i];
        const CK_ATTRIBUTE_TYPE type = entry.GetType();
        if (type == CKA_TOKEN) {
            facts.token = entry.GetAsBool();
        } else if (type == CKA_PRIVATE) {
            facts.isPrivate = entry.GetAsBool();
        } else if (type == CKA_CLASS) {
            if (ULongValue(entry) != objectClass) throw zrck::Exception(wrongClass);
        } else if (type == CKA_KEY_TYPE) {
            if (ULongValue(entry) != keyType) throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID);
        } else if (type == CKA_EC_PARAMS) {
            facts.ecParams = &entry;
        } else if (refused != 0 && type == refused) {
            throw zrck::Exception(CKR_ATTRIBUTE_TYPE_INVALID);
        }
    }
    return facts;
}

void RemovePairQuietly(TokenStorage& storage, const GeneratedPairFiles& files)
{
    const auto storageId = [](long attributeFile, long objectFile) {
        return static_cast<uint32_t>(attributeFile) << 16 | static_cast<uint32_t>(objectFile);
    };
    try {
        if (files.publicObjectFile != 0) {
            storage.DeleteStorageObject(storageId(files.publicAttributeFile, files.publicObjectFile), false);
        }
    } catch (...) {
    }
    try {
        storage.DeleteStorageObject(storageId(files.privateAttributeFile, files.keySlot), false);
    } catch (...) {
    }
}

void SetFiles(TokenStoredObject& stored, long objectFile, long attributeFile)
{
    stored.SetObjectFile(objectFile);
    stored.SetAttributeFile(attributeFile);
    stored.SetStorageID(static_cast<uint32_t>(attributeFile) << 16 | static_cast<uint32_t>(objectFile));
}

TokenStoredObject& StoredView(zrck::TokObject& key)
{
    auto* stored = dynamic_cast<TokenStoredObject*>(&key);
    if (stored == nullptr) throw zrck::Exception(CKR_GENERAL_ERROR);
    return *stored;
}

} // namespace

void RemoveGeneratedPair(TokenStorage& storage, const GeneratedPairFiles& files) { RemovePairQuietly(storage, files); }

CurveTemplateFacts WalkPublicCurveTemplate(const zrck::AttributeTemplate& attributes, CK_KEY_TYPE keyType,
                                           CK_ATTRIBUTE_TYPE refused)
{
    return WalkCurveTemplate(attributes, CKO_PUBLIC_KEY, CKR_TEMPLATE_INCONSISTENT, keyType, refused);
}

CurveTemplateFacts WalkPrivateCurveTemplate(const zrck::AttributeTemplate& attributes, CK_KEY_TYPE keyType,
                                            CK_ATTRIBUTE_TYPE refused)
{
    return WalkCurveTemplate(attributes, CKO_PRIVATE_KEY, CKR_ATTRIBUTE_VALUE_INVALID, keyType, refused);
}

zrck::TokMechanism::KeyPair BuildGeneratedCurvePair(zrck::MechanismSession& session, zrck::ObjectToken* token,
                                                    TokenStorage& storage, const GeneratedPairFiles& files,
                                                    CK_KEY_TYPE keyType, CK_MECHANISM_TYPE mechanism,
                                                    const tru::Buffer& curve, const tru::Buffer& derPoint,
                                                    bool publicOnToken, zrck::AttributeTemplate& publicAttributes,
                                                    zrck::AttributeTemplate& privateAttributes,
                                                    zrck::TokMechanism::KeyPointer privateKey,
                                                    zrck::TokMechanism::KeyPointer publicKey)
{
    try {
        const CK_ZR_DATETIME generated = zrck::GetCurrentDateTimeAsZR();
        static const CK_OBJECT_CLASS privateClass = CKO_PRIVATE_KEY;
        static const CK_OBJECT_CLASS publicClass = CKO_PUBLIC_KEY;
        const CK_KEY_TYPE type = keyType;
        // The templates outlive this call; entries given local values are cut loose on the way out.
        const TemplateValueDetach privateCurve(privateAttributes, CKA_EC_PARAMS, curve.Data());
        const TemplateValueDetach privateType(privateAttributes, CKA_KEY_TYPE, &type);
        const TemplateValueDetach publicCurve(publicAttributes, CKA_EC_PARAMS, curve.Data());
        const TemplateValueDetach publicType(publicAttributes, CKA_KEY_TYPE, &type);
        const TemplateValueDetach publicPoint(publicAttributes, CKA_EC_POINT, derPoint.Data());
        zrck::Attribute privateAdded[3];
        privateAdded[0].SetupOwn(CKA_CLASS, &privateClass, sizeof privateClass);
        privateAdded[1].SetupOwn(CKA_KEY_TYPE, &type, sizeof type);
        privateAdded[2].SetupOwn(CKA_EC_PARAMS, curve.Data(), curve.Size());
        privateAttributes.AddOrReplaceAttributes(privateAdded, 3);
        privateAttributes.ResetProcessed();
        zrck::Attribute publicAdded[4];
        publicAdded[0].SetupOwn(CKA_CLASS, &publicClass, sizeof publicClass);
        publicAdded[1].SetupOwn(CKA_KEY_TYPE, &type, sizeof type);
        publicAdded[2].SetupOwn(CKA_EC_POINT, derPoint.Data(), derPoint.Size());
        publicAdded[3].SetupOwn(CKA_EC_PARAMS, curve.Data(), curve.Size());
        publicAttributes.AddOrReplaceAttributes(publicAdded, 4);
        publicAttributes.ResetProcessed();

        auto& priv = dynamic_cast<zrck::TokPrivateKey&>(*privateKey);
        priv.SetLifeTime(zrck::TokObject::LIFETIME_TOKEN);
        priv.SetVisibility(zrck::TokObject::VISIBILITY_PRIVATE);
        priv.SetLocal(CK_TRUE);
        priv.SetupAttributes(token, privateAttributes);
        // A pair requested without any usage can still sign and verify.
        if (!privateAttributes.HasUsageAttributes()) priv.AddDefaultUsageAttributes();
        priv.SetGenerationDate(generated);
        priv.AddGeneratedSensitiveAttributes(session);

        auto& pub = dynamic_cast<zrck::TokPublicKey&>(*publicKey);
        pub.SetLifeTime(publicOnToken ? zrck::TokObject::LIFETIME_TOKEN : zrck::TokObject::LIFETIME_SESSION);
        pub.SetVisibility(zrck::TokObject::VISIBILITY_PUBLIC);
        pub.SetLocal(CK_TRUE);
        pub.SetupAttributes(token, publicAttributes);
        if (!publicAttributes.HasUsageAttributes()) pub.AddDefaultUsageAttributes();
        pub.SetGenerationDate(generated);

        SetFiles(StoredView(priv), files.keySlot, files.privateAttributeFile);
        SetFiles(StoredView(pub), files.publicObjectFile, files.publicAttributeFile);
        priv.SetKeyGenMechanism(mechanism);
        pub.SetKeyGenMechanism(mechanism);
        return zrck::TokMechanism::KeyPair(publicKey, privateKey);
    } catch (...) {
        RemoveGeneratedPair(storage, files);
        throw;
    }
}

} // namespace qel
