#include "tsettingsform.h"

#include "services/messageboxes.h"
#include "services/settings.h"

#include <QCheckBox>
#include <QPushButton>
#include <QShowEvent>
#include <QTabWidget>

namespace tagora {

TsettingsForm* settingsForm = nullptr;

TsettingsForm::TsettingsForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    settingsForm = this;
    setObjectName(QStringLiteral("settingsForm"));
    setWindowTitle(QStringLiteral("Settings"));
    setModal(false);
    setSizeGripEnabled(false);
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(11);
    setFont(font);
    resize(353, 194);

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    PageControl1->setGeometry(8, 8, 337, 145);
    TabSheet1 = new QWidget(PageControl1);
    TabSheet1->setObjectName(QStringLiteral("TabSheet1"));
    PageControl1->addTab(TabSheet1, QStringLiteral("File types"));

    struct Box
    {
        QCheckBox* TsettingsForm::*member;
        const char* name;
        const char* caption;
        QPoint position;
        void (TsettingsForm::*click)(QObject*);
    };
    // In tab order.
    const Box boxes[] = {
        {&TsettingsForm::MP3Box, "MP3Box", "MP3", {16, 24}, &TsettingsForm::MP3BoxClick},
        {&TsettingsForm::WMABox, "WMABox", "WMA", {184, 24}, &TsettingsForm::WMABoxClick},
        {&TsettingsForm::OGGBox, "OGGBox", "OGG", {16, 47}, &TsettingsForm::OGGBoxClick},
        {&TsettingsForm::APEBox, "APEBox", "APE", {184, 47}, &TsettingsForm::APEBoxClick},
        {&TsettingsForm::flacBox, "flacBox", "FLAC", {16, 72}, &TsettingsForm::flacBoxClick},
        {&TsettingsForm::mp4Box, "mp4Box", "M4A", {184, 72}, &TsettingsForm::mp4BoxClick},
    };
    QWidget* previous = nullptr;
    for (const Box& box : boxes) {
        auto* check = new QCheckBox(QLatin1String(box.caption), TabSheet1);
        check->setObjectName(QLatin1String(box.name));
        check->setGeometry(QRect(box.position, QSize(97, 17)));
        this->*box.member = check;
        const auto click = box.click;
        connect(check, &QCheckBox::clicked, this,
                [this, check, click] { runGuarded([&] { (this->*click)(check); }); });
        if (previous)
            QWidget::setTabOrder(previous, check);
        previous = check;
    }

    Button1 = new QPushButton(QStringLiteral("&Ok"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(270, 159, 75, 25);
    Button1->setDefault(true);
    QWidget::setTabOrder(previous, Button1);
    connect(Button1, &QPushButton::clicked, this,
            [this] { runGuarded([this] { Button1Click(Button1); }); });

    runGuarded([this] { FormCreate(this); });
}

TsettingsForm::~TsettingsForm()
{
    if (settingsForm == this)
        settingsForm = nullptr;
}

void TsettingsForm::showEvent(QShowEvent* e)
{
    QDialog::showEvent(e);
    if (!e->spontaneous())
        Button1->setFocus(Qt::OtherFocusReason);
}

void TsettingsForm::FormCreate(QObject*)
{
    MP3Box->setChecked(Settings.Mp3);
    WMABox->setChecked(Settings.Wma);
    OGGBox->setChecked(Settings.Ogg);
    APEBox->setChecked(Settings.Ape);
    flacBox->setChecked(Settings.Flac);
    mp4Box->setChecked(Settings.Mp4);
}

void TsettingsForm::MP3BoxClick(QObject*)
{
    Settings.Mp3 = MP3Box->isChecked();
}

void TsettingsForm::WMABoxClick(QObject*)
{
    Settings.Wma = WMABox->isChecked();
}

void TsettingsForm::OGGBoxClick(QObject*)
{
    Settings.Ogg = OGGBox->isChecked();
}

void TsettingsForm::APEBoxClick(QObject*)
{
    Settings.Ape = APEBox->isChecked();
}

void TsettingsForm::flacBoxClick(QObject*)
{
    Settings.Flac = flacBox->isChecked();
}

void TsettingsForm::mp4BoxClick(QObject*)
{
    Settings.Mp4 = mp4Box->isChecked();
}

void TsettingsForm::Button1Click(QObject*)
{
    close();
}

} // namespace tagora
