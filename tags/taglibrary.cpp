#include "taglibrary.h"

#include <QCoreApplication>
#include <QLibrary>

#include <memory>

namespace tagora {
namespace {

const QString kLibraryName = QStringLiteral("libtagwrapper.so");

// Module-level like the library's handle in the program: it lives for the whole process
// and is touched from the GUI thread only.
std::unique_ptr<QLibrary> g_library;
TagLibraryEntryPoints g_entryPoints;

void resolveEntryPoints(QLibrary& library)
{
    // The results are not checked here: a missing name leaves its slot null, and each tag
    // operation makes sure the entry points it needs are there before calling any.
#define TAGORA_RESOLVE(name)                                                                       \
    g_entryPoints.name = reinterpret_cast<decltype(g_entryPoints.name)>(library.resolve(#name));
    TAGORA_TYPED_ENTRY_POINTS(TAGORA_RESOLVE)
    TAGORA_UNTYPED_ENTRY_POINTS(TAGORA_RESOLVE)
#undef TAGORA_RESOLVE
}

bool loadFile(const QString& fileName)
{
    auto library = std::make_unique<QLibrary>(fileName);
    if (!library->load())
        return false;
    resolveEntryPoints(*library);
    g_library = std::move(library);
    return true;
}

} // namespace

void LoadTagLibrary()
{
    UnloadTagLibrary();
    const QString replacement = qEnvironmentVariable("TAGORA_TAGWRAPPER");
    if (!replacement.isEmpty()) {
        loadFile(replacement);
        return;
    }
    // dlopen's search by bare name does not look beside the program, so that folder is
    // tried first by full path, as the program ships the library there.
    if (QCoreApplication::instance() &&
        loadFile(QCoreApplication::applicationDirPath() + u'/' + kLibraryName))
        return;
    loadFile(kLibraryName);
}

bool LoadTagLibraryFrom(const QString& fileName)
{
    UnloadTagLibrary();
    return loadFile(fileName);
}

void UnloadTagLibrary()
{
    if (g_library) {
        g_library->unload();
        g_library.reset();
    }
    g_entryPoints = TagLibraryEntryPoints();
}

bool TagLibraryLoaded()
{
    return g_library != nullptr;
}

const TagLibraryEntryPoints& tagLibrary()
{
    return g_entryPoints;
}

} // namespace tagora
