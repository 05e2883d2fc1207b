#include "driver/qel_params_storage.h"

namespace qel {

const tru::Buffer ParamsStorage::emptyParamset;

std::string ParamsStorage::GenerateID(const tru::Buffer& id, CK_ULONG type) {
    return std::to_string(type) + ":" + id.ToHex();
}

ParamsStorage::ParamItemPtr ParamsStorage::FindParamIfExists(const std::string& key) const {
    auto found = params_.find(key);
    return found == params_.end() ? ParamItemPtr() : found->second;
}

void ParamsStorage::AddParam(const tru::Buffer& id, CK_ULONG type, const tru::Buffer& value) {
    const std::string key = GenerateID(id, type);
    if (ParamItemPtr existing = FindParamIfExists(key)) {
        ++existing->useCount;
        return;
    }
    auto item = std::make_shared<ParamItem>();
    item->value = std::make_shared<tru::BufferDynamic>(value);  // throws tru::Exception on memory
    item->useCount = 1;
    params_.emplace(key, item);
}

const tru::Buffer& ParamsStorage::FindParam(const tru::Buffer& id, CK_ULONG type) const {
    ParamItemPtr item = FindParamIfExists(GenerateID(id, type));
    return item ? *item->value : emptyParamset;
}

void ParamsStorage::DeleteParam(const tru::Buffer& id, CK_ULONG type) {
    auto found = params_.find(GenerateID(id, type));
    if (found == params_.end()) return;
    if (--found->second->useCount <= 0) params_.erase(found);
}

}  // namespace qel
