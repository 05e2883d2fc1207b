#include "driver/curve_key_pair.h"

#include "ckbase/exception.h"
#include "cryptoki/names/ck_names.h"
#include "driver/token_storage.h"
#include "driver/token_stored_object.h"
#include "objects/tok_key.h"

namespace qel {

namespace {

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
        // The templates outlive this call; entries given local values are cut loose on the way out.
        const zrck::CurvePairTemplates completed(publicAttributes, privateAttributes, keyType, curve, derPoint, nullptr);

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
