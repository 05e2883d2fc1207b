#include "tru2/nix/semaphore.h"

#include <cerrno>
#include <fcntl.h>

namespace nix {

namespace {
constexpr uint32_t kErrorInternal = 0x80090020;
}

Semaphore::Semaphore(const char* name) : name_(name ? name : ""), handle_(nullptr) {}

Semaphore::~Semaphore()
{
    if (IsOpen())
        sem_close(handle_);
}

uint32_t Semaphore::CreateShared(bool)
{
    if (IsOpen())
        return kErrorInternal;
    // Owner only: another user must not be able to hold our lock.
    sem_t* sem = sem_open(name_.c_str(), O_CREAT, 0600, 1);
    if (sem == SEM_FAILED)
        return kErrorInternal;
    handle_ = sem;
    return 0;
}

uint32_t Semaphore::WaitAndOwn(unsigned long) const
{
    if (!IsOpen())
        return kErrorInternal;
    int rc;
    do {
        rc = sem_wait(handle_);
    } while (rc != 0 && errno == EINTR);
    return rc == 0 ? 0 : kErrorInternal;
}

uint32_t Semaphore::Release() const
{
    if (!IsOpen())
        return kErrorInternal;
    return sem_post(handle_) == 0 ? 0 : kErrorInternal;
}

bool Semaphore::Unlink(const char* name) { return name && sem_unlink(name) == 0; }

}  // namespace nix
