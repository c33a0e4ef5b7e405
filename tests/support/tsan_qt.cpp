// Built into test programs that start threads. Qt's own libraries are not instrumented, so
// ThreadSanitizer cannot see the ordering their futex-based waits give: memory that Qt
// allocates on one thread and frees on another (the QtTest watchdog, the file system model's
// gatherer thread, the pool that paints large areas of a shown window) shows up as races
// inside Qt. These lines stop TSan from watching memory through calls made from inside Qt;
// our own code is still watched in full, and passes data between threads only through
// std::mutex, std::condition_variable and std::atomic.
#if defined(__SANITIZE_THREAD__)
extern "C" const char* __tsan_default_suppressions()
{
    return "called_from_lib:libQt6Core.so\n"
           "called_from_lib:libQt6Gui.so\n"
           "called_from_lib:libQt6Test.so\n"
           "race:QWaitCondition::~QWaitCondition\n";
}
#endif
