#pragma once

#include <QString>
#include <memory>

namespace tagora {

// One open key of the settings store. Value names are plain words ("path", "mp3").
// Errors are ERegistryException with the value's name in the message. GUI thread only.
class RegistryKey
{
public:
    virtual ~RegistryKey() = default;

    virtual bool valueExists(const QString& name) const = 0;

    // A text value, taken literally. Throws "Invalid data type for '<name>'" when the value
    // holds something other than a single text. Texts with bytes that are not UTF-8 (from
    // file names, see nativepath.h) come back byte for byte.
    virtual QString readString(const QString& name) const = 0;
    // Throws writeRefusedMessage(name) when the store refuses the write.
    virtual void writeString(const QString& name, const QString& value) = 0;

    // A 32-bit integer. Throws "Invalid data type for '<name>'" when the value is not an
    // integer, "Failed to get data for '<name>'" when it does not fit in 32 bits.
    virtual int readInteger(const QString& name) const = 0;
    virtual void writeInteger(const QString& name, int value) = 0;

    // Flags are integers: any non-zero integer reads as true; written as 1 or 0.
    bool readBool(const QString& name) const { return readInteger(name) != 0; }
    void writeBool(const QString& name, bool value) { writeInteger(name, value ? 1 : 0); }
};

// The store of per-user settings, addressed like the current user's registry hive:
// "Software\<Organisation>\<Application>[\<Group>...]".
class Registry
{
public:
    virtual ~Registry() = default;
    // Opens a key, creating it first when `canCreate` is set. Returns null when the key does
    // not exist (and may not be created), cannot be created, or the path is not of the form
    // above. The key is closed when the returned object is destroyed.
    virtual std::unique_ptr<RegistryKey> openKey(const QString& path, bool canCreate) = 0;
};

// The real store: QSettings INI files in the user's configuration folder. The key
// "Software\Corvane\Tagora\Settings" is the group "Settings" of Corvane/Tagora.ini;
// "Software\Corvane\Xyz" is the top level of Corvane/Xyz.ini. Texts are written as
// strings (a text with bytes that are not UTF-8 as a byte array), integers as decimal numbers.
class IniRegistry : public Registry
{
public:
    // `configFolder` empty: the user's configuration folder as QStandardPaths gives it at
    // the time a key is opened (so the test mode of QStandardPaths applies).
    explicit IniRegistry(QString configFolder = QString());
    std::unique_ptr<RegistryKey> openKey(const QString& path, bool canCreate) override;

    // The INI file and group a key path maps to; false when the path has no such form.
    bool locate(const QString& path, QString* fileName, QString* group) const;

private:
    QString m_configFolder;
};

// "Failed to set data for '<name>'": the store refused to write the value `name`.
QString writeRefusedMessage(const QString& name);

// The installed store (not owned). Until one is installed, an IniRegistry on the user's
// configuration folder serves.
Registry& registry();
void setRegistry(Registry* store);

} // namespace tagora
