#include "tru2/buffer.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>

#include "tru2/c_wrappers.h"

namespace tru {

const char Buffer::encoding[66] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=";

// Letter order in both rows: а б в г д е ё ж з и й к л м н о п р с т у ф х ц ч ш щ ь ы ъ э ю я,
// then the same letters in upper case.
const uint8_t Buffer::cChars_[2][66] = {
    {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xF1, 0xA6, 0xA7, 0xA8, 0xA9, 0xAA, 0xAB, 0xAC,
     0xAD, 0xAE, 0xAF, 0xE0, 0xE1, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8, 0xE9, 0xEC,
     0xEB, 0xEA, 0xED, 0xEE, 0xEF,
     0x80, 0x81, 0x82, 0x83, 0x84, 0x85, 0xF0, 0x86, 0x87, 0x88, 0x89, 0x8A, 0x8B, 0x8C,
     0x8D, 0x8E, 0x8F, 0x90, 0x91, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9C,
     0x9B, 0x9A, 0x9D, 0x9E, 0x9F},
    {0xE0, 0xE1, 0xE2, 0xE3, 0xE4, 0xE5, 0xB8, 0xE6, 0xE7, 0xE8, 0xE9, 0xEA, 0xEB, 0xEC,
     0xED, 0xEE, 0xEF, 0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0xFC,
     0xFB, 0xFA, 0xFD, 0xFE, 0xFF,
     0xC0, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xA8, 0xC6, 0xC7, 0xC8, 0xC9, 0xCA, 0xCB, 0xCC,
     0xCD, 0xCE, 0xCF, 0xD0, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8, 0xD9, 0xDC,
     0xDB, 0xDA, 0xDD, 0xDE, 0xDF},
};

namespace {

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool IsHexSpace(char c)
{
    return c == '\r' || c == ' ' || c == '\t' || c == '\n';
}

// Base64 skips CR, blank and LF, but not TAB.
bool IsBase64Space(char c)
{
    return c == '\r' || c == ' ' || c == '\n';
}

constexpr int kPadCode = 65;

std::string Recode(const Buffer& buffer, int fromRow, uint8_t minimum, uint8_t maximum)
{
    std::string text;
    text.reserve(buffer.Size());
    const uint8_t* from = Buffer::cChars_[fromRow];
    const uint8_t* to = Buffer::cChars_[1 - fromRow];
    for (uint32_t i = 0; i < buffer.Size(); ++i) {
        uint8_t byte = buffer.Data()[i];
        if (byte == 0)
            break;
        if (byte >= minimum && byte <= maximum) {
            for (int k = 0; k < 66; ++k) {
                if (from[k] == byte) {
                    byte = to[k];
                    break;
                }
            }
        }
        text.push_back(static_cast<char>(byte));
    }
    return text;
}

// Text results report exhausted memory as the library's own result code.
template <typename Build>
std::string BuildText(Build build)
{
    try {
        return build();
    } catch (const std::bad_alloc&) {
        throw Exception(ERROR_MEM);
    }
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace

TResult Buffer::Set(uint32_t size, const void* data)
{
    if (size != size_)
        return ERROR_SIZE;
    if (size != 0 && (!data || !data_))
        return ERROR_PARAM;
    if (size != 0)
        std::memmove(data_, data, size);
    return SUCCESS;
}

TResult Buffer::FromHex(const char* text)
{
    uint32_t length = 0;
    TResult rc = FromHex(text, length, nullptr);
    if (rc != SUCCESS)
        return rc;
    if (length != size_)
        return ERROR_SIZE;
    return FromHex(text, length, data_);
}

TResult Buffer::FromBase64(const char* text)
{
    return FromBase64(text, text ? static_cast<uint32_t>(std::strlen(text)) : 0);
}

TResult Buffer::FromBase64(const char* text, uint32_t textLength)
{
    uint32_t length = 0;
    TResult rc = FromBase64(text, textLength, length, nullptr);
    if (rc != SUCCESS)
        return rc;
    if (length != size_)
        return ERROR_SIZE;
    return FromBase64(text, textLength, length, data_);
}

std::string Buffer::ToHex(unsigned long group, unsigned long line, const char* separator) const
{
    return BuildText([&] {
        static const char kDigits[] = "0123456789ABCDEF";
        const char* sep = separator ? separator : "";
        std::string text;
        text.reserve(2 * size_ + (group ? size_ / group * (1 + std::strlen(sep)) : 0));
        unsigned long groupsInLine = 0;
        for (uint32_t i = 0; i < size_; ++i) {
            text.push_back(kDigits[data_[i] >> 4]);
            text.push_back(kDigits[data_[i] & 0x0F]);
            if (group != 0 && (i + 1) % group == 0) {
                text.push_back(' ');
                if (++groupsInLine == line) {
                    text += sep;
                    groupsInLine = 0;
                }
            }
        }
        return text;
    });
}

std::string Buffer::ToBase64(unsigned long line, const char* separator) const
{
    return BuildText([&] {
        const char* sep = (line != 0 && separator) ? separator : "";
        const uint64_t characters = 4 * ((static_cast<uint64_t>(size_) + 2) / 3);
        std::string text;
        text.reserve(characters + (line ? characters / line * std::strlen(sep) : 0));
        unsigned long inLine = 0;
        auto put = [&](char c) {
            text.push_back(c);
            if (line != 0 && ++inLine == line) {
                text += sep;
                inLine = 0;
            }
        };
        for (uint32_t i = 0; i < size_; i += 3) {
            const uint32_t left = size_ - i;
            const uint32_t b0 = data_[i];
            const uint32_t b1 = left > 1 ? data_[i + 1] : 0;
            const uint32_t b2 = left > 2 ? data_[i + 2] : 0;
            put(encoding[b0 >> 2]);
            put(encoding[((b0 & 0x03) << 4) | (b1 >> 4)]);
            put(left > 1 ? encoding[((b1 & 0x0F) << 2) | (b2 >> 6)] : '=');
            put(left > 2 ? encoding[b2 & 0x3F] : '=');
        }
        return text;
    });
}

std::string Buffer::ToWin() const
{
    return BuildText([&] { return Recode(*this, 0, 0x80, 0xF1); });
}

std::string Buffer::ToDos() const
{
    return BuildText([&] { return Recode(*this, 1, 0xA8, 0xFF); });
}

std::string Buffer::ToString() const
{
    return BuildText([&] {
        return size_ ? std::string(reinterpret_cast<const char*>(data_), size_) : std::string();
    });
}

TResult Buffer::Save(const char* path) const
{
    FilePtr file(tru::fopen(path, "wb"));
    if (!file)
        return ERROR_WRITE;
    if (size_ != 0 && std::fwrite(data_, size_, 1, file.get()) != 1)
        return ERROR_WRITE;
    // A failed flush on close loses the data just as a failed write does.
    if (std::fclose(file.release()) != 0)
        return ERROR_WRITE;
    return SUCCESS;
}

void Buffer::FillRand()
{
    for (uint32_t i = 0; i < size_; ++i)
        data_[i] = static_cast<uint8_t>(std::rand() & 0xFF);
}

bool Buffer::operator==(const Buffer& other) const
{
    if (size_ != other.size_)
        return false;
    return size_ == 0 || std::memcmp(data_, other.data_, size_) == 0;
}

void Buffer::Wipe(uint32_t size, void* data)
{
    // volatile keeps the passes from being optimised away before a free.
    volatile uint8_t* bytes = static_cast<volatile uint8_t*>(data);
    for (uint8_t pattern : {uint8_t(0x00), uint8_t(0xFF), uint8_t(0xAA)})
        for (uint32_t i = 0; i < size; ++i)
            bytes[i] = pattern;
}

void Buffer::Reverse(void* data, uint32_t size)
{
    uint8_t* bytes = static_cast<uint8_t*>(data);
    for (uint32_t i = 0, j = size; i + 1 < j; ++i, --j)
        std::swap(bytes[i], bytes[j - 1]);
}

int Buffer::GetBase64Code(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    if (c == '=')
        return kPadCode;
    return -1;
}

TResult Buffer::FromHex(const char* text, uint32_t& length, void* output)
{
    if (!text)
        return ERROR_DATA;
    const size_t textLength = std::strlen(text);
    if (textLength < 2)
        return ERROR_DATA;
    uint8_t* out = static_cast<uint8_t*>(output);
    const uint32_t room = length;
    uint32_t count = 0;
    size_t i = 0;
    for (;;) {
        while (i < textLength && IsHexSpace(text[i]))
            ++i;
        if (i == textLength || (out && count == room) || count == UINT32_MAX)
            break;
        if (i + 1 == textLength)
            return ERROR_DATA;
        const int high = HexValue(text[i]);
        const int low = HexValue(text[i + 1]);
        if (high < 0 || low < 0)
            return ERROR_DATA;
        if (out)
            out[count] = static_cast<uint8_t>((high << 4) | low);
        ++count;
        i += 2;
    }
    // Only white space may follow the last pair taken.
    while (i < textLength && IsHexSpace(text[i]))
        ++i;
    if (i != textLength)
        return ERROR_DATA;
    length = count;
    return SUCCESS;
}

TResult Buffer::FromBase64(const char* text, uint32_t textLength, uint32_t& length, void* output)
{
    if (!text && textLength != 0)
        return ERROR_DATA;
    uint8_t* out = static_cast<uint8_t*>(output);
    const uint32_t room = length;
    uint32_t count = 0;
    uint32_t i = 0;
    auto put = [&](uint32_t byte) {
        if (out) {
            if (count == room)
                return false;
            out[count] = static_cast<uint8_t>(byte);
        }
        ++count;
        return true;
    };
    for (;;) {
        int v[4];
        for (int k = 0; k < 4; ++k) {
            while (i < textLength && IsBase64Space(text[i]))
                ++i;
            if (i == textLength) {
                if (k == 0) {
                    length = count;
                    return SUCCESS;
                }
                // An unpadded last group is malformed, not silently dropped.
                return ERROR_DATA;
            }
            v[k] = GetBase64Code(text[i++]);
            if (v[k] < 0)
                return ERROR_DATA;
        }
        if (v[0] == kPadCode || v[1] == kPadCode || (v[2] == kPadCode && v[3] != kPadCode))
            return ERROR_DATA;
        if (!put((v[0] << 2) | (v[1] >> 4)))
            return ERROR_SIZE;
        if (v[2] != kPadCode && !put(((v[1] & 0x0F) << 4) | (v[2] >> 2)))
            return ERROR_SIZE;
        if (v[2] != kPadCode && v[3] != kPadCode && !put(((v[2] & 0x03) << 6) | v[3]))
            return ERROR_SIZE;
    }
}

}  // namespace tru
