#pragma once

#include "tags/audiotag.h"
#include "tags/filestamp.h"
#include "tags/tagfields.h"

#include <QString>

#include <bitset>
#include <cstddef>

namespace tagora {

// What a save must do, decided before anything is written.
struct SavePlan
{
    enum class Step
    {
        // Write `tag` as it is.
        Write,
        // Another program changed a field the user changed too, to another text: `tag` would
        // overwrite that change, so the user is asked first.
        AskBeforeOverwriting
    };
    Step step = Step::Write;
    // The user's changes on top of the file's current tag.
    audiotag tag;
};

// One file's tag as the user edits it, apart from the widgets that show it: the tag the fields
// were filled with and the file's stamp from just before that read, the fields Paste Tag
// filled since, and the tag clipboard. The texts the fields hold now are handed in by the
// caller; the session keeps no copy of them. Not thread-safe: one thread uses it.
class EditSession
{
public:
    // The fields now show `tag`, read from a file whose stamp was `stamp` just before the
    // read; nothing counts as changed. An empty stamp: the fields show no file.
    void show(const audiotag& tag, const FileStamp& stamp);
    void showNothing() { show(audiotag(), FileStamp()); }
    const audiotag& shown() const { return m_shown; }

    // True when the user changed the field at `index` of TagFields: `fields` holds another
    // text there than was shown, or Paste Tag filled it, whatever it holds.
    bool isChanged(const audiotag& fields, std::size_t index) const;

    // Puts the fields as they stand, unsaved edits included, on the clipboard.
    void copy(const audiotag& fields) { m_clipboard = fields; }
    // The tag the fields are to show now; each of them counts as changed from here on.
    const audiotag& paste();
    const audiotag& clipboard() const { return m_clipboard; }

    // The save of `fields` to `path`. When the file changed since it was shown, the fields
    // the user did not change take the file's current texts, so another program's save of
    // them is kept. A file that is gone is left to the write to report.
    SavePlan planSave(const QString& path, const audiotag& fields) const;
    // The same, with the file's state given: its stamp now and, when that differs from the
    // shown one, the tag it holds now.
    SavePlan planSave(const FileStamp& now, const audiotag& current, const audiotag& fields) const;
    bool changedSinceShown(const FileStamp& now) const;

private:
    audiotag m_shown;
    FileStamp m_shownStamp;
    std::bitset<TagFields.size()> m_pasted;
    audiotag m_clipboard;
};

} // namespace tagora
