#ifndef TRU2_RESULT_CODES_H
#define TRU2_RESULT_CODES_H

#include <cstdint>
#include <string>

namespace tru {

// Result code of the base library and the device layer. Functions return it as
// unsigned long for their callers' convenience; every value fits in 32 bits and
// is compared as an unsigned 32-bit number.
using TResult = unsigned long;

constexpr TResult SUCCESS = 0x0;
constexpr TResult ERROR_FILE_NOT_FOUND = 0x2;
constexpr TResult ERROR_DATA = 0xD;
constexpr TResult ERROR_WRITE = 0x1D;
constexpr TResult ERROR_READ = 0x1E;
constexpr TResult ERROR_PASSWORD = 0x56;
constexpr TResult ERROR_PARAM = 0x57;
constexpr TResult ERROR_FILE_OPEN = 0x6E;
constexpr TResult ERROR_SIZE = 0x7A;
constexpr TResult NO_UNICODE_TRANSLATION = 0x459;
constexpr TResult ERROR_IO = 0x45D;
constexpr TResult INVALID_COMMAND_LINE = 0x667;
constexpr TResult ERROR_NOT_IMPLEMENTED = 0x80004001;
constexpr TResult ERROR_MEM = 0x8009000E;
constexpr TResult ERROR_ITEM_NOT_FOUND = 0x80090011;
constexpr TResult ERROR_INTERNAL = 0x80090020;

// The mnemonic of a code ("ERROR_SIZE"), or "" for a code the table does not name.
const char* ResultMnemonic(TResult code);

}  // namespace tru

#endif
