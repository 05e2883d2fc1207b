// Builds caller-style CK_ATTRIBUTE arrays for the object-model tests.
#ifndef ZR_TESTS_OBJECTS_TEMPLATE_BUILDER_H
#define ZR_TESTS_OBJECTS_TEMPLATE_BUILDER_H

#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "ckbase/attribute.h"

namespace zrtest {

using Bytes = std::vector<unsigned char>;

inline Bytes B(const std::string& text) { return Bytes(text.begin(), text.end()); }

// Owns the value bytes; records stay valid for the builder's lifetime once Make() was called.
class Attrs {
public:
    Attrs() = default;
    // A copy would keep records pointing at the original's bytes; a move keeps them valid.
    Attrs(const Attrs&) = delete;
    Attrs& operator=(const Attrs&) = delete;
    Attrs(Attrs&&) = default;
    Attrs& operator=(Attrs&&) = default;

    Attrs& Raw(CK_ATTRIBUTE_TYPE type, const void* value, CK_ULONG length) {
        auto& stored = mValues.emplace_back(static_cast<const unsigned char*>(value),
                                            static_cast<const unsigned char*>(value) + length);
        mRecords.push_back({type, stored.empty() ? nullptr : stored.data(), length});
        return *this;
    }
    Attrs& Bool(CK_ATTRIBUTE_TYPE type, bool value) {
        const CK_BBOOL byte = value ? CK_TRUE : CK_FALSE;
        return Raw(type, &byte, 1);
    }
    Attrs& ULong(CK_ATTRIBUTE_TYPE type, CK_ULONG value) { return Raw(type, &value, sizeof value); }
    Attrs& Data(CK_ATTRIBUTE_TYPE type, const Bytes& value) { return Raw(type, value.data(), value.size()); }
    Attrs& Text(CK_ATTRIBUTE_TYPE type, const std::string& value) { return Raw(type, value.data(), value.size()); }
    // An output entry with a buffer of the given room.
    Attrs& Out(CK_ATTRIBUTE_TYPE type, CK_ULONG room = 64) {
        auto& stored = mValues.emplace_back(room + 1, 0xEE);
        mRecords.push_back({type, stored.data(), room});
        return *this;
    }
    // A length query: null pValue.
    Attrs& Query(CK_ATTRIBUTE_TYPE type) {
        mRecords.push_back({type, nullptr, 0});
        return *this;
    }

    std::unique_ptr<zrck::AttributeTemplate> Make() {
        return std::make_unique<zrck::AttributeTemplate>(mRecords.data(), mRecords.size());
    }
    CK_ATTRIBUTE& operator[](size_t index) { return mRecords[index]; }
    Bytes ValueOf(size_t index) const {
        const auto* p = static_cast<const unsigned char*>(mRecords[index].pValue);
        return Bytes(p, p + mRecords[index].ulValueLen);
    }
    CK_ULONG ULongOf(size_t index) const {
        CK_ULONG value;
        std::memcpy(&value, mRecords[index].pValue, sizeof value);
        return value;
    }

private:
    std::deque<Bytes> mValues;
    std::vector<CK_ATTRIBUTE> mRecords;
};

inline Bytes ToBytes(const tru::Buffer& buffer) { return Bytes(buffer.Data(), buffer.Data() + buffer.Size()); }

}  // namespace zrtest

#endif  // ZR_TESTS_OBJECTS_TEMPLATE_BUILDER_H
