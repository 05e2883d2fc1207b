#include "tru2/result_codes.h"

namespace tru {

namespace {

struct CodeName {
    uint32_t code;
    const char* name;
};

constexpr CodeName kCodeNames[] = {
    {SUCCESS, "SUCCESS"},
    {ERROR_FILE_NOT_FOUND, "ERROR_FILE_NOT_FOUND"},
    {ERROR_DATA, "ERROR_DATA"},
    {ERROR_WRITE, "ERROR_WRITE"},
    {ERROR_READ, "ERROR_READ"},
    {ERROR_PASSWORD, "ERROR_PASSWORD"},
    {ERROR_PARAM, "ERROR_PARAM"},
    {ERROR_FILE_OPEN, "ERROR_FILE_OPEN"},
    {ERROR_SIZE, "ERROR_SIZE"},
    {NO_UNICODE_TRANSLATION, "NO_UNICODE_TRANSLATION"},
    {ERROR_IO, "ERROR_IO"},
    {INVALID_COMMAND_LINE, "INVALID_COMMAND_LINE"},
    {ERROR_NOT_IMPLEMENTED, "ERROR_NOT_IMPLEMENTED"},
    {ERROR_MEM, "ERROR_MEM"},
    {ERROR_ITEM_NOT_FOUND, "ERROR_ITEM_NOT_FOUND"},
    {ERROR_INTERNAL, "ERROR_INTERNAL"},
};

}  // namespace

const char* ResultMnemonic(TResult code)
{
    // Codes are 32-bit: a wider value never names a table entry.
    if (code > 0xFFFFFFFFul)
        return "";
    for (const CodeName& entry : kCodeNames)
        if (entry.code == code)
            return entry.name;
    return "";
}

}  // namespace tru
