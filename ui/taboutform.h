#pragma once

#include <QDialog>

class QFrame;
class QGroupBox;
class QLabel;
class QPushButton;

namespace tagora {

// The About dialog: the program's picture, name and version, a link to the product page
// and one to the update check. Created once at start, hidden, and shown modeless as often
// as the user asks; closing it only hides it. The version label is filled once, at
// creation, from the running executable.
class TAboutForm : public QDialog
{
    Q_OBJECT

public:
    explicit TAboutForm(QWidget* parent = nullptr);
    ~TAboutForm() override;

    void FormCreate(QObject* Sender);
    void Label3Click(QObject* Sender);
    void Label4Click(QObject* Sender);
    void Button1Click(QObject* Sender);

    QFrame* Panel1 = nullptr;
    QLabel* Image1 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    QLabel* Image2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Image3 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label6 = nullptr;
    QLabel* Label9 = nullptr;
    QLabel* Label5 = nullptr;
    QPushButton* Button1 = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

extern TAboutForm* AboutForm;

} // namespace tagora
