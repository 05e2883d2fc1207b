#ifndef SIGN_WEB_HCY_HCY_H
#define SIGN_WEB_HCY_HCY_H

// Stand-in for the plug-in maker's OS-abstraction library libhcy: module loading, the
// working directory and the path of a loaded module.

namespace hcy {

// A name without '/' is looked for in the working directory first, then as dlopen looks for
// it. Null on failure.
void* LoadLibrary(const char* fileName);
// Null when the module or the symbol is missing.
void* GetProcAddress(void* module, const char* name);
// 1 on success.
int FreeLibrary(void* module);

// The working directory, zero-terminated; its length, or 0 when it does not fit the buffer.
unsigned long GetCurrentDirectory(unsigned long length, char* buffer);
// 1 on success.
int SetCurrentDirectory(const char* path);
// Full path of the loaded module whose file name is moduleName, zero-terminated; its length,
// or 0 when no such module is loaded or the path does not fit the buffer.
unsigned long GetLoadedModulePath(const char* moduleName, char* buffer, unsigned long length);

} // namespace hcy

#endif
