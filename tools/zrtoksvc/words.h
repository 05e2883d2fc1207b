// Parameter values and word tables: named parameters, "file:"/"hex:" values, truth values,
// kind words and the -attr template syntax.
#pragma once

#include <string>

#include "svc_types.h"

namespace zrsvc {

// Wipes a text that may hold a secret (a PIN, a key value) when the scope ends.
class WipeOnExit {
public:
    explicit WipeOnExit(std::string& text) : text_(text) {}
    ~WipeOnExit();
    WipeOnExit(const WipeOnExit&) = delete;
    WipeOnExit& operator=(const WipeOnExit&) = delete;

private:
    std::string& text_;
};

// True when argv[index] is -name=value or -name followed by the value (index then advances).
// The name must match whole: -identity is not -id.
bool testForParam(const char* arg, const char* name, std::string& out, int argc, char** argv, int& index);
bool testForParam(const char* arg, const char* name, tru::BufferDynamic& out, int argc, char** argv, int& index);

// "file:NAME" gives the file's bytes, "hex:DIGITS" the decoded bytes; other text stays.
// Failures print their message and throw ExitStatus{1}.
void LoadFileIfNeeded(const char* name, std::string& value);
void LoadFileIfNeeded(const char* name, SecretText& value);
// As above, and any other text must be hexadecimal.
void LoadFileIfNeeded(const char* name, tru::BufferDynamic& value);

bool convertBooleanArg(const std::string& text, bool defaultValue);

// 0 when the word is not in the table; the throwing form throws std::runtime_error
// "Unknown ..." for a non-empty unknown word.
EObjectType ConvertObjectTypeFromStr(const std::string& text, bool throwing);
EKeyType ConvertKeyTypeFromStr(const std::string& text, bool throwing);
EHashType ConvertHashTypeFromStr(const std::string& text, bool throwing);
EEncryptionMode ConvertEncrModeFromStr(const std::string& text, bool throwing);
CK_KEY_TYPE ConvertKeyTypeForToken(EKeyType kind);

// Fills template entries from "-attr" text (attribute[:value], comma separated) and returns
// how many. A name matches the first table name it begins; a value other than TRUE or FALSE is
// bytes (file:, hex: or hexadecimal), for a Boolean attribute too. An unknown name, a bad value
// or more items than room print their message and throw ExitStatus{1}, before anything reaches
// the token. Values stay valid until the process ends.
CK_ULONG AddAttr(const std::string& text, CK_ATTRIBUTE* entries, CK_ULONG room);
// One item; false (with the message printed) when it is not understood.
bool AddOneAtrr(CK_ATTRIBUTE& attribute, const std::string& item);

}  // namespace zrsvc
