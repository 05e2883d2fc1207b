// Readable names of PKCS#11 numbers: the name tables, lookups over them, print helpers for
// mechanisms, templates and raw bytes, and the date conversions. Stateless, no locks.
// The token library and zrtoksvc both link this unit.
#ifndef ZR_CRYPTOKI_NAMES_CK_NAMES_H
#define ZR_CRYPTOKI_NAMES_CK_NAMES_H

#include <ctime>
#include <string>

#include "ckbase/zr_pkcs11.h"

namespace zrck {

// One row of a name table. Every table ends with a row whose name is null.
struct CkValueName {
    CK_ULONG value;
    const char* name;
};

extern const CkValueName ck_classes[];
extern const CkValueName ck_key_type[];
extern const CkValueName ck_attribute[];
extern const CkValueName ck_mechanisms[];
extern const CkValueName ck_errors[];

// The name of the first row holding value, or defaultText when there is none.
const char* LookupCkName(const CkValueName* table, CK_ULONG value, const char* defaultText);

const char* GetClassStr(CK_ULONG value);
const char* GetKeyTypeStr(CK_ULONG value);
const char* GetCkErrorStr(CK_ULONG value);

// '[0x00001041] CKM_ECDSA'
std::string GetMechanismStr(CK_MECHANISM_TYPE type);
// The attribute's name, or '0x12345 (unknown attribute)'.
std::string GetAttributeTypeStr(CK_ATTRIBUTE_TYPE type);
// Printable bytes between double quotes, otherwise "0x" and upper-case hexadecimal.
std::string GetValueAsHex(const void* data, CK_ULONG length);
// '{[0x00000001] CKM_RSA_PKCS, size: 0, data: NULL}'; "NULL" for a null mechanism.
std::string GetMechanismPrintVersion(const CK_MECHANISM* mechanism);
// '[1, -1]': each element as a signed 32-bit number; "NULL" for a null array of elements.
std::string GetIntArrayPrintVersion(const CK_ULONG* values, CK_ULONG count);
// '((CKA_CLASS 0x0300000000000000, size 8 [3, CKO_PRIVATE_KEY]))'; withValues false
// prints "<UNDEFINED>" in place of every value. "NULL" for a null array of attributes.
std::string GetTemplatePrintVersion(const CK_ATTRIBUTE* attributes, CK_ULONG count, bool withValues);

// Attribute types whose value is a CK_ULONG, and those whose value is a CK_BBOOL.
bool IsULongAttrType(CK_ATTRIBUTE_TYPE type);
bool IsBoolAttrType(CK_ATTRIBUTE_TYPE type);

class CkDate {
public:
    // YYYYMMDD from the broken-down time; eight blanks when tm_year is below 1.
    static void ConvertTmToCkDate(const tm& time, CK_DATE& date);
};

// The local time of the instant as YYYYMMDDhhmmss; fourteen blanks when the instant has no
// local time or its year does not fit four digits.
CK_ZR_DATETIME ConvertToCkZrDateTime(time_t instant);
CK_ZR_DATETIME GetCurrentDateTimeAsZR();

}  // namespace zrck

#endif  // ZR_CRYPTOKI_NAMES_CK_NAMES_H
