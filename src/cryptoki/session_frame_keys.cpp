// Key management of a session: generation, derivation, wrapping and unwrapping through the
// session's mechanisms, with the object rules of every creation.
#include "cryptoki/session_frame.h"
#include "cryptoki/slot.h"
#include "cryptoki/token.h"
#include "objects/tok_key.h"
#include "objects/tok_mechanism.h"
#include "support/safe_buffer.h"
#include "tru2/exception.h"

namespace zrck {

namespace {

const char* const READ_ONLY_TEXT = "SessionFrame read-only";
const char* const KEY_PRIVATE_TEXT = "Key cannot be private if not logged";

// The generating mechanism alone sets these two on the keys it makes.
void RefuseGeneratedSensitivities(const AttributeTemplate& attributes) {
    if (attributes.GetAttributeIfExists(CKA_ALWAYS_SENSITIVE) != nullptr ||
        attributes.GetAttributeIfExists(CKA_NEVER_EXTRACTABLE) != nullptr) {
        throw Exception(CKR_TEMPLATE_INCONSISTENT);
    }
}

// A key that arrived wrapped was known outside the token: it never claims to have been
// always sensitive, never extractable or made here.
void ClearUnwrappedClaims(TokObject& object) {
    if (auto* secret = dynamic_cast<TokSecretKey*>(&object)) {
        secret->SetIsAlwaysSensitive(CK_FALSE);
        secret->SetIsNeverExtractable(CK_FALSE);
        secret->SetLocal(CK_FALSE);
    } else if (auto* priv = dynamic_cast<TokPrivateKey*>(&object)) {
        priv->SetIsAlwaysSensitive(CK_FALSE);
        priv->SetIsNeverExtractable(CK_FALSE);
        priv->SetLocal(CK_FALSE);
    }
}

bool KeyCouldWrap(TokKey& key) {
    if (auto* secret = dynamic_cast<TokSecretKey*>(&key)) return secret->GetCouldWrap() != CK_FALSE;
    if (auto* pub = dynamic_cast<TokPublicKey*>(&key)) return pub->GetCouldWrap() != CK_FALSE;
    throw Exception(CKR_WRAPPING_KEY_TYPE_INCONSISTENT);
}

bool KeyCouldUnwrap(TokKey& key) {
    if (auto* secret = dynamic_cast<TokSecretKey*>(&key)) return secret->GetCouldUnwrap() != CK_FALSE;
    if (auto* priv = dynamic_cast<TokPrivateKey*>(&key)) return priv->GetCouldUnwrap() != CK_FALSE;
    throw Exception(CKR_WRAPPING_KEY_TYPE_INCONSISTENT, "SessionFrame - secret or private key expected to unwrap");
}

}  // namespace

CK_OBJECT_HANDLE SessionFrame::GenerateKey(const MechanismParameter& parameter, AttributeTemplate& attributes) {
    return InSession([&](Token* token) {
        token->GetSlot()->VerifyTemplateArgument(attributes);
        attributes.AddDefaultAttributes(CKO_SECRET_KEY);
        // The completed template decides before the mechanism runs, so no key is made on
        // the token only to be dropped again.
        VerifyTokenAttr(attributes);
        RefuseGeneratedSensitivities(attributes);
        TokMechanism* mechanism = FindMechanism(token, parameter.GetType());
        TokObjectPtr key = mechanism->GenerateKey(*this, parameter, attributes);
        if (!key) throw Exception(CKR_FUNCTION_FAILED);
        return PlaceNewObject(token, key, &attributes, READ_ONLY_TEXT, "Cannot create private object if not logged");
    });
}

std::pair<CK_OBJECT_HANDLE, CK_OBJECT_HANDLE> SessionFrame::GenerateKeyPair(const MechanismParameter& parameter,
                                                                            AttributeTemplate& publicAttributes,
                                                                            AttributeTemplate& privateAttributes) {
    return InSession([&](Token* token) {
        Slot* slot = token->GetSlot();
        slot->VerifyTemplateArgument(privateAttributes);
        slot->VerifyTemplateArgument(publicAttributes);
        publicAttributes.AddDefaultAttributes(CKO_PUBLIC_KEY);
        privateAttributes.AddDefaultAttributes(CKO_PRIVATE_KEY);
        // The completed templates decide before the mechanism runs.
        VerifyTokenAttr(privateAttributes);
        VerifyTokenAttr(publicAttributes);
        RefuseGeneratedSensitivities(privateAttributes);
        TokMechanism* mechanism = FindMechanism(token, parameter.GetType());
        TokMechanism::KeyPair pair = mechanism->GenerateKeyPair(*this, parameter, publicAttributes, privateAttributes);
        PutToIncubator(pair.first);
        PutToIncubator(pair.second);
        if (!pair.first || !pair.second) throw Exception(CKR_FUNCTION_FAILED);
        // The private key is placed first and so receives the lower handle.
        const CK_OBJECT_HANDLE privateHandle = PlaceNewObject(token, pair.second, nullptr, "",
                                                              "Private key cannot be private if not logged");
        const CK_OBJECT_HANDLE publicHandle = PlaceNewObject(token, pair.first, nullptr, "",
                                                             "Public key cannot be private if not logged");
        return std::make_pair(publicHandle, privateHandle);
    });
}

CK_OBJECT_HANDLE SessionFrame::DeriveKey(const MechanismParameter& parameter, TokKey& baseKey,
                                         AttributeTemplate& attributes) {
    return InSession([&](Token* token) -> CK_OBJECT_HANDLE {
        token->GetSlot()->VerifyTemplateArgument(attributes);
        attributes.AddDefaultAttributes(CKO_PRIVATE_KEY);
        VerifyTokenAttr(attributes);
        TokMechanism* mechanism = FindMechanism(token, parameter.GetType());
        if (!baseKey.IsMechanismAllowed(parameter.GetType())) throw Exception(CKR_KEY_TYPE_INCONSISTENT);
        MechanismParameter mutableParameter = parameter;
        TokObjectPtr key;
        auto* privateBase = dynamic_cast<TokPrivateKey*>(&baseKey);
        UseKeys(token, {{&baseKey, CKR_KEY_HANDLE_INVALID}}, Token::ObjectUse::Now, [&] {
            if (privateBase != nullptr) {
                if (!baseKey.GetCouldDerive()) throw Exception(CKR_KEY_FUNCTION_NOT_PERMITTED);
                key = mechanism->DeriveKey(*this, mutableParameter, *privateBase, attributes);
            } else if (auto* publicBase = dynamic_cast<TokPublicKey*>(&baseKey)) {
                if (!baseKey.GetCouldDerive()) throw Exception(CKR_KEY_FUNCTION_NOT_PERMITTED);
                key = mechanism->DeriveKey(*this, mutableParameter, *publicBase, attributes);
            } else if (auto* genericBase = dynamic_cast<TokGenericSecretKey*>(&baseKey)) {
                if (!baseKey.GetCouldDerive()) throw Exception(CKR_KEY_FUNCTION_NOT_PERMITTED);
                key = mechanism->DeriveKey(*this, mutableParameter, *genericBase, attributes);
            } else {
                throw Exception(CKR_KEY_TYPE_INCONSISTENT);
            }
            return true;
        });
        if (!key) return 0;
        PutToIncubator(key);
        auto* derivedSecret = dynamic_cast<TokSecretKey*>(key.get());
        if (privateBase != nullptr && derivedSecret != nullptr) {
            TokMechanism::FillDerivedSensitivities(*privateBase, *derivedSecret);
        }
        const bool fromPrivate = privateBase != nullptr;
        return PlaceNewObject(token, key, &attributes, fromPrivate ? READ_ONLY_TEXT : "",
                              fromPrivate ? KEY_PRIVATE_TEXT : "");
    });
}

void SessionFrame::WrapKey(const MechanismParameter& parameter, TokKey* wrappingKey, TokKey& key, unsigned char* out,
                           CK_ULONG* outLen) {
    InSession([&](Token* token) {
        std::unique_ptr<TokMechanism> mechanism = CloneMechanism(token, parameter.GetType());
        if ((mechanism->GetFlags() & CKF_WRAP) == 0) throw Exception(CKR_WRAPPING_KEY_TYPE_INCONSISTENT);
        if (wrappingKey != nullptr) {
            if (!wrappingKey->IsMechanismAllowed(parameter.GetType())) {
                throw Exception(CKR_WRAPPING_KEY_TYPE_INCONSISTENT);
            }
            if (!KeyCouldWrap(*wrappingKey)) throw Exception(CKR_KEY_FUNCTION_NOT_PERMITTED);
        }
        // The key to wrap is judged on every path, whoever does the wrapping.
        const CK_OBJECT_CLASS keyClass = key.GetClass();
        if (keyClass != CKO_SECRET_KEY && keyClass != CKO_PRIVATE_KEY) throw Exception(CKR_KEY_TYPE_INCONSISTENT);
        if (!key.GetIsExtractable()) throw Exception(CKR_KEY_UNEXTRACTABLE);
        bool done = false;
        // A length answer checks the keys only when it reads them from the token.
        const Token::ObjectUse when = out != nullptr ? Token::ObjectUse::Now : Token::ObjectUse::ItsCommands;
        UseKeys(token, {{wrappingKey, CKR_WRAPPING_KEY_HANDLE_INVALID}, {&key, CKR_KEY_HANDLE_INVALID}}, when, [&] {
            if (mechanism->IsCustomWrapKeyExists()) {
                done = mechanism->WrapKey(*this, parameter, wrappingKey, key, out, outLen);
            } else if (wrappingKey == nullptr) {
                throw Exception(CKR_DATA_INVALID);
            } else {
                vdk::SafeBuffer value;
                if (auto* secret = dynamic_cast<TokSecretKey*>(&key)) {
                    value = secret->GetValueToWrap();
                } else {
                    value = dynamic_cast<TokPrivateKey&>(key).GetValueToWrap();
                }
                if (value.Size() == 0) throw Exception(CKR_KEY_TYPE_INCONSISTENT);
                if (auto* secretWrapper = dynamic_cast<TokSecretKey*>(wrappingKey)) {
                    mechanism->EncryptInit(*this, parameter, *secretWrapper);
                } else {
                    mechanism->EncryptInit(*this, parameter, dynamic_cast<TokPublicKey&>(*wrappingKey));
                }
                done = mechanism->Encrypt(*this, value, out, outLen);
            }
            return done;
        });
        if (!done) throw BufferTooSmallException();
    });
}

CK_OBJECT_HANDLE SessionFrame::UnwrapKey(const MechanismParameter& parameter, TokKey* unwrappingKey,
                                         const tru::Buffer& wrapped, AttributeTemplate& attributes) {
    return InSession([&](Token* token) -> CK_OBJECT_HANDLE {
        token->GetSlot()->VerifyTemplateArgument(attributes);
        VerifyTokenAttr(attributes);
        std::unique_ptr<TokMechanism> mechanism = CloneMechanism(token, parameter.GetType());
        if ((mechanism->GetFlags() & CKF_UNWRAP) == 0) throw Exception(CKR_UNWRAPPING_KEY_TYPE_INCONSISTENT);
        if (unwrappingKey == nullptr) {
            TokObjectPtr key = mechanism->UnwrapKey(*this, parameter, nullptr, wrapped, attributes);
            if (!key) throw Exception(CKR_FUNCTION_FAILED);
            PutToIncubator(key);
            ClearUnwrappedClaims(*key);
            return PlaceNewObject(token, key, nullptr, READ_ONLY_TEXT, KEY_PRIVATE_TEXT);
        }
        if (const Attribute* classEntry = attributes.GetAttributeIfExists(CKA_CLASS)) {
            if (classEntry->GetLength() != sizeof(CK_ULONG)) throw Exception(CKR_ATTRIBUTE_VALUE_INVALID);
            const CK_OBJECT_CLASS objectClass = classEntry->GetAsULong();
            if (objectClass != CKO_SECRET_KEY && objectClass != CKO_PRIVATE_KEY) {
                throw Exception(CKR_TEMPLATE_INCONSISTENT, "Only CKO_SECRET_KEY and CKO_PRIVATE_KEY supported");
            }
        }
        if (!unwrappingKey->IsMechanismAllowed(parameter.GetType())) {
            throw Exception(CKR_UNWRAPPING_KEY_TYPE_INCONSISTENT);
        }
        if (!KeyCouldUnwrap(*unwrappingKey)) throw Exception(CKR_KEY_FUNCTION_NOT_PERMITTED);
        TokObjectPtr key;
        vdk::SafeBuffer value(wrapped.Size());
        UseKeys(token, {{unwrappingKey, CKR_UNWRAPPING_KEY_HANDLE_INVALID}}, Token::ObjectUse::Now, [&] {
            if (mechanism->IsCustomWrapKeyExists()) {
                key = mechanism->UnwrapKey(*this, parameter, unwrappingKey, wrapped, attributes);
                if (!key) throw Exception(CKR_FUNCTION_FAILED);
                PutToIncubator(key);
                return true;
            }
            if (auto* secretUnwrapper = dynamic_cast<TokSecretKey*>(unwrappingKey)) {
                mechanism->DecryptInit(*this, parameter, *secretUnwrapper);
            } else {
                mechanism->DecryptInit(*this, parameter, dynamic_cast<TokPrivateKey&>(*unwrappingKey));
            }
            unsigned long length = value.Size();
            if (!mechanism->Decrypt(*this, wrapped, value.Data(), &length)) throw BufferTooSmallException();
            if (length == 0 || length > value.Size()) throw Exception(CKR_WRAPPED_KEY_INVALID);
            const tru::TResult cut = value.Realloc(static_cast<uint32_t>(length));
            if (cut != 0) throw tru::Exception(cut);
            return true;
        });
        if (!key) {
            Attribute valueEntry;
            valueEntry.SetupOwn(CKA_VALUE, value.Data(), static_cast<unsigned int>(value.Size()));
            attributes.AddOrReplaceAttributes(&valueEntry, 1);
            VerifyTokenAttr(attributes);
            key = CreateObject(token, attributes, true);
        }
        ClearUnwrappedClaims(*key);
        return PlaceNewObject(token, key, nullptr, "CKR_SESSION_READ_ONLY: isToken && this->IsReadOnly()",
                              KEY_PRIVATE_TEXT);
    });
}

}  // namespace zrck
