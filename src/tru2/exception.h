#ifndef TRU2_EXCEPTION_H
#define TRU2_EXCEPTION_H

#include <exception>
#include <string>

#include "tru2/result_codes.h"

namespace tru {

// Failure carrying a result code; built from the code alone its message is the
// code's mnemonic, or "Unknown error".
class Exception : public std::exception {
public:
    explicit Exception(TResult code);
    Exception(TResult code, const char* message);
    ~Exception() override = default;

    const char* what() const noexcept override;
    // Never null; empty for every exception built by the constructors above.
    virtual const wchar_t* whatW() const;

    TResult GetCode() const { return code_; }

    static std::string TResultToMnemonicStr(TResult code);
    // Mnemonic, or "Unknown error".
    static std::string GetResultString(TResult code);
    // "Unknown error (0x" + eight lower-case hex digits + ")", for any code.
    static std::string GetResultStringA(TResult code);

private:
    uint32_t code_;
    std::wstring messageW_;
    std::string message_;
};

}  // namespace tru

#endif
