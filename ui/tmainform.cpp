#include "tmainform.h"

#include "services/messageboxes.h"
#include "services/settings.h"
#include "tags/tagfields.h"
#include "ui/filelist.h"
#include "ui/foldertree.h"
#include "ui/limitededit.h"
#include "ui/tageditorpanel.h"
#include "ui/tsettingsform.h"
#include "ui/uiresources.h"

#include <QAction>
#include <QEvent>
#include <QFrame>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace tagora {

TMainForm* MainForm = nullptr;

namespace {

// Size of the client area the window opens with, and of the tag page it was laid out on.
constexpr QSize kClientSize(785, 525);
constexpr QSize kPageDesignSize(596, 221);

// Where Tahoma and Segoe UI are missing, fonts of similar width stand in, so the tool bar
// captions still fit their 55-pixel buttons.
QFont windowFont()
{
    QFont font;
    font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("Liberation Sans"),
                      QStringLiteral("Arial"), QStringLiteral("DejaVu Sans Condensed")});
    font.setPixelSize(11);
    return font;
}

QFont menuBarFont()
{
    QFont font;
    font.setFamilies({QStringLiteral("Segoe UI"), QStringLiteral("Liberation Sans"),
                      QStringLiteral("Arial"), QStringLiteral("DejaVu Sans")});
    font.setPixelSize(12);
    return font;
}

// The desktop theme's picture when it has one, ours otherwise. `files` are resource
// names of one picture in several sizes (16 for menus, 22 for the tool bar).
QIcon image(const char* themeName, std::initializer_list<const char*> files)
{
    QIcon own;
    for (const char* file : files)
        own.addFile(QStringLiteral(":/icons/") + QLatin1String(file));
    return QIcon::fromTheme(QLatin1String(themeName), own);
}

// A menu entry or button action that stands for `source` under its own caption and
// picture: it follows the source's enabled state and keys (and, where it has none of its
// own, its caption and picture) and triggers the source. Its keys are only shown: they
// answer where the entry itself has the focus, so they never compete with the source's.
QAction* follow(QAction* source, QObject* parent, const QString& caption = QString(),
                const QIcon& icon = QIcon())
{
    auto* entry = new QAction(parent);
    auto update = [entry, source, caption, icon] {
        entry->setText(caption.isEmpty() ? source->text() : caption);
        entry->setIcon(icon.isNull() ? source->icon() : icon);
        entry->setEnabled(source->isEnabled());
        entry->setShortcuts(source->shortcuts());
    };
    entry->setShortcutContext(Qt::WidgetShortcut);
    update();
    QObject::connect(source, &QAction::changed, entry, update);
    QObject::connect(entry, &QAction::triggered, source, &QAction::trigger);
    return entry;
}

// The hint with the action's key after it, as tool tips show keys.
QString hintWithKey(const QAction* action)
{
    const QKeySequence key = action->shortcut();
    if (key.isEmpty())
        return action->statusTip();
    return QStringLiteral("%1 (%2)").arg(action->statusTip(),
                                         key.toString(QKeySequence::NativeText));
}

// A push button that takes caption, hint and enabled state from an action.
void bindButton(QPushButton* button, QAction* action)
{
    auto update = [button, action] {
        button->setText(action->text());
        button->setToolTip(hintWithKey(action));
        button->setEnabled(action->isEnabled());
    };
    update();
    QObject::connect(action, &QAction::changed, button, update);
    QObject::connect(button, &QPushButton::clicked, action, &QAction::trigger);
}

// The row of TagFields whose edit control is named `editName`.
const TagField& fieldEditedIn(const char* editName)
{
    const auto* found =
        std::find_if(TagFields.begin(), TagFields.end(), [editName](const TagField& field) {
            return qstrcmp(field.editName, editName) == 0;
        });
    Q_ASSERT(found != TagFields.end());
    return *found;
}

} // namespace

TMainForm::TMainForm(QWidget* parent) : QMainWindow(parent)
{
    MainForm = this;
    initUiResources();
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("Corvane Tagora"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/tagora.png")));
    setFont(windowFont());

    createActions();
    createShortcuts();
    createMenus();
    createToolBar();
    createPanel();
    wireFileList();
    setTabOrder();
    nameForAssistiveTools();

    setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, kClientSize,
                                    screen()->availableGeometry()));

    runGuarded([this] { FormCreate(this); });
}

TMainForm::~TMainForm()
{
    runGuarded([this] { FormDestroy(this); });
    if (scanTarget() == this)
        setScanTarget(nullptr);
    if (MainForm == this)
        MainForm = nullptr;
}

void TMainForm::createActions()
{
    ActionManager1 = new QObject(this);
    ActionManager1->setObjectName(QStringLiteral("ActionManager1"));

    struct Row
    {
        QAction* TMainForm::*member;
        const char* name;
        const char* category;
        const char* caption;
        const char* hint;
        void (TMainForm::*execute)(QObject*);
    };
    const Row rows[] = {
        {&TMainForm::RefreshAction, "RefreshAction", "File", "Refresh", "Refresh Folder",
         &TMainForm::RefreshActionExecute},
        {&TMainForm::OptionsAction, "OptionsAction", "File", "Options", "",
         &TMainForm::OptionsActionExecute},
        {&TMainForm::ExitAction, "ExitAction", "File", "Exit", "Exit",
         &TMainForm::ExitActionExecute},
        {&TMainForm::PlayAction, "PlayAction", "", "Play", "Play", &TMainForm::PlayActionExecute},
        {&TMainForm::SaveTagAction, "SaveTagAction", "Action", "Save Tag",
         "Save tag inside audio file", &TMainForm::SaveTagActionExecute},
        {&TMainForm::RemoveTagAction, "RemoveTagAction", "Action", "Remove Tag",
         "Remove tag from audio file", &TMainForm::RemoveTagActionExecute},
        {&TMainForm::CopyTagAction, "CopyTagAction", "Action", "Copy Tag", "Copy tag to clipboard",
         &TMainForm::CopyTagActionExecute},
        {&TMainForm::PasteTagAction, "PasteTagAction", "Action", "Paste Tag",
         "Paste tag from clipboard", &TMainForm::PasteTagActionExecute},
        {&TMainForm::HelpAction, "HelpAction", "Help", "Help Content", "",
         &TMainForm::HelpActionExecute},
        {&TMainForm::websiteAction, "websiteAction", "Help", "Web site...", "",
         &TMainForm::websiteActionExecute},
        {&TMainForm::UpdateAction, "UpdateAction", "Help", "Check Updates...", "",
         &TMainForm::UpdateActionExecute},
        {&TMainForm::AboutAction, "AboutAction", "Help", "About", "",
         &TMainForm::AboutActionExecute},
        {&TMainForm::OndriskAction, "OndriskAction", "Tools", "Ondrisk", "",
         &TMainForm::OndriskActionExecute},
        {&TMainForm::PalvaneAction, "PalvaneAction", "Tools", "Palvane", "",
         &TMainForm::PalvaneActionExecute},
        {&TMainForm::QuorrelAction, "QuorrelAction", "Tools", "Quorrel", "",
         &TMainForm::QuorrelActionExecute},
        {&TMainForm::BrenlowAction, "BrenlowAction", "Tools", "Brenlow", "",
         &TMainForm::BrenlowActionExecute},
        {&TMainForm::TaskerinAction, "TaskerinAction", "Tools", "Taskerin", "",
         &TMainForm::TaskerinActionExecute},
        {&TMainForm::MirrowenAction, "MirrowenAction", "Tools", "Mirrowen", "",
         &TMainForm::MirrowenActionExecute},
    };
    for (const Row& row : rows) {
        auto* action = new QAction(QLatin1String(row.caption), ActionManager1);
        action->setObjectName(QLatin1String(row.name));
        action->setProperty("category", QString(QLatin1String(row.category)));
        action->setStatusTip(QLatin1String(row.hint));
        this->*row.member = action;
        const auto execute = row.execute;
        connect(action, &QAction::triggered, this,
                [this, action, execute] { runGuarded([&] { (this->*execute)(action); }); });
    }
    PlayAction->setIcon(image("media-playback-start", {"play-16.png", "play-22.png"}));
    RefreshAction->setIcon(image("view-refresh", {"refresh-16.png", "refresh-22.png"}));
}

void TMainForm::createShortcuts()
{
    // The actions live on the window, so their keys work wherever the focus is in it. Ctrl+C
    // and Ctrl+V stay the edit fields' own text copy and paste.
    const std::pair<QAction*, QList<QKeySequence>> keys[] = {
        {RefreshAction, {Qt::Key_F5}},
        {SaveTagAction, {Qt::CTRL | Qt::Key_S}},
        {CopyTagAction, {Qt::CTRL | Qt::SHIFT | Qt::Key_C}},
        {PasteTagAction, {Qt::CTRL | Qt::SHIFT | Qt::Key_V}},
        {RemoveTagAction, {Qt::CTRL | Qt::SHIFT | Qt::Key_Delete}},
        {PlayAction, {Qt::CTRL | Qt::Key_Return, Qt::CTRL | Qt::Key_Enter}},
        {HelpAction, {Qt::Key_F1}},
        {ExitAction, {Qt::CTRL | Qt::Key_Q}},
    };
    for (const auto& [action, sequences] : keys) {
        action->setShortcuts(sequences);
        addAction(action);
    }

    // Walking the list while the focus stays in a field, so a folder is tagged from the
    // keyboard one file after the other.
    NextRowAction = new QAction(this);
    NextRowAction->setObjectName(QStringLiteral("NextRowAction"));
    NextRowAction->setShortcut(Qt::ALT | Qt::Key_Down);
    connect(NextRowAction, &QAction::triggered, this, [this] { stepRow(+1); });
    PreviousRowAction = new QAction(this);
    PreviousRowAction->setObjectName(QStringLiteral("PreviousRowAction"));
    PreviousRowAction->setShortcut(Qt::ALT | Qt::Key_Up);
    connect(PreviousRowAction, &QAction::triggered, this, [this] { stepRow(-1); });
    addActions({NextRowAction, PreviousRowAction});
}

void TMainForm::stepRow(int step)
{
    const int current = files->currentRow();
    files->setCurrentRow(current < 0 ? 0 : current + step);
}

void TMainForm::createMenus()
{
    CoolBar1 = new QFrame(this);
    CoolBar1->setObjectName(QStringLiteral("CoolBar1"));
    auto* bands = new QVBoxLayout(CoolBar1);
    bands->setContentsMargins(2, 2, 0, 0);
    bands->setSpacing(2);

    ActionMainMenuBar1 = new QMenuBar(CoolBar1);
    ActionMainMenuBar1->setObjectName(QStringLiteral("ActionMainMenuBar1"));
    ActionMainMenuBar1->setFixedHeight(25);
    ActionMainMenuBar1->setFont(menuBarFont());
    QPalette palette = ActionMainMenuBar1->palette();
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(109, 109, 109));
    palette.setColor(QPalette::Disabled, QPalette::WindowText, QColor(109, 109, 109));
    palette.setColor(QPalette::Disabled, QPalette::Text, QColor(109, 109, 109));
    palette.setColor(QPalette::ButtonText, Qt::black);
    palette.setColor(QPalette::WindowText, Qt::black);
    palette.setColor(QPalette::Highlight, Qt::white);
    palette.setColor(QPalette::HighlightedText, Qt::black);
    ActionMainMenuBar1->setPalette(palette);
    bands->addWidget(ActionMainMenuBar1);

    struct Entry
    {
        QAction* action; // null: separator
        const char* caption;
    };
    auto addMenu = [this, &palette](const char* name, const char* title,
                                    std::initializer_list<Entry> entries) {
        QMenu* menu = ActionMainMenuBar1->addMenu(QLatin1String(title));
        menu->setObjectName(QLatin1String(name));
        menu->setFont(menuBarFont());
        menu->setPalette(palette);
        for (const Entry& entry : entries) {
            if (!entry.action)
                menu->addSeparator();
            else
                menu->addAction(follow(entry.action, menu, QLatin1String(entry.caption)));
        }
    };
    addMenu("FileMenu", "&File",
            {{RefreshAction, "&Refresh"},
             {OptionsAction, "&Options"},
             {nullptr, "-"},
             {ExitAction, "&Exit"}});
    addMenu("ActionMenu", "&Action",
            {{CopyTagAction, "&Copy Tag"},
             {PasteTagAction, "&Paste Tag"},
             {SaveTagAction, "&Save Tag"},
             {RemoveTagAction, "&Remove Tag"}});
    addMenu("ToolsMenu", "&Tools",
            {{OndriskAction, "&Ondrisk"},
             {PalvaneAction, "&Palvane"},
             {QuorrelAction, "&Quorrel"},
             {BrenlowAction, "&Brenlow"},
             {TaskerinAction, "&Taskerin"},
             {MirrowenAction, "&Mirrowen"}});
    addMenu("HelpMenu", "&Help",
            {{HelpAction, "&Help Content"},
             {websiteAction, "&Web site..."},
             {UpdateAction, "&Check Updates..."},
             {AboutAction, "&About"}});

    setMenuWidget(CoolBar1);
}

void TMainForm::createToolBar()
{
    ToolBar1 = new QToolBar(CoolBar1);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setMovable(false);
    ToolBar1->setFloatable(false);
    ToolBar1->setIconSize(QSize(22, 22));
    ToolBar1->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    ToolBar1->setFixedHeight(42);
    ToolBar1->setContentsMargins(0, 0, 0, 0);
    ToolBar1->setStyleSheet(
        QStringLiteral("QToolBar { spacing: 0px; padding: 0px; border: 0px; }"));
    static_cast<QVBoxLayout*>(CoolBar1->layout())->addWidget(ToolBar1);

    auto addButton = [this](const char* name, QAction* action) {
        auto* button = new QToolButton(ToolBar1);
        button->setObjectName(QLatin1String(name));
        button->setDefaultAction(action);
        button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        button->setIconSize(QSize(22, 22));
        button->setFixedSize(55, 42);
        // The tool bar's style sheet would otherwise drop the window's font families.
        button->setFont(windowFont());
        button->setAutoRaise(true);
        button->setFocusPolicy(Qt::NoFocus);
        // Only the five buttons of the tag page show hints.
        button->installEventFilter(this);
        ToolBar1->addWidget(button);
    };
    // Buttons that call a companion launcher directly, not through its action, so they
    // are never disabled with it.
    auto direct = [this](const char* caption, const QIcon& icon,
                         void (TMainForm::*handler)(QObject*)) {
        auto* action = new QAction(icon, QLatin1String(caption), ToolBar1);
        // The button shows the icon text, which would otherwise lose a leading blank.
        action->setIconText(QLatin1String(caption));
        connect(action, &QAction::triggered, this,
                [this, action, handler] { runGuarded([&] { (this->*handler)(action); }); });
        return action;
    };

    addButton("ToolButton1", PlayAction);
    addButton("ToolButton2", RefreshAction);
    addButton("ToolButton3",
              follow(CopyTagAction, ToolBar1, QString(), image("edit-copy", {"copytag-22.png"})));
    addButton("ToolButton4", follow(PasteTagAction, ToolBar1, QString(),
                                    image("edit-paste", {"pastetag-22.png"})));
    addButton("ToolButton5", follow(OptionsAction, ToolBar1, QString(),
                                    image("preferences-system", {"options-22.png"})));

    auto* separator = new QWidget(ToolBar1);
    separator->setObjectName(QStringLiteral("ToolButton6"));
    separator->setFixedSize(22, 42);
    auto* line = new QFrame(separator);
    line->setFrameShape(QFrame::VLine);
    line->setFrameShadow(QFrame::Sunken);
    line->setGeometry(10, 4, 2, 34);
    ToolBar1->addWidget(separator);

    addButton("ToolButton7",
              direct("Recording", image("audio-input-microphone", {"recording-22.png"}),
                     &TMainForm::OndriskActionExecute));
    addButton("ToolButton8", direct("Convert", image("document-export", {"convert-22.png"}),
                                    &TMainForm::PalvaneActionExecute));
    addButton("ToolButton10", direct("Edit Audio", image("audio-x-generic", {"editaudio-22.png"}),
                                     &TMainForm::MirrowenActionExecute));
    addButton("ToolButton11", direct(" Tempo", image("media-seek-forward", {"tempo-22.png"}),
                                     &TMainForm::QuorrelActionExecute));
}

void TMainForm::createPanel()
{
    Splitter1 = new QSplitter(Qt::Horizontal, this);
    Splitter1->setObjectName(QStringLiteral("Splitter1"));
    Splitter1->setHandleWidth(5);
    Splitter1->setChildrenCollapsible(false);
    Splitter1->setOpaqueResize(true);

    ShellTreeView1 = new FolderTree(Splitter1);
    ShellTreeView1->setObjectName(QStringLiteral("ShellTreeView1"));
    ShellTreeView1->setMinimumWidth(150);

    Panel1 = new QWidget(Splitter1);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setMinimumSize(470, 310);
    auto* column = new QVBoxLayout(Panel1);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    files = new FileList(Panel1);
    files->setObjectName(QStringLiteral("files"));
    files->setAlternatingRowColors(false);
    files->setContextMenuPolicy(Qt::CustomContextMenu);
    column->addWidget(files, 1);

    PopupActionBar1 = new QMenu(files);
    PopupActionBar1->setObjectName(QStringLiteral("PopupActionBar1"));
    Rename2 = follow(PlayAction, PopupActionBar1);
    Rename2->setObjectName(QStringLiteral("Rename2"));
    PopupActionBar1->addAction(Rename2);
    connect(files, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        PopupActionBar1->popup(files->viewport()->mapToGlobal(pos));
    });
    connect(files->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { runGuarded([this] { filesChange(files); }); });
    // Of the changes to rows, only those of the selected row concern the tag fields: rows
    // a running scan appends must not wipe what the user is typing.
    connect(files->model(), &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& topLeft, const QModelIndex& bottomRight) {
                const int selected = files->selectedRow();
                if (selected >= topLeft.row() && selected <= bottomRight.row() &&
                    !TagPanel->updatingRow())
                    runGuarded([this] { filesChange(files); });
            });
    files->viewport()->installEventFilter(this);

    PageControl1 = new QTabWidget(Panel1);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    PageControl1->setFixedHeight(249);
    column->addWidget(PageControl1);
    createTagPage();

    Splitter1->addWidget(ShellTreeView1);
    Splitter1->addWidget(Panel1);
    Splitter1->setStretchFactor(0, 0);
    Splitter1->setStretchFactor(1, 1);
    Splitter1->setSizes({176, kClientSize.width() - 176 - 5});
    setCentralWidget(Splitter1);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setFixedHeight(19);
    StatusPanel0 = new QLabel(StatusBar1);
    StatusPanel0->setObjectName(QStringLiteral("StatusPanel0"));
    StatusPanel0->setFixedWidth(200);
    StatusPanel1 = new QLabel(StatusBar1);
    StatusPanel1->setObjectName(QStringLiteral("StatusPanel1"));
    StatusPanel1->setFixedWidth(50);
    for (QLabel* panel : {StatusPanel0, StatusPanel1}) {
        panel->setFrameShape(QFrame::Panel);
        panel->setFrameShadow(QFrame::Sunken);
        StatusBar1->addWidget(panel);
    }
    setStatusBar(StatusBar1);
}

template <typename Control> Control* TMainForm::place(Control* control, QRect design, Anchor anchor)
{
    control->setGeometry(design);
    m_placements.append({control, design, anchor});
    return control;
}

void TMainForm::createTagPage()
{
    TabSheet1 = new QWidget(PageControl1);
    TabSheet1->setObjectName(QStringLiteral("TabSheet1"));
    PageControl1->addTab(TabSheet1, QStringLiteral(" Tag Info "));

    auto label = [this](const char* name, const QString& caption, int x, int rowTop) {
        auto* text = new QLabel(caption, TabSheet1);
        text->setObjectName(QLatin1String(name));
        // Labels sit on the text line of the field beside them.
        return place(text, QRect(QPoint(x, rowTop + 3), text->sizeHint()), Anchor::Left);
    };
    auto edit = [this](const TagField& field, int x, int rowTop, int width, Anchor anchor) {
        auto* text = new LimitedEdit(field.typingLimit, TabSheet1);
        text->setObjectName(QLatin1String(field.editName));
        return place(text, QRect(x, rowTop, width, 21), anchor);
    };
    auto button = [this](const char* name, int x, int width, Anchor anchor) {
        auto* push = new QPushButton(TabSheet1);
        push->setObjectName(QLatin1String(name));
        return place(push, QRect(x, 183, width, 25), anchor);
    };

    // Where each field of the tag stands at the page's design size, in the order they are
    // laid out: the label's left edge, the field's left edge, the row's top, the field's
    // width. Names, captions and typing limits come from the field's row in TagFields.
    struct FieldPlace
    {
        const char* editName;
        QLabel* TMainForm::*label;
        LimitedEdit* TMainForm::*edit;
        int labelX;
        int editX;
        int rowTop;
        int width;
        Anchor anchor;
    };
    const FieldPlace places[] = {
        {"TitleEdit", &TMainForm::TitleLabel, &TMainForm::TitleEdit, 16, 80, 16, 497,
         Anchor::Stretch},
        {"ArtistEdit", &TMainForm::ArtistLabel, &TMainForm::ArtistEdit, 16, 80, 44, 497,
         Anchor::Stretch},
        {"AlbumEdit", &TMainForm::AlbumLabel, &TMainForm::AlbumEdit, 16, 80, 72, 497,
         Anchor::Stretch},
        {"TrackEdit", &TMainForm::TrackLabel, &TMainForm::TrackEdit, 16, 80, 100, 50, Anchor::Left},
        {"YearEdit", &TMainForm::YearLabel, &TMainForm::YearEdit, 138, 170, 100, 50, Anchor::Left},
        {"BPMEdit", &TMainForm::Label1, &TMainForm::BPMEdit, 230, 265, 100, 50, Anchor::Left},
        {"KeyEdit", &TMainForm::Label2, &TMainForm::KeyEdit, 323, 355, 100, 50, Anchor::Left},
        {"GenreEdit", &TMainForm::GenreLabel, &TMainForm::GenreEdit, 415, 460, 100, 117,
         Anchor::Stretch},
        {"CommentEdit", &TMainForm::CommentLabel, &TMainForm::CommentEdit, 16, 80, 128, 497,
         Anchor::Stretch},
        {"CopyrightEdit", &TMainForm::CopyrightLabel, &TMainForm::CopyrightEdit, 16, 80, 156, 497,
         Anchor::Stretch},
    };
    for (const FieldPlace& at : places) {
        const TagField& field = fieldEditedIn(at.editName);
        this->*at.label = label(field.labelName, QLatin1String(field.name) + QLatin1Char(':'),
                                at.labelX, at.rowTop);
        this->*at.edit = edit(field, at.editX, at.rowTop, at.width, at.anchor);
    }

    Button1 = button("Button1", 421, 75, Anchor::Right);
    Button2 = button("Button2", 502, 76, Anchor::Right);
    Button3 = button("Button3", 80, 65, Anchor::Left);
    Button4 = button("Button4", 151, 65, Anchor::Left);
    Button5 = button("Button5", 222, 65, Anchor::Left);
    bindButton(Button1, SaveTagAction);
    bindButton(Button2, RemoveTagAction);
    bindButton(Button3, CopyTagAction);
    bindButton(Button4, PasteTagAction);
    Button5->setText(QStringLiteral("Clear"));
    Button5->setToolTip(QStringLiteral("Clear edit fields"));
    connect(Button5, &QPushButton::clicked, this,
            [this] { runGuarded([this] { Button5Click(Button5); }); });

    TabSheet1->installEventFilter(this);
    TagPanel = new TagEditorPanel(*files, *ShellTreeView1, *TabSheet1);
}

void TMainForm::nameForAssistiveTools()
{
    // A screen reader announces a field by its label's text; the labels carry no access
    // letters, so the buddy only ties the two together for assistive tools.
    for (const TagField& field : TagFields) {
        auto* label = TabSheet1->findChild<QLabel*>(QLatin1String(field.labelName));
        auto* edit = TabSheet1->findChild<LimitedEdit*>(QLatin1String(field.editName));
        if (!label || !edit)
            continue; // a field the page does not show
        label->setBuddy(edit);
        edit->setAccessibleName(QLatin1String(field.name));
    }
    ShellTreeView1->setAccessibleName(QStringLiteral("Folders"));
    files->setAccessibleName(QStringLiteral("Files"));
    ActionMainMenuBar1->setAccessibleName(QStringLiteral("Main menu"));
    ToolBar1->setAccessibleName(QStringLiteral("Tool bar"));
    StatusBar1->setAccessibleName(QStringLiteral("Status bar"));
}

void TMainForm::placeTagPage()
{
    // The page was laid out at its design size; stretching fields keep their left edge and
    // their distance from the right edge, right-hand buttons keep that distance alone.
    const int grow = TabSheet1->width() - kPageDesignSize.width();
    for (const Placement& p : m_placements) {
        QRect r = p.design;
        if (p.anchor == Anchor::Stretch)
            r.setWidth(qMax(0, r.width() + grow));
        else if (p.anchor == Anchor::Right)
            r.moveLeft(r.left() + grow);
        p.widget->setGeometry(r);
    }
}

void TMainForm::setTabOrder()
{
    // The list and the tag page come before the folder tree; on the page BPM and Key come
    // after the buttons.
    const QList<QWidget*> order = {
        files,    PageControl1, TitleEdit,   ArtistEdit,    AlbumEdit, TrackEdit,
        YearEdit, GenreEdit,    CommentEdit, CopyrightEdit, Button1,   Button2,
        Button3,  Button4,      Button5,     BPMEdit,       KeyEdit,   ShellTreeView1};
    for (int i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order.at(i - 1), order.at(i));
    Splitter1->setFocusPolicy(Qt::NoFocus);
    ActionMainMenuBar1->setFocusPolicy(Qt::NoFocus);
    ToolBar1->setFocusPolicy(Qt::NoFocus);
}

bool TMainForm::event(QEvent* e)
{
    // Hints are not echoed in the status bar; its panels belong to the scan.
    if (e->type() == QEvent::StatusTip)
        return true;
    return QMainWindow::event(e);
}

bool TMainForm::eventFilter(QObject* watched, QEvent* e)
{
    if (watched == TabSheet1 && e->type() == QEvent::Resize) {
        placeTagPage();
    } else if (e->type() == QEvent::ToolTip && qobject_cast<QToolButton*>(watched)) {
        return true;
    } else if (files && watched == files->viewport() &&
               (e->type() == QEvent::MouseButtonRelease ||
                e->type() == QEvent::MouseButtonDblClick) &&
               static_cast<QMouseEvent*>(e)->button() == Qt::LeftButton) {
        // A double click is a click followed by the double click; the release that ends
        // it is no further click.
        if (e->type() == QEvent::MouseButtonDblClick) {
            m_endingDoubleClick = true;
            runGuarded([this] { filesDblClick(files); });
        } else if (!std::exchange(m_endingDoubleClick, false)) {
            runGuarded([this] { filesClick(files); });
        }
    }
    return QMainWindow::eventFilter(watched, e);
}

void TMainForm::showEvent(QShowEvent* e)
{
    QMainWindow::showEvent(e);
    if (!e->spontaneous())
        runGuarded([this] { FormShow(this); });
}

void TMainForm::ClearAll()
{
    TagPanel->clearFields();
}

void TMainForm::enablecontrols(bool Value)
{
    PlayAction->setEnabled(Value);
    SaveTagAction->setEnabled(Value);
    RemoveTagAction->setEnabled(Value);
    CopyTagAction->setEnabled(Value);
    PasteTagAction->setEnabled(Value);
    Button5->setEnabled(Value);
}

void TMainForm::validatecontrols()
{
    enablecontrols(files->selectedRow() >= 0);
}

void TMainForm::OptionsActionExecute(QObject*)
{
    if (!settingsForm)
        return;
    settingsForm->show();
    settingsForm->raise();
    settingsForm->activateWindow();
}

void TMainForm::ExitActionExecute(QObject*)
{
    close();
}

} // namespace tagora
