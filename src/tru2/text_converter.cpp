#include "tru2/text_converter.h"

#include <iconv.h>
#include <langinfo.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cwchar>

#include "tru2/buffer.h"
#include "tru2/exception.h"

namespace tru {

// Windows-1251: 0x00..0x7F are ASCII; 0x98, undefined there, maps to U+0098.
const uint32_t TextConverter::ciCWin1251[256] = {
    0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F,
    0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x1B, 0x1C, 0x1D, 0x1E, 0x1F,
    0x20, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2A, 0x2B, 0x2C, 0x2D, 0x2E, 0x2F,
    0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3A, 0x3B, 0x3C, 0x3D, 0x3E, 0x3F,
    0x40, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4A, 0x4B, 0x4C, 0x4D, 0x4E, 0x4F,
    0x50, 0x51, 0x52, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5A, 0x5B, 0x5C, 0x5D, 0x5E, 0x5F,
    0x60, 0x61, 0x62, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6A, 0x6B, 0x6C, 0x6D, 0x6E, 0x6F,
    0x70, 0x71, 0x72, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7A, 0x7B, 0x7C, 0x7D, 0x7E, 0x7F,
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417, 0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427, 0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437, 0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447, 0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,
};

const TextConverter::LocaleInfo TextConverter::ciLWin1251(TextConverter::ciCWin1251);
const TextConverter::LocaleInfo* const TextConverter::cpLWin1251 = &TextConverter::ciLWin1251;

namespace {

// One iconv descriptor for the length of a conversion.
class IconvHandle {
public:
    IconvHandle(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~IconvHandle()
    {
        if (IsOpen())
            iconv_close(cd_);
    }
    IconvHandle(const IconvHandle&) = delete;
    IconvHandle& operator=(const IconvHandle&) = delete;

    bool IsOpen() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // One call over the whole input; produced is the number of output bytes written.
    bool Run(const void* in, size_t inLength, void* out, size_t outRoom, size_t& produced)
    {
        std::vector<char> scratch(static_cast<const char*>(in), static_cast<const char*>(in) + inLength);
        char* inPtr = scratch.data();
        size_t inLeft = scratch.size();
        char* outPtr = static_cast<char*>(out);
        size_t outLeft = outRoom;
        const size_t rc = iconv(cd_, &inPtr, &inLeft, &outPtr, &outLeft);
        produced = outRoom - outLeft;
        return rc != static_cast<size_t>(-1);
    }

private:
    iconv_t cd_;
};

const char* LocaleCharset() { return nl_langinfo(CODESET); }

// Wide characters with trailing zero characters dropped, at least one kept.
std::wstring WideResult(const wchar_t* chars, size_t count)
{
    size_t n = count;
    while (n > 1 && chars[n - 1] == L'\0')
        --n;
    return std::wstring(chars, n);
}

template <typename Unit>
size_t UnitsUpToZero(const Unit* text)
{
    size_t n = 0;
    while (text[n] != 0)
        ++n;
    return n;
}

// Single byte to a wide or 16-bit unit through the code page.
template <typename Unit>
TResult BytesToUnits(const char* text, unsigned int length, Unit* out, unsigned int& size,
                     const TextConverter::LocaleInfo& cp, uint32_t (*map)(const TextConverter::LocaleInfo&, unsigned char))
{
    if (!text) {
        size = 0;
        return SUCCESS;
    }
    const size_t count = length != 0 ? length : std::strlen(text);
    const unsigned int needed = static_cast<unsigned int>(sizeof(Unit) * (count + 1));
    if (!out) {
        size = needed;
        return SUCCESS;
    }
    if (size < needed) {
        size = needed;
        return ERROR_SIZE;
    }
    size = needed;
    for (size_t i = 0; i < count; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        out[i] = static_cast<Unit>(c < 0x80 ? c : map(cp, c));
    }
    out[count] = 0;
    return SUCCESS;
}

uint32_t WideOfByte(const TextConverter::LocaleInfo& cp, unsigned char c) { return cp.GetCodePoint(c); }

uint32_t UCS2OfByte(const TextConverter::LocaleInfo& cp, unsigned char c) { return cp.GetUCS2Char(c); }

template <typename Unit>
TResult UnitsToBytes(const Unit* text, unsigned int length, char* out, unsigned int& size,
                     const TextConverter::LocaleInfo& cp)
{
    if (!text) {
        size = 0;
        return SUCCESS;
    }
    const size_t needed = length != 0 ? length / sizeof(Unit) + 1 : UnitsUpToZero(text) + 1;
    if (!out) {
        size = static_cast<unsigned int>(needed);
        return SUCCESS;
    }
    if (size < needed) {
        size = static_cast<unsigned int>(needed);
        return ERROR_SIZE;
    }
    size = static_cast<unsigned int>(needed);
    size_t i = 0;
    for (; i + 1 < needed && text[i] != 0; ++i) {
        const wchar_t c = static_cast<wchar_t>(text[i]);
        out[i] = static_cast<char>(cp.GetChar(c));
    }
    out[i] = '\0';
    return SUCCESS;
}

}  // namespace

// ---- LocaleInfo ----

int TextConverter::LocaleInfo::compare(const void* a, const void* b)
{
    const int32_t x = static_cast<const CharPair*>(a)->codePoint;
    const int32_t y = static_cast<const CharPair*>(b)->codePoint;
    return x < y ? -1 : (x > y ? 1 : 0);
}

unsigned char TextConverter::LocaleInfo::GetChar(const wchar_t& c) const
{
    std::call_once(reverseBuilt_, [this] {
        for (unsigned b = 0; b < 256; ++b)
            reverse_[b] = CharPair{static_cast<uint8_t>(b), static_cast<int32_t>(table_[b])};
        std::qsort(reverse_.data(), reverse_.size(), sizeof(CharPair), compare);
    });
    const CharPair key{0, static_cast<int32_t>(c)};
    const void* hit = std::bsearch(&key, reverse_.data(), reverse_.size(), sizeof(CharPair), compare);
    if (!hit)
        throw Exception(NO_UNICODE_TRANSLATION);
    return static_cast<const CharPair*>(hit)->byte;
}

// ---- code-page conversions ----

TResult TextConverter::EASCIIToWChar(const char* text, unsigned int length, wchar_t* out, unsigned int& size,
                                     const LocaleInfo& cp)
{
    return BytesToUnits(text, length, out, size, cp, WideOfByte);
}

TResult TextConverter::EASCIIToUCS2(const char* text, unsigned int length, unsigned short* out, unsigned int& size,
                                    const LocaleInfo& cp)
{
    return BytesToUnits(text, length, out, size, cp, UCS2OfByte);
}

TResult TextConverter::WCharToEASCII(const wchar_t* text, unsigned int length, char* out, unsigned int& size,
                                     const LocaleInfo& cp)
{
    return UnitsToBytes(text, length, out, size, cp);
}

TResult TextConverter::UCS2ToEASCII(const unsigned short* text, unsigned int length, char* out, unsigned int& size,
                                    const LocaleInfo& cp)
{
    return UnitsToBytes(text, length, out, size, cp);
}

TResult TextConverter::EASCIIToWChar(const char* text, std::wstring& out, const LocaleInfo& cp)
{
    unsigned int size = 0;
    TResult rv = EASCIIToWChar(text, 0, nullptr, size, cp);
    if (rv != SUCCESS)
        return rv;
    std::vector<wchar_t> units(size / sizeof(wchar_t) + 1);
    rv = EASCIIToWChar(text, 0, units.data(), size, cp);
    if (rv == SUCCESS)
        out.assign(units.data());
    return rv;
}

TResult TextConverter::EASCIIToUCS2(const char* text, std::u16string& out, const LocaleInfo& cp)
{
    unsigned int size = 0;
    TResult rv = EASCIIToUCS2(text, 0, nullptr, size, cp);
    if (rv != SUCCESS)
        return rv;
    std::vector<unsigned short> units(size / 2 + 1);
    rv = EASCIIToUCS2(text, 0, units.data(), size, cp);
    if (rv == SUCCESS)
        out.assign(units.begin(), units.begin() + UnitsUpToZero(units.data()));
    return rv;
}

TResult TextConverter::WCharToEASCII(const wchar_t* text, std::string& out, const LocaleInfo& cp)
{
    unsigned int size = 0;
    TResult rv = WCharToEASCII(text, 0, nullptr, size, cp);
    if (rv != SUCCESS)
        return rv;
    std::string bytes(size + 1, '\0');
    rv = WCharToEASCII(text, 0, &bytes[0], size, cp);
    if (rv == SUCCESS)
        out.assign(bytes.c_str(), size > 0 ? size - 1 : 0);
    return rv;
}

TResult TextConverter::UCS2ToEASCII(const unsigned short* text, std::string& out, const LocaleInfo& cp)
{
    unsigned int size = 0;
    TResult rv = UCS2ToEASCII(text, 0, nullptr, size, cp);
    if (rv != SUCCESS)
        return rv;
    std::string bytes(size + 1, '\0');
    rv = UCS2ToEASCII(text, 0, &bytes[0], size, cp);
    if (rv == SUCCESS)
        out.assign(bytes.c_str(), size > 0 ? size - 1 : 0);
    return rv;
}

TResult TextConverter::Convert(EDirection direction, const void* in, unsigned int length, void* out,
                               unsigned int& size, const LocaleInfo* cp)
{
    const LocaleInfo& page = cp ? *cp : ciLWin1251;
    switch (direction) {
    case eToUCS2:
        return EASCIIToUCS2(static_cast<const char*>(in), length, static_cast<unsigned short*>(out), size, page);
    case eFromUCS2:
        return UCS2ToEASCII(static_cast<const unsigned short*>(in), length, static_cast<char*>(out), size, page);
    default:
        return ERROR_INTERNAL;
    }
}

TResult TextConverter::Convert(EDirection direction, const Buffer& in, BufferDynamic& out, const LocaleInfo* cp)
{
    unsigned int size = 0;
    TResult rv = Convert(direction, in.Data(), in.Size(), nullptr, size, cp);
    if (rv != SUCCESS)
        return rv;
    rv = out.Alloc(size);
    if (rv != SUCCESS)
        return rv;
    return Convert(direction, in.Data(), in.Size(), out.Data(), size, cp);
}

TResult TextConverter::UCS2ToASCIIWithSystemLocale(const void* in, unsigned int length, void* out, unsigned int& size)
{
    return Convert(eFromUCS2, in, length, out, size, cpLWin1251);
}

// ---- iconv conversions ----

TResult TextConverter::UCS2ToWChar(const void* text, unsigned int length, std::wstring& out)
{
    IconvHandle cd("WCHAR_T", "UCS-2LE");
    if (!cd.IsOpen())
        return NO_UNICODE_TRANSLATION;
    std::vector<wchar_t> chars(length / 2 + 1);
    size_t produced = 0;
    if (!cd.Run(text, length, chars.data(), (length / 2) * sizeof(wchar_t), produced))
        return NO_UNICODE_TRANSLATION;
    out = WideResult(chars.data(), produced / sizeof(wchar_t));
    return SUCCESS;
}

TResult TextConverter::WCharToUCS2(const wchar_t* text, unsigned short* out, unsigned int& size)
{
    if (!text)
        return ERROR_PARAM;
    IconvHandle cd("UCS-2LE", "WCHAR_T");
    if (!cd.IsOpen())
        return NO_UNICODE_TRANSLATION;
    const size_t chars = std::wcslen(text) + 1;
    std::vector<unsigned char> scratch(2 * chars);
    size_t produced = 0;
    if (!cd.Run(text, chars * sizeof(wchar_t), scratch.data(), scratch.size(), produced))
        return NO_UNICODE_TRANSLATION;
    const unsigned int needed = static_cast<unsigned int>(scratch.size());
    if (!out) {
        size = needed;
        return SUCCESS;
    }
    if (size < needed) {
        size = needed;
        return ERROR_SIZE;
    }
    size = needed;
    std::memcpy(out, scratch.data(), needed);
    return SUCCESS;
}

TResult TextConverter::WCharToASCIIWithSystemLocale(const wchar_t* text, std::string& out)
{
    if (!text)
        return ERROR_PARAM;
    IconvHandle cd(LocaleCharset(), "WCHAR_T");
    if (!cd.IsOpen())
        return NO_UNICODE_TRANSLATION;
    // Room for the longest multibyte form of every character (UTF-8 needs up to 4 bytes).
    const size_t chars = std::wcslen(text) + 1;
    std::vector<char> scratch(chars * 8);
    size_t produced = 0;
    if (!cd.Run(text, chars * sizeof(wchar_t), scratch.data(), scratch.size(), produced))
        return NO_UNICODE_TRANSLATION;
    out.assign(scratch.data(), strnlen(scratch.data(), produced));
    return SUCCESS;
}

std::string TextConverter::WCharToASCIIWithSystemLocale(const wchar_t* text)
{
    std::string out;
    const TResult rv = WCharToASCIIWithSystemLocale(text, out);
    if (rv != SUCCESS)
        throw Exception(rv);
    return out;
}

TResult TextConverter::ASCIIToWCharWithSystemLocale(const char* text, std::wstring& out)
{
    if (!text)
        return ERROR_PARAM;
    IconvHandle cd("WCHAR_T", LocaleCharset());
    if (!cd.IsOpen())
        return NO_UNICODE_TRANSLATION;
    const size_t length = std::strlen(text) + 1;
    std::vector<wchar_t> scratch(length);
    size_t produced = 0;
    if (!cd.Run(text, length, scratch.data(), scratch.size() * sizeof(wchar_t), produced))
        return NO_UNICODE_TRANSLATION;
    const size_t count = produced / sizeof(wchar_t);
    out.assign(scratch.data(), std::find(scratch.data(), scratch.data() + count, L'\0'));
    return SUCCESS;
}

TResult TextConverter::UTF8ToWChar(const void* bytes, unsigned int count, std::wstring& out)
{
    IconvHandle cd("WCHAR_T", "UTF-8");
    if (!cd.IsOpen())
        return NO_UNICODE_TRANSLATION;
    std::vector<wchar_t> chars(static_cast<size_t>(count) + 1);
    size_t produced = 0;
    if (!cd.Run(bytes, count, chars.data(), chars.size() * sizeof(wchar_t), produced))
        return NO_UNICODE_TRANSLATION;
    out = WideResult(chars.data(), produced / sizeof(wchar_t));
    return SUCCESS;
}

TResult TextConverter::WCharToUTF8(const wchar_t* text, BufferDynamic& out)
{
    if (!text)
        return ERROR_PARAM;
    const size_t chars = std::wcslen(text);
    TResult rv = out.Alloc(static_cast<uint32_t>(chars * 8));
    if (rv != SUCCESS)
        return rv;
    IconvHandle cd("UTF-8", "WCHAR_T");
    if (!cd.IsOpen())
        return NO_UNICODE_TRANSLATION;
    size_t produced = 0;
    if (!cd.Run(text, chars * sizeof(wchar_t), out.Data(), out.Size(), produced))
        return NO_UNICODE_TRANSLATION;
    return out.Realloc(static_cast<uint32_t>(produced));
}

TResult TextConverter::UTF8ToSystemLocale(const void*, unsigned int, std::string&) { return ERROR_NOT_IMPLEMENTED; }

std::string TextConverter::Trim(const char* text)
{
    if (!text)
        return std::string();
    const std::string s(text);
    const size_t begin = s.find_first_not_of(' ');
    if (begin == std::string::npos)
        return std::string();
    return s.substr(begin, s.find_last_not_of(' ') - begin + 1);
}

std::wstring ToHexW(const Buffer& buffer, unsigned long group, unsigned long line)
{
    std::wstring out;
    if (TextConverter::ASCIIToWCharWithSystemLocale(buffer.ToHex(group, line, "\n").c_str(), out) != SUCCESS)
        return std::wstring();
    return out;
}

}  // namespace tru
