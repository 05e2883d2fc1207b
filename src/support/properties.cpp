#include "support/properties.h"

#include <climits>
#include <locale>
#include <sstream>

#include "support/string_utils.h"
#include "support/vdk_exception.h"

namespace vdk {

namespace {

std::string Trim(const std::string& text)
{
    const std::locale loc;
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && std::isspace(text[begin], loc))
        ++begin;
    while (end > begin && std::isspace(text[end - 1], loc))
        --end;
    return text.substr(begin, end - begin);
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to)
{
    std::string out;
    out.reserve(text.size());
    size_t pos = 0;
    for (size_t hit; (hit = text.find(from, pos)) != std::string::npos; pos = hit + from.size())
        out.append(text, pos, hit - pos).append(to);
    out.append(text, pos, std::string::npos);
    text.swap(out);
}

}  // namespace

std::string Properties::CommentLineName(uint32_t lineNumber) { return "\n" + std::to_string(lineNumber); }

void Properties::Mask(std::string& text) { ReplaceAll(text, "#", "##"); }

void Properties::Preunmask(std::string& text) { ReplaceAll(text, "##", "\r"); }

void Properties::Unmask(std::string& text) { ReplaceAll(text, "\r", "#"); }

bool Properties::ParseLine(const std::string& line, const std::string& lineAsRead, uint32_t lineNumber)
{
    std::string work = line;
    std::string comment;
    Preunmask(work);
    const size_t hash = work.find('#');
    if (hash != std::string::npos) {
        comment = work.substr(hash + 1);
        Unmask(comment);
        work.erase(hash);
    }
    Unmask(work);
    work = Trim(work);
    if (work.empty()) {
        PutProperty(std::make_shared<Property>(CommentLineName(lineNumber), lineAsRead, comment, lineNumber));
        return true;
    }
    const size_t equals = work.find('=');
    if (equals == std::string::npos)
        return false;
    const std::string name = Trim(work.substr(0, equals));
    if (name.empty())
        return false;
    PutProperty(std::make_shared<Property>(name, Trim(work.substr(equals + 1)), comment, lineNumber));
    return true;
}

void Properties::Parse(const std::string& text)
{
    Clear();
    std::string copy;
    copy.reserve(text.size());
    for (char c : text)
        if (c != '\r')
            copy.push_back(c);

    // Empty lines are neither processed nor counted.
    uint32_t lineNumber = 1;
    size_t pos = 0;
    while (pos < copy.size()) {
        size_t end = copy.find('\n', pos);
        if (end == std::string::npos)
            end = copy.size();
        if (end > pos) {
            const std::string line = copy.substr(pos, end - pos);
            if (!ParseLine(line, line, lineNumber))
                throw Exception("Properties: wrong data in config data  in line " + IntToString(static_cast<int>(lineNumber)));
            ++lineNumber;
        }
        pos = end + 1;
    }
}

Properties::PropertyPtr Properties::GetProperty(const std::string& name) const
{
    const auto it = entries_.find(name);
    return it == entries_.end() ? nullptr : it->second;
}

std::string Properties::Get(const std::string& name) const
{
    const auto it = entries_.find(name);
    return it == entries_.end() ? std::string() : it->second->value;
}

std::string Properties::Get(const std::string& name, const std::string& defaultValue) const
{
    const std::string value = Get(name);
    return value.empty() ? defaultValue : value;
}

bool Properties::GetAsBool(const std::string& name, bool defaultValue) const
{
    const std::string value = Get(name);
    if (value.empty())
        return defaultValue;
    if (value == "TRUE" || value == "true" || value == "1" || value == "yes")
        return true;
    if (value == "FALSE" || value == "false" || value == "0" || value == "no")
        return false;
    throw Exception("Bad value for boolean option \"" + value + "\"");
}

bool Properties::GetAsNumber(const std::string& name, long long minimum, long long maximum, long long& result) const
{
    std::string value = Get(name);
    if (value.empty())
        return false;
    const uint32_t factor = String::ExtractMultiplier(value);
    std::istringstream in(value);
    long long number = 0;
    if (!(in >> number))
        return false;
    // With the number inside a 32-bit range and a factor of at most 2^30 the product fits.
    if (number > maximum || number < minimum)
        return false;
    const long long scaled = number * static_cast<long long>(factor);
    if (scaled > maximum || scaled < minimum)
        return false;
    result = scaled;
    return true;
}

int Properties::GetAsInt(const std::string& name, int defaultValue) const
{
    long long result = 0;
    return GetAsNumber(name, INT_MIN, INT_MAX, result) ? static_cast<int>(result) : defaultValue;
}

unsigned int Properties::GetAsUInt(const std::string& name, unsigned int defaultValue) const
{
    long long result = 0;
    return GetAsNumber(name, 0, UINT_MAX, result) ? static_cast<unsigned int>(result) : defaultValue;
}

uint32_t Properties::GetAsULong(const std::string& name, uint32_t defaultValue) const
{
    long long result = 0;
    return GetAsNumber(name, 0, UINT32_MAX, result) ? static_cast<uint32_t>(result) : defaultValue;
}

void Properties::Put(const std::string& name, const std::string& value) { Put(name, value, std::string()); }

void Properties::Put(const std::string& name, const std::string& value, const std::string& comment)
{
    const auto it = entries_.find(name);
    if (it != entries_.end())
        it->second->value = value;
    else
        entries_[name] = std::make_shared<Property>(name, value, comment, static_cast<uint32_t>(entries_.size() + 1));
    modified_ = true;
}

void Properties::PutProperty(const PropertyPtr& property)
{
    if (property)
        entries_[property->name] = property;
}

void Properties::Delete(const std::string& name)
{
    entries_.erase(name);
    modified_ = true;
}

void Properties::Clear()
{
    entries_.clear();
    modified_ = true;
}

void Properties::Merge(const Properties& other, bool overwrite)
{
    for (const auto& entry : other.entries_)
        if (overwrite || Get(entry.first).empty())
            PutProperty(entry.second);
}

int Properties::GetKeys(std::string prefix, std::vector<std::string>& keys) const
{
    for (const auto& entry : entries_)
        if (entry.first.compare(0, prefix.size(), prefix) == 0)
            keys.push_back(entry.first);
    return static_cast<int>(keys.size());
}

std::string Properties::GetAsDataFile() const
{
    std::string out;
    for (const auto& entry : entries_)
        out += entry.first + "=" + entry.second->value + "\n";
    return out;
}

}  // namespace vdk
