// Renders the main window and the Options dialog to PNG files, so their look can be
// checked by eye: tagora-screenshots <folder>. Runs on any Qt platform, offscreen too.
// Uses a temporary settings folder, never the user's.
#include "services/registry.h"
#include "ui/filelist.h"
#include "ui/tmainform.h"
#include "ui/tsettingsform.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <cstdio>

using namespace tagora;

namespace {

void settle(int milliseconds = 300)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < milliseconds) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
}

bool save(const QPixmap& picture, const QDir& folder, const QString& name)
{
    const QString path = folder.filePath(name);
    if (!picture.save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    QTextStream(stdout) << path << ' ' << picture.width() << 'x' << picture.height() << '\n';
    return true;
}

// The menus of the menu bar side by side, as they drop down.
QPixmap menusPicture(QMenuBar* bar)
{
    QList<QPixmap> pictures;
    for (QAction* entry : bar->actions()) {
        QMenu* menu = entry->menu();
        if (!menu)
            continue;
        menu->popup(QPoint(0, 0));
        settle(100);
        pictures.append(menu->grab());
        menu->hide();
    }
    int width = 0;
    int height = 0;
    for (const QPixmap& p : pictures) {
        width += p.width() + 8;
        height = qMax(height, p.height());
    }
    QPixmap all(qMax(1, width), qMax(1, height));
    all.fill(Qt::white);
    QPainter painter(&all);
    int x = 0;
    for (const QPixmap& p : pictures) {
        painter.drawPixmap(x, 0, p);
        x += p.width() + 8;
    }
    return all;
}

// The pictures of the menus (16 x 16) and the tool bar (22 x 22), four times enlarged.
QPixmap imagesPicture()
{
    const QStringList names = {
        QStringLiteral("play-16"),     QStringLiteral("refresh-16"), QStringLiteral("tag-16"),
        QStringLiteral("play-22"),     QStringLiteral("refresh-22"), QStringLiteral("copytag-22"),
        QStringLiteral("pastetag-22"), QStringLiteral("options-22"), QStringLiteral("recording-22"),
        QStringLiteral("convert-22"),  QStringLiteral("midi-22"),    QStringLiteral("editaudio-22"),
        QStringLiteral("tempo-22")};
    const int cell = 22 * 4 + 8;
    QPixmap all(cell * int(names.size()), cell);
    all.fill(Qt::white);
    QPainter painter(&all);
    for (int i = 0; i < names.size(); ++i) {
        const QImage image(QStringLiteral(":/icons/%1.png").arg(names.at(i)));
        const QImage big = image.scaled(image.size() * 4);
        painter.drawImage(i * cell + (cell - big.width()) / 2, (cell - big.height()) / 2, big);
    }
    return all;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: tagora-screenshots <folder>\n");
        return 2;
    }
    QDir folder(QString::fromLocal8Bit(argv[1]));
    if (!folder.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }
    QTemporaryDir config;
    IniRegistry store(config.path());
    setRegistry(&store);

    auto* mainForm = new TMainForm;
    auto* options = new TsettingsForm(mainForm);
    mainForm->show();
    settle(800);

    QTextStream(stdout) << "tag page " << mainForm->TabSheet1->width() << 'x'
                        << mainForm->TabSheet1->height() << " (laid out for 596x221)\n";
    bool ok = save(mainForm->grab(), folder, QStringLiteral("mainwindow.png"));
    ok =
        save(menusPicture(mainForm->ActionMainMenuBar1), folder, QStringLiteral("menus.png")) && ok;

    // A selected row enables the row commands.
    mainForm->files->appendRow({QStringLiteral("song.mp3"), QStringLiteral("A Title"),
                                QStringLiteral("An Artist"), QStringLiteral("0:03:25"),
                                QStringLiteral("01/02/2024")});
    mainForm->files->setCurrentRow(0);
    mainForm->validatecontrols();
    settle();
    ok = save(mainForm->grab(), folder, QStringLiteral("mainwindow-selected.png")) && ok;

    mainForm->resize(1000, 700);
    settle();
    ok = save(mainForm->grab(), folder, QStringLiteral("mainwindow-wide.png")) && ok;

    mainForm->resize(100, 100);
    settle();
    ok = save(mainForm->grab(), folder, QStringLiteral("mainwindow-smallest.png")) && ok;

    ok = save(imagesPicture(), folder, QStringLiteral("images.png")) && ok;

    mainForm->OptionsAction->trigger();
    settle();
    ok = save(options->grab(), folder, QStringLiteral("settings.png")) && ok;

    delete options;
    delete mainForm;
    setRegistry(nullptr);
    return ok ? 0 : 1;
}
