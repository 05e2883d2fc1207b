#pragma once

#include <semaphore.h>

#include <cstdint>
#include <string>

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
    uint32_t CreateShared(bool unused = false);
    // Waits without limit; the timeout is accepted for interface compatibility only.
    uint32_t WaitAndOwn(unsigned long timeout) const;
    uint32_t Release() const;

    bool IsOpen() const { return handle_ != SEM_FAILED && handle_ != nullptr; }
    const std::string& GetName() const { return name_; }

    // Removes the name from the system; true on success.
    static bool Unlink(const char* name);

private:
    std::string name_;
    sem_t* handle_;
};

}  // namespace nix
