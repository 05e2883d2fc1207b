#ifndef TRU2_TEXT_CONVERTER_H
#define TRU2_TEXT_CONVERTER_H

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tru2/result_codes.h"

namespace tru {

class Buffer;
class BufferDynamic;

// Text between a single-byte code page, UCS-2 (16-bit units, little-endian in memory),
// wide characters and multibyte encodings. Sizes are byte counts; an in-out size is the
// output's room on entry and the needed or produced count on return. Failures:
// NO_UNICODE_TRANSLATION, ERROR_SIZE (with the needed size), ERROR_MEM.
class TextConverter {
public:
    // A single-byte code page: entry b of the table is the code point of byte b.
    class LocaleInfo {
    public:
        struct CharPair {
            uint8_t byte;
            int32_t codePoint;
        };

        // constexpr so that the built-in code page needs no start-up code.
        constexpr explicit LocaleInfo(const uint32_t* table) : table_(table), reverse_{}, reverseBuilt_{} {}
        LocaleInfo(const LocaleInfo&) = delete;
        LocaleInfo& operator=(const LocaleInfo&) = delete;

        uint32_t GetCodePoint(unsigned char c) const { return table_[c]; }
        uint16_t GetUCS2Char(const unsigned char& c) const { return static_cast<uint16_t>(table_[c]); }
        // The byte of a code point; throws tru::Exception(NO_UNICODE_TRANSLATION) when none has it.
        unsigned char GetChar(const wchar_t& c) const;

        static int compare(const void* a, const void* b);

    private:
        const uint32_t* table_;
        // Sorted by code point, built on the first reverse lookup (once, thread-safe).
        mutable std::array<CharPair, 256> reverse_;
        mutable std::once_flag reverseBuilt_;
    };

    enum EDirection { eToUCS2 = 0, eFromUCS2 = 1 };

    static const uint32_t ciCWin1251[256];
    static const LocaleInfo ciLWin1251;
    static const LocaleInfo* const cpLWin1251;

    // length 0: up to the zero byte. Bytes below 0x80 map to themselves. Output ends with a zero unit.
    static TResult EASCIIToWChar(const char* text, unsigned int length, wchar_t* out, unsigned int& size,
                                 const LocaleInfo& cp = ciLWin1251);
    static TResult EASCIIToUCS2(const char* text, unsigned int length, unsigned short* out, unsigned int& size,
                                const LocaleInfo& cp = ciLWin1251);
    // length in bytes, 0: up to the zero character. Throws for a character the code page lacks.
    static TResult WCharToEASCII(const wchar_t* text, unsigned int length, char* out, unsigned int& size,
                                 const LocaleInfo& cp = ciLWin1251);
    static TResult UCS2ToEASCII(const unsigned short* text, unsigned int length, char* out, unsigned int& size,
                                const LocaleInfo& cp = ciLWin1251);

    // Zero-terminated input, whole string out (without the terminator).
    static TResult EASCIIToWChar(const char* text, std::wstring& out, const LocaleInfo& cp = ciLWin1251);
    static TResult EASCIIToUCS2(const char* text, std::u16string& out, const LocaleInfo& cp = ciLWin1251);
    static TResult WCharToEASCII(const wchar_t* text, std::string& out, const LocaleInfo& cp = ciLWin1251);
    static TResult UCS2ToEASCII(const unsigned short* text, std::string& out, const LocaleInfo& cp = ciLWin1251);

    // cp null: Windows-1251. ERROR_INTERNAL for another direction.
    static TResult Convert(EDirection direction, const void* in, unsigned int length, void* out, unsigned int& size,
                           const LocaleInfo* cp);
    // The output includes the terminating zero unit.
    static TResult Convert(EDirection direction, const Buffer& in, BufferDynamic& out, const LocaleInfo* cp);
    static TResult UCS2ToASCIIWithSystemLocale(const void* in, unsigned int length, void* out, unsigned int& size);

    // Through iconv.
    static TResult UCS2ToWChar(const void* text, unsigned int length, std::wstring& out);
    static TResult WCharToUCS2(const wchar_t* text, unsigned short* out, unsigned int& size);
    // The narrow side is the process locale's character set.
    static TResult WCharToASCIIWithSystemLocale(const wchar_t* text, std::string& out);
    static std::string WCharToASCIIWithSystemLocale(const wchar_t* text);  // throws tru::Exception
    static TResult ASCIIToWCharWithSystemLocale(const char* text, std::wstring& out);
    static TResult UTF8ToWChar(const void* bytes, unsigned int count, std::wstring& out);
    static TResult WCharToUTF8(const wchar_t* text, BufferDynamic& out);
    static TResult UTF8ToSystemLocale(const void* bytes, unsigned int count, std::string& out);  // not implemented

    // Without leading and trailing blanks (0x20 only).
    static std::string Trim(const char* text);
};

// Hex text of a buffer (as Buffer::ToHex with the separator "\n") in wide characters; empty
// when the widening fails.
std::wstring ToHexW(const Buffer& buffer, unsigned long group = 0, unsigned long line = 0);

}  // namespace tru

#endif
