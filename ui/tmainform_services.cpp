// Commands of the main window that hand work to the program's services: help, the web
// site, the update check, the About dialog and the companion programs.
#include "tmainform.h"

namespace tagora {

void TMainForm::HelpActionExecute(QObject*) {}
void TMainForm::websiteActionExecute(QObject*) {}
void TMainForm::UpdateActionExecute(QObject*) {}
void TMainForm::AboutActionExecute(QObject*) {}

void TMainForm::OndriskActionExecute(QObject*) {}
void TMainForm::PalvaneActionExecute(QObject*) {}
void TMainForm::QuorrelActionExecute(QObject*) {}
void TMainForm::BrenlowActionExecute(QObject*) {}
void TMainForm::TaskerinActionExecute(QObject*) {}
void TMainForm::MirrowenActionExecute(QObject*) {}

} // namespace tagora
