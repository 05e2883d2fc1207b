#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/noncopyable.h"

namespace vdk {

// Named text values read from the property text format: one "name = value" a line, "#"
// starts a comment, "##" is a literal "#", names and values trimmed, a later line with
// the same name wins. Typed getters answer the caller's default for absent or empty
// values and for numbers that cannot be read or do not fit the type.
class Properties : private Noncopyable {
public:
    class Property {
    public:
        Property(const std::string& name, const std::string& value, const std::string& comment, uint32_t index)
            : name(name), value(value), comment(comment), index(index)
        {
        }
        std::string name;
        std::string value;
        std::string comment;  // text after the first "#", "##" read as "#", not trimmed
        uint32_t index;       // line number, or entry count + 1 for an entry made by Put
    };
    using PropertyPtr = std::shared_ptr<Property>;

    Properties() = default;
    virtual ~Properties() = default;

    // Replaces the content with the entries of the text; throws vdk::Exception naming the
    // first bad line (the entries of the lines before it are kept).
    void Parse(const std::string& text);

    // The entry itself (comment and index included), or null.
    PropertyPtr GetProperty(const std::string& name) const;
    std::string Get(const std::string& name) const;
    std::string Get(const std::string& name, const std::string& defaultValue) const;
    // "TRUE" "true" "1" "yes" / "FALSE" "false" "0" "no"; anything else throws vdk::Exception.
    bool GetAsBool(const std::string& name, bool defaultValue) const;
    // Decimal with an optional size suffix (k, kb, m, mb, g, gb in any case).
    int GetAsInt(const std::string& name, int defaultValue) const;
    unsigned int GetAsUInt(const std::string& name, unsigned int defaultValue) const;
    uint32_t GetAsULong(const std::string& name, uint32_t defaultValue) const;

    void Put(const std::string& name, const std::string& value);
    // The comment is used only for a new entry.
    void Put(const std::string& name, const std::string& value, const std::string& comment);
    // Stores the pointer itself (entries may be shared between sets); does not mark modified.
    void PutProperty(const PropertyPtr& property);
    void Delete(const std::string& name);
    void Clear();
    // Takes the other's entries (by pointer) where overwrite is set or this set has no value.
    void Merge(const Properties& other, bool overwrite);

    // Appends the names beginning with prefix, in name order; returns the vector's size.
    int GetKeys(std::string prefix, std::vector<std::string>& keys) const;
    // "name=value\n" for every entry in name order.
    std::string GetAsDataFile() const;

    bool IsModified() const { return modified_; }

    static void Mask(std::string& text);       // "#" -> "##"
    static void Preunmask(std::string& text);  // "##" -> carriage return
    static void Unmask(std::string& text);     // carriage return -> "#"

    // A blank or comment-only line is kept as an entry under this name so that a rewrite
    // keeps it in place; the line feed sorts it before every real name.
    static std::string CommentLineName(uint32_t lineNumber);
    static bool IsCommentLineName(const std::string& name) { return !name.empty() && name[0] == '\n'; }

protected:
    using Entries = std::map<std::string, PropertyPtr>;

    // Stores the entry of one line; false for a bad line (no "=", or an empty name).
    // lineAsRead is the value of a comment-line entry.
    bool ParseLine(const std::string& line, const std::string& lineAsRead, uint32_t lineNumber);

    const Entries& GetEntries() const { return entries_; }
    void SetModified(bool modified) { modified_ = modified; }

private:
    // Reads the number and applies the size suffix; false when it cannot be read or does
    // not lie within [minimum, maximum].
    bool GetAsNumber(const std::string& name, long long minimum, long long maximum, long long& result) const;

    Entries entries_;
    bool modified_ = false;
};

}  // namespace vdk
