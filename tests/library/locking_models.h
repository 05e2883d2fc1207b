// The four ways an application may ask the library to lock (C_Initialize's arguments), a
// fixture that loads the real module under one of them, and a watchdog that fails a test
// whose threads stop getting answers instead of leaving ctest hanging.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "module_rig_fixture.h"

namespace librarytest {

enum class LockingModel { kNone, kOs, kOsWithCallbacks, kCallbacks };

inline const char* LockingModelName(LockingModel model) {
    switch (model) {
        case LockingModel::kNone:
            return "InitializeNull";
        case LockingModel::kOs:
            return "OsLocking";
        case LockingModel::kOsWithCallbacks:
            return "OsLockingWithCallbacks";
        case LockingModel::kCallbacks:
            return "ApplicationCallbacks";
    }
    return "?";
}

// The application's mutexes: plain, non-recursive ones.
namespace appmutex {
inline CK_RV Create(CK_VOID_PTR_PTR mutex) {
    *mutex = new std::mutex;
    return CKR_OK;
}
inline CK_RV Destroy(CK_VOID_PTR mutex) {
    delete static_cast<std::mutex*>(mutex);
    return CKR_OK;
}
inline CK_RV Lock(CK_VOID_PTR mutex) {
    static_cast<std::mutex*>(mutex)->lock();
    return CKR_OK;
}
inline CK_RV Unlock(CK_VOID_PTR mutex) {
    static_cast<std::mutex*>(mutex)->unlock();
    return CKR_OK;
}
}  // namespace appmutex

// Seconds a stress loop runs: ZR_STRESS_SECONDS, else the given default (kept short for CI).
inline double StressSeconds(double fallback) {
    const char* text = std::getenv("ZR_STRESS_SECONDS");
    if (text == nullptr || *text == '\0') return fallback;
    return std::atof(text);
}

// Ends the process with a message when not disarmed in time: deadlocked threads hold the
// library's locks, so neither they nor C_Finalize could ever return.
class Watchdog {
public:
    Watchdog(const std::string& what, std::chrono::seconds limit) : what_(what) {
        thread_ = std::thread([this, limit] {
            std::unique_lock<std::mutex> lock(mutex_);
            if (!done_.wait_for(lock, limit, [this] { return disarmed_; })) {
                std::fprintf(stderr, "HANG: %s got no answer for %lld s\n", what_.c_str(),
                             static_cast<long long>(limit.count()));
                std::fflush(stderr);
                std::_Exit(3);
            }
        });
    }
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            disarmed_ = true;
        }
        done_.notify_all();
        thread_.join();
    }

private:
    std::string what_;
    std::mutex mutex_;
    std::condition_variable done_;
    bool disarmed_ = false;
    std::thread thread_;
};

class LockingModelRigTest : public ModuleRigTest, public ::testing::WithParamInterface<LockingModel> {
protected:
    void StartUnder(LockingModel model) {
        StartRig();
        if (IsSkipped() || HasFatalFailure()) return;
        LoadModule();
        if (HasFatalFailure()) return;
        CK_C_INITIALIZE_ARGS args{};
        switch (model) {
            case LockingModel::kNone:
                break;
            case LockingModel::kOs:
                args.flags = CKF_OS_LOCKING_OK;
                break;
            case LockingModel::kOsWithCallbacks:
                args.flags = CKF_OS_LOCKING_OK;
                [[fallthrough]];
            case LockingModel::kCallbacks:
                args.CreateMutex = appmutex::Create;
                args.DestroyMutex = appmutex::Destroy;
                args.LockMutex = appmutex::Lock;
                args.UnlockMutex = appmutex::Unlock;
                break;
        }
        const CK_RV rv = p11->C_Initialize(model == LockingModel::kNone ? nullptr : &args);
        ASSERT_EQ(rv, CKR_OK) << LockingModelName(model);
        initialized = true;
    }

    bool SlotShowsToken() {
        CK_SLOT_INFO info{};
        return p11->C_GetSlotInfo(0, &info) == CKR_OK && (info.flags & CKF_TOKEN_PRESENT) != 0;
    }
};

inline std::string ModelTestName(const ::testing::TestParamInfo<LockingModel>& info) {
    return LockingModelName(info.param);
}

#define ZR_ALL_LOCKING_MODELS                                                                           \
    ::testing::Values(librarytest::LockingModel::kNone, librarytest::LockingModel::kOs,                 \
                      librarytest::LockingModel::kOsWithCallbacks, librarytest::LockingModel::kCallbacks), \
        librarytest::ModelTestName

}  // namespace librarytest
