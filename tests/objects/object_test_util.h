// Building templates and catching framework codes in object tests.
#ifndef ZR_TESTS_OBJECT_TEST_UTIL_H
#define ZR_TESTS_OBJECT_TEST_UTIL_H

#include <functional>
#include <string>
#include <vector>

#include "ckbase/attribute.h"
#include "ckbase/exception.h"

namespace zrtest {

inline CK_RV CodeOf(const std::function<void()>& body) {
    try {
        body();
    } catch (const zrck::Exception& e) {
        return e.GetCode();
    }
    return CKR_OK;
}

// Owns the values of a caller-style CK_ATTRIBUTE array.
class Records {
public:
    Records& Bool(CK_ATTRIBUTE_TYPE type, bool value) { return Raw(type, std::string(1, value ? '\1' : '\0')); }
    Records& ULong(CK_ATTRIBUTE_TYPE type, CK_ULONG value) {
        return Raw(type, std::string(reinterpret_cast<const char*>(&value), sizeof value));
    }
    Records& Raw(CK_ATTRIBUTE_TYPE type, const std::string& value) {
        mValues.push_back(value);
        mTypes.push_back(type);
        return *this;
    }
    // An output record of the given capacity (0 with a null pointer: a length query).
    Records& Out(CK_ATTRIBUTE_TYPE type, CK_ULONG capacity) {
        mValues.push_back(std::string(capacity, '\xEE'));
        mTypes.push_back(type);
        mQueries.push_back(mTypes.size() - 1);
        return *this;
    }
    CK_ATTRIBUTE* Array() {
        mRecords.clear();
        for (size_t i = 0; i < mTypes.size(); ++i) {
            void* value = mValues[i].empty() ? nullptr : &mValues[i][0];
            mRecords.push_back({mTypes[i], value, static_cast<CK_ULONG>(mValues[i].size())});
        }
        return mRecords.data();
    }
    CK_ULONG Count() const { return mTypes.size(); }
    CK_ATTRIBUTE& operator[](size_t index) { return mRecords[index]; }
    std::string ValueOf(size_t index) const {
        return std::string(static_cast<const char*>(mRecords[index].pValue), mRecords[index].ulValueLen);
    }

private:
    std::vector<CK_ATTRIBUTE_TYPE> mTypes;
    std::vector<std::string> mValues;
    std::vector<size_t> mQueries;
    std::vector<CK_ATTRIBUTE> mRecords;
};

}  // namespace zrtest

#endif  // ZR_TESTS_OBJECT_TEST_UTIL_H
