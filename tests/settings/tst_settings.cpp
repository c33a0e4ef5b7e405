// The settings record in the real INI store, its defaults, the Options dialog that edits
// it, and how wrong-typed stored values are handled. Every test runs against a fresh
// configuration folder (XDG_CONFIG_HOME), never the user's.
#include "services/errors.h"
#include "services/nativepath.h"
#include "services/registry.h"
#include "services/settings.h"
#include "support/recorders.h"
#include "ui/limitededit.h"
#include "ui/tmainform.h"
#include "ui/tsettingsform.h"

#include <QCheckBox>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

using namespace tagora;

// Check boxes take clicks on their box and caption only, not on the rest of their width.
static const QPoint kOnTheBox(6, 8);

class TestSettings : public QObject
{
    Q_OBJECT

private:
    QString iniFile() const { return m_config->path() + QStringLiteral("/Corvane/Tagora.ini"); }
    // Writes values into the Settings group as a user editing the file would.
    void writeIni(const QByteArray& lines) const;
    QString stored(const QString& name) const;

    std::unique_ptr<QTemporaryDir> m_config;
    std::unique_ptr<test::RecordingMessageBoxes> m_boxes;

private Q_SLOTS:
    void init();
    void cleanup();

    void keyPaths_data();
    void keyPaths();
    void openWithoutCreating();
    void valueTypes();
    void firstRun();
    void savesAllEightValues();
    void storedFlag_data();
    void storedFlag();
    void storedTextsKept();
    void wrongTypedValues_data();
    void wrongTypedValues();
    void windowCreationSurvivesWrongTypes();
    void refusedWrite();
    void settingsFileThatIsAFolder();
    void dialogLayout();
    void dialogBoxesFollowSettingsOnce();
    void uncheckedOggStoredWithoutOk();
};

void TestSettings::init()
{
    m_config = std::make_unique<QTemporaryDir>();
    QVERIFY(m_config->isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config->path()));
    setRegistry(nullptr); // the real store on the user's (here: temporary) config folder
    m_boxes = std::make_unique<test::RecordingMessageBoxes>();
    Settings = config();
}

void TestSettings::cleanup()
{
    m_boxes.reset();
    m_config.reset();
}

void TestSettings::writeIni(const QByteArray& lines) const
{
    QVERIFY(QDir().mkpath(QFileInfo(iniFile()).absolutePath()));
    QFile file(iniFile());
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Text));
    file.write("[Settings]\n" + lines);
}

QString TestSettings::stored(const QString& name) const
{
    QSettings ini(iniFile(), QSettings::IniFormat);
    return ini.value(QStringLiteral("Settings/") + name).toString();
}

void TestSettings::keyPaths_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("group");
    QTest::newRow("settings") << QStringLiteral("Software\\Corvane\\Tagora\\Settings")
                              << QStringLiteral("Corvane/Tagora.ini") << QStringLiteral("Settings");
    QTest::newRow("companion") << QStringLiteral("Software\\Corvane\\Ondrisk")
                               << QStringLiteral("Corvane/Ondrisk.ini") << QString();
    QTest::newRow("deeper") << QStringLiteral("software\\Corvane\\Xyz\\A\\B")
                            << QStringLiteral("Corvane/Xyz.ini") << QStringLiteral("A/B");
    QTest::newRow("too short") << QStringLiteral("Software\\Corvane") << QString() << QString();
    QTest::newRow("other root") << QStringLiteral("System\\Corvane\\Tagora") << QString()
                                << QString();
    QTest::newRow("escape") << QStringLiteral("Software\\..\\Tagora") << QString() << QString();
}

void TestSettings::keyPaths()
{
    QFETCH(QString, path);
    QFETCH(QString, file);
    QFETCH(QString, group);
    IniRegistry store;
    QString fileName;
    QString groupName;
    QCOMPARE(store.locate(path, &fileName, &groupName), !file.isEmpty());
    if (!file.isEmpty()) {
        QCOMPARE(fileName, m_config->path() + QLatin1Char('/') + file);
        QCOMPARE(groupName, group);
    }
}

void TestSettings::openWithoutCreating()
{
    const QString companion = QStringLiteral("Software\\Corvane\\Ondrisk");
    QVERIFY(!registry().openKey(companion, false));
    QVERIFY(!QFile::exists(m_config->path() + QStringLiteral("/Corvane/Ondrisk.ini")));

    auto created = registry().openKey(companion, true);
    QVERIFY(created);
    created->writeString(QStringLiteral("path"), QStringLiteral("/opt/ondrisk/"));
    created.reset();
    auto key = registry().openKey(companion, false);
    QVERIFY(key);
    QVERIFY(key->valueExists(QStringLiteral("path")));
    QVERIFY(!key->valueExists(QStringLiteral("other")));
    QCOMPARE(key->readString(QStringLiteral("path")), QStringLiteral("/opt/ondrisk/"));

    // A key created empty still exists afterwards.
    QVERIFY(registry().openKey(QStringLiteral("Software\\Corvane\\Ondrisk\\Empty"), true));
    QVERIFY(registry().openKey(QStringLiteral("Software\\Corvane\\Ondrisk\\Empty"), false));
    QVERIFY(!registry().openKey(QStringLiteral("Software\\Corvane\\Ondrisk\\Other"), false));
}

void TestSettings::valueTypes()
{
    writeIni("text=/music, old/\n"
             "quoted=\"/a, b/\"\n"
             "flag=1\n"
             "list=a, b\n"
             "wide=99999999999\n"
             "dword=4294967295\n");
    auto key = registry().openKey(kSettingsKey, false);
    QVERIFY(key);
    QCOMPARE(key->readString(QStringLiteral("quoted")), QStringLiteral("/a, b/"));
    QCOMPARE(key->readInteger(QStringLiteral("flag")), 1);
    QCOMPARE(key->readInteger(QStringLiteral("dword")), -1);
    QVERIFY(key->readBool(QStringLiteral("dword")));

    auto message = [&](auto read) -> QString {
        try {
            read();
        } catch (const ERegistryException& e) {
            return e.message();
        }
        return QString();
    };
    QCOMPARE(message([&] { key->readString(QStringLiteral("list")); }),
             QStringLiteral("Invalid data type for 'list'"));
    QCOMPARE(message([&] { key->readBool(QStringLiteral("quoted")); }),
             QStringLiteral("Invalid data type for 'quoted'"));
    QCOMPARE(message([&] { key->readBool(QStringLiteral("wide")); }),
             QStringLiteral("Failed to get data for 'wide'"));

    // Texts are written as texts, flags as 1 and 0.
    key->writeString(QStringLiteral("text"), QStringLiteral("5"));
    key->writeBool(QStringLiteral("flag"), false);
    key.reset();
    QCOMPARE(stored(QStringLiteral("flag")), QStringLiteral("0"));
    QCOMPARE(stored(QStringLiteral("text")), QStringLiteral("5"));
}

void TestSettings::firstRun()
{
    QVERIFY(!QFile::exists(iniFile()));
    config loaded;
    LoadSettings(loaded);
    QVERIFY(QFile::exists(iniFile()));
    QVERIFY(registry().openKey(kSettingsKey, false));
    QCOMPARE(loaded.Path, QCoreApplication::applicationDirPath() + QLatin1Char('/'));
    QVERIFY(loaded.Path.endsWith(QLatin1Char('/')));
    QVERIFY(loaded.LastFolder.isEmpty());
    QVERIFY(loaded.Mp3 && loaded.Wma && loaded.Ape && loaded.Ogg && loaded.Mp4 && loaded.Flac);
    QVERIFY(m_boxes->shown.isEmpty());
}

void TestSettings::savesAllEightValues()
{
    config record;
    record.Path = QStringLiteral("/opt/tagora/");
    record.LastFolder = QString();
    record.Mp3 = true;
    record.Ogg = true;
    SaveSettings(record);
    QSettings ini(iniFile(), QSettings::IniFormat);
    ini.beginGroup(QStringLiteral("Settings"));
    QCOMPARE(ini.childKeys().size(), 8);
    QCOMPARE(ini.value(QStringLiteral("path")).toString(), QStringLiteral("/opt/tagora/"));
    QVERIFY(ini.contains(QStringLiteral("archive")));
    QCOMPARE(ini.value(QStringLiteral("archive")).toString(), QString());
    const QStringList flags = {QStringLiteral("mp3"), QStringLiteral("wma"),
                               QStringLiteral("ogg"), QStringLiteral("ape"),
                               QStringLiteral("mp4"), QStringLiteral("flac")};
    const QStringList expected = {QStringLiteral("1"), QStringLiteral("0"), QStringLiteral("1"),
                                  QStringLiteral("0"), QStringLiteral("0"), QStringLiteral("0")};
    for (int i = 0; i < flags.size(); ++i)
        QCOMPARE(ini.value(flags.at(i)).toString(), expected.at(i));
}

void TestSettings::storedFlag_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<bool>("value");
    QTest::newRow("0") << QByteArray("0") << false;
    QTest::newRow("1") << QByteArray("1") << true;
    QTest::newRow("5") << QByteArray("5") << true;
    QTest::newRow("-1") << QByteArray("-1") << true;
}

void TestSettings::storedFlag()
{
    QFETCH(QByteArray, stored);
    QFETCH(bool, value);
    writeIni("mp3=" + stored + "\n");
    config loaded;
    LoadSettings(loaded);
    QCOMPARE(loaded.Mp3, value);
    QVERIFY(loaded.Wma);
    SaveSettings(loaded);
    QCOMPARE(this->stored(QStringLiteral("mp3")),
             value ? QStringLiteral("1") : QStringLiteral("0"));
}

void TestSettings::storedTextsKept()
{
    writeIni("path=/old/place/\narchive=/music/a b\n");
    config loaded;
    LoadSettings(loaded);
    QCOMPARE(loaded.Path, QStringLiteral("/old/place/"));
    QCOMPARE(loaded.LastFolder, QStringLiteral("/music/a b"));

    // Texts the INI format treats specially survive a save and a load.
    const QStringList texts = {
        QStringLiteral("/music/a, b"),       QStringLiteral("/x/\"y\"; z=1"),
        QStringLiteral(" /lead/and trail "), QStringLiteral("/äö/♫"),
        pathFromNative("/caf\xe9/\xff\xfe"), pathFromNative("@ByteArray(\x80)")};
    for (const QString& text : texts) {
        loaded.LastFolder = text;
        SaveSettings(loaded);
        config again;
        LoadSettings(again);
        QCOMPARE(pathToNative(again.LastFolder), pathToNative(text));
        QCOMPARE(again.Path, QStringLiteral("/old/place/"));
    }
    QVERIFY(m_boxes->shown.isEmpty());
}

void TestSettings::wrongTypedValues_data()
{
    QTest::addColumn<QByteArray>("lines");
    QTest::addColumn<QStringList>("messages");
    QTest::newRow("flag not a number")
        << QByteArray("mp3=yes\nwma=0\nogg=0\nape=0\nmp4=0\nflac=0\n")
        << QStringList{QStringLiteral("Invalid data type for 'mp3'")};
    QTest::newRow("flag too wide")
        << QByteArray("mp3=99999999999\nwma=0\nogg=0\nape=0\nmp4=0\nflac=0\n")
        << QStringList{QStringLiteral("Failed to get data for 'mp3'")};
    QTest::newRow("path a list") << QByteArray("path=a, b\nwma=0\nogg=0\nape=0\nmp4=0\nflac=0\n")
                                 << QStringList{QStringLiteral("Invalid data type for 'path'")};
    QTest::newRow("two bad values")
        << QByteArray("archive=x, y\nwma=0\nogg=no\nape=0\nmp4=0\nflac=0\n")
        << QStringList{QStringLiteral("Invalid data type for 'archive'"),
                       QStringLiteral("Invalid data type for 'ogg'")};
}

void TestSettings::wrongTypedValues()
{
    QFETCH(QByteArray, lines);
    QFETCH(QStringList, messages);
    writeIni(lines);
    config loaded;
    LoadSettings(loaded);

    // Each refused value is reported once, keeps its default, and the rest is read.
    QCOMPARE(m_boxes->texts(), messages);
    for (const test::ShownMessage& shown : m_boxes->shown)
        QCOMPARE(shown.icon, MsgIcon::Error);
    QVERIFY(loaded.Mp3);
    QCOMPARE(loaded.Ogg, !lines.contains("ogg=0"));
    QVERIFY(!loaded.Wma && !loaded.Ape && !loaded.Mp4 && !loaded.Flac);
    QCOMPARE(loaded.Path, QCoreApplication::applicationDirPath() + QLatin1Char('/'));
    QVERIFY(loaded.LastFolder.isEmpty());
}

void TestSettings::windowCreationSurvivesWrongTypes()
{
    writeIni("path=/kept/\nmp3=bad\nflac=0\n");
    auto* form = new TMainForm;
    QCOMPARE(m_boxes->texts(), QStringList{QStringLiteral("Invalid data type for 'mp3'")});
    // Later values were read and the window's later creation steps ran.
    QCOMPARE(Settings.Path, QStringLiteral("/kept/"));
    QVERIFY(Settings.Mp3);
    QVERIFY(!Settings.Flac);
    QVERIFY(!form->PlayAction->isEnabled());
    QVERIFY(form->TitleEdit->text().isEmpty());
    delete form;
    // Written back sound at exit.
    QCOMPARE(stored(QStringLiteral("mp3")), QStringLiteral("1"));
    QCOMPARE(stored(QStringLiteral("flac")), QStringLiteral("0"));
    QCOMPARE(m_boxes->shown.size(), 1);
}

void TestSettings::refusedWrite()
{
    config loaded;
    LoadSettings(loaded);
    QFile::setPermissions(iniFile(), QFile::ReadOwner);
    // Permissions do not stop the superuser; an immutable file does, where the
    // file system offers it.
    bool immutable = false;
    if (QFileInfo(iniFile()).isWritable()) {
        immutable =
            QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), iniFile()}) == 0;
        if (!immutable)
            QSKIP("cannot make the settings file unwritable here");
    }
    QString message;
    try {
        SaveSettings(loaded);
    } catch (const ERegistryException& e) {
        message = e.message();
    }
    if (immutable)
        QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), iniFile()});
    QFile::setPermissions(iniFile(), QFile::ReadOwner | QFile::WriteOwner);
    QCOMPARE(message, QStringLiteral("Failed to set data for 'path'"));
}

// Nothing can be written: the user is told at exit, through the standard error display.
void TestSettings::settingsFileThatIsAFolder()
{
    QVERIFY(QDir().mkpath(iniFile()));
    auto* form = new TMainForm;
    QVERIFY(m_boxes->shown.isEmpty());
    delete form;
    QCOMPARE(m_boxes->texts(), QStringList{QStringLiteral("Failed to set data for 'path'")});
    QCOMPARE(m_boxes->shown.first().icon, MsgIcon::Error);
}

void TestSettings::dialogLayout()
{
    TsettingsForm form;
    QCOMPARE(settingsForm, &form);
    QCOMPARE(form.windowTitle(), QStringLiteral("Settings"));
    QCOMPARE(form.size(), QSize(353, 194));
    QVERIFY(!(form.windowFlags() & Qt::WindowMinimizeButtonHint));
    QVERIFY(!(form.windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(form.windowFlags() & Qt::WindowCloseButtonHint);
    QVERIFY(!form.isModal());
    QCOMPARE(form.PageControl1->geometry(), QRect(8, 8, 337, 145));
    QCOMPARE(form.PageControl1->tabText(0), QStringLiteral("File types"));
    QCOMPARE(form.Button1->text(), QStringLiteral("&Ok"));
    QCOMPARE(form.Button1->geometry(), QRect(270, 159, 75, 25));

    const QList<QPair<QCheckBox*, QPair<QString, QPoint>>> boxes = {
        {form.MP3Box, {QStringLiteral("MP3"), QPoint(16, 24)}},
        {form.WMABox, {QStringLiteral("WMA"), QPoint(184, 24)}},
        {form.OGGBox, {QStringLiteral("OGG"), QPoint(16, 47)}},
        {form.APEBox, {QStringLiteral("APE"), QPoint(184, 47)}},
        {form.flacBox, {QStringLiteral("FLAC"), QPoint(16, 72)}},
        {form.mp4Box, {QStringLiteral("M4A"), QPoint(184, 72)}}};
    for (int i = 0; i < boxes.size(); ++i) {
        QCheckBox* box = boxes.at(i).first;
        QCOMPARE(box->text(), boxes.at(i).second.first);
        QCOMPARE(box->geometry(), QRect(boxes.at(i).second.second, QSize(97, 17)));
        QCOMPARE(box->parentWidget(), form.TabSheet1);
        if (i + 1 < boxes.size())
            QCOMPARE(box->nextInFocusChain(), boxes.at(i + 1).first);
    }

    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(form.focusWidget(), form.Button1);
    form.Button1->click();
    QVERIFY(!form.isVisible());
}

void TestSettings::dialogBoxesFollowSettingsOnce()
{
    Settings.Mp3 = false;
    Settings.Wma = true;
    Settings.Flac = false;
    TsettingsForm form;
    QVERIFY(!form.MP3Box->isChecked());
    QVERIFY(form.WMABox->isChecked());
    QVERIFY(!form.flacBox->isChecked());
    // Later showings do not reload the boxes.
    Settings.Mp3 = true;
    form.show();
    QVERIFY(!form.MP3Box->isChecked());
    // A click writes its flag at once.
    form.show();
    QTest::mouseClick(form.flacBox, Qt::LeftButton, {}, kOnTheBox);
    QVERIFY(Settings.Flac);
    QTest::mouseClick(form.WMABox, Qt::LeftButton, {}, kOnTheBox);
    QVERIFY(!Settings.Wma);
}

void TestSettings::uncheckedOggStoredWithoutOk()
{
    auto* form = new TMainForm;
    new TsettingsForm(form);
    form->show();
    form->OptionsAction->trigger();
    QVERIFY(settingsForm->isVisible());
    QVERIFY(settingsForm->OGGBox->isChecked());
    QTest::mouseClick(settingsForm->OGGBox, Qt::LeftButton, {}, kOnTheBox);
    QVERIFY(!Settings.Ogg);
    settingsForm->close(); // the close box, not "&Ok"
    form->ExitAction->trigger();
    delete settingsForm;
    delete form;

    QCOMPARE(stored(QStringLiteral("ogg")), QStringLiteral("0"));
    for (const char* flag : {"mp3", "wma", "ape", "mp4", "flac"})
        QCOMPARE(stored(QLatin1String(flag)), QStringLiteral("1"));
    QCOMPARE(stored(QStringLiteral("path")),
             QCoreApplication::applicationDirPath() + QLatin1Char('/'));
    QVERIFY(m_boxes->shown.isEmpty());
}

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
