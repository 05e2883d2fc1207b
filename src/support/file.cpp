#include "support/file.h"

#include <dirent.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <set>
#include <sstream>
#include <utility>

#include "support/vdk_exception.h"
#include "tru2/buffer.h"

namespace vdk {

namespace {

constexpr size_t kMaxPath = 4095;
constexpr mode_t kDirectoryMode = 0755;

using DirectoryId = std::pair<dev_t, ino_t>;

// Closes a directory stream at the end of a scope.
class DirGuard {
public:
    explicit DirGuard(DIR* dir) : dir_(dir) {}
    ~DirGuard() { closedir(dir_); }
    DirGuard(const DirGuard&) = delete;
    DirGuard& operator=(const DirGuard&) = delete;

private:
    DIR* dir_;
};

bool Walk(const std::string& directory, File::WalkCallback callback, void* context, bool recursive,
          bool skipHidden, std::set<DirectoryId>& ancestors)
{
    DIR* dir = opendir(directory.c_str());
    if (!dir)
        throw FileException("Error opening directory");
    DirGuard guard(dir);

    // Directories being walked on the way here: reaching one again is a link loop.
    struct stat own {};
    const bool known = stat(directory.c_str(), &own) == 0;
    const DirectoryId self{own.st_dev, own.st_ino};
    if (known)
        ancestors.insert(self);
    struct Leave {
        std::set<DirectoryId>& set;
        DirectoryId id;
        bool active;
        ~Leave()
        {
            if (active)
                set.erase(id);
        }
    } leave{ancestors, self, known};

    while (const dirent* entry = readdir(dir)) {
        const char* name = entry->d_name;
        if (File::IsPredefinedDirectoryName(name))
            continue;
        if (skipHidden && File::IsHiddenFile(name))
            continue;
        File::FileInfo info;
        info.name = name;
        info.path = File::MergeFilePath(directory.c_str(), name);
        info.isDirectory = File::IsDirectoryExist(info.path.c_str());
        if (!callback(info, context))
            return false;
        if (recursive && info.isDirectory) {
            struct stat st {};
            if (stat(info.path.c_str(), &st) != 0 || ancestors.count({st.st_dev, st.st_ino}))
                continue;
            if (!Walk(info.path, callback, context, true, true, ancestors))
                return false;
        }
    }
    return true;
}

bool AppendInfo(const File::FileInfo& info, void* context)
{
    static_cast<std::vector<File::FileInfo>*>(context)->push_back(info);
    return true;
}

}  // namespace

bool File::IsFileExist(const char* path)
{
    struct stat st {};
    return path && stat(path, &st) == 0 && !S_ISDIR(st.st_mode);
}

bool File::IsDirectoryExist(const char* path)
{
    struct stat st {};
    return path && stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

bool File::IsPredefinedDirectoryName(const char* name)
{
    return name && (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0);
}

bool File::IsHiddenFile(const char* name, bool) { return name && name[0] == '.'; }

bool File::EraseFile(const char* path) { return path && unlink(path) == 0; }

bool File::RenameFile(const char* oldPath, const char* newPath, bool overwrite)
{
    if (!oldPath || !newPath)
        return false;
    if (overwrite)
        unlink(newPath);
    return rename(oldPath, newPath) == 0;
}

bool File::ForceDirectories(const char* path)
{
    if (!path || !*path)
        return false;
    if (IsDirectoryExist(path))
        return true;
    if (mkdir(path, kDirectoryMode) == 0)
        return true;

    const std::string full(path);
    if (full.size() > kMaxPath)
        return false;
    // Parent: the text before the last "/" that is not the first character.
    const size_t slash = full.rfind('/');
    if (slash == std::string::npos || slash == 0)
        return false;
    const std::string parent = full.substr(0, slash);
    if (!ForceDirectories(parent.c_str()))
        return false;
    // One more attempt once the parent exists; a path ending in "/" or made meanwhile by
    // someone else already exists, a file in the way fails for good.
    if (mkdir(path, kDirectoryMode) == 0)
        return true;
    return IsDirectoryExist(path);
}

std::string File::ExtractPathFromFullname(const std::string& fullName)
{
    const size_t slash = fullName.rfind('/');
    return slash == std::string::npos ? std::string(".") : fullName.substr(0, slash);
}

std::string File::ExtractFilePath(const std::string& fullName)
{
    const size_t slash = fullName.rfind('/');
    return slash == std::string::npos ? fullName : fullName.substr(0, slash);
}

std::string File::ExtractFileName(const std::string& fullName)
{
    const size_t slash = fullName.rfind('/');
    return slash == std::string::npos ? fullName : fullName.substr(slash + 1);
}

std::string File::GetFullFilePath(const std::string& path)
{
    char resolved[PATH_MAX + 1] = {};
    if (!realpath(path.c_str(), resolved))
        return path;
    return resolved;
}

std::string File::MergeFilePath(const char* directory, const char* name)
{
    const std::string dir(directory ? directory : "");
    const std::string file(name ? name : "");
    if (dir.empty())
        return file;
    if (file.empty())
        return dir;
    const bool dirSlash = dir.back() == '/';
    const bool nameSlash = file.front() == '/';
    if (dirSlash && nameSlash)
        return dir + file.substr(1);
    if (dirSlash || nameSlash)
        return dir + file;
    return dir + "/" + file;
}

uint32_t File::GetFileSize(const char* path)
{
    FILE* f = path ? fopen(path, "rb") : nullptr;
    if (!f)
        throw FileException("Cannot open file");
    Guard guard(f);
    if (fseek(f, 0, SEEK_END) != 0)
        throw FileException("Cannot read file");
    const long size = ftell(f);
    if (size < 0 || static_cast<unsigned long>(size) > UINT32_MAX)
        throw FileException("Cannot read file");
    return static_cast<uint32_t>(size);
}

uint32_t File::GetFileData(const char* path, tru::BufferDynamic& buffer)
{
    if (buffer.Alloc(0) != tru::SUCCESS)
        throw FileException("Error shrinking data buffer");
    const tru::TResult rv = buffer.Load(path);
    if (rv != tru::SUCCESS) {
        std::ostringstream message;
        message << "Error loading file \"" << (path ? path : "") << "\", code: 0x" << std::hex << rv;
        throw FileException(message.str());
    }
    return buffer.Size();
}

bool File::FindAllFilesInDirectory(const char* directory, WalkCallback callback, void* context,
                                   bool recursive, bool skipHidden)
{
    std::set<DirectoryId> ancestors;
    return Walk(directory ? directory : "", callback, context, recursive, skipHidden, ancestors);
}

bool File::FindAllFilesInDirectory(const char* directory, std::vector<FileInfo>& files, bool recursive,
                                   bool skipHidden)
{
    return FindAllFilesInDirectory(directory, AppendInfo, &files, recursive, skipHidden);
}

}  // namespace vdk
