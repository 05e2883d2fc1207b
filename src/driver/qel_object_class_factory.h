#pragma once

#include <mutex>

namespace qel {

class Token;

// Registers, for one token, the concrete object class the framework creates for a creation
// template of each object class and key type.
class ObjectClassFactory {
public:
    explicit ObjectClassFactory(Token* token) : token_(token) {}
    virtual ~ObjectClassFactory() = default;
    ObjectClassFactory(const ObjectClassFactory&) = delete;
    ObjectClassFactory& operator=(const ObjectClassFactory&) = delete;

    // Called at every set-up of the token; registers the classes once.
    void Create();

private:
    void RegisterAll();

    Token* token_;
    std::once_flag created_;
};

}  // namespace qel
