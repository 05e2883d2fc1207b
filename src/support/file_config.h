#pragma once

#include <string>

#include "support/properties.h"

namespace vdk {

// A property set bound to a file. Lines are read in pieces of at most 4094 characters,
// every line counted; a rewrite keeps comments, blank lines and the old line order.
class FileConfig : public Properties {
public:
    FileConfig() = default;
    // Reads the file now; a missing file gives an empty set when allowMissing is set.
    FileConfig(const std::string& fileName, bool allowMissing);
    // Saves a modified set to its file, unless the last read of that file failed (the
    // file is then not replaced by what was read before the failure). Save errors are
    // swallowed here: call Save to see them.
    ~FileConfig() override;

    // Replaces the content with the file's entries; throws vdk::Exception.
    void ReadConfigFile(const char* path);
    // Throws vdk::Exception when the file cannot be opened or written completely.
    void WriteConfigFile(const char* path) const;

    void Reopen();
    void Reopen(const std::string& fileName);
    void Save();
    void SaveAs(const std::string& fileName);

    const std::string& GetFileName() const { return fileName_; }

private:
    std::string fileName_;
    std::string header_;
    bool allowMissing_ = false;
    bool readFailed_ = false;
};

}  // namespace vdk
