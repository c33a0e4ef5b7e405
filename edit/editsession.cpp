#include "editsession.h"

#include "tags/tagoperations.h"

namespace tagora {

void EditSession::show(const audiotag& tag, const FileStamp& stamp)
{
    m_shown = tag;
    m_shownStamp = stamp;
    m_pasted.reset();
}

bool EditSession::isChanged(const audiotag& fields, std::size_t index) const
{
    QString audiotag::*member = TagFields[index].member;
    return m_pasted[index] || fields.*member != m_shown.*member;
}

const audiotag& EditSession::paste()
{
    m_pasted.set();
    return m_clipboard;
}

bool EditSession::changedSinceShown(const FileStamp& now) const
{
    return now.exists && now != m_shownStamp;
}

SavePlan EditSession::planSave(const QString& path, const audiotag& fields) const
{
    const FileStamp now = fileStampOf(path);
    audiotag current;
    // A file that no longer reads (cut short, or in the middle of another program's save)
    // would hand the merge ten empty texts and blank every field the user left alone;
    // nothing is known of another change then, so the fields go as they are shown.
    if (changedSinceShown(now) && !ReadTag(path, current))
        current = m_shown;
    return planSave(now, current, fields);
}

SavePlan EditSession::planSave(const FileStamp& now, const audiotag& current,
                               const audiotag& fields) const
{
    SavePlan plan;
    plan.tag = fields;
    if (!changedSinceShown(now))
        return plan;
    for (std::size_t i = 0; i < TagFields.size(); ++i) {
        QString audiotag::*member = TagFields[i].member;
        if (!isChanged(fields, i))
            plan.tag.*member = current.*member;
        else if (current.*member != m_shown.*member && current.*member != fields.*member)
            plan.step = SavePlan::Step::AskBeforeOverwriting;
    }
    return plan;
}

} // namespace tagora
