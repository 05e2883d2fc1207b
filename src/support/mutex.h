#ifndef SUPPORT_MUTEX_H
#define SUPPORT_MUTEX_H

#include <pthread.h>

#include <cstdint>
#include <memory>
#include <string>

#include "support/lock_order.h"
#include "support/noncopyable.h"

namespace vdk {

// Abstract mutex. Instances come from the generator installed in MutexFactory;
// the requester owns them.
class MutexIntf {
public:
    virtual ~MutexIntf() = default;
    // Every take is checked against the library's lock order (support/lock_order.h).
    void Lock()
    {
        LockOrder::BeforeLock(this, rank_, name_.c_str());
        DoLock();
        LockOrder::Locked(this, rank_, name_.c_str());
    }
    void Unlock()
    {
        DoUnlock();
        LockOrder::Unlocked(this);
    }
    virtual std::string ToString() const = 0;

    // Given by MutexFactory::NewMutex from the mutex's name.
    void SetRank(LockRank rank, const std::string& name)
    {
        rank_ = rank;
        name_ = name;
    }
    LockRank Rank() const { return rank_; }
    const char* Name() const { return name_.c_str(); }

    // Scoped locks. The label names the guarded operation for a reader of the
    // code (and a debugger). The IfAvailable forms do nothing for a
    // null mutex. An Unlock failure in a destructor is swallowed: it cannot be
    // thrown out of a destructor safely.
    class Guard : private Noncopyable {
    public:
        Guard(MutexIntf& mutex, const char* label);
        virtual ~Guard();
        const char* Label() const { return label_; }

    private:
        MutexIntf* mutex_;
        const char* label_;
    };

    class GuardIfAvailable : private Noncopyable {
    public:
        GuardIfAvailable(MutexIntf* mutex, const char* label);
        virtual ~GuardIfAvailable();
        const char* Label() const { return label_; }

    private:
        MutexIntf* mutex_;
        const char* label_;
    };

    class GuardNL : private Noncopyable {
    public:
        explicit GuardNL(MutexIntf& mutex);
        virtual ~GuardNL();

    private:
        MutexIntf* mutex_;
    };

    class GuardNLIfAvailable : private Noncopyable {
    public:
        explicit GuardNLIfAvailable(MutexIntf* mutex);
        virtual ~GuardNLIfAvailable();

    private:
        MutexIntf* mutex_;
    };

protected:
    virtual void DoLock() = 0;
    virtual void DoUnlock() = 0;

private:
    LockRank rank_ = LockRank::kUnranked;
    std::string name_;
};

// Process-wide record of the creation flags and the generator that makes every
// named mutex. Created, configured and destroyed without a lock: only inside
// library initialisation and finalisation (and between tests).
class MutexFactory {
public:
    // Flag bit 0: make recursive mutexes.
    static constexpr uint32_t FLAG_RECURSIVE = 1;
    using Generator = MutexIntf* (*)(const std::string& name, uint32_t flags);

    MutexFactory() = default;

    // The record, or null when none exists.
    static MutexFactory* GetInstance() { return mInstance; }
    // The record, created (flags 0, no generator) when missing.
    static MutexFactory& Instance();
    // Deletes the record; mutexes already made are not touched. Also the reset
    // between tests.
    static void DestroyInstance();

    // A new mutex from the installed generator; vdk::Exception when none is installed.
    static std::unique_ptr<MutexIntf> NewMutex(const std::string& name);

    uint32_t GetFlags() const { return flags_; }
    void SetFlags(uint32_t flags) { flags_ = flags; }
    Generator GetGenerator() const { return generator_; }
    void SetGenerator(Generator generator) { generator_ = generator; }

private:
    static MutexFactory* mInstance;
    uint32_t flags_ = 0;
    Generator generator_ = nullptr;
};

// Generator of POSIX mutexes, recursive while flag bit 0 is set.
class MutexLinuxFactory {
public:
    class LinuxMutex : public MutexIntf {
    public:
        // attributes may be null (system default, non-recursive).
        LinuxMutex(const std::string& name, const pthread_mutexattr_t* attributes);
        ~LinuxMutex() override;
        std::string ToString() const override { return std::string(); }

    protected:
        void DoLock() override;
        void DoUnlock() override;

    private:
        pthread_mutex_t mutex_;
    };

    // Installs GenerateLocalMutex; the flags are kept.
    static void RegisterFactory();
    static MutexIntf* GenerateLocalMutex(const std::string& name, uint32_t flags);

private:
    static pthread_mutexattr_t mAttr;
};

// Generator of mutexes that do nothing (no-locking model).
class MutexNullFactory {
public:
    class NullMutex : public MutexIntf {
    public:
        std::string ToString() const override { return std::string(); }

    protected:
        void DoLock() override {}
        void DoUnlock() override {}
    };

    static void RegisterFactory();
    static MutexIntf* GenerateLocalMutex(const std::string& name, uint32_t flags);
};

}  // namespace vdk

#endif
