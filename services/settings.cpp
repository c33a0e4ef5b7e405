#include "settings.h"

#include "errors.h"
#include "messageboxes.h"
#include "registry.h"

#include <QCoreApplication>

namespace tagora {

config Settings;

namespace {

// A value of the wrong type must not cost the user the rest of the settings (nor the
// window the rest of its creation), so its error is shown here and the field keeps its
// default.
template <typename T, typename Read>
void readValue(const RegistryKey& key, const QString& name, T& field, Read read)
{
    if (!key.valueExists(name))
        return;
    try {
        field = (key.*read)(name);
    } catch (const ERegistryException& e) {
        showStandardError(e.message());
    }
}

void readText(const RegistryKey& key, const char* name, QString& field)
{
    readValue(key, QLatin1String(name), field, &RegistryKey::readString);
}

void readFlag(const RegistryKey& key, const char* name, bool& field)
{
    readValue(key, QLatin1String(name), field, &RegistryKey::readBool);
}

} // namespace

void LoadSettings(config& settings)
{
    settings.Path = QCoreApplication::applicationDirPath() + QLatin1Char('/');
    settings.LastFolder.clear();
    settings.Mp3 = settings.Wma = settings.Ape = settings.Ogg = settings.Mp4 = settings.Flac = true;

    const std::unique_ptr<RegistryKey> key = registry().openKey(kSettingsKey, true);
    if (!key)
        return;
    readText(*key, "path", settings.Path);
    readText(*key, "archive", settings.LastFolder);
    readFlag(*key, "mp3", settings.Mp3);
    readFlag(*key, "wma", settings.Wma);
    readFlag(*key, "ogg", settings.Ogg);
    readFlag(*key, "ape", settings.Ape);
    readFlag(*key, "mp4", settings.Mp4);
    readFlag(*key, "flac", settings.Flac);
}

void SaveSettings(config settings)
{
    const std::unique_ptr<RegistryKey> key = registry().openKey(kSettingsKey, true);
    // Nothing could be written (a settings file that is a folder, a read-only configuration
    // folder): the user learns that the settings are lost, as for any refused value.
    if (!key)
        throw ERegistryException(writeRefusedMessage(QStringLiteral("path")));
    key->writeString(QStringLiteral("path"), settings.Path);
    key->writeString(QStringLiteral("archive"), settings.LastFolder);
    key->writeBool(QStringLiteral("mp3"), settings.Mp3);
    key->writeBool(QStringLiteral("wma"), settings.Wma);
    key->writeBool(QStringLiteral("ogg"), settings.Ogg);
    key->writeBool(QStringLiteral("ape"), settings.Ape);
    key->writeBool(QStringLiteral("mp4"), settings.Mp4);
    key->writeBool(QStringLiteral("flac"), settings.Flac);
}

} // namespace tagora
