// Error objects of the Cryptoki framework: a failure that must reach the application as a
// particular CK_RV is thrown as zrck::Exception carrying it; the entry layer returns the code.
#ifndef ZR_CKBASE_EXCEPTION_H
#define ZR_CKBASE_EXCEPTION_H

#include <exception>
#include <string>

#include "ckbase/zr_pkcs11.h"

namespace zrck {

class Exception : public std::exception {
public:
    explicit Exception(CK_RV code, const std::string& text = std::string());
    Exception(CK_RV code, const std::wstring& text);
    ~Exception() override = default;

    const char* what() const noexcept override { return mText.c_str(); }
    CK_RV GetCode() const { return mCode; }

private:
    std::string mText;
    CK_RV mCode;
};

// A lookup found nothing; the message is always empty.
class ObjNotFoundException : public Exception {
public:
    explicit ObjNotFoundException(CK_RV code, const std::string& text = std::string());
};

class BufferTooSmallException : public Exception {
public:
    BufferTooSmallException();
};

// The CK_RV an exception caught at the library boundary becomes.
CK_RV ResultOfException(const std::exception_ptr& error);

}  // namespace zrck

#endif  // ZR_CKBASE_EXCEPTION_H
