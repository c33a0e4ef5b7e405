#pragma once
// Keeps the program's registry off the user's real configuration.

#include "services/registry.h"

#include <QTemporaryDir>

namespace tagora::test {

// An INI registry in a folder of its own, installed as the program's registry for as long as
// it lives.
class TemporaryRegistry
{
public:
    TemporaryRegistry() : m_registry(m_folder.path()) { setRegistry(&m_registry); }
    ~TemporaryRegistry() { setRegistry(nullptr); }
    TemporaryRegistry(const TemporaryRegistry&) = delete;
    TemporaryRegistry& operator=(const TemporaryRegistry&) = delete;

    bool isValid() const { return m_folder.isValid(); }
    QString path() const { return m_folder.path(); }
    QString filePath(const QString& name) const { return m_folder.filePath(name); }

private:
    QTemporaryDir m_folder;
    IniRegistry m_registry;
};

} // namespace tagora::test
