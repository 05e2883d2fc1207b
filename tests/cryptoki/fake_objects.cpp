#include "fake_objects.h"

namespace zrtest {

void Bytes::Assign(const tru::Buffer& from) {
    mBytes.assign(from.Data(), from.Data() + from.Size());
    mView = tru::Buffer(mBytes.data(), static_cast<uint32_t>(mBytes.size()));
}

bool FakeDataObject::ClassCouldBeCreated(const zrck::AttributeTemplate& attributes) {
    const zrck::Attribute* objectClass = attributes.GetAttributeIfExists(CKA_CLASS);
    return objectClass != nullptr && objectClass->GetAsULong() == CKO_DATA;
}

zrck::TokObject* FakeDataObject::GenerateCopy() {
    auto* copy = new FakeDataObject();
    copy->SetLabel(GetLabel());
    copy->SetLifeTime(GetLifeTime());
    copy->SetVisibility(GetVisibility());
    copy->SetCopyMode(COPY_MODE);
    return copy;
}

ToyMechanism::ToyMechanism(CK_MECHANISM_TYPE type, CK_FLAGS flags, CK_ULONG minKey, CK_ULONG maxKey) {
    SetMechanismType(type);
    SetFlags(flags);
    SetMinKeySize(minKey);
    SetMaxKeySize(maxKey);
}

zrck::TokMechanism* ToyMechanism::Clone() const {
    auto* clone = new ToyMechanism();
    clone->AssignAttributes(*this);
    return clone;
}

}  // namespace zrtest
