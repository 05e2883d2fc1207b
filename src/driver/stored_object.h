// An object class kept in token files: the storage-object accessors every stored class answers
// alike from TokenStoredObject.
#pragma once

#include "driver/token_stored_object.h"
#include "objects/tok_object.h"

namespace qel {

// Base: the object model's class (or a class built on it).
template <class Base>
class StoredObject : public Base, public TokenStoredObject {
public:
    void InitDefaults() override {}
    CK_BBOOL IsModifiable() const override { return IsModifiableStored() ? CK_TRUE : CK_FALSE; }
    void SetModifiable(bool modifiable) override { SetModifiableStored(modifiable); }
    const tru::Buffer& GetLabel() const override { return GetLabelStored(); }
    void SetLabel(const tru::Buffer& label) override { SetLabelStored(label); }
    CK_BBOOL IsCopyable() const override { return IsCopyableStored() ? CK_TRUE : CK_FALSE; }
    void SetCopyable(bool copyable) override { SetCopyableStored(copyable); }
};

}  // namespace qel
