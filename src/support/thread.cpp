#include "support/thread.h"

#include <cerrno>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "support/vdk_exception.h"

namespace vdk {

void* const Thread::THREAD_OK = nullptr;

Thread::Thread(StartFunction start, void* argument)
{
    // The new thread gets its own copy of the pair, so it never reads this
    // object, which may be gone before the thread starts.
    std::unique_ptr<StartPair> pair(new StartPair{start, argument});
    const int rc = pthread_create(&id_, nullptr, &Thread::ThreadFuncWrap, pair.get());
    if (rc != 0)
        throw Exception("Thread::Thread error " + std::to_string(rc));
    pair.release();
}

Thread::~Thread()
{
    if (!joined_)
        pthread_detach(id_);
}

void* Thread::ThreadFuncWrap(void* pair)
{
    std::unique_ptr<StartPair> own(static_cast<StartPair*>(pair));
    return own->start(own->argument);
}

void Thread::Join()
{
    if (joined_)
        throw Exception("Thread::Join error " + std::to_string(EINVAL));
    const int rc = pthread_join(id_, nullptr);
    if (rc != 0)
        throw Exception("Thread::Join error " + std::to_string(rc));
    joined_ = true;
}

bool Thread::Sleep(unsigned long microseconds)
{
    std::this_thread::sleep_for(std::chrono::microseconds(microseconds));
    return true;
}

}  // namespace vdk
