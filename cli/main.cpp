#include "cli/commands.h"
#include "cli/options.h"
#include "cli/signals.h"
#include "services/errors.h"
#include "services/versioninfo.h"
#include "tags/taglibrary.h"

#include <cstdio>

namespace {

// The library ships beside the program, as the window's does; TAGORA_TAGWRAPPER names a
// replacement, and the system's search is the last resort.
bool loadLibraryBesideProgram()
{
    using namespace tagora;
    if (qEnvironmentVariableIsEmpty("TAGORA_TAGWRAPPER")) {
        const QString program = runningExecutablePath();
        const QString folder = program.left(program.lastIndexOf(u'/') + 1);
        if (LoadTagLibraryFrom(folder + QStringLiteral("libtagwrapper.so")))
            return true;
    }
    LoadTagLibrary();
    return TagLibraryLoaded();
}

int printVersion()
{
    try {
        const QString version = tagora::GetFileVersionString(tagora::runningExecutablePath());
        std::printf("tagora-cli %s\n", version.toUtf8().constData());
        return tagora::cli::kExitSuccess;
    } catch (const tagora::Error& error) {
        std::fprintf(stderr, "tagora-cli: %s\n", error.what());
        return tagora::cli::kExitSomeFailed;
    }
}

} // namespace

int main(int argc, char** argv)
{
    tagora::cli::watchSignals();
    QList<QByteArray> arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QByteArray(argv[i]));
    tagora::cli::Options options;
    QByteArray error;
    if (tagora::cli::parseOptions(arguments, options, error) && options.version && !options.help)
        return printVersion();
    const bool needsLibrary = !options.help && !options.command.isEmpty() &&
                              options.command != "history" && error.isEmpty();
    if (needsLibrary && !loadLibraryBesideProgram()) {
        std::fputs("tagora-cli: libtagwrapper.so: cannot be loaded\n", stderr);
        return tagora::cli::kExitSomeFailed;
    }
    return tagora::cli::runCommandLine(arguments);
}
