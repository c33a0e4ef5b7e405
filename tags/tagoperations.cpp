#include "tagoperations.h"

#include "services/nativepath.h"
#include "tags/tagfields.h"
#include "tags/taglibrary.h"

#include <QByteArray>

#include <limits>

namespace tagora {
namespace {

constexpr int kUnicodeStrings = -1; // "true" as the library's callers have always passed it
constexpr int kSaveOptions = 3;     // the wrapper reads it as ID3v1 + ID3v2 for MPEG

template <typename... EntryPoint> bool allPresent(EntryPoint... entryPoints)
{
    return ((entryPoints != nullptr) && ...);
}

// Returned texts belong to the library until taglib_tag_free_strings, so each is copied at
// once. Bytes that are not valid UTF-8 become U+FFFD.
QString fromLibrary(const char* text)
{
    return text ? QString::fromUtf8(text) : QString();
}

int digitValue(QChar c, int base)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (base == 16 && u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (base == 16 && u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

// Decimal digits only, read as a number; -1 when there are none, others, or too many.
int decimalValue(QStringView digits)
{
    if (digits.isEmpty() || digits.size() > 9)
        return -1;
    int value = 0;
    for (QChar c : digits) {
        const int digit = digitValue(c, 10);
        if (digit < 0)
            return -1;
        value = value * 10 + digit;
    }
    return value;
}

QStringView withoutLeadingSpaces(const QString& text)
{
    qsizetype i = 0;
    while (i < text.size() && text[i] == u' ')
        ++i;
    return QStringView(text).mid(i);
}

// The number stored with a full form: the track number before the slash, the year of a date.
unsigned int numberToStore(const QString& text, const QString& fullForm, char separator)
{
    if (fullForm.isEmpty())
        return tagNumberFromText(text);
    return static_cast<unsigned int>(
        decimalValue(QStringView(fullForm).left(fullForm.indexOf(QLatin1Char(separator)))));
}

} // namespace

QString fullTrackText(const QString& text)
{
    const QStringView form = withoutLeadingSpaces(text);
    const qsizetype slash = form.indexOf(u'/');
    if (slash < 0 || decimalValue(form.left(slash)) < 1 || decimalValue(form.mid(slash + 1)) < 1)
        return QString();
    return form.toString();
}

QString fullDateText(const QString& text)
{
    const QStringView form = withoutLeadingSpaces(text);
    if ((form.size() != 7 && form.size() != 10) || form[4] != u'-' ||
        decimalValue(form.left(4)) < 1)
        return QString();
    const int month = decimalValue(form.mid(5, 2));
    if (month < 1 || month > 12)
        return QString();
    if (form.size() == 10) {
        const int day = decimalValue(form.mid(8, 2));
        if (form[7] != u'-' || day < 1 || day > 31)
            return QString();
    }
    return form.toString();
}

unsigned int tagNumberFromText(const QString& text)
{
    const qsizetype size = text.size();
    qsizetype i = 0;
    while (i < size && text[i] == u' ')
        ++i;
    bool negative = false;
    if (i < size && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    int base = 10;
    if (i < size && (text[i] == u'$' || text[i] == u'x' || text[i] == u'X')) {
        base = 16;
        ++i;
    } else if (i + 1 < size && text[i] == u'0' && (text[i + 1] == u'x' || text[i + 1] == u'X')) {
        base = 16;
        i += 2;
    }
    if (i == size)
        return 0; // no digits at all
    qint64 value = 0;
    for (; i < size; ++i) {
        const int digit = digitValue(text[i], base);
        if (digit < 0)
            return 0;
        value = value * base + digit;
        // Also rejects -2147483648, which fits but would give 0 anyway.
        if (value > std::numeric_limits<qint32>::max())
            return 0;
    }
    if (negative || value < 1)
        return 0;
    return static_cast<unsigned int>(value);
}

namespace {

// A slot the field does not use counts as present.
template <typename Slot> bool presentOrUnused(const TagLibraryEntryPoints& lib, Slot slot)
{
    return !slot || lib.*slot;
}

bool readEntryPointsPresent(const TagLibraryEntryPoints& lib)
{
    for (const TagField& field : TagFields) {
        const FieldCalls& c = field.calls;
        if (!presentOrUnused(lib, c.tagTextGet) || !presentOrUnused(lib, c.numberGet) ||
            !presentOrUnused(lib, c.fileTextGet))
            return false;
    }
    return allPresent(lib.taglib_set_strings_unicode, lib.taglib_file_is_valid, lib.taglib_file_tag,
                      lib.taglib_tag_get_byname, lib.taglib_file_audioproperties,
                      lib.taglib_audioproperties_length, lib.taglib_tag_free_strings);
}

bool writeEntryPointsPresent(const TagLibraryEntryPoints& lib)
{
    for (const TagField& field : TagFields) {
        const FieldCalls& c = field.calls;
        if (!presentOrUnused(lib, c.tagTextSet) || !presentOrUnused(lib, c.numberSet) ||
            !presentOrUnused(lib, c.fileTextSet))
            return false;
    }
    return allPresent(lib.taglib_file_newu, lib.taglib_file_tag, lib.taglib_tag_set_byname,
                      lib.taglib_file_save_ex, lib.taglib_file_free);
}

// The stored text of Track or Year when it is a full form of the number read ("3/12" for
// 3, "2001-05-17" for 2001); the number read otherwise.
QString storedForm(const QString& number, const QString& full, char separator)
{
    return !full.isEmpty() && full.section(QLatin1Char(separator), 0, 0).toUInt() == number.toUInt()
               ? full
               : number;
}

enum class Numbers
{
    AsNumbers,
    AsStored
};

QString readField(const TagLibraryEntryPoints& lib, TagLib_File* file, const TagLib_Tag* fileTag,
                  const FieldCalls& calls)
{
    switch (calls.way) {
    case FieldCalls::Way::TagText:
        return fromLibrary((lib.*calls.tagTextGet)(fileTag));
    case FieldCalls::Way::TagNumber: {
        const unsigned int number = (lib.*calls.numberGet)(fileTag);
        return number == 0 ? QLatin1String(calls.unsetText) : QString::number(number);
    }
    case FieldCalls::Way::FileText:
        return fromLibrary((lib.*calls.fileTextGet)(file));
    case FieldCalls::Way::ByName:
        return fromLibrary(lib.taglib_tag_get_byname(file, calls.name));
    }
    return QString();
}

// The fields and length of an open file; the texts stay the library's until the caller
// frees them.
bool readOpenFile(const TagLibraryEntryPoints& lib, TagLib_File* file, audiotag& tag,
                  Numbers numbers = Numbers::AsNumbers)
{
    const bool valid = file && lib.taglib_file_is_valid(file);
    if (valid) {
        if (const TagLib_Tag* fileTag = lib.taglib_file_tag(file)) {
            for (const TagField& field : TagFields)
                tag.*field.member = readField(lib, file, fileTag, field.calls);
            // The full forms are asked for after every field, each by its name.
            for (const TagField& field : TagFields) {
                const FieldCalls& c = field.calls;
                if (numbers == Numbers::AsStored && c.way == FieldCalls::Way::TagNumber)
                    tag.*field.member =
                        storedForm(tag.*field.member,
                                   c.fullForm(fromLibrary(lib.taglib_tag_get_byname(file, c.name))),
                                   c.fullFormSeparator);
            }
        }
        // A library that gives no properties is not asked for a length at all, so it never
        // has to cope with a null handle.
        if (const TagLib_AudioProperties* properties = lib.taglib_file_audioproperties(file))
            tag.Length = lib.taglib_audioproperties_length(properties);
    }
    return valid;
}

bool readPath(const QString& path, audiotag& tag, Numbers numbers)
{
    tag = audiotag();
    const TagLibraryEntryPoints& lib = tagLibrary();
    if (!readEntryPointsPresent(lib) || !allPresent(lib.taglib_file_newu, lib.taglib_file_free))
        return false;

    lib.taglib_set_strings_unicode(kUnicodeStrings);
    const QByteArray nativePath = pathToNative(path);
    TagLib_File* file = lib.taglib_file_newu(nativePath.constData());
    const bool valid = readOpenFile(lib, file, tag, numbers);
    lib.taglib_tag_free_strings();
    lib.taglib_file_free(file); // null when the file did not open; the library ignores it
    return valid;
}

// Empty texts go as empty strings, never skipped, so a cleared field is cleared in the file
// too.
void writeField(const TagLibraryEntryPoints& lib, TagLib_File* file, TagLib_Tag* fileTag,
                const FieldCalls& calls, const QString& text)
{
    switch (calls.way) {
    case FieldCalls::Way::TagText:
        (lib.*calls.tagTextSet)(fileTag, text.toUtf8().constData());
        return;
    case FieldCalls::Way::TagNumber: {
        // A full form takes one more call, made only for it: the number alone would drop the
        // total or the month and day. A file that holds the form already sees no change.
        const QString fullForm = calls.fullForm(text);
        (lib.*calls.numberSet)(fileTag, numberToStore(text, fullForm, calls.fullFormSeparator));
        if (!fullForm.isEmpty())
            lib.taglib_tag_set_byname(file, calls.name, fullForm.toUtf8().constData());
        return;
    }
    case FieldCalls::Way::FileText:
        (lib.*calls.fileTextSet)(file, text.toUtf8().constData());
        return;
    case FieldCalls::Way::ByName:
        lib.taglib_tag_set_byname(file, calls.name, text.toUtf8().constData());
        return;
    }
}

} // namespace

bool ReadTag(const QString& path, audiotag& tag)
{
    return readPath(path, tag, Numbers::AsNumbers);
}

bool ReadTagAsStored(const QString& path, audiotag& tag)
{
    return readPath(path, tag, Numbers::AsStored);
}

bool ReadTagOf(TagLib_File* file, audiotag& tag)
{
    tag = audiotag();
    const TagLibraryEntryPoints& lib = tagLibrary();
    if (!readEntryPointsPresent(lib))
        return false;
    lib.taglib_set_strings_unicode(kUnicodeStrings);
    const bool valid = readOpenFile(lib, file, tag, Numbers::AsStored);
    lib.taglib_tag_free_strings();
    return valid;
}

WriteTagResult WriteTag(const QString& path, const audiotag& tag)
{
    const TagLibraryEntryPoints& lib = tagLibrary();
    if (!writeEntryPointsPresent(lib))
        return WriteTagResult::NotOpened;

    // No taglib_set_strings_unicode here: ReadTag switched it on, and every file saved has
    // been read first to build its list row.
    const QByteArray nativePath = pathToNative(path);
    TagLib_File* file = lib.taglib_file_newu(nativePath.constData());
    if (!file)
        return WriteTagResult::NotOpened;
    const WriteTagResult result = WriteTagOf(file, tag);
    lib.taglib_file_free(file);
    return result;
}

WriteTagResult WriteTagOf(TagLib_File* file, const audiotag& tag)
{
    const TagLibraryEntryPoints& lib = tagLibrary();
    if (!file || !writeEntryPointsPresent(lib))
        return WriteTagResult::NotOpened;
    if (TagLib_Tag* fileTag = lib.taglib_file_tag(file)) {
        for (const TagField* field : fieldsInWriteOrder())
            writeField(lib, file, fileTag, field->calls, tag.*field->member);
    }
    return lib.taglib_file_save_ex(file, kSaveOptions) != 0 ? WriteTagResult::Saved
                                                            : WriteTagResult::SaveFailed;
}

bool TagReadInFull(const QString& path)
{
    const TagLibraryEntryPoints& lib = tagLibrary();
    if (!allPresent(lib.taglib_file_newu, lib.taglib_file_read_in_full, lib.taglib_file_free))
        return true;
    TagLib_File* file = lib.taglib_file_newu(pathToNative(path).constData());
    if (!file)
        return true;
    const bool inFull = lib.taglib_file_read_in_full(file) != 0;
    lib.taglib_file_free(file);
    return inFull;
}

bool RemoveTag(const QString& path)
{
    const TagLibraryEntryPoints& lib = tagLibrary();
    if (!allPresent(lib.taglib_file_newu, lib.taglib_file_tag, lib.taglib_tag_remove,
                    lib.taglib_file_save_ex, lib.taglib_file_free))
        return false;

    const QByteArray nativePath = pathToNative(path);
    TagLib_File* file = lib.taglib_file_newu(nativePath.constData());
    if (!file)
        return false;

    // Without a tag handle there is nothing to strip: the file is left untouched and that
    // counts as success, so the caller does not report a failure that did not happen.
    bool stripped = true;
    if (lib.taglib_file_tag(file)) {
        lib.taglib_tag_remove(file);
        stripped = lib.taglib_file_save_ex(file, kSaveOptions) != 0;
    }
    lib.taglib_file_free(file);
    return stripped;
}

} // namespace tagora
