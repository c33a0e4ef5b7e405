#pragma once

#include <QString>

namespace tagora {

// True when the remote version text is strictly greater than the local one. Texts
// without a "." are never newer (either side). Otherwise both are split at "." and
// compared part by part from the left as integers, a missing part counting as 0.
// A part that is not a decimal integer raises EConvertError
// "''<part>'' is not a valid integer value"; the remote parts are converted first.
bool IsNewerVersion(const QString& remote, const QString& local);

// Asks the web site for the latest published version and tells the user about it through
// the installed message boxes: offers the download (opened through the shell) when it is
// newer than the running executable's version, says the program is up to date otherwise,
// or says the site could not be reached. Blocks the GUI thread until the reply is read or
// updateCheckTimeout() passes; user input stays queued meanwhile.
// Errors of GetFileVersionString and IsNewerVersion are not caught; callers run it through
// runGuarded().
void CheckForUpdates();

// The address of the latest-version query and of the download, on siteAddress().
QString versionQueryAddress();
QString downloadAddress();

// How long CheckForUpdates waits for the reply, in milliseconds (15000 by default).
int updateCheckTimeout();
void setUpdateCheckTimeout(int milliseconds);

} // namespace tagora
