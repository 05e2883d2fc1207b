#include "tru2/c_wrappers.h"

#include <cstdlib>
#include <cstring>

namespace tru {

std::FILE* fopen(const char* path, const char* mode)
{
    return std::fopen(path, mode);
}

long stoi(const char* text)
{
    return std::strtol(text, nullptr, 10);
}

std::size_t strlen(const char* text)
{
    return std::strlen(text);
}

const char* strstr(const char* text, const char* part)
{
    return std::strstr(text, part);
}

char* strcpy(char* target, const char* source)
{
    return std::strcpy(target, source);
}

int strcmp(const char* a, const char* b)
{
    return std::strcmp(a, b);
}

}  // namespace tru
