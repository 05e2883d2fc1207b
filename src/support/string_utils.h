#pragma once

#include <ctime>
#include <cstdint>
#include <string>
#include <vector>

namespace tru {
class Buffer;
}

namespace vdk {

// Text helpers.
class String {
public:
    // One byte per wide character: its low 8 bits, no conversion.
    static std::string LooseUnicode(const std::wstring& text);
    // The text without its last count characters; "" when count >= length.
    static std::string RemoveTail(const std::string& text, unsigned count);
    // Appends the non-empty tokens between separator characters (the vector is not emptied).
    static void Split(const std::string& text, const std::string& separators, std::vector<std::string>& tokens);
    // Removes a size suffix (k, kb, m, mb, g, gb, any case) from the text and returns its factor; 1 without one.
    static uint32_t ExtractMultiplier(std::string& text);
};

std::string IntToString(int value);

// Three passes over the range (0x00, 0xFF, 0xAA) through volatile writes.
void WipeMemory(volatile void* address, unsigned length);

// buffer: at least 26 bytes.
char* CTime(long time, char* buffer);
struct tm GmTime(long time);     // zeroed when the time cannot be converted
struct tm LocalTime(long time);  // zeroed when the time cannot be converted

bool IsBufferPrintable(const tru::Buffer& buffer);  // false when empty
bool IsStringPrintable(const std::string& text);    // false when empty

}  // namespace vdk

// Digits of value in base 2..16 (lower case); "-" only in base 10; "" for another base.
// The buffer must hold 33 bytes for base 2.
char* itoa(int value, char* buffer, int base);
std::string itoa(int value, int base);
