// Templates and object helpers over the fake-token module for the object, search, key and
// cryptographic tests.
#ifndef ZR_TESTS_OBJECT_FIXTURE_H
#define ZR_TESTS_OBJECT_FIXTURE_H

#include <list>
#include <memory>
#include <string>
#include <vector>

#include "module_fixture.h"
#include "toy_mechanisms.h"

// A caller's template whose value bytes stay put while it grows; copies share the bytes.
class Template {
public:
    Template& Bool(CK_ATTRIBUTE_TYPE type, bool value) { return Bytes(type, std::string(1, value ? 1 : 0)); }
    Template& Ulong(CK_ATTRIBUTE_TYPE type, CK_ULONG value) {
        return Bytes(type, std::string(reinterpret_cast<const char*>(&value), sizeof value));
    }
    Template& Bytes(CK_ATTRIBUTE_TYPE type, const std::string& value) {
        mValues->push_back(value);
        mRecords.push_back(CK_ATTRIBUTE{type, &mValues->back()[0], value.size()});
        return *this;
    }
    // An entry with a null value pointer and the given length, to ask for lengths.
    Template& Query(CK_ATTRIBUTE_TYPE type, CK_ULONG length = 0) {
        mRecords.push_back(CK_ATTRIBUTE{type, nullptr, length});
        return *this;
    }
    CK_ATTRIBUTE_PTR Data() { return mRecords.empty() ? nullptr : mRecords.data(); }
    CK_ULONG Count() const { return mRecords.size(); }
    CK_ATTRIBUTE& operator[](size_t index) { return mRecords[index]; }

private:
    std::shared_ptr<std::list<std::string>> mValues = std::make_shared<std::list<std::string>>();
    std::vector<CK_ATTRIBUTE> mRecords;
};

class ObjectTest : public ModuleTest {
protected:
    void SetUp() override {
        ModuleTest::SetUp();
        Initialize();
        rw = Open(0);
    }

    static Template Data(const std::string& label, bool token, bool isPrivate) {
        Template result;
        result.Ulong(CKA_CLASS, CKO_DATA).Bytes(CKA_LABEL, label).Bool(CKA_TOKEN, token).Bool(CKA_PRIVATE, isPrivate);
        return result;
    }
    // A session generic secret, with the usage flags named set to true.
    static Template Secret(const std::string& value, std::initializer_list<CK_ATTRIBUTE_TYPE> flags) {
        Template result;
        result.Ulong(CKA_CLASS, CKO_SECRET_KEY).Ulong(CKA_KEY_TYPE, CKK_GENERIC_SECRET).Bool(CKA_TOKEN, false);
        result.Bool(CKA_PRIVATE, false);
        if (!value.empty()) result.Bytes(CKA_VALUE, value);
        for (CK_ATTRIBUTE_TYPE flag : flags) result.Bool(flag, true);
        return result;
    }
    CK_RV Create(CK_SESSION_HANDLE session, Template attributes, CK_OBJECT_HANDLE* handle = nullptr) {
        CK_OBJECT_HANDLE ignored = 0;
        return p11->C_CreateObject(session, attributes.Data(), attributes.Count(), handle ? handle : &ignored);
    }
    CK_OBJECT_HANDLE MustCreate(CK_SESSION_HANDLE session, Template attributes) {
        CK_OBJECT_HANDLE handle = 0;
        EXPECT_EQ(CKR_OK, Create(session, std::move(attributes), &handle));
        return handle;
    }
    std::vector<CK_OBJECT_HANDLE> Find(CK_SESSION_HANDLE session, Template attributes) {
        std::vector<CK_OBJECT_HANDLE> found;
        EXPECT_EQ(CKR_OK, p11->C_FindObjectsInit(session, attributes.Data(), attributes.Count()));
        CK_OBJECT_HANDLE batch[8];
        CK_ULONG count = 0;
        do {
            EXPECT_EQ(CKR_OK, p11->C_FindObjects(session, batch, 8, &count));
            found.insert(found.end(), batch, batch + count);
        } while (count != 0);
        EXPECT_EQ(CKR_OK, p11->C_FindObjectsFinal(session));
        return found;
    }
    size_t CountLabelled(CK_SESSION_HANDLE session, const std::string& label) {
        return Find(session, Template().Bytes(CKA_LABEL, label)).size();
    }
    CK_RV UserLogin(CK_SESSION_HANDLE session) { return Login(session, CKU_USER, ZR_FAKE_USER_PIN); }
    // One Boolean attribute of an object, or -1 when it cannot be read.
    int ReadBool(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type) {
        CK_BBOOL value = 2;
        CK_ATTRIBUTE record{type, &value, sizeof value};
        if (p11->C_GetAttributeValue(session, object, &record, 1) != CKR_OK) return -1;
        return value;
    }
    std::string ReadBytes(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type) {
        std::string value(256, '\0');
        CK_ATTRIBUTE record{type, &value[0], value.size()};
        EXPECT_EQ(CKR_OK, p11->C_GetAttributeValue(session, object, &record, 1));
        value.resize(record.ulValueLen == CK_UNAVAILABLE_INFORMATION ? 0 : record.ulValueLen);
        return value;
    }

    CK_SESSION_HANDLE rw = 0;
};

inline CK_BYTE_PTR Bytes(std::string& text) { return reinterpret_cast<CK_BYTE_PTR>(&text[0]); }

#endif  // ZR_TESTS_OBJECT_FIXTURE_H
