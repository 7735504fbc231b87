#include "app/main_form.h"

#include "browse/address_combo_box.h"
#include "browse/browser_control.h"
#include "browse/load_wait.h"
#include "capture/preview_form.h"
#include "capture/run_watch.h"
#include "core/error_guard.h"
#include "settings/timer.h"
#include "ui/directory_edit.h"
#include "ui/elided_label.h"
#include "ui/icons.h"
#include "ui/paint_box.h"
#include "ui/progress_bar.h"
#include "ui/spin_edit_item.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDockWidget>
#include <QFocusEvent>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QScreen>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWindow>

namespace framelog {

namespace {

template <class T> T *named(T *object, const char *name)
{
    object->setObjectName(QLatin1String(name));
    return object;
}

// Runs a handler on a Qt signal, inside the error guard.
template <class Sender, class Signal, class Handler>
void on(Sender *sender, Signal signal, QObject *context, Handler handler)
{
    QObject::connect(sender, signal, context,
                     [handler](auto &&...args) { guarded([&] { handler(args...); }); });
}

QLabel *sectionHeading(const QString &text, const char *name)
{
    auto *label = named(new QLabel(text), name);
    QFont font = label->font();
    font.setBold(true);
    font.setUnderline(true);
    label->setFont(font);
    label->setContentsMargins(4, 6, 4, 2);
    label->setFixedHeight(22);
    return label;
}

// A group of rows with the settings panel's inner margins.
QWidget *alignmentPanel(const char *name, QGridLayout *&grid)
{
    auto *panel = named(new QWidget, name);
    grid = new QGridLayout(panel);
    grid->setContentsMargins(16, 8, 8, 8);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(4);
    grid->setColumnMinimumWidth(0, 90);
    grid->setColumnStretch(1, 1);
    return panel;
}

void setUpIntervalField(TTBXSpinEditItem *field, int decimals, long double increment,
                        long double min, long double max, const QString &unit, long double value)
{
    field->setValueType(SpinValueType::evtFloat);
    field->setDecimal(decimals);
    field->setIncrement(increment);
    field->setMinValue(min);
    field->setMaxValue(max);
    field->setPostfix(unit);
    field->setSpaceBeforePostfix(true);
    field->setValue(value);
}

QAction *item(QObject *parent, const char *name, const QString &caption,
              const QIcon &icon = QIcon())
{
    auto *action = named(new QAction(icon, caption, parent), name);
    return action;
}

} // namespace

TMainForm::TMainForm(TBrowserControl *browser, QWidget *parent)
    : QMainWindow(parent), WebBrowser(browser)
{
    setObjectName(QStringLiteral("MainForm"));
    WebBrowser->setParent(this);
    setWindowTitle(kApplicationTitle);
    setWindowIcon(applicationIcon());
    setGeometry(344, 120, 789, 543);

    createImageLists();
    createMenus();
    createToolbars();
    createSettingsPanel();
    createStatusBar();
    createBrowserArea();
    createTimers();
    connectHandlers();

    // Key preview: key releases anywhere in the window reach FormKeyUp.
    qApp->installEventFilter(this);

    guarded([this] { FormCreate(); });
}

TMainForm::~TMainForm()
{
    qApp->removeEventFilter(this);
}

void TMainForm::setPreviewForm(TPreviewForm *preview)
{
    m_preview = preview;
    if (m_preview) {
        // Closing the window only unchecks the item: no click, no capture.
        m_preview->OnClose = [self = QPointer<TMainForm>(this)] {
            if (self) {
                const QSignalBlocker quiet(self->ViewPreviewTBXItem);
                self->ViewPreviewTBXItem->setChecked(false);
            }
        };
    }
}

void TMainForm::createImageLists()
{
    ImageList1 = standardToolbarIcons();
    GoButtonImages = {goButtonIcon(), QIcon()};
}

void TMainForm::createMenus()
{
    TBXToolbar1 = named(new QMenuBar(this), "TBXToolbar1");
    TBXToolbar1->setAccessibleName(tr("Menu bar"));
    setMenuBar(TBXToolbar1);

    FileMenu = named(TBXToolbar1->addMenu(tr("&File")), "FileMenu");
    FileWorkOfflineTBXItem = item(this, "FileWorkOfflineTBXItem", tr("Work Offline"));
    FileWorkOfflineTBXItem->setCheckable(true);
    FileMenu->addAction(FileWorkOfflineTBXItem);
    FileMenu->addSeparator();
    TBXItem2 = item(this, "TBXItem2", tr("E&xit"));
    TBXItem2->setShortcut(QKeySequence(Qt::ALT | Qt::Key_F4));
    FileMenu->addAction(TBXItem2);

    ViewMenu = named(TBXToolbar1->addMenu(tr("&View")), "ViewMenu");
    ViewGoToTBXSubmenuItem = named(ViewMenu->addMenu(tr("G&o To")), "ViewGoToTBXSubmenuItem");
    ViewGoToBackTBXItem = item(this, "ViewGoToBackTBXItem", tr("&Back"), ImageList1[0]);
    ViewGoToBackTBXItem->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Left));
    ViewGoToForwardTBXItem = item(this, "ViewGoToForwardTBXItem", tr("&Forward"), ImageList1[1]);
    ViewGoToForwardTBXItem->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Right));
    ViewGoToHomeTBXItem = item(this, "ViewGoToHomeTBXItem", tr("&Home Page"), ImageList1[4]);
    ViewGoToHomeTBXItem->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Home));
    ViewGoToTBXSubmenuItem->addAction(ViewGoToBackTBXItem);
    ViewGoToTBXSubmenuItem->addAction(ViewGoToForwardTBXItem);
    ViewGoToTBXSubmenuItem->addSeparator();
    ViewGoToTBXSubmenuItem->addAction(ViewGoToHomeTBXItem);

    ViewStopTBXItem = item(this, "ViewStopTBXItem", tr("Stop"), ImageList1[2]);
    ViewStopTBXItem->setShortcut(QKeySequence(Qt::Key_Escape));
    ViewRefreshTBXItem = item(this, "ViewRefreshTBXItem", tr("Refresh"), ImageList1[3]);
    ViewRefreshTBXItem->setShortcut(QKeySequence(Qt::Key_F5));
    ViewMenu->addAction(ViewStopTBXItem);
    ViewMenu->addAction(ViewRefreshTBXItem);
    ViewMenu->addSeparator();
    ViewPreviewTBXItem = item(this, "ViewPreviewTBXItem", tr("Preview"));
    ViewPreviewTBXItem->setCheckable(true);
    ViewMenu->addAction(ViewPreviewTBXItem);
    ViewMenu->addSeparator();
    TBXSubmenuItem3 = named(ViewMenu->addMenu(tr("Toolbars")), "TBXSubmenuItem3");
    // The visibility toggles are added once the toolbars and status bar exist.

    HelpMenu = named(TBXToolbar1->addMenu(tr("&Help")), "HelpMenu");
    TBXItem3 = item(this, "TBXItem3", tr("&About..."));
    HelpMenu->addAction(TBXItem3);
}

void TMainForm::createToolbars()
{
    StandardToolbar = named(new QToolBar(tr("Standard"), this), "StandardToolbar");
    StandardToolbar->setAllowedAreas(Qt::AllToolBarAreas);
    StandardToolbar->setIconSize(QSize(16, 16));
    addToolBar(Qt::TopToolBarArea, StandardToolbar);

    auto addButton = [this](const char *name, const QString &caption, int image, bool withText) {
        QAction *action = item(this, name, caption, ImageList1[image]);
        StandardToolbar->addAction(action);
        if (withText) {
            if (auto *button =
                    qobject_cast<QToolButton *>(StandardToolbar->widgetForAction(action)))
                button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        }
        return action;
    };
    BackTBXItem = addButton("BackTBXItem", tr("Back"), 0, true);
    ForwardTBXItem = addButton("ForwardTBXItem", tr("Forward"), 1, false);
    StopTBXItem = addButton("StopTBXItem", tr("Stop"), 2, false);
    RefreshTBXItem = addButton("RefreshTBXItem", tr("Refresh"), 3, false);
    HomeTBXItem = addButton("HomeTBXItem", tr("Home"), 4, false);
    TBXSeparatorItem5 = named(StandardToolbar->addSeparator(), "TBXSeparatorItem5");
    // The toggles are created checkable before they join the toolbar, so the
    // toolbar's buttons show them as checkable.
    SelectAreaTBXItem = item(this, "SelectAreaTBXItem", tr("Area"), ImageList1[5]);
    SelectAreaTBXItem->setCheckable(true);
    CaptureTBXItem = item(this, "CaptureTBXItem", tr("Capture"), ImageList1[6]);
    CaptureTBXItem->setCheckable(true);
    for (QAction *toggle : {SelectAreaTBXItem, CaptureTBXItem}) {
        StandardToolbar->addAction(toggle);
        if (auto *button = qobject_cast<QToolButton *>(StandardToolbar->widgetForAction(toggle)))
            button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    }
    TBXItem1 = addButton("TBXItem1", tr("Browse"), 7, false);

    addToolBarBreak(Qt::TopToolBarArea);
    AddressToolbar = named(new QToolBar(tr("Address Bar"), this), "AddressToolbar");
    AddressToolbar->setAllowedAreas(Qt::TopToolBarArea | Qt::BottomToolBarArea);
    AddressToolbar->setIconSize(QSize(20, 20));
    addToolBar(Qt::TopToolBarArea, AddressToolbar);
    TBXLabelItem1 = named(new QLabel(tr(" Address ")), "TBXLabelItem1");
    AddressToolbar->addWidget(TBXLabelItem1);
    AddressComboBoxItem = named(new TAddressComboBox, "AddressComboBoxItem");
    AddressComboBoxItem->setText(QStringLiteral("http://webcam.framelog.example/live.html"));
    for (const char *entry : {"line 1", "the line 2", "this is line 3"})
        AddressComboBoxItem->appendItem(QLatin1String(entry));
    AddressComboBoxItem->setAccessibleName(tr("Address"));
    AddressComboBoxItem->lineEdit()->setAccessibleName(tr("Address"));
    TBXLabelItem1->setBuddy(AddressComboBoxItem);
    AddressToolbar->addWidget(AddressComboBoxItem);
    GoTBXItem = item(this, "GoTBXItem", tr("Go"), GoButtonImages[0]);
    AddressToolbar->addAction(GoTBXItem);
    if (auto *button = qobject_cast<QToolButton *>(AddressToolbar->widgetForAction(GoTBXItem)))
        button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);

    ViewToolbarsAddressBarTBXVisibilityToggleItem = AddressToolbar->toggleViewAction();
    ViewToolbarsAddressBarTBXVisibilityToggleItem->setObjectName(
        QStringLiteral("ViewToolbarsAddressBarTBXVisibilityToggleItem"));
    ViewToolbarsAddressBarTBXVisibilityToggleItem->setText(tr("&Address Bar"));
    ViewToolbarsStandardTBXVisibilityToggleItem = StandardToolbar->toggleViewAction();
    ViewToolbarsStandardTBXVisibilityToggleItem->setObjectName(
        QStringLiteral("ViewToolbarsStandardTBXVisibilityToggleItem"));
    ViewToolbarsStandardTBXVisibilityToggleItem->setText(tr("&Standard"));
    TBXSubmenuItem3->addAction(ViewToolbarsAddressBarTBXVisibilityToggleItem);
    TBXSubmenuItem3->addAction(ViewToolbarsStandardTBXVisibilityToggleItem);
}

void TMainForm::createSettingsPanel()
{
    SettingsDockablePanel = named(new QDockWidget(tr("Settings"), this), "SettingsDockablePanel");
    SettingsDockablePanel->setAllowedAreas(Qt::LeftDockWidgetArea | Qt::RightDockWidgetArea);
    SettingsDockablePanel->setFeatures(QDockWidget::DockWidgetClosable |
                                       QDockWidget::DockWidgetMovable |
                                       QDockWidget::DockWidgetFloatable);
    SettingsPageScroller = named(new QScrollArea, "SettingsPageScroller");
    SettingsPageScroller->setWidgetResizable(true);
    SettingsPageScroller->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    SettingsPageScroller->setFrameShape(QFrame::NoFrame);
    // Tab goes through the controls, and the scroller follows the focus; as a
    // stop of its own it would be a nameless pane.
    SettingsPageScroller->setFocusPolicy(Qt::NoFocus);
    SettingsPageScroller->setAccessibleName(tr("Settings"));

    auto *content = named(new QWidget, "SettingsContent");
    auto *column = new QVBoxLayout(content);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    // Saving
    NewOpenSpecificationTBXLabel = sectionHeading(tr("Saving"), "NewOpenSpecificationTBXLabel");
    column->addWidget(NewOpenSpecificationTBXLabel);
    QGridLayout *saving = nullptr;
    TBXAlignmentPanel4 = alignmentPanel("TBXAlignmentPanel4", saving);
    Label1 = named(new QLabel(tr("Filename format:")), "Label1");
    FileNameEdit = named(new TDirectoryEdit, "FileNameEdit");
    FileNameEdit->setText(QStringLiteral("img%time%.jpg"));
    Label1->setBuddy(FileNameEdit);
    Label5 = named(new QLabel(QStringLiteral("Label5")), "Label5");
    Label5->setTextFormat(Qt::PlainText);
    Label5->setContentsMargins(12, 0, 0, 0);
    Label5->setTextInteractionFlags(Qt::TextSelectableByMouse);
    Label2 = named(new QLabel(placeholderTokenLegend()), "Label2");
    Label4 = named(new QLabel(placeholderMeaningLegend()), "Label4");
    for (QLabel *legend : {Label2, Label4}) {
        legend->setTextFormat(Qt::PlainText);
        legend->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    }
    saving->addWidget(Label1, 0, 0);
    saving->addWidget(FileNameEdit, 0, 1);
    saving->addWidget(Label5, 1, 0, 1, 2);
    saving->addWidget(Label2, 2, 0);
    saving->addWidget(Label4, 2, 1);
    column->addWidget(TBXAlignmentPanel4);

    TBXCheckBox2 = named(new QCheckBox(tr("Overwrite existing files")), "TBXCheckBox2");
    TBXCheckBox2->setChecked(true);
    auto *overwriteRow = new QWidget;
    auto *overwriteLayout = new QHBoxLayout(overwriteRow);
    overwriteLayout->setContentsMargins(16, 0, 0, 4);
    overwriteLayout->addWidget(TBXCheckBox2);
    column->addWidget(overwriteRow);

    // Update
    TBXLabel1 = sectionHeading(tr("Update"), "TBXLabel1");
    column->addWidget(TBXLabel1);
    QGridLayout *update = nullptr;
    TBXAlignmentPanel1 = alignmentPanel("TBXAlignmentPanel1", update);
    Label3 = named(new QLabel(tr("Take picture every")), "Label3");
    TBXToolbar3 = named(new QWidget, "TBXToolbar3");
    TBXSpinEditItem2 = named(new TTBXSpinEditItem(TBXToolbar3), "TBXSpinEditItem2");
    setUpIntervalField(TBXSpinEditItem2, 1, 0.1L, 0.1L, 30.0L, QStringLiteral("s"), 1.0L);
    Label3->setBuddy(TBXSpinEditItem2);
    TBXCheckBox1 = named(new QCheckBox(tr("Reload every")), "TBXCheckBox1");
    TBXCheckBox1->setChecked(true);
    TBXToolbar2 = named(new QWidget, "TBXToolbar2");
    TBXSpinEditItem1 = named(new TTBXSpinEditItem(TBXToolbar2), "TBXSpinEditItem1");
    setUpIntervalField(TBXSpinEditItem1, 2, 1.0L, 0.167L, 1440.0L, QStringLiteral("min"), 45.0L);
    // Named by the check box beside it, which switches it; the label above is
    // the other field's buddy.
    TBXSpinEditItem1->setAccessibleLabel(TBXCheckBox1);
    TBXSpinEditItem2->setAccessibleDescription(tr("Interval in seconds"));
    TBXSpinEditItem1->setAccessibleDescription(tr("Interval in minutes"));
    for (auto [host, field] :
         {std::pair{TBXToolbar3, TBXSpinEditItem2}, std::pair{TBXToolbar2, TBXSpinEditItem1}}) {
        auto *hostLayout = new QHBoxLayout(host);
        hostLayout->setContentsMargins(0, 0, 0, 0);
        hostLayout->addWidget(field);
        host->setMinimumSize(72, 21);
    }
    update->addWidget(Label3, 0, 0);
    update->addWidget(TBXToolbar3, 0, 1, Qt::AlignLeft);
    update->addWidget(TBXCheckBox1, 1, 0);
    update->addWidget(TBXToolbar2, 1, 1, Qt::AlignLeft);
    column->addWidget(TBXAlignmentPanel1);

    // Miscellaneous
    TBXLabel2 = sectionHeading(tr("Miscellaneous"), "TBXLabel2");
    column->addWidget(TBXLabel2);
    StayOnTopTBXCheckBox = named(new QCheckBox(tr("Stay on top")), "StayOnTopTBXCheckBox");
    AllowPopupsTBXCheckBox = named(new QCheckBox(tr("Allow popups")), "AllowPopupsTBXCheckBox");
    AllowPopupsTBXCheckBox->setChecked(true);
    auto *misc = new QWidget;
    auto *miscLayout = new QVBoxLayout(misc);
    miscLayout->setContentsMargins(16, 4, 0, 4);
    miscLayout->setSpacing(2);
    miscLayout->addWidget(StayOnTopTBXCheckBox);
    miscLayout->addWidget(AllowPopupsTBXCheckBox);
    column->addWidget(misc);
    column->addStretch(1);

    SettingsPageScroller->setWidget(content);
    SettingsDockablePanel->setWidget(SettingsPageScroller);
    addDockWidget(Qt::RightDockWidgetArea, SettingsDockablePanel);
    resizeDocks({SettingsDockablePanel}, {255}, Qt::Horizontal);
}

void TMainForm::createStatusBar()
{
    StatusBar = named(new QStatusBar(this), "StatusBar");
    StatusBar->setSizeGripEnabled(true);
    setStatusBar(StatusBar);
    StatusBar->setAccessibleName(tr("Status bar"));
    // Panel 0 reads as its text; the description says what it is.
    StatusPanel0 = named(new ElidedLabel, "StatusPanel0");
    StatusPanel0->setFullText(tr("Done"));
    StatusPanel0->setAccessibleDescription(tr("Status"));
    StatusBar->addWidget(StatusPanel0, 1);
    ProgressBar = named(new TProgressBar, "ProgressBar");
    ProgressBar->setRange(0, 100);
    ProgressBar->setValue(50);
    ProgressBar->setFixedWidth(100);
    ProgressBar->setMaximumHeight(16);
    ProgressBar->setAccessibleName(tr("Page loading progress"));
    StatusBar->addPermanentWidget(ProgressBar);
    StatusPanel2 = named(new QLabel, "StatusPanel2");
    StatusPanel2->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    StatusPanel2->setFixedWidth(50);
    StatusPanel2->setAccessibleName(tr("Empty status panel"));
    StatusBar->addPermanentWidget(StatusPanel2);

    TBXVisibilityToggleItem1 = item(this, "TBXVisibilityToggleItem1", tr("&Statusbar"));
    TBXVisibilityToggleItem1->setCheckable(true);
    TBXVisibilityToggleItem1->setChecked(true);
    connect(TBXVisibilityToggleItem1, &QAction::toggled, StatusBar, &QWidget::setVisible);
    ViewMenu->addAction(TBXVisibilityToggleItem1);
}

void TMainForm::createBrowserArea()
{
    BrowserArea = named(new QWidget(this), "BrowserArea");
    auto *stack = new QGridLayout(BrowserArea);
    stack->setContentsMargins(0, 0, 0, 0);

    SelectAreaPanel = named(new QWidget, "SelectAreaPanel");
    SelectAreaPanel->setAutoFillBackground(true);
    auto *panelLayout = new QVBoxLayout(SelectAreaPanel);
    panelLayout->setContentsMargins(0, 0, 0, 0);
    SelectAreaPaintBox = named(new TPaintBox, "SelectAreaPaintBox");
    SelectAreaPaintBox->setAccessibleName(tr("Area selection"));
    SelectAreaPaintBox->setAccessibleDescription(
        tr("A still picture of the page: drag with the left mouse button to mark the area "
           "that captures take; a click clears it.") +
        QLatin1Char(' ') + TPaintBox::keyboardHelp());
    panelLayout->addWidget(SelectAreaPaintBox);

    // Both fill the same cell; only their z-order decides which is seen.
    stack->addWidget(SelectAreaPanel, 0, 0);
    stack->addWidget(WebBrowser->widget(), 0, 0);
    WebBrowser->widget()->setObjectName(QStringLiteral("WebBrowser"));
    if (WebBrowser->widget()->accessibleName().isEmpty())
        WebBrowser->widget()->setAccessibleName(tr("Web page"));
    SelectAreaPanel->lower();
    WebBrowser->widget()->raise();
    setCentralWidget(BrowserArea);
}

void TMainForm::createTimers()
{
    PageTimer = named(new TTimer(this), "PageTimer");
    PictureTimer = named(new TTimer(this), "PictureTimer");
    PictureTimer->setEnabled(false);
    PageTimer->setOnTimer([this](TTimer *) { PageTimerTimer(); });
    PictureTimer->setOnTimer([this](TTimer *) { PictureTimerTimer(); });
}

namespace {

// Reports every mouse-button press on the Address Bar to the window before the
// press acts: on the label, the handle and free space of the bar, Go, and the
// face of the address field while no edit is open. It watches the bar and every
// widget on it, and never consumes a press.
class AddressBarPresses : public QObject {
public:
    explicit AddressBarPresses(TMainForm *form)
        : QObject(form), m_form(form), m_field(form->AddressComboBoxItem)
    {
        QToolBar *bar = form->AddressToolbar;
        bar->installEventFilter(this);
        for (QWidget *widget : bar->findChildren<QWidget *>())
            widget->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        // Focus changes also come while the window is taken down: nothing of
        // it but the field (watched over) is touched before a press.
        if ((event->type() != QEvent::MouseButtonPress && event->type() != QEvent::FocusIn) ||
            !watched->isWidgetType() || !m_field)
            return false;
        TAddressComboBox *field = m_field;
        // A click into the field gives it the focus, and that begins an edit,
        // before the press itself arrives: that press came while no edit was
        // open.
        if (event->type() == QEvent::FocusIn) {
            if (static_cast<QFocusEvent *>(event)->reason() == Qt::MouseFocusReason &&
                (watched == field || field->isAncestorOf(static_cast<QWidget *>(watched))))
                m_focusedByPress = !field->isEditing();
            return false;
        }
        const bool editOpenBefore = field->isEditing() && !m_focusedByPress;
        m_focusedByPress = false;
        auto *widget = static_cast<QWidget *>(watched);
        auto *press = static_cast<QMouseEvent *>(event);
        const QPoint pos = press->position().toPoint();
        QToolBar *bar = m_form->AddressToolbar;
        // The drop-down list and the overflow menu are windows of their own.
        if (widget->window() != bar->window())
            return false;
        // A press that a child leaves unused travels on to its parent; it was
        // reported where it landed.
        if (widget->childAt(pos))
            return false;
        // Inside an open edit a press belongs to the typing.
        if (editOpenBefore && (widget == field || field->isAncestorOf(widget)))
            return false;
        const QPoint at = widget->mapTo(bar, pos);
        guarded([&] {
            m_form->AddressToolbarMouseDown(press->button(), press->modifiers(), at.x(), at.y());
        });
        return false;
    }

private:
    TMainForm *m_form;
    QPointer<TAddressComboBox> m_field;
    bool m_focusedByPress = false;
};

} // namespace

void TMainForm::connectHandlers()
{
    // A checkable item's handler follows its check state: a click toggles it,
    // and so does assistive technology's "Toggle", which emits no trigger.
    // Where the window itself changes the state, it blocks the signal.
    auto click = [this](QAction *action, void (TMainForm::*handler)()) {
        if (action->isCheckable())
            on(action, &QAction::toggled, this, [this, handler](bool) { (this->*handler)(); });
        else
            on(action, &QAction::triggered, this, [this, handler](bool) { (this->*handler)(); });
    };
    click(TBXItem2, &TMainForm::TBXItem2Click);
    click(TBXItem3, &TMainForm::TBXItem3Click);
    click(GoTBXItem, &TMainForm::GoTBXItemClick);
    click(BackTBXItem, &TMainForm::BackTBXItemClick);
    click(ViewGoToBackTBXItem, &TMainForm::BackTBXItemClick);
    click(ForwardTBXItem, &TMainForm::ForwardTBXItemClick);
    click(ViewGoToForwardTBXItem, &TMainForm::ForwardTBXItemClick);
    click(StopTBXItem, &TMainForm::StopTBXItemClick);
    click(ViewStopTBXItem, &TMainForm::StopTBXItemClick);
    click(RefreshTBXItem, &TMainForm::RefreshTBXItemClick);
    click(ViewRefreshTBXItem, &TMainForm::RefreshTBXItemClick);
    click(HomeTBXItem, &TMainForm::HomeTBXItemClick);
    click(ViewGoToHomeTBXItem, &TMainForm::HomeTBXItemClick);
    click(FileWorkOfflineTBXItem, &TMainForm::FileWorkOfflineTBXItemClick);
    click(SelectAreaTBXItem, &TMainForm::SelectAreaTBXItemClick);
    click(CaptureTBXItem, &TMainForm::CaptureTBXItemClick);
    click(TBXItem1, &TMainForm::TBXItem1Click);
    click(ViewPreviewTBXItem, &TMainForm::ViewPreviewTBXItemClick);

    on(StayOnTopTBXCheckBox, &QCheckBox::toggled, this,
       [this](bool) { StayOnTopTBXCheckBoxChange(); });
    on(TBXCheckBox1, &QCheckBox::toggled, this, [this](bool) { TBXCheckBox1Change(); });

    on(WebBrowser, &TBrowserControl::StatusTextChange, this,
       [this](const QString &text) { WebBrowserStatusTextChange(text); });
    on(WebBrowser, &TBrowserControl::ProgressChange, this,
       [this](int progress, int max) { WebBrowserProgressChange(progress, max); });
    on(WebBrowser, &TBrowserControl::CommandStateChange, this,
       [this](int command, bool enable) { WebBrowserCommandStateChange(command, enable); });
    on(WebBrowser, &TBrowserControl::NavigateComplete2, this,
       [this](const QString &url) { WebBrowserNavigateComplete2(url); });
    connect(WebBrowser, &TBrowserControl::NewWindow2, this,
            [this](bool &cancel) { guarded([&] { WebBrowserNewWindow2(cancel); }); });
    connect(WebBrowser, &TBrowserControl::AuthenticationRequired, this,
            [this](AuthChallenge &challenge) {
                guarded([&] { WebBrowserAuthenticationRequired(challenge); });
            });
    connect(WebBrowser, &TBrowserControl::CertificateError, this,
            [this](const CertificateFacts &facts, bool &accept) {
                guarded([&] { WebBrowserCertificateError(facts, accept); });
            });

    for (TTBXSpinEditItem *field : {TBXSpinEditItem2, TBXSpinEditItem1}) {
        field->OnConvert = [this](TTBXSpinEditItem *sender, const QString &prefix,
                                  const QString &postfix, long double &value, bool &canConvert) {
            TBXSpinEditItem2Convert(sender, prefix, postfix, value, canConvert);
        };
    }
    connect(TBXSpinEditItem2, &TTBXSpinEditItem::valueCommitted, this,
            &TMainForm::TBXSpinEditItem2Change);
    connect(TBXSpinEditItem1, &TTBXSpinEditItem::valueCommitted, this,
            &TMainForm::TBXSpinEditItem1Change);

    AddressComboBoxItem->OnBeginEdit = [this] { AddressComboBoxItemBeginEdit(); };
    AddressComboBoxItem->OnAcceptText = [this](const QString &text, bool &accept) {
        AddressComboBoxItemAcceptText(text, accept);
    };
    AddressComboBoxItem->OnChange = [this] { AddressComboBoxItemChange(); };

    FileNameEdit->OnChange = [this](QObject *) { FileNameEditChange(); };
    FileNameEdit->OnBeforeDialog = [this](QObject *, QString &name, bool &action) {
        FileNameEditBeforeDialog(name, action);
    };
    FileNameEdit->OnAfterDialog = [this](QObject *, QString &name, bool &action) {
        FileNameEditAfterDialog(name, action);
    };

    SelectAreaPaintBox->OnPaint = [this](TPaintBox *, QPainter &p) { SelectAreaPaintBoxPaint(p); };
    SelectAreaPaintBox->OnMouseDown = [this](TPaintBox *, Qt::MouseButton b,
                                             Qt::KeyboardModifiers s, int x,
                                             int y) { SelectAreaPaintBoxMouseDown(b, s, x, y); };
    SelectAreaPaintBox->OnMouseMove = [this](TPaintBox *, Qt::KeyboardModifiers s, int x, int y) {
        SelectAreaPaintBoxMouseMove(s, x, y);
    };
    SelectAreaPaintBox->OnMouseUp = [this](TPaintBox *, Qt::MouseButton b, Qt::KeyboardModifiers s,
                                           int x, int y) { SelectAreaPaintBoxMouseUp(b, s, x, y); };

    // A press on the Address Bar sets the title before it acts.
    new AddressBarPresses(this);
}

namespace {

// Keys typed in a floating toolbar or dock of the window are the window's too,
// as Qt's window shortcuts take them.
bool isPartOf(const QWidget *window, const QWidget *form)
{
    return window == form || (window->windowType() == Qt::Tool && window->parentWidget() &&
                              window->parentWidget()->window() == form);
}

} // namespace

bool TMainForm::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == AddressToolbar && event->type() == QEvent::Resize)
        guarded([this] { AddressToolbarResize(); });

    switch (event->type()) {
    case QEvent::ShortcutOverride:
    case QEvent::KeyPress:
        // A new keystroke: any release met before it has ended its travel.
        m_keySeen = nullptr;
        break;
    case QEvent::KeyRelease:
        if (watched->isWidgetType()) {
            // Key preview: FormKeyUp once per release, before the widget with
            // the focus handles it. The application filter meets a release at
            // every widget it travels up to while unused; objects between that
            // are not widgets (a QWindow, a page's scene) leave the chain alone. The page also
            // hands a release it does not use back to the view's parent later: a copy, sent by the
            // program, with the stamp of the original.
            auto *key = static_cast<QKeyEvent *>(event);
            auto *widget = static_cast<QWidget *>(watched);
            const bool travelling =
                key == m_keySeen && m_keySeenAt && widget == m_keySeenAt->parentWidget();
            m_keySeen = key;
            m_keySeenAt = widget;
            const KeyStamp stamp{key->timestamp(), key->key(), key->nativeScanCode()};
            const bool handedBack = !key->spontaneous() && stamp.timestamp != 0 &&
                                    stamp.timestamp == m_keyHandled.timestamp &&
                                    stamp.key == m_keyHandled.key &&
                                    stamp.scanCode == m_keyHandled.scanCode;
            if (!travelling && !handedBack && !key->isAutoRepeat() &&
                isPartOf(widget->window(), this)) {
                m_keyHandled = stamp;
                guarded([&] { FormKeyUp(key->key(), key->modifiers()); });
            }
        }
        break;
    default:
        break;
    }
    return QMainWindow::eventFilter(watched, event);
}

void TMainForm::closeEvent(QCloseEvent *event)
{
    QMainWindow::closeEvent(event);
    if (event->isAccepted())
        emit closed();
}

QString TMainForm::statusText() const
{
    return StatusPanel0->fullText();
}

void TMainForm::setStatusText(const QString &text)
{
    StatusPanel0->setFullText(text);
}

// --- Window and commands

void TMainForm::FormCreate()
{
    WebBrowser->GoHome();
    Label5->setText(ExpandFileNamePattern());
    TBXSpinEditItem1Change(TBXSpinEditItem1->value());
}

void TMainForm::TBXItem2Click()
{
    // Quit once the current event is handled; nothing is saved or asked.
    QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

QString TMainForm::aboutText()
{
    const QStringList lines = {
        QStringLiteral("Framelog"),
        QStringLiteral("    Version 1.0.1 (beta)"),
        QString(),
        QStringLiteral("https://framelog.example/"),
        QString(),
        QStringLiteral("Copyright (c) 2026 the Framelog developers."),
        QStringLiteral("All rights reserved."),
        QString(),
        QStringLiteral("You may copy and give away this program freely,"),
        QStringLiteral("as long as it is passed on unchanged and free of charge."),
        QString(),
        QStringLiteral("Your comments and suggestions are welcome at:"),
        QStringLiteral("    feedback@framelog.example"),
    };
    return lines.join(QLatin1Char('\n'));
}

void TMainForm::TBXItem3Click()
{
    if (aboutPresenter) {
        aboutPresenter(kApplicationTitle, aboutText());
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, kApplicationTitle, aboutText(), QMessageBox::Ok, this);
    box.adjustSize();
    if (QScreen *screen = this->screen())
        box.move(screen->geometry().center() - box.rect().center());
    box.exec();
}

void TMainForm::StayOnTopTBXCheckBoxChange()
{
    // Flip the flag on the native window: QWidget::setWindowFlags would
    // re-create it, and the page would be torn down with it.
    if (!windowHandle())
        create();
    windowHandle()->setFlag(Qt::WindowStaysOnTopHint, StayOnTopTBXCheckBox->isChecked());
}

int TMainForm::addressBarRoom() const
{
    // 100 pixels hold the label and Go at the design font; with a desktop's
    // larger font they need more, and Go must not fall off the bar.
    const QStyle *style = AddressToolbar->style();
    int room = TBXLabelItem1->sizeHint().width() +
               style->pixelMetric(QStyle::PM_ToolBarHandleExtent, nullptr, AddressToolbar) +
               2 * style->pixelMetric(QStyle::PM_ToolBarFrameWidth, nullptr, AddressToolbar) +
               2 * style->pixelMetric(QStyle::PM_ToolBarItemMargin, nullptr, AddressToolbar) +
               3 * style->pixelMetric(QStyle::PM_ToolBarItemSpacing, nullptr, AddressToolbar);
    if (QWidget *go = AddressToolbar->widgetForAction(GoTBXItem))
        room += go->sizeHint().width();
    return std::max(100, room);
}

void TMainForm::AddressToolbarResize()
{
    const int width =
        AddressToolbar->isFloating() ? 150 : AddressToolbar->width() - addressBarRoom();
    AddressComboBoxItem->setEditWidth(width);
    AddressComboBoxItem->setListMinimumWidth(width - 4);
}

} // namespace framelog
