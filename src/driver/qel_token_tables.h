#pragma once

#include <cstdint>
#include <vector>

#include "ckbase/zr_pkcs11.h"
#include "device/device_types.h"
#include "driver/storage_types.h"

namespace zrck {
class AttributeTemplate;
class TokDomainParams;
class TokMechanism;
class TokObject;
}  // namespace zrck

namespace qel {

class Token;

// What a token offers depends on its model and its device's capabilities.
enum class TokenCondition {
    Always,
    NotModel,     // the model flag is clear (RSA, ECDSA and SHA mechanisms)
    DH,           // national key agreement: the model flag, or device version 2, 4 or 5
    DSTU431,      // the m = 431 curve: model flag clear, version (major, minor) 4.14 or later
};

// One mechanism of the token's table; the token adds them in table order.
struct MechanismRow {
    CK_MECHANISM_TYPE type;
    TokenCondition condition;
    zrck::TokMechanism* (*make)(Token& token);
};

// One class of object kept in token files, by the item type of its index record.
struct StoredClassRow {
    uint16_t itemType;
    zrck::TokObject* (*make)();
};

// One domain-parameters object the token shows without storing it.
struct FixedDomainParamsRow {
    CK_KEY_TYPE keyType;
    const char* label;  // identifier text, also what tells whether the object exists already
    TokenCondition condition;
    // A filled object (label and parameters set); the token marks it fixed and registers it.
    zrck::TokDomainParams* (*make)(Token& token, const char* label);
};

// The rows an algorithm layer adds to every token; any member may be null.
struct TokenTables {
    const std::vector<MechanismRow>& (*mechanisms)();
    const std::vector<StoredClassRow>& (*storedClasses)();
    const std::vector<FixedDomainParamsRow>& (*fixedDomainParams)();
    // Registers the layer's creation classes with the token's class factory.
    void (*registerClasses)(Token* token);
};

// Adds a layer's tables, one call per layer (for instance from a static initialiser of the
// layer, or of the library that links it); answers true so it can initialise a constant.
bool RegisterTokenTables(const TokenTables& tables);
const std::vector<TokenTables>& RegisteredTokenTables();

// Row makers: a new object of the class.
template <class Mechanism>
zrck::TokMechanism* MakeMechanism(Token&)
{
    return new Mechanism();
}
template <class ObjectClass>
zrck::TokObject* MakeStored()
{
    return new ObjectClass();
}

// Registers one creation class with the token's class factory: subtype is the key type (or the
// certificate type, 0 for data objects).
void RegisterCreationClass(Token* token, CK_OBJECT_CLASS objectClass, CK_ULONG subtype,
                           bool (*couldBeCreated)(const zrck::AttributeTemplate&), zrck::TokObject* (*generate)());
template <class ObjectClass>
void RegisterCreationClass(Token* token, CK_OBJECT_CLASS objectClass, CK_ULONG subtype)
{
    RegisterCreationClass(token, objectClass, subtype, &ObjectClass::ClassCouldBeCreated,
                          &ObjectClass::GenerateTokObject);
}
// A layer's process-wide state (tables, caches) freed when the library is finalized, after its
// tokens are gone; answers true so it can initialise a constant.
bool RegisterLayerRelease(void (*release)());
// Runs every registered release, in registration order.
void ReleaseLayers();

// The driver's own rows followed by those of every registered layer, in registration order.
std::vector<MechanismRow> MechanismRows();
std::vector<StoredClassRow> StoredClassRows();
std::vector<FixedDomainParamsRow> FixedDomainParamsRows();

}  // namespace qel
