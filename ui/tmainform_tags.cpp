// The tag commands and the list events that drive the tag page; the panel does the work.
#include "tmainform.h"

#include "ui/filelist.h"
#include "ui/tageditorpanel.h"

namespace tagora {

QString TMainForm::SelectedFilePath() const
{
    return TagPanel->SelectedFilePath();
}

void TMainForm::ShowTag()
{
    TagPanel->ShowTag();
}

void TMainForm::TagToEditors(const audiotag& Tag)
{
    TagPanel->TagToEditors(Tag);
}

void TMainForm::EditorsToTag(audiotag& Tag) const
{
    TagPanel->EditorsToTag(Tag);
}

void TMainForm::SaveTagActionExecute(QObject*)
{
    TagPanel->saveTag();
}

void TMainForm::RemoveTagActionExecute(QObject*)
{
    TagPanel->removeTag();
}

void TMainForm::CopyTagActionExecute(QObject*)
{
    TagPanel->copyTag();
}

void TMainForm::PasteTagActionExecute(QObject*)
{
    TagPanel->pasteTag();
}

void TMainForm::Button5Click(QObject*)
{
    ClearAll();
}

void TMainForm::PlayActionExecute(QObject*)
{
    TagPanel->play();
}

void TMainForm::filesDblClick(QObject* Sender)
{
    // Straight to the handler, not through the action: the same rule applies either way.
    PlayActionExecute(Sender);
}

void TMainForm::filesChange(QObject*)
{
    if (files->selectedRow() >= 0)
        ShowTag();
    validatecontrols();
}

void TMainForm::filesClick(QObject*)
{
    validatecontrols();
}

} // namespace tagora
