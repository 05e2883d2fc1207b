#pragma once

#include "driver/lazy_data.h"
#include "driver/storage_types.h"
#include "driver/stored_object.h"
#include "objects/tok_data.h"
#include "support/noncopyable.h"

namespace qel {

// CKO_DATA object of the token driver: in memory for a session object, or an index record of
// item type 5, a data file holding CKA_VALUE (read on first use) and an attribute file.
class TokData : public StoredObject<zrck::TokData>, private vdk::Noncopyable {
public:
    static bool ClassCouldBeCreated(const zrck::AttributeTemplate& attributes) {
        return zrck::TokData::ClassCouldBeCreated(attributes);
    }
    static zrck::TokObject* GenerateTokObject() { return new TokData(); }
    static TokenStoredObject* GenerateObject() { return new TokData(); }

    TokData() = default;

    std::string ToString() const override;
    zrck::TokObject* GenerateCopy() override;
    CK_ULONG GetObjectSize() override;
    const tru::Buffer& GetApplication() const override { return application_; }
    void SetApplication(const tru::Buffer& application) override;
    const tru::Buffer& GetValue() const override;
    void SetValue(const tru::Buffer& value) override { value_.SetData(value); }
    const tru::Buffer& GetObjectID() const override { return objectId_; }
    void SetObjectID(const tru::Buffer& objectId) override;

    uint16_t GetTokenIndexType() const override { return DATA; }
    void StoreAttributes() override;
    void ReadAttributes() override;
    bool RefreshFrom(TokenStoredObject& other) override;
    void MoveToFiles(long objectFile, long attributeFile) override;

    const LazyData& GetLazyValue() const { return value_; }

private:
    tru::BufferDynamic application_;
    tru::BufferDynamic objectId_;
    mutable LazyData value_;
};

}  // namespace qel
