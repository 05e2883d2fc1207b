#include "ckbase/exception.h"

#include <locale>

#include "tru2/exception.h"

namespace zrck {

Exception::Exception(CK_RV code, const std::string& text) : mText(text), mCode(code) {}

Exception::Exception(CK_RV code, const std::wstring& text) : mCode(code) {
    try {
        std::locale english("english");
        const auto& facet = std::use_facet<std::ctype<wchar_t>>(english);
        std::string narrow(text.size(), '\0');
        facet.narrow(text.data(), text.data() + text.size(), 'X', &narrow[0]);
        mText = narrow;
    } catch (const std::exception&) {
        // No such locale here: keep the low 8 bits of every character.
        mText.clear();
        for (wchar_t c : text) mText.push_back(static_cast<char>(c & 0xFF));
    }
}

ObjNotFoundException::ObjNotFoundException(CK_RV code, const std::string&) : Exception(code) {}

BufferTooSmallException::BufferTooSmallException() : Exception(CKR_BUFFER_TOO_SMALL, "Buffer too small") {}

CK_RV ResultOfException(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const Exception& e) {
        return e.GetCode() == CKR_OK ? CKR_GENERAL_ERROR : e.GetCode();
    } catch (const tru::Exception&) {
        return CKR_FUNCTION_FAILED;
    } catch (...) {
        return CKR_GENERAL_ERROR;
    }
}

}  // namespace zrck
