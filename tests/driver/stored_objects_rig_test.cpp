// The driver's token, slots and stored objects in-process against the simulated token: file
// layout, lazy values, what a second connection (another process) sees, copies, stored flags
// and the SO-properties object.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "ckbase/exception.h"
#include "driver/qel_library.h"
#include "driver/qel_slot.h"
#include "driver/qel_slot_factory.h"
#include "driver/qel_token.h"
#include "driver/so_token_properties.h"
#include "driver/tok_data_object.h"
#include "driver/qel_token_tables.h"
#include "driver/tok_x509_certificate.h"
#include "objects/tok_mechanism.h"
#include "module_rig_fixture.h"
#include "rig_gtest.h"

using namespace librarytest;

namespace {

// An algorithm layer's tables as the national and host layers register theirs.
class ListedOnlyMechanism : public zrck::TokMechanism {
public:
    ListedOnlyMechanism() {
        SetMechanismType(CKM_SHA256);
        SetFlags(CKF_DIGEST);
    }
    const char* GetObjectClassName() const override { return "ListedOnlyMechanism"; }
    void FreeResources() override {}
    zrck::TokMechanism* Clone() const override { return new ListedOnlyMechanism(); }
    void SetParameter(const zrck::MechanismParameter&) override {}
    void SetDefaultParameter() override {}
};

const std::vector<qel::MechanismRow>& LayerMechanisms() {
    static const std::vector<qel::MechanismRow> rows = {
        {CKM_SHA256, qel::TokenCondition::NotModel, [](qel::Token&) -> zrck::TokMechanism* { return new ListedOnlyMechanism(); }},
        {CKM_SHA_1, qel::TokenCondition::DH, [](qel::Token&) -> zrck::TokMechanism* { return nullptr; }},
    };
    return rows;
}

// Both rows are offered to the simulated token (version 5.15, no model flag); the second
// yields no object and adds nothing.
const bool layerRegistered = qel::RegisterTokenTables({&LayerMechanisms, nullptr, nullptr, nullptr});

tru::Buffer Text(const char* text) { return tru::Buffer(text, static_cast<uint32_t>(std::strlen(text))); }

class DriverRig : public ::testing::Test {
protected:
    void SetUp() override {
        ZR_REQUIRE_RIG();
        tokensim::rig::RigOptions options;
        options.simulators = {InitialisedToken()};
        rig = std::make_unique<tokensim::rig::Rig>(options);
        library = dynamic_cast<qel::Library*>(zrck::LibraryFrame::GetInstance());
        ASSERT_NE(library, nullptr);
        CK_C_INITIALIZE_ARGS args{};
        args.flags = CKF_OS_LOCKING_OK;
        ASSERT_EQ(library->Initialize(&args), CKR_OK);
        slot = std::static_pointer_cast<qel::Slot>(library->GetDriverSlotFactory()->GetSlotByID(0));
        token = slot->GetDriverToken();
        token->Login(CKU_USER, Text(kUserPin));
    }

    void TearDown() override {
        other.reset();
        token.reset();
        slot.reset();
        if (library != nullptr) {
            library->Finalize(nullptr);
            zrck::LibraryFrame::ReleaseInstanceIfFinalized(library);
        }
        rig.reset();
    }

    // A second connection to the same token, as another process has it.
    std::shared_ptr<qel::Slot> OtherConnection() {
        auto second = std::make_shared<qel::Slot>(library, 0, rig->ReaderName(0));
        EXPECT_EQ(second->InitializeToken(), CKR_OK);
        second->PostInit();
        return second;
    }

    // As the library stores a new token object: in the slot, written, filed, revision moved.
    void Store(qel::Slot& into, const std::shared_ptr<zrck::TokObject>& object) {
        std::shared_ptr<qel::Token> owner = into.GetDriverToken();
        qel::TokenStorage::GlobalBusyGuard guard(*owner->GetStorage(), "test");
        into.AddObject(object);
        owner->SetDirty(object.get(), nullptr);
        owner->Update(true);
    }

    void Change(qel::Slot& in, zrck::TokObject& object) {
        std::shared_ptr<qel::Token> owner = in.GetDriverToken();
        qel::TokenStorage::GlobalBusyGuard guard(*owner->GetStorage(), "test");
        owner->SetDirty(&object, nullptr);
        owner->Update(true);
    }

    // The slot's view after a search, with the revision cache forgotten.
    template <class Class>
    std::vector<std::shared_ptr<Class>> Search(qel::Slot& in) {
        in.GetDriverToken()->GetStorage()->ResetDeviceCache();
        in.GetDriverToken()->RefreshObjects(nullptr);
        std::vector<std::shared_ptr<Class>> found;
        std::vector<CK_OBJECT_HANDLE> handles;
        in.zrck::Slot::EnumerateObjects(
            [&](zrck::TokObject& object, zrck::Slot::ObjEnumerationData*) {
                if (dynamic_cast<Class*>(&object) != nullptr) handles.push_back(object.GetHandle());
                return true;
            },
            nullptr);
        for (CK_OBJECT_HANDLE handle : handles) {
            zrck::TokObjectPtr object = in.GetBlockObjectIfExists(handle);
            in.ReleaseObject(object);
            found.push_back(std::dynamic_pointer_cast<Class>(object));
        }
        return found;
    }

    std::shared_ptr<qel::TokData> NewData(const char* label, bool isPrivate = false) {
        auto data = std::make_shared<qel::TokData>();
        data->SetTokenPtr(token.get());
        data->SetLifeTime(zrck::TokObject::LIFETIME_TOKEN);
        data->SetVisibility(isPrivate ? zrck::TokObject::VISIBILITY_PRIVATE : zrck::TokObject::VISIBILITY_PUBLIC);
        data->SetLabel(Text(label));
        return data;
    }

    uint64_t Reads() const { return rig->Control(0).Count("ReadFile"); }

    std::unique_ptr<tokensim::rig::Rig> rig;
    qel::Library* library = nullptr;
    std::shared_ptr<qel::Slot> slot;
    std::shared_ptr<qel::Token> token;
    std::shared_ptr<qel::Slot> other;
};

TEST_F(DriverRig, DataObjectFilesAndLazyValue) {
    auto data = NewData("lab");
    const uint8_t id[] = {1, 2};
    data->SetObjectID(tru::Buffer(id, 2));
    data->SetValue(Text("0123456789"));
    Store(*slot, data);

    qel::TokenStorage& storage = *token->GetStorage();
    std::vector<qel::storage::IndexFileRecord> index;
    ASSERT_EQ(storage.ListObjectsM(qel::PublicObject, 0, index), 1u);
    EXPECT_EQ(index[0].itemType, qel::DATA);
    EXPECT_EQ(index[0].objectFile, 1);
    EXPECT_EQ(index[0].attributeFile, 2);
    EXPECT_EQ(storage.ReadDataFileM(1)->ToString(), "0123456789");
    std::vector<qel::storage::AttributeBuff> records;
    storage.ReadAttributeFile(2, records);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].id, 0x8EFF);
    EXPECT_EQ(records[0].value->ToHex(), "03000000") << "modifiable and copyable";
    EXPECT_EQ(records[1].id, CKA_LABEL);
    EXPECT_EQ(records[2].id, CKA_OBJECT_ID);
    EXPECT_EQ(records[2].value->ToHex(), "0102");

    other = OtherConnection();
    auto seen = Search<qel::TokData>(*other);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0]->GetLabel().ToString(), "lab");
    const uint64_t before = Reads();
    EXPECT_EQ(seen[0]->GetValue().ToString(), "0123456789");
    EXPECT_EQ(Reads(), before + 1) << "the value is read when first asked for";
}

TEST_F(DriverRig, AnotherConnectionSeesCreationChangeAndDeletion) {
    other = OtherConnection();
    EXPECT_TRUE(Search<qel::TokData>(*other).empty());
    auto data = NewData("first");
    Store(*slot, data);
    auto seen = Search<qel::TokData>(*other);
    ASSERT_EQ(seen.size(), 1u);

    data->SetLabel(Text("second"));
    Change(*slot, *data);
    ASSERT_EQ(Search<qel::TokData>(*other).size(), 1u);
    EXPECT_EQ(seen[0]->GetLabel().ToString(), "second") << "the existing object takes the new values";

    {
        qel::TokenStorage::GlobalBusyGuard guard(*token->GetStorage(), "test");
        slot->DeleteTokenObject(data->GetHandle(), 0, "test");
        token->Update(true);
    }
    EXPECT_TRUE(Search<qel::TokData>(*other).empty());
    EXPECT_TRUE(Search<qel::TokData>(*slot).empty());
}

// A data file goes only after no record names it. An object whose data file is gone is judged
// by its index record: a record that names another file says the value moved there, one that
// still names the missing file says the object has no value (as earlier versions filed an
// object made without one), and no record says the handle names nothing.
TEST_F(DriverRig, AMissingDataFileIsJudgedByTheObjectsRecord) {
    auto data = NewData("data");
    data->SetValue(Text("first"));
    Store(*slot, data);
    Store(*slot, NewData("no value"));
    other = OtherConnection();
    auto unread = Search<qel::TokData>(*other);
    ASSERT_EQ(unread.size(), 2u);
    const auto stale = unread[0]->GetLabel().ToString() == "data" ? unread[0] : unread[1];
    const auto valueless = unread[0] == stale ? unread[1] : unread[0];
    EXPECT_TRUE(valueless->GetValue().Empty()) << "an object made without a value reads empty";

    data->SetValue(Text("second, longer"));
    Change(*slot, *data);
    EXPECT_EQ(data->GetValue().ToString(), "second, longer");
    EXPECT_EQ(stale->GetValue().ToString(), "second, longer") << "never empty while the record names another file";
    auto fresh = Search<qel::TokData>(*other);
    ASSERT_EQ(fresh.size(), 2u) << "the changed object is listed once";
    for (const auto& object : fresh) {
        EXPECT_EQ(object->GetValue().ToString(), object == valueless ? "" : "second, longer");
    }

    // A record whose data file was never written (by an earlier version) or lost.
    qel::TokenStorage& storage = *token->GetStorage();
    {
        qel::TokenStorage::GlobalBusyGuard guard(storage, "test");
        storage.DeleteObjectD(data->GetObjectFile());
    }
    auto third = OtherConnection();
    auto damaged = Search<qel::TokData>(*third);
    ASSERT_EQ(damaged.size(), 2u);
    for (const auto& object : damaged) {
        EXPECT_EQ(object->GetValue().ToString(), "") << object->GetLabel().ToString();
    }

    // Gone with its record: the object another connection read before names nothing.
    auto fourth = OtherConnection();
    auto doomed = Search<qel::TokData>(*fourth);
    ASSERT_EQ(doomed.size(), 2u);
    {
        qel::TokenStorage::GlobalBusyGuard guard(storage, "test");
        storage.DeleteStorageObject({qel::DATA, static_cast<uint16_t>(data->GetObjectFile()),
                                     static_cast<uint16_t>(data->GetAttributeFile())},
                                    true);
    }
    for (const auto& object : doomed) {
        if (object->GetLabel().ToString() != "data") continue;
        try {
            const std::string read = object->GetValue().ToString();
            ADD_FAILURE() << "a removed object's value read as \"" << read << '"';
        } catch (const zrck::Exception& e) {
            EXPECT_EQ(e.GetCode(), static_cast<CK_RV>(CKR_OBJECT_HANDLE_INVALID));
        }
    }
}

TEST_F(DriverRig, PrivateObjectsAppearAfterTheLogin) {
    Store(*slot, NewData("secret", true));
    other = OtherConnection();
    EXPECT_TRUE(Search<qel::TokData>(*other).empty()) << "not logged in: only the public index";
    other->GetDriverToken()->Login(CKU_USER, Text(kUserPin));
    auto seen = Search<qel::TokData>(*other);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0]->GetVisibility(), zrck::TokObject::VISIBILITY_PRIVATE);
    EXPECT_GE(seen[0]->GetObjectFile(), 128);
}

TEST_F(DriverRig, CopyGetsItsOwnFilesAndEachObjectAppearsOnce) {
    auto source = NewData("source");
    source->SetValue(Text("payload"));
    Store(*slot, source);
    other = OtherConnection();
    auto unread = Search<qel::TokData>(*other);
    ASSERT_EQ(unread.size(), 1u);

    // A copy of an object whose value was never read still carries the value.
    std::shared_ptr<zrck::TokObject> copy(unread[0]->GenerateCopy());
    Store(*other, copy);
    auto& copied = dynamic_cast<qel::TokData&>(*copy);
    EXPECT_NE(copied.GetStorageID(), unread[0]->GetStorageID());

    for (qel::Slot* view : {slot.get(), other.get()}) {
        auto objects = Search<qel::TokData>(*view);
        ASSERT_EQ(objects.size(), 2u) << "no object is dropped, overwritten or shown twice";
        EXPECT_NE(objects[0]->GetStorageID(), objects[1]->GetStorageID());
        for (const auto& object : objects) EXPECT_EQ(object->GetValue().ToString(), "payload");
    }
}

TEST_F(DriverRig, StoredFlagsReadBackAsStored) {
    auto certificate = std::make_shared<qel::TokX509Certificate>();
    certificate->SetTokenPtr(token.get());
    certificate->SetLifeTime(zrck::TokObject::LIFETIME_TOKEN);
    certificate->SetSubject(Text("subject"));
    certificate->SetValue(Text("der"));
    certificate->SetModifiable(false);
    certificate->SetIsTrusted(CK_TRUE);
    certificate->SetCertificateCategory(2);
    Store(*slot, certificate);

    other = OtherConnection();
    auto seen = Search<qel::TokX509Certificate>(*other);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0]->IsModifiable(), CK_FALSE);
    EXPECT_EQ(seen[0]->IsCopyable(), CK_TRUE);
    EXPECT_EQ(seen[0]->IsTrusted(), CK_TRUE) << "read back without the creation rules";
    EXPECT_EQ(seen[0]->GetCertificateCategory(), 2u);
    EXPECT_EQ(seen[0]->GetSubject().ToString(), "subject");
}

TEST_F(DriverRig, HostileIndexAndAttributeFilesNeverBreakASearch) {
    {
        qel::TokenStorage& storage = *token->GetStorage();
        qel::TokenStorage::GlobalBusyGuard guard(storage, "test");
        const uint8_t shortFlags[] = {1, 0, 0};
        const qel::storage::Attribute records[] = {{0x8EFF, shortFlags, 3}, {CKA_LABEL, "bad", 3}};
        storage.WriteAttributeFile(2, records, 2);
        storage.AddToIndexFile(qel::PublicObject, qel::DATA, 1, 2);
        storage.AddToIndexFile(qel::PublicObject, 6, 3, 4);   // an item type without a class
        storage.AddToIndexFile(qel::PublicObject, 16, 5, 6);  // beyond the known types
        storage.IncTokenDataRevision();
    }
    other = OtherConnection();
    auto seen = Search<qel::TokData>(*other);
    ASSERT_EQ(seen.size(), 1u) << "the object is kept with what could be read";
    size_t total = 0;
    other->zrck::Slot::EnumerateObjects(
        [&](zrck::TokObject& object, zrck::Slot::ObjEnumerationData*) {
            total += object.GetLifeTime() == zrck::TokObject::LIFETIME_TOKEN ? 1 : 0;
            return true;
        },
        nullptr);
    EXPECT_EQ(total, 1u) << "records without a class yield no object";
}

TEST_F(DriverRig, MechanismTableTakesTheRegisteredRowsTheTokenOffers) {
    ASSERT_TRUE(layerRegistered);
    ASSERT_EQ(token->GetMechanismCount(), 1u);
    EXPECT_TRUE(token->IsMechanismSupported(CKM_SHA256));
    EXPECT_FALSE(token->IsMechanismSupported(CKM_SHA_1));
    EXPECT_EQ(token->GetMechanismIfSupported(CKM_SHA_1), nullptr);
    ASSERT_NE(token->GetMechanismIfSupported(CKM_SHA256), nullptr);
    CK_MECHANISM_INFO info{};
    token->FillMechanismInfo(CKM_SHA256, &info);
    EXPECT_EQ(info.flags, static_cast<CK_FLAGS>(CKF_DIGEST));
    CK_MECHANISM_TYPE list[2] = {9, 9};
    token->FillMechanismList(list, 2);
    EXPECT_EQ(list[0], static_cast<CK_MECHANISM_TYPE>(CKM_SHA256));
    EXPECT_EQ(list[1], 9u) << "only the entries reported are written";
    EXPECT_THROW(token->FillMechanismList(list, 0), zrck::BufferTooSmallException);

    const CK_OBJECT_HANDLE before = token->GetMechanismIfSupported(CKM_SHA256)->GetHandle();
    token->PostInit();
    EXPECT_EQ(token->GetMechanismCount(), 1u) << "set up again: replaced, not added";
    EXPECT_NE(token->GetMechanismIfSupported(CKM_SHA256)->GetHandle(), before);
    EXPECT_EQ(slot->GetBlockObjectIfExists(before), nullptr);
}

TEST_F(DriverRig, SoPropertiesAskTheDeviceAndChangeAllOrNothing) {
    std::shared_ptr<qel::SOTokenProperties> properties;
    slot->zrck::Slot::EnumerateObjects(
        [&](zrck::TokObject& object, zrck::Slot::ObjEnumerationData*) {
            if (dynamic_cast<qel::SOTokenProperties*>(&object) != nullptr) {
                properties = std::dynamic_pointer_cast<qel::SOTokenProperties>(
                    slot->GetBlockObjectIfExists(object.GetHandle()));
            }
            return true;
        },
        nullptr);
    ASSERT_TRUE(properties) << "a token with device ECDSA shows the SO properties";
    slot->ReleaseObject(properties);

    CK_ATTRIBUTE query{CKA_USER_AUTH_MAX_TRY, nullptr, 0};
    zrck::AttributeTemplate lengthOnly(&query, 1);
    EXPECT_EQ(properties->GetAttributes(lengthOnly), CKR_OK);
    EXPECT_EQ(query.ulValueLen, sizeof(CK_ULONG));
    uint8_t small[2];
    CK_ATTRIBUTE shortBuffer{CKA_USER_AUTH_MAX_TRY, small, sizeof small};
    zrck::AttributeTemplate tooSmall(&shortBuffer, 1);
    EXPECT_EQ(properties->GetAttributes(tooSmall), CKR_BUFFER_TOO_SMALL);
    const CK_ULONG initial = properties->GetUserAuthMaxCount();

    CK_ULONG tries = 5;
    CK_ATTRIBUTE update[] = {{CKA_USER_AUTH_MAX_TRY, &tries, sizeof tries}, {CKA_LABEL, const_cast<char*>("x"), 1}};
    zrck::AttributeTemplate asUser(update, 1);
    EXPECT_THROW(properties->UpdateAttributes(asUser), zrck::Exception);

    token->Logout();
    token->Login(CKU_SO, Text(kSoPin));
    zrck::AttributeTemplate mixed(update, 2);
    EXPECT_EQ(properties->UpdateAttributes(mixed), CKR_ATTRIBUTE_TYPE_INVALID);
    EXPECT_EQ(properties->GetUserAuthMaxCount(), initial) << "a refused template changes nothing on the device";
    zrck::AttributeTemplate countOnly(update, 1);
    EXPECT_EQ(properties->UpdateAttributes(countOnly), CKR_OK);
    EXPECT_EQ(properties->GetUserAuthMaxCount(), 5u);
}

}  // namespace
