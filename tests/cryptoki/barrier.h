// A reusable barrier for tests that must prove an interleaving of threads rather than hope
// for it: every party waits until all have arrived, then all go on.
#ifndef ZR_TESTS_BARRIER_H
#define ZR_TESTS_BARRIER_H

#include <condition_variable>
#include <cstddef>
#include <mutex>

class Barrier {
public:
    explicit Barrier(size_t parties) : mParties(parties) {}

    void ArriveAndWait() {
        std::unique_lock<std::mutex> lock(mMutex);
        const size_t generation = mGeneration;
        if (++mArrived == mParties) {
            mArrived = 0;
            ++mGeneration;
            mAllArrived.notify_all();
            return;
        }
        mAllArrived.wait(lock, [&] { return generation != mGeneration; });
    }

private:
    std::mutex mMutex;
    std::condition_variable mAllArrived;
    const size_t mParties;
    size_t mArrived = 0;
    size_t mGeneration = 0;
};

#endif  // ZR_TESTS_BARRIER_H
