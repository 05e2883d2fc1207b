// A creation template outlives the call that put a secret into it: when the scope ends, an
// entry the call supplied stops pointing at the (by then wiped) value.
#pragma once

#include "ckbase/attribute.h"

namespace zrck {

class TemplateValueDetach {
public:
    // value: the bytes the entry was given; an entry that holds anything else is left alone.
    TemplateValueDetach(AttributeTemplate& attributes, CK_ATTRIBUTE_TYPE type, const void* value)
        : attributes_(attributes), type_(type), value_(value)
    {
    }
    ~TemplateValueDetach()
    {
        Attribute* entry = attributes_.GetAttributeIfExists(type_);
        if (entry != nullptr && entry->GetRecord()->pValue == value_) {
            entry->GetRecord()->pValue = nullptr;
            entry->GetRecord()->ulValueLen = 0;
        }
    }
    TemplateValueDetach(const TemplateValueDetach&) = delete;
    TemplateValueDetach& operator=(const TemplateValueDetach&) = delete;

private:
    AttributeTemplate& attributes_;
    CK_ATTRIBUTE_TYPE type_;
    const void* value_;
};

}  // namespace zrck
