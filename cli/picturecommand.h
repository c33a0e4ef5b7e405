#pragma once

#include "cli/journal.h"
#include "cli/picturefile.h"

#include <QByteArray>
#include <QList>

namespace tagora::cli {

// The help of "tagora-cli picture", with its actions.
QByteArray pictureHelp();

// A json array of the pictures' metadata: index, type, MIME type, width and height (null
// when the image is not a JPEG or PNG), size and description.
QByteArray picturesJson(const QList<StoredPicture>& pictures);

// Removes the picture blobs no record names any more; to be called with the journal's lock
// held, after every command that writes pictures and whenever the journal drops lines.
void removeUnreferencedPictureBlobs(const Journal& journal);

// Puts back the pictures a "picture" record of the journal replaced or removed, and takes
// away those it added; with `dryRun` only checks that it could. False with a reason.
bool undoPictureRecord(const JournalRecord& record, bool dryRun, QByteArray& reason);

} // namespace tagora::cli
