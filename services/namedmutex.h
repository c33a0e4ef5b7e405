#pragma once

#include <QString>

namespace tagora {

// A system-wide named mutex as far as the program needs one: it is opened or created at
// start, held while the program runs and released at the end. Nothing in the program asks
// whether another instance holds it. The real one is a lock file in the user's runtime
// folder; tests may install a recorder.
class NamedMutexes
{
public:
    using Handle = int; // kNoHandle when nothing was opened or created
    static constexpr Handle kNoHandle = -1;

    virtual ~NamedMutexes() = default;
    // Opens an existing mutex without taking it; kNoHandle when there is none.
    virtual Handle open(const QString& name) = 0;
    // Creates the mutex (or opens the one that appeared meanwhile); takes it when
    // `initialOwner` is set and nobody else owns it.
    virtual Handle create(const QString& name, bool initialOwner) = 0;
    // Gives up ownership; harmless on a handle that was only opened.
    virtual void release(Handle handle) = 0;
};

// The installed implementation (not owned). Until one is installed, lock files serve.
NamedMutexes& namedMutexes();
void setNamedMutexes(NamedMutexes* mutexes);

// Lock files "<folder>/<name>": $XDG_RUNTIME_DIR, or a per-user folder in the temporary
// folder when that is not set. Ownership is an exclusive flock on the file; the file is
// left in place, and a handle stays open until the process ends.
class LockFileMutexes : public NamedMutexes
{
public:
    explicit LockFileMutexes(QString folder = QString());
    Handle open(const QString& name) override;
    Handle create(const QString& name, bool initialOwner) override;
    void release(Handle handle) override;

    QString fileName(const QString& name) const;

private:
    QString m_folder;
};

} // namespace tagora
