#pragma once

#include <semaphore.h>

#include <cstdint>
#include <string>

#include "tru2/result_codes.h"

namespace nix {

// A named POSIX semaphore shared between processes, used as a binary lock.
class Semaphore {
public:
    explicit Semaphore(const char* name);
    virtual ~Semaphore();  // closes; the name stays in the system (see Unlink)

    Semaphore(const Semaphore&) = delete;
    Semaphore& operator=(const Semaphore&) = delete;

    // Opens or creates the semaphore (mode 0600, initial value 1). 0x80090020 when already
    // open or when it cannot be opened.
    tru::TResult CreateShared(bool unused = false);
    // Waits without limit; the timeout is accepted for interface compatibility only.
    tru::TResult WaitAndOwn(unsigned long timeout) const;
    tru::TResult Release() const;

    bool IsOpen() const { return handle_ != SEM_FAILED && handle_ != nullptr; }
    const std::string& GetName() const { return name_; }

    // Removes the name from the system; true on success.
    static bool Unlink(const char* name);

    // Holds the semaphore for a scope; throws tru::Exception with WaitAndOwn's code.
    class Guard {
    public:
        Guard(const Semaphore& semaphore, unsigned long timeout);
        virtual ~Guard();
        Guard(const Guard&) = delete;
        Guard& operator=(const Guard&) = delete;

    private:
        const Semaphore& semaphore_;
    };

private:
    std::string name_;
    sem_t* handle_;
};

}  // namespace nix
