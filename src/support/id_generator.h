#ifndef SUPPORT_ID_GENERATOR_H
#define SUPPORT_ID_GENERATOR_H

#include <cstdint>
#include <exception>
#include <memory>
#include <string>

#include "support/mutex.h"
#include "support/noncopyable.h"
#include "tru2/buffer.h"

namespace vdk {

class IDGeneratorException : public std::exception {
public:
    // Message "IDGenerator: Error " + detail.
    explicit IDGeneratorException(const std::string& detail)
        : message_("IDGenerator: Error " + detail)
    {
    }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

// Hands out increasing 64-bit identifiers (1, 2, 3, ...) as 8 big-endian bytes,
// under its own mutex from the process-wide MutexFactory (a generator must be
// registered). A derived class may persist the value through SaveValue.
class IDGenerator : private Noncopyable {
public:
    explicit IDGenerator(const std::string& name);
    virtual ~IDGenerator();

    void GetNextValue(tru::BufferDynamic& out);
    // out keeps its size (at least 8) and gets the value right-aligned after zeros;
    // a shorter out is refused before a value is consumed.
    void GetNextValueAligned(tru::BufferDynamic& out);
    // value must be 8 bytes; a greater value becomes the current one and is saved.
    void MergeValue(const tru::Buffer& value);

    const std::string& GetName() const { return name_; }

protected:
    // Caller holds the mutex. count is unused. Refuses to wrap past 2^64 - 1.
    virtual void GetNextValueNoSynchro(tru::BufferDynamic& out, unsigned count);
    virtual void Initialize();
    // Called after each merge that raised the value.
    virtual void SaveValue() {}

private:
    std::unique_ptr<MutexIntf> mutex_;
    uint64_t value_ = 0;
    std::string name_;
};

}  // namespace vdk

#endif
