#include "NPAPI/Plugin/module_directory.h"

#include "hcy/hcy.h"

#include <cstring>

ModuleDirectoryScope::ModuleDirectoryScope(const char* moduleName)
{
    if (hcy::GetCurrentDirectory(sizeof saved_, saved_) == 0)
        return;
    char path[kPathRoom];
    char directory[kPathRoom];
    if (hcy::GetLoadedModulePath(moduleName, path, sizeof path) == 0 ||
        !DirectoryOf(path, directory, sizeof directory))
        return;
    changed_ = hcy::SetCurrentDirectory(directory) != 0;
}

void ModuleDirectoryScope::Restore()
{
    if (changed_)
        hcy::SetCurrentDirectory(saved_);
    changed_ = false;
}

bool ModuleDirectoryScope::DirectoryOf(const char* path, char* directory, unsigned long size)
{
    const char* slash = path ? std::strrchr(path, '/') : nullptr;
    if (!slash || !directory)
        return false;
    const unsigned long length = slash == path ? 1 : static_cast<unsigned long>(slash - path);
    if (length >= size)
        return false;
    std::memcpy(directory, path, length);
    directory[length] = '\0';
    return true;
}
