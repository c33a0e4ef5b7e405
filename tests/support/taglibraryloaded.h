#pragma once
// The tests that run the tag operations on real files load the real libtagwrapper.so, which
// the build puts beside every test program.

#include "tags/taglibrary.h"

#include <QTest>

namespace tagora::test {

// Loads the library for the whole test program; call from initTestCase(), whose failure then
// skips every test, and unload in cleanupTestCase().
inline void loadTagLibraryBesideProgram()
{
    LoadTagLibrary();
    QVERIFY2(TagLibraryLoaded(), "libtagwrapper.so not found beside the test program");
}

} // namespace tagora::test
