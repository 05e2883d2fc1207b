#pragma once

#include <map>
#include <memory>
#include <string>

#include "ckbase/zr_pkcs11.h"
#include "tru2/buffer.h"

namespace qel {

// A token's named parameter values: a GOST 28147-89 domain-parameters object publishes its
// S-box under (key type, identifier); a key naming that identifier finds it here.
class ParamsStorage {
public:
    struct ParamItem {
        std::shared_ptr<tru::BufferDynamic> value;
        int useCount = 0;
    };
    using ParamItemPtr = std::shared_ptr<ParamItem>;

    // Answered by FindParam when nothing is stored.
    static const tru::Buffer emptyParamset;

    ParamsStorage() = default;
    ParamsStorage(const ParamsStorage&) = delete;
    ParamsStorage& operator=(const ParamsStorage&) = delete;

    // "<type in decimal>:<identifier in upper-case hex>", e.g. "2151809297:2A03".
    static std::string GenerateID(const tru::Buffer& id, CK_ULONG type);
    ParamItemPtr FindParamIfExists(const std::string& key) const;
    // A second addition of the same key keeps the first value and counts one more user.
    void AddParam(const tru::Buffer& id, CK_ULONG type, const tru::Buffer& value);
    const tru::Buffer& FindParam(const tru::Buffer& id, CK_ULONG type) const;
    // Releases one addition; the value goes with the last.
    void DeleteParam(const tru::Buffer& id, CK_ULONG type);

private:
    std::map<std::string, ParamItemPtr> params_;
};

}  // namespace qel
