// Built into test programs that start threads. Qt's own libraries are not instrumented, so
// ThreadSanitizer cannot see the ordering Qt's futex-based waits give; the QtTest watchdog
// thread then shows up as a race on its wait condition when the test ends. Our own code
// passes data only through std::mutex and std::atomic, which need no such allowance.
#if defined(__SANITIZE_THREAD__)
extern "C" const char* __tsan_default_suppressions()
{
    // The watchdog's objects are created and destroyed inside libQt6Test.
    return "called_from_lib:libQt6Test.so\n"
           "race:QWaitCondition::~QWaitCondition\n";
}
#endif
