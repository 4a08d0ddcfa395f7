// Linked into every program of a ThreadSanitizer build (ZEL_SANITIZE=thread) only.
//
// Qt's QMutex locks through futexes inside libQt5Core, which the distribution does not build with
// ThreadSanitizer, so the sanitizer cannot see that two threads locked the same QMutex (the
// Utils locks, the command processor's lock) and would report every access they guard as a race.
// These definitions take the place of QMutex's out-of-line lock operations for the program's own
// calls: each runs Qt's own operation and tells the sanitizer about the hand-over (release before
// unlocking, acquire after locking), so only unguarded accesses are reported.
#include <QMutex>

#include <dlfcn.h>

#include <cstdlib>

extern "C" {
void __tsan_acquire(void* addr);
void __tsan_release(void* addr);
}

namespace {

template <class Fn>
Fn qtOwn(const char* symbol)
{
    void* f = dlvsym(RTLD_NEXT, symbol, "Qt_5");
    if (!f)
        f = dlsym(RTLD_NEXT, symbol);
    if (!f)
        std::abort();
    return reinterpret_cast<Fn>(f);
}

using LockFn = void (*)(QMutex*);
using TryLockFn = bool (*)(QMutex*, int);

}  // namespace

void QMutex::lock() QT_MUTEX_LOCK_NOEXCEPT
{
    static const LockFn own = qtOwn<LockFn>("_ZN6QMutex4lockEv");
    own(this);
    __tsan_acquire(this);
}

bool QMutex::tryLock(int timeout) QT_MUTEX_LOCK_NOEXCEPT
{
    static const TryLockFn own = qtOwn<TryLockFn>("_ZN6QMutex7tryLockEi");
    const bool locked = own(this, timeout);
    if (locked)
        __tsan_acquire(this);
    return locked;
}

void QMutex::unlock() noexcept
{
    static const LockFn own = qtOwn<LockFn>("_ZN6QMutex6unlockEv");
    __tsan_release(this);
    own(this);
}

// Memory calls made inside the uninstrumented Qt libraries (Qt's thread pool allocating a job on
// one thread and freeing it on another, under Qt's invisible locks) are not the program's own
// accesses: the sanitizer checks only calls from the program's code.
extern "C" const char* __tsan_default_options()
{
    return "ignore_noninstrumented_modules=1 second_deadlock_stack=1";
}
