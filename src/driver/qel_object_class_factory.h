#pragma once

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

    // Called at every storage set-up; a second registration of a (class, subtype) pair leaves
    // the first in force.
    void Create();

private:
    Token* token_;
};

}  // namespace qel
