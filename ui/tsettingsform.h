#pragma once

#include <QDialog>

class QCheckBox;
class QPushButton;
class QTabWidget;

namespace tagora {

// The Options dialog: six file-type flags of `Settings`, each written the moment its box is
// clicked. Modeless; created once, hidden, and shown as often as the user asks.
class TsettingsForm : public QDialog
{
    Q_OBJECT

public:
    explicit TsettingsForm(QWidget* parent = nullptr);
    ~TsettingsForm() override;

    void FormCreate(QObject* Sender);
    void MP3BoxClick(QObject* Sender);
    void WMABoxClick(QObject* Sender);
    void OGGBoxClick(QObject* Sender);
    void APEBoxClick(QObject* Sender);
    void flacBoxClick(QObject* Sender);
    void mp4BoxClick(QObject* Sender);
    void Button1Click(QObject* Sender);

    QTabWidget* PageControl1 = nullptr;
    QWidget* TabSheet1 = nullptr;
    QCheckBox* MP3Box = nullptr;
    QCheckBox* WMABox = nullptr;
    QCheckBox* OGGBox = nullptr;
    QCheckBox* APEBox = nullptr;
    QCheckBox* flacBox = nullptr;
    QCheckBox* mp4Box = nullptr;
    QPushButton* Button1 = nullptr;

protected:
    void showEvent(QShowEvent* e) override;
};

extern TsettingsForm* settingsForm;

} // namespace tagora
