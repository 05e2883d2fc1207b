// Answering and comparing single attribute values under the rules every object class shares.
#ifndef ZR_OBJECTS_ATTRIBUTE_VALUE_H
#define ZR_OBJECTS_ATTRIBUTE_VALUE_H

#include "ckbase/attribute.h"

namespace zrck {

// Blank CK_DATE (eight spaces): stands for an absent date and reads back with length 0.
const CK_DATE& BlankDate();
bool IsBlankDate(const CK_DATE& date);

// Null pValue: length only; short buffer: length and CKR_BUFFER_TOO_SMALL; else the bytes.
CK_RV PlaceValue(Attribute& attribute, const void* value, CK_ULONG length);
CK_RV PlaceULong(Attribute& attribute, CK_ULONG value);
CK_RV PlaceBool(Attribute& attribute, bool value);
CK_RV PlaceBytes(Attribute& attribute, const tru::Buffer& value);
CK_RV PlaceDate(Attribute& attribute, const CK_DATE& date);
// ulValueLen CK_UNAVAILABLE_INFORMATION and the given code (type invalid, sensitive).
CK_RV PlaceUnavailable(Attribute& attribute, CK_RV code);

// Length 0 is the blank date, 8 the date; anything else throws CKR_ATTRIBUTE_VALUE_INVALID.
CK_DATE ReadDate(const Attribute& attribute);
tru::Buffer ReadBytes(const Attribute& attribute);

bool MatchBool(const Attribute& attribute, bool value);
bool MatchULong(const Attribute& attribute, CK_ULONG value);
bool MatchBytes(const Attribute& attribute, const tru::Buffer& value);
bool MatchDate(const Attribute& attribute, const CK_DATE& value);

}  // namespace zrck

#endif  // ZR_OBJECTS_ATTRIBUTE_VALUE_H
