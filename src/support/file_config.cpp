#include "support/file_config.h"

#include <cstdio>
#include <cstring>
#include <map>

#include "support/file.h"
#include "support/string_utils.h"
#include "support/vdk_exception.h"

namespace vdk {

namespace {

// fgets reads at most this many characters a line.
constexpr int kLineRoom = 4094;

std::string StripLineEnds(const std::string& line)
{
    size_t begin = 0;
    size_t end = line.size();
    while (begin < end && (line[begin] == '\r' || line[begin] == '\n'))
        ++begin;
    while (end > begin && (line[end - 1] == '\r' || line[end - 1] == '\n'))
        --end;
    return line.substr(begin, end - begin);
}

}  // namespace

FileConfig::FileConfig(const std::string& fileName, bool allowMissing)
    : fileName_(fileName), allowMissing_(allowMissing)
{
    Reopen();
}

FileConfig::~FileConfig()
{
    if (!IsModified() || fileName_.empty() || readFailed_)
        return;
    try {
        Save();
    } catch (...) {
        // A destructor cannot report; callers that care call Save themselves.
    }
}

void FileConfig::ReadConfigFile(const char* path)
{
    const std::string name(path ? path : "");
    Clear();
    FILE* file = path ? std::fopen(path, "r") : nullptr;
    if (!file) {
        if (allowMissing_)
            return;
        throw Exception("FileConfig: unable to open config file " + name);
    }
    File::Guard guard(file);

    char buffer[kLineRoom + 1];
    uint32_t lineNumber = 1;
    while (std::fgets(buffer, sizeof buffer, file)) {
        const std::string asRead(buffer);  // a NUL byte ends the line's text
        if (!ParseLine(StripLineEnds(asRead), asRead, lineNumber))
            throw Exception("FileConfig: wrong data in config file " + name + " in line " +
                            IntToString(static_cast<int>(lineNumber)));
        ++lineNumber;
    }
    if (std::ferror(file))
        throw Exception("FileConfig: error reading config file " + name);
}

void FileConfig::WriteConfigFile(const char* path) const
{
    const std::string name(path ? path : "");
    // Lines go out in the order of their entries' index; entries sharing an index (after
    // Delete and Put, or Merge) are all written, in name order.
    std::multimap<uint32_t, std::string> lines;
    for (const auto& entry : GetEntries()) {
        const Property& p = *entry.second;
        std::string line;
        if (!IsCommentLineName(p.name)) {
            line = p.name + "=" + p.value;
            Mask(line);
        }
        if (!p.comment.empty() && p.comment != "\n") {
            if (!line.empty())
                line += " ";
            line += "#" + p.comment;
        }
        line += "\n";
        lines.emplace(p.index, line);
    }

    FILE* file = path ? std::fopen(path, "w") : nullptr;
    if (!file)
        throw Exception("FileConfig: unable to open config file " + name);
    bool ok = true;
    if (!header_.empty())
        ok = std::fputs(header_.c_str(), file) >= 0;
    for (const auto& line : lines)
        ok = ok && std::fwrite(line.second.data(), 1, line.second.size(), file) == line.second.size();
    ok = (std::fclose(file) == 0) && ok;
    if (!ok)
        throw Exception("FileConfig: error writing config file " + name);
}

void FileConfig::Reopen()
{
    readFailed_ = true;
    ReadConfigFile(fileName_.c_str());
    readFailed_ = false;
    SetModified(false);
}

void FileConfig::Reopen(const std::string& fileName)
{
    fileName_ = fileName;
    Reopen();
}

void FileConfig::Save()
{
    WriteConfigFile(fileName_.c_str());
    SetModified(false);
}

void FileConfig::SaveAs(const std::string& fileName)
{
    fileName_ = fileName;
    Save();
}

}  // namespace vdk
