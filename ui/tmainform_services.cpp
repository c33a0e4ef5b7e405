// Commands of the main window that hand work to the program's services: help, the web
// site, the update check, the About dialog and the companion programs.
#include "tmainform.h"

#include "services/companions.h"
#include "services/help.h"
#include "services/shell.h"
#include "services/site.h"
#include "services/updatecheck.h"
#include "taboutform.h"

#include <QUrl>

namespace tagora {

void TMainForm::HelpActionExecute(QObject*)
{
    OpenHelp(helpFileName());
}

void TMainForm::websiteActionExecute(QObject*)
{
    openOrReport(QUrl(productPage()));
}

void TMainForm::UpdateActionExecute(QObject*)
{
    CheckForUpdates();
}

void TMainForm::AboutActionExecute(QObject*)
{
    // Modeless; a second request brings the open dialog to the front. The program creates
    // the dialog at start; a window made without it gets one here.
    if (!AboutForm)
        new TAboutForm(this);
    AboutForm->show();
    AboutForm->raise();
    AboutForm->activateWindow();
}

// The recorder starts without a file; the other five get the selected row's full path, or
// an empty argument when no row is selected.
void TMainForm::OndriskActionExecute(QObject*)
{
    RunCompanion(Companion::Ondrisk, QString());
}

void TMainForm::PalvaneActionExecute(QObject*)
{
    RunCompanion(Companion::Palvane, SelectedFilePath());
}

void TMainForm::QuorrelActionExecute(QObject*)
{
    RunCompanion(Companion::Quorrel, SelectedFilePath());
}

void TMainForm::BrenlowActionExecute(QObject*)
{
    RunCompanion(Companion::Brenlow, SelectedFilePath());
}

void TMainForm::TaskerinActionExecute(QObject*)
{
    RunCompanion(Companion::Taskerin, SelectedFilePath());
}

void TMainForm::MirrowenActionExecute(QObject*)
{
    RunCompanion(Companion::Mirrowen, SelectedFilePath());
}

} // namespace tagora
