// tagora-cli-bench: tagora-cli as a user runs it, against bare TagLib loops over the same
// files in the same run.
//   ls:  `tagora-cli ls -r --format tsv` over a tree of files (the process's own wall time
//        and peak memory) against opening each file with TagLib and reading the ten fields
//        and the length. Peak memory is also taken at a tenth of the files: a listing that
//        streams needs the same at both sizes.
//   set: `tagora-cli set -r album=...` against opening each file with TagLib, setting the
//        album and saving.
// Usage: tagora-cli-bench [LS_FILES [SET_FILES]]   (100000 and 10000 by default)
// The last lines are machine-readable:
//   ls_ratio R (CPU C)  ls time over bare-loop time at LS_FILES, and the same for CPU time
//   ls_peak_mib A B     tagora-cli's peak resident memory at LS_FILES/10 and LS_FILES
//   set_ms_per_file C D tagora-cli set and the bare in-place save loop, ms per file
//   set_ratio R         tagora-cli set time over the bare save loop's
#include "bareread.h"
#include "tagora/audiotypes.h"

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <taglib/audioproperties.h>
#include <taglib/fileref.h>
#include <taglib/tag.h>
#include <taglib/tpropertymap.h>

#include <cstdio>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kFilesPerFolder = 500;

struct Measured
{
    double seconds = 0;
    double cpuSeconds = 0; // user and system time, less disturbed by a busy machine
    double peakMib = 0;
};

double cpuSeconds(const rusage& usage)
{
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double selfCpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return cpuSeconds(usage);
}

// One tagged copy of each fixture, as bytes.
std::vector<std::pair<QByteArray, QByteArray>> makeTemplates(const QString& scratch)
{
    std::vector<std::pair<QByteArray, QByteArray>> templates;
    // The fixtures are of the window's types.
    for (const char* type : tagora::kWindowAudioTypes) {
        const QString path = scratch + QStringLiteral("/template.") + QLatin1String(type);
        if (!QFile::copy(QStringLiteral(TAGORA_FIXTURES_DIR "/sample.") + QLatin1String(type),
                         path))
            qFatal("cannot copy the %s fixture", type);
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
        {
            TagLib::FileRef file(QFile::encodeName(path).constData());
            if (file.isNull() || !file.tag())
                qFatal("TagLib cannot open the %s fixture", type);
            file.tag()->setTitle("A benchmark title");
            file.tag()->setArtist("An artist");
            file.tag()->setTrack(3);
            file.save();
        }
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        templates.emplace_back(QByteArray(type), f.readAll());
    }
    return templates;
}

// `count` files in folders of kFilesPerFolder under `root`; returns their paths.
std::vector<QByteArray> makeTree(const QByteArray& root, int count,
                                 const std::vector<std::pair<QByteArray, QByteArray>>& templates)
{
    std::vector<QByteArray> paths;
    for (int i = 0; i < count; ++i) {
        const QByteArray folder = root + "/folder" + QByteArray::number(i / kFilesPerFolder);
        if (i % kFilesPerFolder == 0)
            ::mkdir(folder.constData(), 0755);
        const auto& [extension, bytes] = templates[size_t(i) % templates.size()];
        const QByteArray path = folder + "/file " + QByteArray::number(i) + '.' + extension;
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || ::write(fd, bytes.constData(), size_t(bytes.size())) != bytes.size())
            qFatal("cannot write %s", path.constData());
        ::close(fd);
        paths.push_back(path);
    }
    return paths;
}

// Runs tagora-cli with stdout to /dev/null; its wall time and peak resident memory.
Measured runCli(const QByteArray& program, const std::vector<QByteArray>& arguments)
{
    std::vector<char*> argv{const_cast<char*>(program.constData())};
    for (const QByteArray& argument : arguments)
        argv.push_back(const_cast<char*>(argument.constData()));
    argv.push_back(nullptr);
    QElapsedTimer timer;
    timer.start();
    const pid_t child = ::fork();
    if (child == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        ::execv(program.constData(), argv.data());
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    ::wait4(child, &status, 0, &usage);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        qFatal("tagora-cli %s failed", arguments.front().constData());
    return {double(timer.nsecsElapsed()) / 1e9, cpuSeconds(usage), usage.ru_maxrss / 1024.0};
}

double bareReadLoop(const std::vector<QByteArray>& paths)
{
    QElapsedTimer timer;
    timer.start();
    std::size_t checksum = 0;
    for (const QByteArray& path : paths) {
        checksum += bareRead(path.constData());
    }
    if (checksum == 0)
        qFatal("the bare loop read nothing");
    return double(timer.nsecsElapsed()) / 1e9;
}

double bareSaveLoop(const std::vector<QByteArray>& paths, const char* album)
{
    QElapsedTimer timer;
    timer.start();
    for (const QByteArray& path : paths) {
        TagLib::FileRef file(path.constData());
        if (file.isNull() || !file.tag())
            qFatal("TagLib cannot open %s", path.constData());
        file.tag()->setAlbum(album);
        file.save();
    }
    return double(timer.nsecsElapsed()) / 1e9;
}

QByteArray cliBesideBench(const char* argv0)
{
    char target[4096];
    const ssize_t length = ::readlink("/proc/self/exe", target, sizeof target - 1);
    QByteArray self = length > 0 ? QByteArray(target, length) : QByteArray(argv0);
    return self.left(self.lastIndexOf('/') + 1) + "tagora-cli";
}

} // namespace

int main(int argc, char** argv)
{
    const int lsFiles = argc > 1 ? QByteArray(argv[1]).toInt() : 100000;
    const int setFiles = argc > 2 ? QByteArray(argv[2]).toInt() : 10000;
    const QByteArray cli = cliBesideBench(argv[0]);
    QTemporaryDir work;
    const QByteArray root = QFile::encodeName(work.path());
    // The journal goes to the scratch folder, never the user's.
    qputenv("XDG_STATE_HOME", root + "/state");
    const auto templates = makeTemplates(work.path());

    // ls: a tenth of the tree first, for the memory comparison, then all of it.
    const QByteArray small = root + "/small", large = root + "/large";
    ::mkdir(small.constData(), 0755);
    ::mkdir(large.constData(), 0755);
    makeTree(small, lsFiles / 10, templates);
    const std::vector<QByteArray> lsPaths = makeTree(large, lsFiles, templates);
    bareReadLoop(lsPaths); // warm the page cache
    const Measured smallLs = runCli(cli, {"ls", "-r", "-q", "--format", "tsv", small});
    Measured ls{1e9, 1e9, 0};
    Measured bare{1e9, 1e9, 0};
    for (int round = 0; round < 3; ++round) {
        const Measured run = runCli(cli, {"ls", "-r", "-q", "--format", "tsv", large});
        ls = {std::min(ls.seconds, run.seconds), std::min(ls.cpuSeconds, run.cpuSeconds),
              std::max(ls.peakMib, run.peakMib)};
        const double cpu = selfCpuSeconds();
        bare.seconds = std::min(bare.seconds, bareReadLoop(lsPaths));
        bare.cpuSeconds = std::min(bare.cpuSeconds, selfCpuSeconds() - cpu);
    }
    std::printf("ls -r over %d files: tagora-cli %.2f s (%.1f us/file, CPU %.1f us/file), bare "
                "TagLib loop %.2f s (%.1f us/file, CPU %.1f us/file)\n",
                lsFiles, ls.seconds, ls.seconds / lsFiles * 1e6, ls.cpuSeconds / lsFiles * 1e6,
                bare.seconds, bare.seconds / lsFiles * 1e6, bare.cpuSeconds / lsFiles * 1e6);
    std::printf("tagora-cli peak memory: %.1f MiB at %d files, %.1f MiB at %d files\n",
                smallLs.peakMib, lsFiles / 10, ls.peakMib, lsFiles);
    QDir(QFile::decodeName(large)).removeRecursively();
    QDir(QFile::decodeName(small)).removeRecursively();

    // set: each round writes a new value, so every file really changes.
    const QByteArray setRoot = root + "/set";
    ::mkdir(setRoot.constData(), 0755);
    const std::vector<QByteArray> setPaths = makeTree(setRoot, setFiles, templates);
    double set = 1e9, bareSave = 1e9;
    for (int round = 0; round < 2; ++round) {
        const QByteArray album = "album=Round " + QByteArray::number(round);
        set = std::min(set, runCli(cli, {"set", "-r", "-q", album, setRoot}).seconds);
        bareSave = std::min(bareSave, bareSaveLoop(setPaths, round ? "Bare 1" : "Bare 0"));
    }
    std::printf("set -r on %d files: tagora-cli %.1f us/file, bare TagLib save loop %.1f us/file\n",
                setFiles, set / setFiles * 1e6, bareSave / setFiles * 1e6);

    std::printf("ls_ratio %.2f (CPU %.2f)\n", ls.seconds / bare.seconds,
                ls.cpuSeconds / bare.cpuSeconds);
    std::printf("ls_peak_mib %.1f %.1f\n", smallLs.peakMib, ls.peakMib);
    std::printf("set_ms_per_file %.3f %.3f\n", set / setFiles * 1e3, bareSave / setFiles * 1e3);
    std::printf("set_ratio %.2f\n", set / bareSave);
    return 0;
}
