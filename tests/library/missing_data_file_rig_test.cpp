// Tokens written by earlier versions of the library hold data objects and certificates filed
// without a data file (a value never set was never written). Such an object reads as empty,
// searches whose template holds CKA_VALUE work, and it can be copied.
#include "cryptoki_rig_fixture.h"
#include "driver/qel_slot.h"
#include "driver/qel_token.h"
#include "driver/token_stored_object.h"

using namespace librarytest;

namespace {

class MissingDataFileRig : public CryptokiRigTest {
protected:
    std::shared_ptr<qel::Slot> DriverSlot() {
        return std::dynamic_pointer_cast<qel::Slot>(
            zrck::LibraryFrame::GetInstance()->GetSlotFactory()->FindSlotByID(slotId));
    }

    // Deletes the object's data file through the device layer: the token as an earlier version
    // left it.
    void DropDataFile(CK_OBJECT_HANDLE handle) {
        std::shared_ptr<qel::Slot> slot = DriverSlot();
        zrck::TokObjectPtr object = slot->GetBlockObjectIfExists(handle);
        ASSERT_TRUE(object);
        auto* stored = dynamic_cast<qel::TokenStoredObject*>(object.get());
        ASSERT_NE(stored, nullptr);
        const long dataFile = stored->GetObjectFile();
        slot->ReleaseObject(object);
        qel::TokenStorage& storage = *slot->GetDriverToken()->GetStorage();
        qel::TokenStorage::GlobalBusyGuard guard(storage, "test");
        storage.DeleteObjectD(dataFile);
        ASSERT_FALSE(storage.IsFileExistsD(dataFile));
    }

    // A new library state: nothing read before is kept in memory.
    void Restart() {
        ASSERT_EQ(C_Finalize(nullptr), CKR_OK);
        CK_C_INITIALIZE_ARGS args{};
        args.flags = CKF_OS_LOCKING_OK;
        ASSERT_EQ(C_Initialize(&args), CKR_OK);
        session = OpenSession();
        ASSERT_EQ(Login(session), CKR_OK);
    }

    CK_RV Value(CK_OBJECT_HANDLE object, std::string& value) {
        char buffer[64];
        CK_ATTRIBUTE read{CKA_VALUE, buffer, sizeof buffer};
        const CK_RV rv = C_GetAttributeValue(session, object, &read, 1);
        if (rv == CKR_OK) value.assign(buffer, read.ulValueLen);
        return rv;
    }

    CK_OBJECT_HANDLE Labelled(CK_OBJECT_CLASS objectClass, const std::string& label) {
        std::vector<CK_OBJECT_HANDLE> found;
        EXPECT_EQ(Find(session, objectClass, label, found), CKR_OK);
        EXPECT_EQ(found.size(), 1u) << label;
        return found.empty() ? CK_INVALID_HANDLE : found[0];
    }
};

TEST_F(MissingDataFileRig, ObjectWithoutItsDataFileReadsEmptyIsFoundAndCopied) {
    CK_OBJECT_HANDLE data = 0, full = 0, certificate = 0;
    ASSERT_EQ(CreateData(session, "old", "", false, &data), CKR_OK);
    ASSERT_EQ(CreateData(session, "full", "abc", false, &full), CKR_OK);
    CK_OBJECT_CLASS certificateClass = CKO_CERTIFICATE;
    CK_CERTIFICATE_TYPE x509 = CKC_X_509;
    CK_BBOOL yes = CK_TRUE;
    std::string label = "old cert", subject = "subject", value = "certificate";
    CK_ATTRIBUTE attributes[] = {{CKA_CLASS, &certificateClass, sizeof certificateClass},
                                 {CKA_TOKEN, &yes, sizeof yes},
                                 {CKA_CERTIFICATE_TYPE, &x509, sizeof x509},
                                 {CKA_SUBJECT, &subject[0], subject.size()},
                                 {CKA_LABEL, &label[0], label.size()},
                                 {CKA_VALUE, &value[0], value.size()}};
    ASSERT_EQ(C_CreateObject(session, attributes, 6, &certificate), CKR_OK);
    ASSERT_NO_FATAL_FAILURE(DropDataFile(data));
    ASSERT_NO_FATAL_FAILURE(DropDataFile(certificate));
    ASSERT_NO_FATAL_FAILURE(Restart());

    struct Old {
        CK_OBJECT_CLASS objectClass;
        std::string label;
    };
    for (const Old& old : {Old{CKO_DATA, "old"}, Old{CKO_CERTIFICATE, "old cert"}}) {
        SCOPED_TRACE(old.label);
        const CK_OBJECT_HANDLE object = Labelled(old.objectClass, old.label);
        std::string read = "not read";
        EXPECT_EQ(Value(object, read), CKR_OK);
        EXPECT_EQ(read, "");
        CK_ULONG size = 0;
        EXPECT_EQ(C_GetObjectSize(session, object, &size), CKR_OK);
        std::string copyLabel = old.label + " copy";
        CK_ATTRIBUTE copyTemplate[] = {{CKA_LABEL, &copyLabel[0], copyLabel.size()}};
        CK_OBJECT_HANDLE copy = 0;
        ASSERT_EQ(C_CopyObject(session, object, copyTemplate, 1, &copy), CKR_OK);
        read = "not read";
        EXPECT_EQ(Value(copy, read), CKR_OK);
        EXPECT_EQ(read, "");
    }

    // A template with CKA_VALUE reads every data object's value.
    CK_OBJECT_CLASS dataClass = CKO_DATA;
    std::string wanted = "abc";
    CK_ATTRIBUTE search[] = {{CKA_CLASS, &dataClass, sizeof dataClass}, {CKA_VALUE, &wanted[0], wanted.size()}};
    ASSERT_EQ(C_FindObjectsInit(session, search, 2), CKR_OK);
    CK_OBJECT_HANDLE found[8];
    CK_ULONG count = 0;
    EXPECT_EQ(C_FindObjects(session, found, 8, &count), CKR_OK);
    EXPECT_EQ(C_FindObjectsFinal(session), CKR_OK);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(found[0], Labelled(CKO_DATA, "full"));
}

// The object's attribute file replaced (a label longer than one write command changed): the
// missing data file is judged by the record that names the new attribute file.
TEST_F(MissingDataFileRig, ObjectWithoutItsDataFileReadsEmptyAfterItsAttributeFileMoved) {
    const std::string label(200, 'o');
    CK_OBJECT_HANDLE data = 0;
    ASSERT_EQ(CreateData(session, label, "", false, &data), CKR_OK);
    ASSERT_NO_FATAL_FAILURE(DropDataFile(data));
    ASSERT_NO_FATAL_FAILURE(Restart());
    data = Labelled(CKO_DATA, label);
    std::string other(200, 'p');
    CK_ATTRIBUTE relabel{CKA_LABEL, &other[0], other.size()};
    ASSERT_EQ(C_SetAttributeValue(session, data, &relabel, 1), CKR_OK);
    std::string read = "not read";
    EXPECT_EQ(Value(data, read), CKR_OK);
    EXPECT_EQ(read, "");
}

}  // namespace
