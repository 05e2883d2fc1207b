#ifndef SIGN_WEB_NPAPI_PLUGIN_MODULE_DIRECTORY_H
#define SIGN_WEB_NPAPI_PLUGIN_MODULE_DIRECTORY_H

// Makes the directory of a loaded module the working directory, so that what the module
// loads next is found beside it, and puts the previous working directory back when done
// (or when the scope ends). Nothing is changed when the previous one cannot be read.
class ModuleDirectoryScope {
public:
    static constexpr unsigned long kPathRoom = 1041;

    explicit ModuleDirectoryScope(const char* moduleName);
    ModuleDirectoryScope(const ModuleDirectoryScope&) = delete;
    ModuleDirectoryScope& operator=(const ModuleDirectoryScope&) = delete;
    ~ModuleDirectoryScope() { Restore(); }

    void Restore();

    // The path up to its last '/' ("/" for a file in the root), zero-terminated; false when
    // the path has no '/' or the directory does not fit.
    static bool DirectoryOf(const char* path, char* directory, unsigned long size);

private:
    char saved_[kPathRoom];
    bool changed_ = false;
};

#endif
