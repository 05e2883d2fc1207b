// The token road: the token commands each Cryptoki call of an application's usual path sends,
// counted by the simulator. Shared by the command-count test and bench/token_road.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "control_client.h"
#include "ckbase/zr_pkcs11.h"

namespace road {

// Commands of one step: the total and the count per command name.
struct Commands {
    uint64_t total = 0;
    std::map<std::string, uint64_t> byName;
    uint64_t Of(const std::string& name) const;
    std::string Detail() const;
};

struct Figures {
    Commands initAndSlotList;      // C_Initialize + C_GetSlotList
    Commands loginAndFirstSearch;  // C_Login then the first search (fresh token, no revision file)
    Commands searchNoRevision;     // a search on a token with no revision file
    Commands create;               // C_CreateObject of the Nth data object
    Commands searchUnchanged;      // C_FindObjects* with nothing changed
    Commands firstSearch;          // the first search in a new process (N objects)
    Commands fileRead;             // C_GetAttributeValue of a value not read yet: one data file
    Commands searchAfterOther;     // the search after another process created one object
    size_t found = 0;              // data objects the last search found (N + 1)
};

// Runs the road on a fresh initialised token with the user PIN `userPin`: N data objects are
// created on the way. `writer` is a command line that creates one data object from another
// process. Throws std::runtime_error when a call fails.
Figures Measure(CK_FUNCTION_LIST_PTR p11, const tokensim::rig::ControlClient& control, unsigned n,
                const std::string& userPin, const std::string& writer);

// One data object labelled `label` through an open, logged-in read-write session.
CK_OBJECT_HANDLE CreateDataObject(CK_FUNCTION_LIST_PTR p11, CK_SESSION_HANDLE session, const std::string& label,
                                  const std::string& value);
// Handles of the token data objects a search finds.
std::vector<CK_OBJECT_HANDLE> FindDataObjects(CK_FUNCTION_LIST_PTR p11, CK_SESSION_HANDLE session);

}  // namespace road
