#ifndef TRU2_C_WRAPPERS_H
#define TRU2_C_WRAPPERS_H

#include <cstdio>

namespace tru {

// Thin forwards to the C library functions of the same names.
std::FILE* fopen(const char* path, const char* mode);
// Signed decimal via strtol; no error report (0 for text that is no number).
long stoi(const char* text);
std::size_t strlen(const char* text);
const char* strstr(const char* text, const char* part);
char* strcpy(char* target, const char* source);
int strcmp(const char* a, const char* b);

}  // namespace tru

#endif
