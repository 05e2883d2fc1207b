// The key of a mechanism's current operation: bound at the Init call once the mechanism
// parameter is found empty and the key is of the expected type and class, asked for by the data
// calls, forgotten when the operation ends. The key is held by reference only; the framework
// keeps it alive while the operation runs.
#ifndef ZR_OBJECTS_OPERATION_KEYS_H
#define ZR_OBJECTS_OPERATION_KEYS_H

#include "ckbase/exception.h"
#include "objects/tok_key.h"
#include "objects/tok_mechanism.h"

namespace zrck {

template <class PublicKey, class PrivateKey>
class OperationKeys {
public:
    explicit OperationKeys(CK_KEY_TYPE keyType) : keyType_(keyType) {}

    // Both keys forgotten first; a non-empty parameter is CKR_MECHANISM_PARAM_INVALID, a key of
    // another type CKR_KEY_TYPE_INCONSISTENT.
    PublicKey& BindPublic(TokMechanism& mechanism, const MechanismParameter& parameter, TokPublicKey& key)
    {
        Forget();
        mechanism.EnsureParameterEmpty(parameter);
        return *(public_ = &Checked<PublicKey>(key));
    }
    PrivateKey& BindPrivate(TokMechanism& mechanism, const MechanismParameter& parameter, TokPrivateKey& key)
    {
        Forget();
        mechanism.EnsureParameterEmpty(parameter);
        return *(private_ = &Checked<PrivateKey>(key));
    }
    void Forget()
    {
        public_ = nullptr;
        private_ = nullptr;
    }

    // The bound key; CKR_GENERAL_ERROR when none is bound.
    PublicKey& Public() const { return Bound(public_); }
    PrivateKey& Private() const { return Bound(private_); }
    bool HasPublic() const { return public_ != nullptr; }

private:
    template <class Wanted, class Key>
    Wanted& Checked(Key& key) const
    {
        auto* wanted = key.GetKeyType() == keyType_ ? dynamic_cast<Wanted*>(&key) : nullptr;
        if (wanted == nullptr) throw Exception(CKR_KEY_TYPE_INCONSISTENT);
        return *wanted;
    }
    template <class Key>
    static Key& Bound(Key* key)
    {
        if (key == nullptr) throw Exception(CKR_GENERAL_ERROR);
        return *key;
    }

    CK_KEY_TYPE keyType_;
    PublicKey* public_ = nullptr;
    PrivateKey* private_ = nullptr;
};

}  // namespace zrck

#endif  // ZR_OBJECTS_OPERATION_KEYS_H
