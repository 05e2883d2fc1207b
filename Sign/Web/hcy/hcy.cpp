#include "hcy/hcy.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <cstring>
#include <string>

namespace hcy {

namespace {

// Copies the text with its terminator when it fits; its length, else 0.
unsigned long CopyText(const char* text, char* buffer, unsigned long length)
{
    const size_t size = std::strlen(text);
    if (!buffer || size == 0 || size >= length)
        return 0;
    std::memcpy(buffer, text, size + 1);
    return size;
}

struct ModuleSearch {
    const char* name;
    std::string path;
};

int MatchModule(dl_phdr_info* info, size_t, void* data)
{
    auto* search = static_cast<ModuleSearch*>(data);
    const char* path = info->dlpi_name;
    if (!path || !*path)
        return 0;
    const char* slash = std::strrchr(path, '/');
    const char* base = slash ? slash + 1 : path;
    if (std::strcmp(base, search->name) != 0)
        return 0;
    search->path = path;
    return 1;
}

} // namespace

void* LoadLibrary(const char* fileName)
{
    if (!fileName || !*fileName)
        return nullptr;
    char directory[4096];
    if (!std::strchr(fileName, '/') && getcwd(directory, sizeof directory)) {
        const std::string local = std::string(directory) + "/" + fileName;
        if (access(local.c_str(), F_OK) == 0)
            return dlopen(local.c_str(), RTLD_NOW | RTLD_LOCAL);
    }
    return dlopen(fileName, RTLD_NOW | RTLD_LOCAL);
}

void* GetProcAddress(void* module, const char* name)
{
    return module && name ? dlsym(module, name) : nullptr;
}

int FreeLibrary(void* module)
{
    return module && dlclose(module) == 0 ? 1 : 0;
}

unsigned long GetCurrentDirectory(unsigned long length, char* buffer)
{
    if (!buffer || length == 0)
        return 0;
    if (!getcwd(buffer, length)) {
        buffer[0] = '\0';
        return 0;
    }
    return std::strlen(buffer);
}

int SetCurrentDirectory(const char* path)
{
    return path && chdir(path) == 0 ? 1 : 0;
}

unsigned long GetLoadedModulePath(const char* moduleName, char* buffer, unsigned long length)
{
    if (!moduleName || !*moduleName)
        return 0;
    ModuleSearch search{moduleName, {}};
    if (!dl_iterate_phdr(MatchModule, &search))
        return 0;
    return CopyText(search.path.c_str(), buffer, length);
}

} // namespace hcy
