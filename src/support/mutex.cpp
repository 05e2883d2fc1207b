#include "support/mutex.h"

#include "support/vdk_exception.h"

namespace vdk {

MutexFactory* MutexFactory::mInstance = nullptr;
pthread_mutexattr_t MutexLinuxFactory::mAttr;

namespace {

void UnlockQuietly(MutexIntf* mutex)
{
    try {
        mutex->Unlock();
    } catch (...) {
    }
}

}  // namespace

MutexIntf::Guard::Guard(MutexIntf& mutex, const char* label) : mutex_(&mutex), label_(label)
{
    mutex_->Lock();
}

MutexIntf::Guard::~Guard()
{
    UnlockQuietly(mutex_);
}

MutexIntf::GuardIfAvailable::GuardIfAvailable(MutexIntf* mutex, const char* label)
    : mutex_(mutex), label_(label)
{
    if (mutex_)
        mutex_->Lock();
}

MutexIntf::GuardIfAvailable::~GuardIfAvailable()
{
    if (mutex_)
        UnlockQuietly(mutex_);
}

MutexIntf::GuardNL::GuardNL(MutexIntf& mutex) : mutex_(&mutex)
{
    mutex_->Lock();
}

MutexIntf::GuardNL::~GuardNL()
{
    UnlockQuietly(mutex_);
}

MutexIntf::GuardNLIfAvailable::GuardNLIfAvailable(MutexIntf* mutex) : mutex_(mutex)
{
    if (mutex_)
        mutex_->Lock();
}

MutexIntf::GuardNLIfAvailable::~GuardNLIfAvailable()
{
    if (mutex_)
        UnlockQuietly(mutex_);
}

MutexFactory& MutexFactory::Instance()
{
    if (!mInstance)
        mInstance = new MutexFactory();
    return *mInstance;
}

void MutexFactory::DestroyInstance()
{
    delete mInstance;
    mInstance = nullptr;
}

std::unique_ptr<MutexIntf> MutexFactory::NewMutex(const std::string& name)
{
    MutexFactory& factory = Instance();
    if (!factory.generator_)
        throw Exception("MutexFactory: no mutex generator registered");
    std::unique_ptr<MutexIntf> mutex(factory.generator_(name, factory.flags_));
    mutex->SetRank(LockRankOf(name), name);
    return mutex;
}

MutexLinuxFactory::LinuxMutex::LinuxMutex(const std::string&, const pthread_mutexattr_t* attributes)
{
    const int rc = pthread_mutex_init(&mutex_, attributes);
    if (rc != 0)
        throw Exception("LinuxMutex::LinuxMutex error " + std::to_string(rc));
}

MutexLinuxFactory::LinuxMutex::~LinuxMutex()
{
    pthread_mutex_destroy(&mutex_);
}

void MutexLinuxFactory::LinuxMutex::DoLock()
{
    if (pthread_mutex_lock(&mutex_) != 0)
        throw Exception("LinuxMutex::Lock error");
}

void MutexLinuxFactory::LinuxMutex::DoUnlock()
{
    if (pthread_mutex_unlock(&mutex_) != 0)
        throw Exception("LinuxMutex::Unlock error");
}

void MutexLinuxFactory::RegisterFactory()
{
    pthread_mutexattr_init(&mAttr);
    pthread_mutexattr_settype(&mAttr, PTHREAD_MUTEX_RECURSIVE);
    MutexFactory::Instance().SetGenerator(&MutexLinuxFactory::GenerateLocalMutex);
}

MutexIntf* MutexLinuxFactory::GenerateLocalMutex(const std::string& name, uint32_t flags)
{
    return new LinuxMutex(name, (flags & MutexFactory::FLAG_RECURSIVE) ? &mAttr : nullptr);
}

void MutexNullFactory::RegisterFactory()
{
    MutexFactory::Instance().SetGenerator(&MutexNullFactory::GenerateLocalMutex);
}

MutexIntf* MutexNullFactory::GenerateLocalMutex(const std::string&, uint32_t)
{
    return new NullMutex();
}

}  // namespace vdk
