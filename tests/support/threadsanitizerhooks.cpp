// Linked into every test program of a ThreadSanitizer build. The system's Qt
// is not instrumented, and it hands data from thread to thread behind its own
// futex-based mutexes, which ThreadSanitizer cannot see: every queued signal
// and every QThread::wait() would look like a race. These hooks tell it about
// the two hand-overs the engine relies on:
// - an emission happens before the delivery of any event that follows it
//   (a queued signal is an event posted during the emission);
// - the end of a thread happens before QThread::wait() returns true.
// Only the worker-to-receiver direction is added: a thread that runs no
// event loop acquires nothing, so an unsynchronised write by the
// user-interface thread that the worker reads is still reported.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

#include <sanitizer/tsan_interface.h>

#include <dlfcn.h>

// Declared by Qt's private headers, exported by QtCore.
struct QSignalSpyCallbackSet
{
    typedef void (*BeginCallback)(QObject *caller, int signal_or_method_index, void **argv);
    typedef void (*EndCallback)(QObject *caller, int signal_or_method_index);
    BeginCallback signal_begin_callback, slot_begin_callback;
    EndCallback signal_end_callback, slot_end_callback;
};
void Q_CORE_EXPORT qt_register_signal_spy_callbacks(QSignalSpyCallbackSet *callback_set);

namespace {

char handOver;

void emitting(QObject *, int, void **)
{
    __tsan_release(&handOver);
}

// Again once the emission has posted its queued calls: their arguments are
// written after the emission began.
void emitted(QObject *, int)
{
    __tsan_release(&handOver);
}

bool delivering(void **)
{
    __tsan_acquire(&handOver);
    return false; // let the event through
}

QSignalSpyCallbackSet hooks = {emitting, nullptr, emitted, nullptr};

const bool registered = [] {
    qt_register_signal_spy_callbacks(&hooks);
    return QInternal::registerCallback(QInternal::EventNotifyCallback, delivering);
}();

template<typename Function>
Function real(const char *name)
{
    return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

} // namespace

// The thread emits finished() as its last act, which releases.
bool QThread::wait(QDeadlineTimer deadline)
{
    static const auto qtWait = real<bool (*)(QThread *, QDeadlineTimer)>(
            "_ZN7QThread4waitE14QDeadlineTimer");
    const bool stopped = qtWait(this, deadline);
    if (stopped)
        __tsan_acquire(&handOver);
    return stopped;
}

bool QThread::wait(unsigned long time)
{
    return wait(time == ULONG_MAX ? QDeadlineTimer(QDeadlineTimer::Forever)
                                  : QDeadlineTimer(qint64(time)));
}
