#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace tru {
class BufferDynamic;
}

namespace vdk {

// File-system and path functions; paths use "/" as the only separator.
class File {
public:
    struct FileInfo {
        std::string name;   // the entry's own name
        std::string path;   // directory and name joined by MergeFilePath
        bool isDirectory;   // as IsDirectoryExist of path (a link to a directory counts)
    };

    // Closes an open stream at the end of a scope.
    class Guard {
    public:
        explicit Guard(FILE* stream) : stream_(stream) {}
        ~Guard()
        {
            if (stream_)
                fclose(stream_);
        }
        Guard(const Guard&) = delete;
        Guard& operator=(const Guard&) = delete;

    private:
        FILE* stream_;
    };

    // Returns true to go on with the walk, false to stop it.
    using WalkCallback = bool (*)(const FileInfo& info, void* context);

    static bool IsFileExist(const char* path);       // exists and is not a directory
    static bool IsDirectoryExist(const char* path);  // exists and is a directory
    static bool IsPredefinedDirectoryName(const char* name);
    static bool IsHiddenFile(const char* name, bool unused = false);

    static bool EraseFile(const char* path);
    static bool RenameFile(const char* oldPath, const char* newPath, bool overwrite);

    // Creates the directory and its missing parents with mode 0755 (before the umask);
    // true when the directory exists afterwards.
    static bool ForceDirectories(const char* path);

    static std::string ExtractPathFromFullname(const std::string& fullName);  // "." when no "/"
    static std::string ExtractFilePath(const std::string& fullName);          // whole text when no "/"
    static std::string ExtractFileName(const std::string& fullName);
    static std::string GetFullFilePath(const std::string& path);  // the input when realpath fails
    static std::string MergeFilePath(const char* directory, const char* name);

    // Throws FileException "Cannot open file" / "Cannot read file".
    static uint32_t GetFileSize(const char* path);
    // Replaces the buffer's content with the file's; throws FileException on failure.
    static uint32_t GetFileData(const char* path, tru::BufferDynamic& buffer);

    // Walks a directory in the order the system lists it. Below the first level hidden
    // entries are always skipped. A link back to a directory being walked (a loop) is
    // reported but not followed. Returns false when the callback
    // stopped the walk; throws FileException "Error opening directory".
    static bool FindAllFilesInDirectory(const char* directory, WalkCallback callback, void* context,
                                        bool recursive, bool skipHidden);
    // Appends every entry to the vector (not emptied first).
    static bool FindAllFilesInDirectory(const char* directory, std::vector<FileInfo>& files,
                                        bool recursive, bool skipHidden);
};

}  // namespace vdk
