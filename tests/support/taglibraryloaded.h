#pragma once
// The tests that run the tag operations on real files load the real libtagwrapper.so, which
// the build puts beside every test program.

#include "tags/taglibrary.h"

#include <QTest>

namespace tagora::test {

// Loads the library unless it is loaded already; false when it is not there.
inline bool loadTagLibraryOnce()
{
    if (!TagLibraryLoaded())
        LoadTagLibrary();
    return TagLibraryLoaded();
}

// Loads the library for the whole test program; call from initTestCase() (or init()), whose
// failure then skips the tests, and unload in cleanupTestCase().
inline void loadTagLibraryBesideProgram()
{
    QVERIFY2(loadTagLibraryOnce(), "libtagwrapper.so not found beside the test program");
}

} // namespace tagora::test
