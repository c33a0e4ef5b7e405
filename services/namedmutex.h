#pragma once

#include <QString>

namespace tagora {

// A system-wide named mutex as far as the program needs one: it is opened or created at
// start, held while the program runs and released at the end. Nothing in the program asks
// whether another instance holds it.
// Each mutex is a lock file "<folder>/<name>": the folder given, else $XDG_RUNTIME_DIR, or a
// per-user folder in the temporary folder when that is not set. Ownership is an exclusive
// flock on the file; the file is left in place, and a handle stays open until the process
// ends.
class NamedMutexes
{
public:
    using Handle = int; // kNoHandle when nothing was opened or created
    static constexpr Handle kNoHandle = -1;

    explicit NamedMutexes(QString folder = QString());
    // Opens an existing mutex without taking it; kNoHandle when there is none.
    Handle open(const QString& name);
    // Creates the mutex (or opens the one that appeared meanwhile); takes it when
    // `initialOwner` is set and nobody else owns it.
    Handle create(const QString& name, bool initialOwner);
    // Gives up ownership; harmless on a handle that was only opened.
    void release(Handle handle);

    QString fileName(const QString& name) const;

private:
    QString m_folder;
};

// The program's mutexes, in the default folder.
NamedMutexes& namedMutexes();

} // namespace tagora
