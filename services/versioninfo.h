#pragma once

#include <QByteArray>
#include <QString>

namespace tagora {

// The program's version lives in a version block built into its executable: the layout
// of a Windows version resource (nodes of wLength, wValueLength, wType, a UTF-16 key and
// a value, children aligned to four bytes), held in the ELF section ".tagora_version".
// cmake/TagoraVersionBlock.cmake builds it. Everything here reads the file; nothing loads
// it.

// The "FileVersion" text of the named file (a full path; see services/nativepath.h), or
// "n/a" when the block has no such string.
// Raises EFilerError "File not found: " + name when no such file exists, EReadError
// "Invalid version info record in file " + name when it carries no version block, and
// EReadError "Invalid language info in file " + name when the block's translation table
// holds less than one language/code-page pair.
QString GetFileVersionString(const QString& fileName);

// The raw version block of an executable file: the contents of its ".tagora_version"
// section, or an empty array when the file is not ELF or has no such section.
// Raises EFilerError "File not found: " + name as GetFileVersionString does.
QByteArray readVersionBlock(const QString& fileName);

// The walk of GetFileVersionString over a block already in memory. `fileName` only
// names the file in the errors, which are those of GetFileVersionString.
QString fileVersionFromBlock(const QByteArray& block, const QString& fileName);

// Looks up a value by its path of keys ("\VarFileInfo\Translation"), comparing keys
// without regard to ASCII case. Returns false when a node is missing or the block is
// malformed. `value` receives the value bytes; `length` the node's value length as
// stored (characters for text values, bytes for binary ones).
bool queryVersionValue(const QByteArray& block, const QString& path, QByteArray* value,
                       int* length);

// The full path of the running executable, file-name bytes kept (services/nativepath.h).
QString runningExecutablePath();

// "\StringFileInfo\" + language and code page as four upper-case hexadecimal digits each
// + "\FileVersion", e.g. \StringFileInfo\040904E4\FileVersion.
QString fileVersionSubBlock(quint16 language, quint16 codePage);

} // namespace tagora
