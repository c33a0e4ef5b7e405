#include "tthread.h"

#include "services/messageboxes.h"

#include <QCoreApplication>
#include <QPointer>
#include <QSocketNotifier>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

#include <linux/futex.h>
#include <pthread.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace tagora {
namespace {

// A scan hands over one file after another, a few microseconds apart. Going back to the
// event loop between two of them costs more than the wait for the next one (and every return
// lets the file list lay out all its rows again), so the loop's call keeps serving for up
// to half a frame at 60 Hz. The event loop may run two such calls back to back before it
// gets to its timers, so the window still answers within a frame.
constexpr std::chrono::microseconds kEventLoopSlice(8000);
constexpr std::chrono::microseconds kNextHandOffWait(300);
// Both threads sleep while they wait for each other, and while a worker runs it and the GUI
// thread are held on one core. Spinning through the GUI thread's tag read doubled the
// listing's CPU time; sleeping across two cores made each hand-off wake an idle core (on a
// virtual machine a trip through the host: the idle listing took 3 times the bare loop's time
// and CPU). Pinning the worker alone to the GUI thread's last core was not enough: a woken
// GUI thread lands on whichever core is idle while the worker still runs, and a quarter of
// the hand-offs then crossed cores and moved the worker after it. On one core a wake-up is a
// switch between the two threads (1.6 us here, against 17 us across cores), which take
// turns there anyway: the worker's walk is a few microseconds per file against the tag
// read's tens.

// A hand-off's state word, which the worker sleeps on (a futex) until the GUI thread has run
// the method.
enum HandOffState : int
{
    kPending = 0,
    kPendingAsleep = 1, // the worker sleeps on the word and must be woken
    kDone = 2
};

struct HandOff
{
    const std::function<void()>* method;
    std::exception_ptr error;
    std::atomic<int> state{kPending};

    // Worker: returns once the GUI thread has run the method.
    void waitUntilDone()
    {
        int seen = kPending;
        if (state.compare_exchange_strong(seen, kPendingAsleep, std::memory_order_acquire)) {
            do {
                ::syscall(SYS_futex, &state, FUTEX_WAIT_PRIVATE, kPendingAsleep, nullptr, nullptr,
                          0);
            } while (state.load(std::memory_order_acquire) != kDone);
        }
    }

    // GUI thread: hands the hand-off back. The worker may end it as soon as the state is
    // stored, so the wake-up only passes the word's address to the kernel.
    void finish()
    {
        if (state.exchange(kDone, std::memory_order_acq_rel) == kPendingAsleep)
            ::syscall(SYS_futex, &state, FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
    }
};

// Keeps the GUI thread and the running workers on one core while any worker runs, and gives
// the GUI thread its own set of cores back after the last. GUI thread only.
class SharedCore
{
public:
    // The core the worker should run on.
    int join()
    {
        if (m_workers++ == 0) {
            m_core = ::sched_getcpu();
            m_restored =
                ::pthread_getaffinity_np(::pthread_self(), sizeof m_guiCores, &m_guiCores) == 0;
            pinCurrentThread(m_core);
        }
        return m_core;
    }

    void leave()
    {
        if (--m_workers == 0 && m_restored)
            ::pthread_setaffinity_np(::pthread_self(), sizeof m_guiCores, &m_guiCores);
    }

    static void pinCurrentThread(int core)
    {
        if (core < 0)
            return;
        cpu_set_t cores;
        CPU_ZERO(&cores);
        CPU_SET(core, &cores);
        ::pthread_setaffinity_np(::pthread_self(), sizeof cores, &cores);
    }

private:
    int m_workers = 0;
    int m_core = -1;
    bool m_restored = false;
    cpu_set_t m_guiCores;
};

SharedCore& sharedCore()
{
    static SharedCore core;
    return core;
}

// The process-wide hand-off queue, shared by every worker like the toolkit's own.
struct SyncQueue
{
    std::mutex mutex;
    std::condition_variable changed; // a hand-off was queued or a thread finished
    std::deque<HandOff*> pending;
    // The GUI thread is in CheckSynchronize and will look at the queue again, so a worker
    // need not ring the doorbell (a system call per file). Under the mutex.
    bool serving = false;
    std::atomic<std::thread::id> guiThread{};
    int wakeFd = -1;
    QPointer<QSocketNotifier> notifier; // GUI thread only

    SyncQueue() { wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC); }

    // Called by a worker: the notifier wakes the GUI thread's event loop. The counter is
    // only a doorbell; the queue itself is read under the mutex.
    void ringDoorbell()
    {
        if (wakeFd < 0)
            return;
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(wakeFd, &one, sizeof one);
    }

    void answerDoorbell()
    {
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t got = ::read(wakeFd, &count, sizeof count);
    }

    // GUI thread, when a thread object is created.
    void attachToEventLoop()
    {
        std::thread::id none;
        guiThread.compare_exchange_strong(none, std::this_thread::get_id());
        QCoreApplication* app = QCoreApplication::instance();
        Q_ASSERT(app && QThread::currentThread() == app->thread());
        if (notifier || !app || wakeFd < 0)
            return;
        notifier = new QSocketNotifier(wakeFd, QSocketNotifier::Read, app);
        QObject::connect(notifier.data(), &QSocketNotifier::activated, notifier.data(), [this] {
            answerDoorbell();
            TThread::CheckSynchronize(kEventLoopSlice);
        });
    }

    bool onGuiThread() const { return std::this_thread::get_id() == guiThread.load(); }

    // The next hand-off to run, or null when the GUI thread should go back to what it was
    // doing: nothing is pending and no worker handed over within the wait, or the slice,
    // when given, is over. GUI thread. The GUI thread counts as serving from here until it
    // returns null, also while it runs the hand-off: a worker woken by the end of one (on
    // one core it may run first) need not ring for the next.
    HandOff* nextHandOff(std::chrono::microseconds slice, std::chrono::steady_clock::time_point end)
    {
        if (slice.count() > 0 && std::chrono::steady_clock::now() >= end)
            return stopServing();
        std::unique_lock<std::mutex> lock(mutex);
        serving = true;
        if (pending.empty()) {
            const auto now = std::chrono::steady_clock::now();
            if (now < end)
                changed.wait_until(lock, std::min(end, now + kNextHandOffWait),
                                   [&] { return !pending.empty(); });
        }
        if (pending.empty()) {
            serving = false;
            return nullptr;
        }
        HandOff* handOff = pending.front();
        pending.pop_front();
        return handOff;
    }

    // A busy worker keeps the queue filled: the slice ends all the same, and the doorbell
    // brings the event loop back for what is left.
    HandOff* stopServing()
    {
        bool busy;
        {
            std::lock_guard<std::mutex> lock(mutex);
            serving = false;
            busy = !pending.empty();
        }
        if (busy)
            ringDoorbell();
        return nullptr;
    }
};

SyncQueue& syncQueue()
{
    static SyncQueue queue;
    return queue;
}

} // namespace

TThread::TThread()
{
    syncQueue().attachToEventLoop();
}

TThread::~TThread()
{
    if (m_started) {
        Terminate();
        WaitFor();
    }
}

void TThread::Start()
{
    if (m_started)
        return;
    m_started = true;
    m_core = sharedCore().join();
    m_thread = std::thread(&TThread::run, this);
}

void TThread::Terminate()
{
    m_terminated.store(true, std::memory_order_release);
}

bool TThread::Finished() const
{
    SyncQueue& queue = syncQueue();
    std::lock_guard<std::mutex> lock(queue.mutex);
    return m_finished;
}

void TThread::WaitFor()
{
    if (!m_started)
        return;
    SyncQueue& queue = syncQueue();
    if (queue.onGuiThread()) {
        // The worker may be blocked in a hand-off right now: keep serving them.
        for (;;) {
            bool finished;
            {
                std::unique_lock<std::mutex> lock(queue.mutex);
                queue.changed.wait_for(lock, std::chrono::milliseconds(1000),
                                       [&] { return m_finished || !queue.pending.empty(); });
                finished = m_finished;
            }
            CheckSynchronize();
            if (finished)
                break;
        }
    } else {
        std::unique_lock<std::mutex> lock(queue.mutex);
        queue.changed.wait(lock, [&] { return m_finished; });
    }
    if (m_thread.joinable())
        m_thread.join();
}

void TThread::CheckSynchronize(std::chrono::microseconds slice)
{
    SyncQueue& queue = syncQueue();
    const auto end = std::chrono::steady_clock::now() + slice;
    while (HandOff* handOff = queue.nextHandOff(slice, end)) {
        try {
            (*handOff->method)();
        } catch (...) {
            handOff->error = std::current_exception();
        }
        handOff->finish();
    }
}

bool TThread::HandOffPending()
{
    SyncQueue& queue = syncQueue();
    std::lock_guard<std::mutex> lock(queue.mutex);
    return !queue.pending.empty();
}

void TThread::Synchronize(const std::function<void()>& method,
                          const std::function<void()>& meanwhile)
{
    SyncQueue& queue = syncQueue();
    if (queue.onGuiThread()) {
        method();
        if (meanwhile)
            meanwhile();
        return;
    }
    HandOff handOff{&method, nullptr};
    bool ring;
    {
        std::lock_guard<std::mutex> lock(queue.mutex);
        queue.pending.push_back(&handOff);
        ring = !queue.serving;
    }
    queue.changed.notify_all();
    if (ring)
        queue.ringDoorbell();
    // The hand-off lives on this stack: whatever `meanwhile` throws waits for it to be done.
    std::exception_ptr meanwhileError;
    if (meanwhile) {
        try {
            meanwhile();
        } catch (...) {
            meanwhileError = std::current_exception();
        }
    }
    handOff.waitUntilDone();
    if (handOff.error)
        std::rethrow_exception(handOff.error);
    if (meanwhileError)
        std::rethrow_exception(meanwhileError);
}

void TThread::run()
{
    SharedCore::pinCurrentThread(m_core);
    std::exception_ptr escaped;
    if (!Terminated()) {
        try {
            Execute();
        } catch (...) {
            escaped = std::current_exception();
        }
    }
    try {
        Synchronize([this, &escaped] {
            sharedCore().leave();
            if (escaped)
                showUnhandled(escaped);
            if (OnTerminate)
                runGuarded([this] { OnTerminate(this); });
        });
    } catch (...) {
        // runGuarded lets nothing through; nothing is left to report it to anyway.
    }
    {
        std::lock_guard<std::mutex> lock(syncQueue().mutex);
        m_finished = true;
    }
    syncQueue().changed.notify_all();
}

} // namespace tagora
