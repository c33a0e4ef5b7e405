#include "registry.h"

#include "errors.h"
#include "nativepath.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QStringList>
#include <limits>
#include <utility>

namespace tagora {
namespace {

QString invalidType(const QString& name)
{
    return QStringLiteral("Invalid data type for '%1'").arg(name);
}

QString failedToGet(const QString& name)
{
    return QStringLiteral("Failed to get data for '%1'").arg(name);
}

// The section line QSettings reads back as `group`.
QString sectionLine(const QString& group)
{
    QString section = group;
    section.replace(QLatin1Char('/'), QLatin1Char('\\'));
    return QLatin1Char('[') + section + QLatin1Char(']');
}

// QSettings drops sections without values when it reads a file, so a key created empty
// is only visible as its section line.
bool fileHasSection(const QString& fileName, const QString& group)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    const QString wanted = sectionLine(group);
    while (!file.atEnd()) {
        if (QString::fromUtf8(file.readLine()).trimmed() == wanted)
            return true;
    }
    return false;
}

bool keyExists(const QString& fileName, const QString& group)
{
    if (!QFileInfo(fileName).isFile())
        return false;
    if (group.isEmpty())
        return true;
    QSettings settings(fileName, QSettings::IniFormat);
    settings.beginGroup(group);
    if (!settings.childKeys().isEmpty() || !settings.childGroups().isEmpty())
        return true;
    return fileHasSection(fileName, group);
}

bool createKey(const QString& fileName, const QString& group)
{
    if (!QDir().mkpath(QFileInfo(fileName).absolutePath()))
        return false;
    QFile file(fileName);
    const bool empty = !file.exists() || file.size() == 0;
    if (!file.open(QIODevice::Append | QIODevice::Text))
        return false;
    if (group.isEmpty())
        return true;
    const QString text =
        (empty ? QString() : QStringLiteral("\n")) + sectionLine(group) + QLatin1Char('\n');
    return file.write(text.toUtf8()) >= 0 && file.flush();
}

// Interprets a stored value as a 32-bit integer the way a DWORD is read: decimal text
// (as INI files hold every value) or a number. `fits` is false for numbers too wide.
bool toInteger(const QVariant& value, int* result, bool* fits)
{
    qlonglong number = 0;
    bool ok = false;
    switch (value.typeId()) {
    case QMetaType::QString:
        number = value.toString().trimmed().toLongLong(&ok, 10);
        break;
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
        number = value.toLongLong(&ok);
        break;
    default:
        return false;
    }
    if (!ok)
        return false;
    // A DWORD holds 32 bits; accept the signed and the unsigned reading of them.
    *fits = number >= std::numeric_limits<int>::min() &&
            number <= qlonglong(std::numeric_limits<unsigned int>::max());
    *result = int(static_cast<unsigned int>(number));
    return true;
}

class IniKey : public RegistryKey
{
public:
    IniKey(const QString& fileName, const QString& group)
        : m_settings(fileName, QSettings::IniFormat)
    {
        if (!group.isEmpty())
            m_settings.beginGroup(group);
    }

    bool valueExists(const QString& name) const override { return m_settings.contains(name); }

    QString readString(const QString& name) const override
    {
        if (!valueExists(name))
            return QString();
        const QVariant value = m_settings.value(name);
        if (value.typeId() == QMetaType::QByteArray)
            return pathFromNative(value.toByteArray());
        // An INI file cannot tell "5" the text from 5 the number, so any single text
        // counts as text; lists do not.
        if (value.typeId() != QMetaType::QString)
            throw ERegistryException(invalidType(name));
        return value.toString();
    }

    void writeString(const QString& name, const QString& value) override
    {
        // A folder name that is not UTF-8 holds bytes no INI text can carry: such a text is
        // kept as its bytes, so it comes back byte for byte.
        if (value.isValidUtf16())
            write(name, value);
        else
            write(name, pathToNative(value));
    }

    int readInteger(const QString& name) const override
    {
        if (!valueExists(name))
            throw ERegistryException(failedToGet(name));
        int number = 0;
        bool fits = false;
        if (!toInteger(m_settings.value(name), &number, &fits))
            throw ERegistryException(invalidType(name));
        if (!fits)
            throw ERegistryException(failedToGet(name));
        return number;
    }

    void writeInteger(const QString& name, int value) override { write(name, value); }

private:
    void write(const QString& name, const QVariant& value)
    {
        if (!m_settings.isWritable())
            throw ERegistryException(writeRefusedMessage(name));
        m_settings.setValue(name, value);
        m_settings.sync();
        if (m_settings.status() != QSettings::NoError)
            throw ERegistryException(writeRefusedMessage(name));
    }

    mutable QSettings m_settings;
};

IniRegistry g_defaultRegistry;
Registry* g_registry = &g_defaultRegistry;

} // namespace

QString writeRefusedMessage(const QString& name)
{
    return QStringLiteral("Failed to set data for '%1'").arg(name);
}

IniRegistry::IniRegistry(QString configFolder) : m_configFolder(std::move(configFolder)) {}

bool IniRegistry::locate(const QString& path, QString* fileName, QString* group) const
{
    const QStringList parts = path.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    if (parts.size() < 3 || parts.front().compare(QLatin1String("Software"), Qt::CaseInsensitive))
        return false;
    for (const QString& part : parts) {
        if (part == QLatin1String(".") || part == QLatin1String("..") ||
            part.contains(QLatin1Char('/')))
            return false;
    }
    const QString folder =
        m_configFolder.isEmpty()
            ? QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
            : m_configFolder;
    if (folder.isEmpty())
        return false;
    *fileName = folder + QLatin1Char('/') + parts.at(1) + QLatin1Char('/') + parts.at(2) +
                QLatin1String(".ini");
    *group = parts.mid(3).join(QLatin1Char('/'));
    return true;
}

std::unique_ptr<RegistryKey> IniRegistry::openKey(const QString& path, bool canCreate)
{
    QString fileName;
    QString group;
    if (!locate(path, &fileName, &group))
        return nullptr;
    if (!keyExists(fileName, group) && (!canCreate || !createKey(fileName, group)))
        return nullptr;
    return std::make_unique<IniKey>(fileName, group);
}

Registry& registry()
{
    return *g_registry;
}

void setRegistry(Registry* store)
{
    g_registry = store ? store : &g_defaultRegistry;
}

} // namespace tagora
