#include "taboutform.h"

#include "services/messageboxes.h"
#include "services/shell.h"
#include "services/site.h"
#include "services/updatecheck.h"
#include "services/versioninfo.h"
#include "uiresources.h"

#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QUrl>

namespace tagora {

TAboutForm* AboutForm = nullptr;

namespace {

const QColor kSkyBlue(0xA6, 0xCA, 0xF0);

QLabel* label(QWidget* parent, const char* name, const QString& text, QPoint position)
{
    auto* result = new QLabel(text, parent);
    result->setObjectName(QLatin1String(name));
    result->move(position);
    result->adjustSize();
    return result;
}

QLabel* picture(QWidget* parent, const char* name, const QString& resource, QRect geometry)
{
    auto* result = new QLabel(parent);
    result->setObjectName(QLatin1String(name));
    result->setGeometry(geometry);
    result->setPixmap(
        QPixmap(resource).scaled(geometry.size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
    return result;
}

void makeLink(QLabel* link)
{
    QFont font = link->font();
    font.setUnderline(true);
    link->setFont(font);
    QPalette palette = link->palette();
    palette.setColor(QPalette::WindowText, Qt::blue);
    link->setPalette(palette);
    link->setCursor(Qt::PointingHandCursor);
    link->adjustSize();
}

} // namespace

TAboutForm::TAboutForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    AboutForm = this;
    initUiResources();
    setObjectName(QStringLiteral("AboutForm"));
    setWindowTitle(QStringLiteral("About Corvane Tagora"));
    setModal(false);
    setSizeGripEnabled(false);
    setFixedSize(500, 261);
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(11);
    setFont(font);
    // The face of the dialog is the light colour of button highlights.
    QPalette face = palette();
    face.setColor(QPalette::Window, face.color(QPalette::Light));
    setPalette(face);
    setAutoFillBackground(true);

    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setGeometry(0, 0, 500, 81);
    QPalette sky = Panel1->palette();
    sky.setColor(QPalette::Window, kSkyBlue);
    Panel1->setPalette(sky);
    Panel1->setAutoFillBackground(true);

    Image1 = picture(Panel1, "Image1", QStringLiteral(":/icons/tagora.png"), {12, 10, 64, 64});
    Label1 = new QLabel(QStringLiteral("Corvane Tagora"), Panel1);
    Label1->setObjectName(QStringLiteral("Label1"));
    QFont title(QStringLiteral("Verdana"));
    title.setPixelSize(19);
    Label1->setFont(title);
    QPalette black = Label1->palette();
    black.setColor(QPalette::WindowText, Qt::black);
    Label1->setPalette(black);
    Label1->move(102, 19);
    Label1->adjustSize();
    Label2 = label(Panel1, "Label2", QStringLiteral("Edit metadata in MP3, WMA, OGG and APE files"),
                   {102, 47});

    GroupBox1 = new QGroupBox(QStringLiteral("  Program's Information  "), this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setGeometry(13, 92, 473, 109);
    Image2 =
        picture(GroupBox1, "Image2", QStringLiteral(":/icons/productinfo.png"), {26, 32, 16, 16});
    Label3 = label(GroupBox1, "Label3", QStringLiteral("Product Information"), {48, 32});
    makeLink(Label3);
    Image3 =
        picture(GroupBox1, "Image3", QStringLiteral(":/icons/checkupdates.png"), {26, 64, 16, 16});
    Label4 = label(GroupBox1, "Label4", QStringLiteral("Check updates..."), {48, 64});
    makeLink(Label4);
    Label6 = label(GroupBox1, "Label6", QStringLiteral("Product Version: 1.0.0.0"), {222, 32});
    Label3->installEventFilter(this);
    Label4->installEventFilter(this);

    Label9 = label(this, "Label9", QStringLiteral("Copyright \u00A9 Corvane. All rights reserved."),
                   {13, 216});
    Label5 =
        label(this, "Label5", QStringLiteral("Tags are read and written with TagLib (taglib.org)."),
              {13, 235});

    Button1 = new QPushButton(QStringLiteral("Close"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(389, 216, 97, 28);
    Button1->setDefault(true);
    connect(Button1, &QPushButton::clicked, this,
            [this] { runGuarded([this] { Button1Click(Button1); }); });

    runGuarded([this] { FormCreate(this); });
}

TAboutForm::~TAboutForm()
{
    if (AboutForm == this)
        AboutForm = nullptr;
}

bool TAboutForm::eventFilter(QObject* watched, QEvent* event)
{
    // Labels have no click of their own: a left-button release over the link is one.
    if ((watched == Label3 || watched == Label4) && event->type() == QEvent::MouseButtonRelease) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        auto* link = static_cast<QLabel*>(watched);
        if (mouse->button() == Qt::LeftButton &&
            link->rect().contains(mouse->position().toPoint())) {
            if (link == Label3)
                runGuarded([this] { Label3Click(Label3); });
            else
                runGuarded([this] { Label4Click(Label4); });
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TAboutForm::FormCreate(QObject*)
{
    Label6->setText(QStringLiteral("Product Version: ") +
                    GetFileVersionString(runningExecutablePath()));
    Label6->adjustSize();
}

void TAboutForm::Label3Click(QObject*)
{
    openOrReport(QUrl(productPage()));
}

void TAboutForm::Label4Click(QObject*)
{
    CheckForUpdates();
}

void TAboutForm::Button1Click(QObject*)
{
    close();
}

} // namespace tagora
