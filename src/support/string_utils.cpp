#include "support/string_utils.h"

#include <algorithm>
#include <cctype>
#include <locale>
#include <sstream>

#include "tru2/buffer.h"

namespace vdk {

std::string String::LooseUnicode(const std::wstring& text)
{
    std::string out;
    out.reserve(text.size());
    for (wchar_t c : text)
        out.push_back(static_cast<char>(static_cast<unsigned long>(c) & 0xFF));
    return out;
}

std::string String::RemoveTail(const std::string& text, unsigned count)
{
    return count >= text.size() ? std::string() : text.substr(0, text.size() - count);
}

void String::Split(const std::string& text, const std::string& separators, std::vector<std::string>& tokens)
{
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t start = separators.empty() ? pos : text.find_first_not_of(separators, pos);
        if (start == std::string::npos)
            break;
        const size_t end = separators.empty() ? std::string::npos : text.find_first_of(separators, start);
        tokens.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
            break;
        pos = end;
    }
}

uint32_t String::ExtractMultiplier(std::string& text)
{
    const std::locale loc;
    auto lower = [&loc](std::string s) {
        for (char& c : s)
            c = std::tolower(c, loc);
        return s;
    };
    const std::string two = lower(text.size() < 3 ? text : text.substr(text.size() - 2));
    struct Suffix { const char* text; uint32_t factor; };
    static const Suffix kTwo[] = {{"kb", 1024u}, {"mb", 0x100000u}, {"gb", 0x40000000u}};
    for (const auto& s : kTwo) {
        if (two == s.text) {
            text = RemoveTail(text, 2);
            return s.factor;
        }
    }
    const std::string one = lower(text.size() <= 1 ? text : text.substr(text.size() - 1));
    static const Suffix kOne[] = {{"k", 1024u}, {"m", 0x100000u}, {"g", 0x40000000u}};
    for (const auto& s : kOne) {
        if (one == s.text) {
            text = RemoveTail(text, 1);
            return s.factor;
        }
    }
    return 1;
}

std::string IntToString(int value)
{
    std::ostringstream out;
    out << value;
    return out.str();
}

void WipeMemory(volatile void* address, unsigned length)
{
    auto* p = static_cast<volatile unsigned char*>(address);
    for (unsigned char fill : {0x00, 0xFF, 0xAA})
        for (unsigned i = 0; i < length; ++i)
            p[i] = fill;
}

char* CTime(long time, char* buffer)
{
    const time_t t = static_cast<time_t>(time);
    return ctime_r(&t, buffer);
}

struct tm GmTime(long time)
{
    const time_t t = static_cast<time_t>(time);
    struct tm out {};
    if (!gmtime_r(&t, &out))
        out = tm{};
    return out;
}

struct tm LocalTime(long time)
{
    const time_t t = static_cast<time_t>(time);
    struct tm out {};
    if (!localtime_r(&t, &out))
        out = tm{};
    return out;
}

bool IsBufferPrintable(const tru::Buffer& buffer)
{
    const uint8_t* p = buffer.Data();
    return buffer.Size() != 0 && p && std::all_of(p, p + buffer.Size(), [](uint8_t c) { return std::isprint(c) != 0; });
}

bool IsStringPrintable(const std::string& text)
{
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return std::isprint(static_cast<unsigned char>(c)) != 0; });
}

}  // namespace vdk

char* itoa(int value, char* buffer, int base)
{
    static const char kDigits[] = "0123456789abcdef";
    if (base < 2 || base > 16) {
        buffer[0] = '\0';
        return buffer;
    }
    char* p = buffer;
    int v = value;
    do {
        const int rem = v % base;  // truncates toward zero: negative for a negative value
        *p++ = kDigits[rem < 0 ? -rem : rem];
        v /= base;
    } while (v != 0);
    if (value < 0 && base == 10)
        *p++ = '-';
    *p = '\0';
    std::reverse(buffer, p);
    return buffer;
}

std::string itoa(int value, int base)
{
    char buffer[34];
    return itoa(value, buffer, base);
}
