#ifndef SUPPORT_THREAD_H
#define SUPPORT_THREAD_H

#include <pthread.h>

#include "support/noncopyable.h"

namespace vdk {

// Owner of one POSIX thread running start(argument). The owner asks the thread
// to stop by its own means and calls Join; a thread never joined is detached
// when this object is destroyed, so its resources are not leaked.
class Thread : private Noncopyable {
public:
    using StartFunction = void* (*)(void*);
    // Value a start function returns when it ends normally.
    static void* const THREAD_OK;

    // Throws vdk::Exception "Thread::Thread error <rc>".
    Thread(StartFunction start, void* argument);
    ~Thread();

    // Throws vdk::Exception "Thread::Join error <rc>".
    void Join();
    // Sleeps the calling thread; always true.
    static bool Sleep(unsigned long microseconds);

private:
    struct StartPair {
        StartFunction start;
        void* argument;
    };
    static void* ThreadFuncWrap(void* pair);

    pthread_t id_;
    bool joined_ = false;
};

}  // namespace vdk

#endif
