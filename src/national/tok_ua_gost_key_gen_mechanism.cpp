#include "national/tok_ua_gost_key_gen_mechanism.h"

#include "ckbase/exception.h"
#include "cryptoki/names/ck_names.h"
#include "cryptoki/token.h"
#include "driver/template_value_detach.h"
#include "national/tok_ua_gost_secret_key.h"
#include "support/safe_buffer.h"

namespace qel {

namespace {

const CK_OBJECT_CLASS kSecretKeyClass = CKO_SECRET_KEY;
const CK_KEY_TYPE kGostKeyType = CKK_GOST28147_NAT;

void CheckTemplate(const zrck::AttributeTemplate& attributes)
{
    for (CK_ULONG i = 0; i < attributes.GetCount(); ++i) {
        const zrck::Attribute& entry = attributes[i];
        switch (entry.GetType()) {
            case CKA_CLASS:
                if (entry.GetAsULong() != CKO_SECRET_KEY) throw zrck::Exception(CKR_TEMPLATE_INCONSISTENT);
                break;
            case CKA_TOKEN:
            case CKA_PRIVATE: entry.GetAsBool(); break;
            case CKA_VALUE: throw zrck::Exception(CKR_ATTRIBUTE_TYPE_INVALID);
            case CKA_KEY_TYPE:
                if (entry.GetAsULong() != CKK_GOST28147_NAT) throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID);
                break;
            default: break;
        }
    }
}

bool IsAllZero(const tru::Buffer& value)
{
    for (uint32_t i = 0; i < value.Size(); ++i) {
        if (value.Data()[i] != 0) return false;
    }
    return true;
}

}  // namespace

TokUAGostKeyGenMechanism::TokUAGostKeyGenMechanism()
{
    SetMechanismType(CKM_GOST28147_KEY_GEN_NAT);
    SetFlags(CKF_GENERATE);
    SetMinKeySize(TokUAGostSecretKey::VALUE_LENGTH);
    SetMaxKeySize(TokUAGostSecretKey::VALUE_LENGTH);
}

zrck::TokMechanism* TokUAGostKeyGenMechanism::Clone() const
{
    auto* clone = new TokUAGostKeyGenMechanism();
    clone->AssignAttributes(*this);
    return clone;
}

zrck::TokMechanism::KeyPointer TokUAGostKeyGenMechanism::CreateSecretKey()
{
    return KeyPointer(new TokUAGostSecretKey());
}

zrck::TokMechanism::KeyPointer TokUAGostKeyGenMechanism::GenerateKey(zrck::MechanismSession& session,
                                                                     const zrck::MechanismParameter& parameter,
                                                                     zrck::AttributeTemplate& attributes)
{
    if (parameter.GetType() != GetMechanismType()) throw zrck::Exception(CKR_MECHANISM_INVALID);
    EnsureParameterEmpty(parameter);
    CheckTemplate(attributes);

    zrck::ObjectToken* token = GetTokenPtr();
    if (token == nullptr) throw zrck::Exception(CKR_FUNCTION_FAILED);
    // The template keeps pointing at the value until the key has taken its copy.
    vdk::SafeBuffer value(TokUAGostSecretKey::VALUE_LENGTH);
    unsigned draws = 0;
    do {
        if (draws++ == kMaxRandomDraws) throw zrck::Exception(CKR_FUNCTION_FAILED);
        token->GenerateUserRandom(value);
    } while (IsAllZero(value));

    zrck::Attribute supplied[3];
    supplied[0].SetupOwn(CKA_CLASS, &kSecretKeyClass, sizeof kSecretKeyClass);
    supplied[1].SetupOwn(CKA_KEY_TYPE, &kGostKeyType, sizeof kGostKeyType);
    supplied[2].SetupOwn(CKA_VALUE, value.Data(), value.Size());
    attributes.AddOrReplaceAttributes(supplied, 3);
    attributes.ResetProcessed();
    const TemplateValueDetach detach(attributes, CKA_VALUE, value.Data());

    KeyPointer key = CreateSecretKey();
    auto& gostKey = dynamic_cast<zrck::TokUAGostSecretKey&>(*key);
    gostKey.SetLocal(CK_TRUE);
    gostKey.InitializeWithAttributes(token, attributes);
    gostKey.SetGenerationDate(zrck::GetCurrentDateTimeAsZR());
    gostKey.AddGeneratedSensitiveAttributes(session);
    gostKey.SetKeyGenMechanism(CKM_GOST28147_KEY_GEN_NAT);
    return key;
}

}  // namespace qel
