// Linked into every program of the ThreadSanitizer build, and only there.
//
// QProcess starts a program with a clone that shares the parent's memory and thread state
// until the exec (CLONE_VM | CLONE_VFORK). ThreadSanitizer's clone takes every clone for a
// fork and, in the child, marks the thread as forked from a multi-threaded process: since
// the memory is shared, that is the parent's own thread, which from then on ignores its
// synchronisation and its reports, and dies at the next thread it starts. Such a child
// only execs, with the parent stopped until then: it goes past ThreadSanitizer.
#include <cstdarg>
#include <sched.h>
#include <sys/types.h>

extern "C" {
int __clone(int (*fn)(void *), void *stack, int flags, void *arg, ...);
int __interceptor_clone(int (*fn)(void *), void *stack, int flags, void *arg, ...);

int clone(int (*fn)(void *), void *stack, int flags, void *arg, ...) noexcept
{
    va_list more;
    va_start(more, arg);
    pid_t *parentTid = va_arg(more, pid_t *);
    void *tls = va_arg(more, void *);
    pid_t *childTid = va_arg(more, pid_t *);
    va_end(more);
    if (flags & CLONE_VM)
        return __clone(fn, stack, flags, arg, parentTid, tls, childTid);
    return __interceptor_clone(fn, stack, flags, arg, parentTid, tls, childTid);
}
}
