#include "tru2/nix/semaphore.h"

#include <cerrno>
#include <fcntl.h>

#include "tru2/exception.h"

namespace nix {

Semaphore::Semaphore(const char* name) : name_(name ? name : ""), handle_(nullptr) {}

Semaphore::~Semaphore()
{
    if (IsOpen())
        sem_close(handle_);
}

tru::TResult Semaphore::CreateShared(bool)
{
    if (IsOpen())
        return tru::ERROR_INTERNAL;
    // Owner only: another user must not be able to hold our lock.
    sem_t* sem = sem_open(name_.c_str(), O_CREAT, 0600, 1);
    if (sem == SEM_FAILED)
        return tru::ERROR_INTERNAL;
    handle_ = sem;
    return 0;
}

tru::TResult Semaphore::WaitAndOwn(unsigned long) const
{
    if (!IsOpen())
        return tru::ERROR_INTERNAL;
    int rc;
    do {
        rc = sem_wait(handle_);
    } while (rc != 0 && errno == EINTR);
    return rc == 0 ? 0 : tru::ERROR_INTERNAL;
}

tru::TResult Semaphore::Release() const
{
    if (!IsOpen())
        return tru::ERROR_INTERNAL;
    return sem_post(handle_) == 0 ? 0 : tru::ERROR_INTERNAL;
}

Semaphore::Guard::Guard(const Semaphore& semaphore, unsigned long timeout) : semaphore_(semaphore)
{
    const tru::TResult rv = semaphore_.WaitAndOwn(timeout);
    if (rv != 0)
        throw tru::Exception(rv);
}

Semaphore::Guard::~Guard() { semaphore_.Release(); }

bool Semaphore::Unlink(const char* name) { return name && sem_unlink(name) == 0; }

}  // namespace nix
