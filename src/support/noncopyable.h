#ifndef SUPPORT_NONCOPYABLE_H
#define SUPPORT_NONCOPYABLE_H

namespace vdk {

// Base that forbids copying and assignment of the derived class.
class Noncopyable {
protected:
    Noncopyable() = default;
    ~Noncopyable() = default;

public:
    Noncopyable(const Noncopyable&) = delete;
    Noncopyable& operator=(const Noncopyable&) = delete;
};

}  // namespace vdk

#endif
