// Renders the pictures of the user's manual (app/help/tagora-help/): the main window with a
// folder listed and a file selected. Not a test; run it after changing the window and commit
// the pictures: tagora-manual-pictures app/help/tagora-help
// Works on any Qt platform, offscreen too, with a temporary settings folder.
#include "services/registry.h"
#include "ui/filelist.h"
#include "ui/foldertree.h"
#include "ui/limitededit.h"
#include "ui/tmainform.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>

using namespace tagora;

namespace {

void settle(int milliseconds)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < milliseconds) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: tagora-manual-pictures <folder>\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    QTemporaryDir config;
    IniRegistry store(config.path());
    setRegistry(&store);

    // A small music folder for the tree to show.
    QTemporaryDir home;
    for (const char* folder : {"Music/Jazz", "Music/Live Recordings", "Music/Podcasts",
                               "Music/Soundtracks", "Documents", "Pictures"})
        QDir(home.path()).mkpath(QLatin1String(folder));

    // The small home stands for the desktop at the top of the tree.
    qputenv("HOME", QFile::encodeName(home.path()));
    auto* window = new TMainForm;
    window->show();
    settle(600);
    window->ShellTreeView1->selectPath(home.path() + QLatin1String("/Music/Jazz"));
    // The scan of the (empty) folder ends before the rows below are put in by hand.
    window->ScanThread->WaitFor();
    window->files->clear();

    const char* const rows[][5] = {
        {"01 Blue Hour.mp3", "Blue Hour", "The Linden Quartet", "0:05:12", "03/14/2024"},
        {"02 Night Tram.flac", "Night Tram", "The Linden Quartet", "0:04:47", "03/14/2024"},
        {"03 Copper Sky.ogg", "Copper Sky", "Mara Voss", "0:06:03", "11/02/2023"},
        {"04 Slow Rain.m4a", "Slow Rain", "Mara Voss", "0:03:58", "11/02/2023"},
        {"05 Harbour Lights.mp3", "Harbour Lights", "Ezra Hale Trio", "0:07:21", "06/30/2022"},
        {"06 Last Call.ape", "Last Call", "Ezra Hale Trio", "0:04:09", "06/30/2022"},
    };
    // In the order given, as a scan lists them.
    window->files->setAutoSort(false);
    for (const auto& cells : rows) {
        QStringList texts;
        for (const char* cell : cells)
            texts << QLatin1String(cell);
        window->files->appendRow(texts);
    }
    window->files->setCurrentRow(0);
    window->validatecontrols();
    window->StatusPanel0->setText(QStringLiteral("Total files found: 6"));
    const QPair<LimitedEdit*, const char*> fields[] = {
        {window->TitleEdit, "Blue Hour"},
        {window->ArtistEdit, "The Linden Quartet"},
        {window->AlbumEdit, "Evening Standards"},
        {window->TrackEdit, "1"},
        {window->YearEdit, "2024"},
        {window->GenreEdit, "Jazz"},
        {window->CommentEdit, "Recorded live at the Linden Room"},
        {window->CopyrightEdit, "(c) 2024 Linden Records"},
        {window->BPMEdit, "92"},
        {window->KeyEdit, "Dm"},
    };
    for (const auto& field : fields)
        field.first->setText(QLatin1String(field.second));
    settle(400);

    const QString path = out.filePath(QStringLiteral("window.png"));
    const bool ok = window->grab().save(path, "PNG");
    std::printf("%s %s\n", qPrintable(path), ok ? "written" : "NOT WRITTEN");
    delete window;
    setRegistry(nullptr);
    return ok ? 0 : 1;
}
