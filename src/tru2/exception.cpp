#include "tru2/exception.h"

#include <cstdio>

namespace tru {

Exception::Exception(TResult code)
    : code_(static_cast<uint32_t>(code)), message_(GetResultString(code))
{
}

Exception::Exception(TResult code, const char* message)
    : code_(static_cast<uint32_t>(code)), message_(message ? message : "")
{
}

const char* Exception::what() const noexcept
{
    return message_.c_str();
}

const wchar_t* Exception::whatW() const
{
    return messageW_.c_str();
}

std::string Exception::TResultToMnemonicStr(TResult code)
{
    return ResultMnemonic(code);
}

std::string Exception::GetResultString(TResult code)
{
    std::string mnemonic = TResultToMnemonicStr(code);
    return mnemonic.empty() ? std::string("Unknown error") : mnemonic;
}

std::string Exception::GetResultStringA(TResult code)
{
    char text[40];
    std::snprintf(text, sizeof text, "Unknown error (0x%08lx)",
                  static_cast<unsigned long>(static_cast<uint32_t>(code)));
    return text;
}

}  // namespace tru
