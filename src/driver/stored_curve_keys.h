// Curve keys kept on the token, ECDSA and DSTU 4145 alike, built on the shared stored-key
// classes: the EC parameters (the value record of the attribute file), reading back,
// refreshing from a copy read again and copying. A large value (the public point, a host-held private value)
// lives in the object's data file and is read on first use.
#pragma once

#include "driver/lazy_data.h"
#include "driver/stored_key.h"
#include "driver/token_stored_object.h"
#include "objects/kept_curve_keys.h"
#include "support/noncopyable.h"

#include <string>

namespace qel {

class TokenStorage;

// Base: zrck::TokECDsaPrivateKey or zrck::TokUASgnPrivateKey.
template <class Base>
class StoredCurvePrivateKey : public StoredPrivateKey<zrck::KeptCurvePrivateKey<Base>>, private vdk::Noncopyable {
public:
    zrck::TokObject* GenerateCopy() override;

    // The files plus 16 for the key.
    CK_ULONG GetObjectSize() override;
    bool IsGenerationDateSupported() const override { return true; }
    bool IsGenerationUTCSupported() const override { return false; }
    void AddDefaultUsageAttributes() override;

    // Token files. Storing a key not yet on the token reserves its files (ReserveFiles); a
    // value kept in a data file is written when it is in memory.
    void StoreAttributes() override;
    void ReadAttributes() override;
    bool RefreshFrom(TokenStoredObject& other) override;

    // The device key slot of a key the token holds.
    long GetKeySlot() const { return this->GetObjectFile(); }

protected:
    // A new, empty object of the concrete class (copies start from it).
    virtual StoredCurvePrivateKey* MakeEmpty() const = 0;
    // The value kept in the object's data file; none by default (the token holds the key).
    virtual LazyData* DataFileValue() { return nullptr; }
    // Files of a key not yet on the token: only a private key is stored (CKR_ATTRIBUTE_VALUE_INVALID),
    // under the class's item type in the private range.
    virtual void ReserveFiles();
    TokenStorage& Storage() const;
};

// Base: zrck::TokECDsaPublicKey or zrck::TokUASgnPublicKey. The point (DER OCTET STRING) is kept
// in the object's data file.
template <class Base>
class StoredCurvePublicKey : public StoredPublicKey<zrck::KeptCurvePublicKey<Base>>, private vdk::Noncopyable {
public:
    // A copy carries the point, read from the token first when it was never read.
    zrck::TokObject* GenerateCopy() override;

    CK_ULONG GetObjectSize() override;
    bool IsGenerationDateSupported() const override { return true; }
    bool IsGenerationUTCSupported() const override { return false; }

    // Read from the data file on first use; CKR_FUNCTION_FAILED without an owning token.
    const tru::Buffer& GetECPoint() const override;

    void StoreAttributes() override;
    void ReadAttributes() override;
    bool RefreshFrom(TokenStoredObject& other) override;

protected:
    virtual StoredCurvePublicKey* MakeEmpty() const = 0;
    // Whether an empty CKA_EC_PARAMS is still written as a record.
    virtual bool StoresEmptyParams() const { return true; }
    // Keeps a point the concrete class has checked.
    void KeepECPoint(const tru::Buffer& point) { ecPoint_.SetData(point); }
    TokenStorage& Storage() const;

private:
    mutable LazyData ecPoint_;
};

} // namespace qel
