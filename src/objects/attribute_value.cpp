#include "objects/attribute_value.h"

#include <cstring>

#include "ckbase/exception.h"

namespace zrck {

const CK_DATE& BlankDate() {
    static const CK_DATE blank = {{' ', ' ', ' ', ' '}, {' ', ' '}, {' ', ' '}};
    return blank;
}

bool IsBlankDate(const CK_DATE& date) { return std::memcmp(&date, &BlankDate(), sizeof(CK_DATE)) == 0; }

CK_RV PlaceValue(Attribute& attribute, const void* value, CK_ULONG length) {
    CK_ATTRIBUTE* record = attribute.GetRecord();
    if (record->pValue == nullptr) {
        record->ulValueLen = length;
        return CKR_OK;
    }
    if (record->ulValueLen < length) {
        record->ulValueLen = length;
        return CKR_BUFFER_TOO_SMALL;
    }
    if (length != 0) {
        if (value == nullptr) return CKR_ATTRIBUTE_VALUE_INVALID;
        std::memcpy(record->pValue, value, length);
    }
    record->ulValueLen = length;
    return CKR_OK;
}

CK_RV PlaceULong(Attribute& attribute, CK_ULONG value) { return PlaceValue(attribute, &value, sizeof value); }

CK_RV PlaceBool(Attribute& attribute, bool value) {
    const CK_BBOOL byte = value ? CK_TRUE : CK_FALSE;
    return PlaceValue(attribute, &byte, 1);
}

CK_RV PlaceBytes(Attribute& attribute, const tru::Buffer& value) {
    return PlaceValue(attribute, BufferBytes(value), BufferSize(value));
}

CK_RV PlaceDate(Attribute& attribute, const CK_DATE& date) {
    if (IsBlankDate(date)) return PlaceValue(attribute, nullptr, 0);
    return PlaceValue(attribute, &date, sizeof date);
}

CK_RV PlaceUnavailable(Attribute& attribute, CK_RV code) {
    attribute.GetRecord()->ulValueLen = CK_UNAVAILABLE_INFORMATION;
    return code;
}

CK_DATE ReadDate(const Attribute& attribute) {
    if (attribute.GetLength() == 0) return BlankDate();
    if (attribute.GetLength() != sizeof(CK_DATE)) throw Exception(CKR_ATTRIBUTE_VALUE_INVALID);
    CK_DATE date;
    std::memcpy(&date, attribute.GetValue(), sizeof date);
    return date;
}

tru::Buffer ReadBytes(const Attribute& attribute) { return MakeView(attribute.GetValue(), attribute.GetLength()); }

bool MatchBool(const Attribute& attribute, bool value) { return attribute.GetAsBool() == value; }

bool MatchULong(const Attribute& attribute, CK_ULONG value) { return attribute.GetAsULong() == value; }

bool MatchBytes(const Attribute& attribute, const tru::Buffer& value) {
    if (attribute.GetLength() != BufferSize(value)) return false;
    return attribute.GetLength() == 0 || std::memcmp(attribute.GetValue(), BufferBytes(value), attribute.GetLength()) == 0;
}

bool MatchDate(const Attribute& attribute, const CK_DATE& value) {
    const CK_DATE wanted = ReadDate(attribute);
    return std::memcmp(&wanted, &value, sizeof value) == 0;
}

}  // namespace zrck
