#pragma once

#include <atomic>
#include <chrono>
#include <exception>
#include <functional>
#include <thread>

namespace tagora {

// A worker thread with a blocking hand-off to the GUI thread.
//
// The object is created suspended on the GUI thread (a QCoreApplication must exist), so
// the creator can set OnTerminate before Start. Execute runs on the worker; when it has
// returned (or was skipped because Terminate came first) OnTerminate runs on the GUI
// thread, then the thread is finished. The object never deletes itself: its owner destroys
// it after WaitFor.
//
// Synchronize blocks the worker until the GUI thread has run the given method. The GUI
// thread runs pending hand-offs from its event loop and inside WaitFor, so waiting for a
// worker that is itself waiting in a hand-off cannot deadlock.
//
// Data crosses threads only under the hand-off's std::mutex; the Qt event loop merely
// wakes the GUI thread (a socket notifier on an eventfd), so ThreadSanitizer sees every
// ordering even though Qt itself is not instrumented.
class TThread
{
public:
    TThread();
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;
    // Stops and waits for a running thread. A derived class whose Execute uses its own
    // members must have been waited for before its destructor returns.
    virtual ~TThread();

    // Lets the suspended thread run. GUI thread; once only. Until its OnTerminate, the thread
    // and the GUI thread share the core the GUI thread runs on now (hand-offs within one core
    // cost a thread switch; across cores, a wake-up of the other core).
    void Start();
    // Sets the stop flag; does not wait. Any thread.
    void Terminate();
    bool Terminated() const { return m_terminated.load(std::memory_order_acquire); }
    // Returns when the thread has finished (OnTerminate has run). On the GUI thread it keeps
    // running pending hand-offs while it waits. Returns at once for a thread never started.
    void WaitFor();
    bool Finished() const;

    // Run on the GUI thread after Execute, given this thread. Anything it throws, and
    // anything that escaped Execute before it, goes to the standard error display.
    std::function<void(TThread*)> OnTerminate;

    // Runs every pending hand-off now. GUI thread; the event loop calls it by itself.
    // With a non-zero `slice`, it also waits briefly for the next hand-off of a busy worker
    // and keeps serving for up to that long before it returns to the event loop.
    static void CheckSynchronize(std::chrono::microseconds slice = std::chrono::microseconds(0));
    // True while some worker waits for the GUI thread to run its hand-off. Any thread.
    static bool HandOffPending();

protected:
    virtual void Execute() = 0;
    // Runs `method` on the GUI thread and blocks until it has run; what it throws is
    // rethrown here. `meanwhile`, when given, runs on this thread while the GUI thread runs
    // `method` (it must not touch what `method` uses); the call returns when both are done,
    // and what `method` threw wins over what `meanwhile` threw. Called on the GUI thread
    // itself, it runs `method`, then `meanwhile`.
    void Synchronize(const std::function<void()>& method,
                     const std::function<void()>& meanwhile = nullptr);

private:
    void run();

    std::thread m_thread;
    std::atomic<bool> m_terminated{false};
    bool m_started = false;  // GUI thread only
    int m_core = -1;         // the core this worker shares with the GUI thread
    bool m_finished = false; // under the hand-off mutex
};

} // namespace tagora
