#pragma once

#include "capture/capture_session.h"
#include "capture/frame_watch.h"
#include "capture/selection.h"

#include <QIcon>
#include <QImage>
#include <QList>
#include <QMainWindow>
#include <QPointer>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QAction;
class QCheckBox;
class QDockWidget;
class QKeyEvent;
class QLabel;
class QMenu;
class QMenuBar;
class QScrollArea;
class QStatusBar;
class QToolBar;

namespace framelog {

class ElidedLabel;
class LoadWait;
class RunWatch;
class TAddressComboBox;
class TBrowserControl;
class TDirectoryEdit;
class TPaintBox;
class TPreviewForm;
class TProgressBar;
class TTBXSpinEditItem;
class TTimer;
struct AuthChallenge;
struct CertificateFacts;
struct Recipe;

// The main window: every control, both timers, the capture bitmap, the
// selection and the capture counter. Handlers are named after the control
// and the event; they stay thin and call the window-free logic in capture/,
// settings/ and browse/. Each handler runs inside the error guard.
//
// The handlers are split by concern: main_form_navigation.cpp,
// main_form_capture.cpp, main_form_area.cpp (with the preview),
// main_form_intervals.cpp and main_form_save_location.cpp.
class TMainForm : public QMainWindow {
    Q_OBJECT
public:
    // Takes ownership of the browser control.
    explicit TMainForm(TBrowserControl *browser, QWidget *parent = nullptr);
    ~TMainForm() override;

    // The preview window; the application owns it, the window reaches it.
    void setPreviewForm(TPreviewForm *preview);

    // Sets the controls from a recipe through their own setters, so each
    // field holds its value to its range as it would a typed one; the
    // status bar says once which values the fields changed. The recipe's
    // size is the recorder's and is not used here (main_form_recipe.cpp).
    void applyRecipe(const Recipe &recipe);
    // Opens `address` as one typed into the address field; a password in
    // it is used, and the field shows the address without it.
    void openAddress(const QString &address);

    // --- Controls (named as the layout names them; each is also its objectName)
    QMenuBar *TBXToolbar1 = nullptr;
    QMenu *FileMenu = nullptr;
    QAction *FileWorkOfflineTBXItem = nullptr;
    QAction *TBXItem2 = nullptr; // Exit
    QMenu *ViewMenu = nullptr;
    QMenu *ViewGoToTBXSubmenuItem = nullptr;
    QAction *ViewGoToBackTBXItem = nullptr;
    QAction *ViewGoToForwardTBXItem = nullptr;
    QAction *ViewGoToHomeTBXItem = nullptr;
    QAction *ViewStopTBXItem = nullptr;
    QAction *ViewRefreshTBXItem = nullptr;
    QAction *ViewPreviewTBXItem = nullptr;
    QMenu *TBXSubmenuItem3 = nullptr; // Toolbars
    QAction *ViewToolbarsAddressBarTBXVisibilityToggleItem = nullptr;
    QAction *ViewToolbarsStandardTBXVisibilityToggleItem = nullptr;
    QAction *TBXVisibilityToggleItem1 = nullptr; // Statusbar
    QMenu *HelpMenu = nullptr;
    QAction *TBXItem3 = nullptr; // About...

    QToolBar *StandardToolbar = nullptr;
    QAction *BackTBXItem = nullptr;
    QAction *ForwardTBXItem = nullptr;
    QAction *StopTBXItem = nullptr;
    QAction *RefreshTBXItem = nullptr;
    QAction *HomeTBXItem = nullptr;
    QAction *TBXSeparatorItem5 = nullptr;
    QAction *SelectAreaTBXItem = nullptr;
    QAction *CaptureTBXItem = nullptr;
    QAction *TBXItem1 = nullptr; // Browse

    QToolBar *AddressToolbar = nullptr;
    QLabel *TBXLabelItem1 = nullptr;
    TAddressComboBox *AddressComboBoxItem = nullptr;
    QAction *GoTBXItem = nullptr;

    QDockWidget *SettingsDockablePanel = nullptr;
    QScrollArea *SettingsPageScroller = nullptr;
    QLabel *NewOpenSpecificationTBXLabel = nullptr; // "Saving"
    QWidget *TBXAlignmentPanel4 = nullptr;
    QLabel *Label1 = nullptr;
    TDirectoryEdit *FileNameEdit = nullptr;
    QLabel *Label5 = nullptr;
    QLabel *Label2 = nullptr;
    QLabel *Label4 = nullptr;
    QCheckBox *TBXCheckBox2 = nullptr; // Overwrite existing files
    QLabel *TBXLabel1 = nullptr;       // "Update"
    QWidget *TBXAlignmentPanel1 = nullptr;
    QLabel *Label3 = nullptr;
    QWidget *TBXToolbar3 = nullptr;
    TTBXSpinEditItem *TBXSpinEditItem2 = nullptr; // picture interval, s
    QCheckBox *TBXCheckBox1 = nullptr;            // Reload every
    QWidget *TBXToolbar2 = nullptr;
    TTBXSpinEditItem *TBXSpinEditItem1 = nullptr; // reload interval, min
    QLabel *TBXLabel2 = nullptr;                  // "Miscellaneous"
    QCheckBox *StayOnTopTBXCheckBox = nullptr;
    QCheckBox *AllowPopupsTBXCheckBox = nullptr;

    QStatusBar *StatusBar = nullptr;
    ElidedLabel *StatusPanel0 = nullptr;
    TProgressBar *ProgressBar = nullptr;
    QLabel *StatusPanel2 = nullptr;

    TBrowserControl *WebBrowser = nullptr;
    QWidget *BrowserArea = nullptr;
    QWidget *SelectAreaPanel = nullptr;
    TPaintBox *SelectAreaPaintBox = nullptr;

    TTimer *PageTimer = nullptr;
    TTimer *PictureTimer = nullptr;

    QList<QIcon> ImageList1;     // 0 Back .. 7 Browse
    QList<QIcon> GoButtonImages; // 0 Go

    // --- State
    bool FEditingAddress = false;
    bool FSelecting = false;
    bool FSelectionActive = false;
    TRect FSelection;
    // Null until the first capture; an empty (0-size) bitmap is a value.
    std::optional<QImage> FCaptureBitmap;
    qint32 FCaptureCounter = 0;

    // The run's tick: counter, names, failures and the writer thread.
    CaptureSession &captureSession() { return m_session; }

    // Status panel 0's full text.
    QString statusText() const;
    void setStatusText(const QString &text);

    // --- Seams for tests: the About box and the folder opener.
    std::function<void(const QString &caption, const QString &text)> aboutPresenter;
    std::function<bool(const QString &folder)> folderOpener;

    static QString aboutText();
    // What the Address Bar keeps beside the field: the label, Go and the
    // bar's own handle and margins; at least 100 pixels.
    int addressBarRoom() const;

    // --- Window and commands
    void FormCreate();
    void TBXItem2Click();
    void TBXItem3Click();
    void StayOnTopTBXCheckBoxChange();
    void AddressToolbarResize();

    // --- Navigation, address bar, status, progress, title
    void GoTBXItemClick();
    void BackTBXItemClick();
    void ForwardTBXItemClick();
    void StopTBXItemClick();
    void RefreshTBXItemClick();
    void HomeTBXItemClick();
    void FileWorkOfflineTBXItemClick();
    void WebBrowserCommandStateChange(int command, bool enable);
    void WebBrowserNewWindow2(bool &cancel);
    void AddressComboBoxItemBeginEdit();
    void AddressComboBoxItemAcceptText(const QString &newText, bool &accept);
    void AddressComboBoxItemChange();
    void FormKeyUp(int key, Qt::KeyboardModifiers shift);
    void AddressToolbarMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    void WebBrowserStatusTextChange(const QString &text);
    void WebBrowserProgressChange(int progress, int progressMax);
    void WebBrowserNavigateComplete2(const QString &url);

    // --- Logins and untrusted certificates (main_form_questions.cpp)
    void WebBrowserAuthenticationRequired(AuthChallenge &challenge);
    void WebBrowserCertificateError(const CertificateFacts &facts, bool &accept);
    // Seams for tests: the login dialog (true when answered, with the user
    // and password set in the challenge) and the certificate dialog (true
    // for Continue).
    std::function<bool(AuthChallenge &challenge)> loginAsker;
    std::function<bool(const CertificateFacts &facts)> certificateAsker;

    // --- Capture
    void CapturePage();
    QString ExpandFileNamePattern();
    void FileNameEditChange();
    void CaptureTBXItemClick();
    void PictureTimerTimer();
    void SetNavigationEnabled(bool enabled);

    // --- Area selection and preview
    void SelectAreaTBXItemClick();
    void SelectAreaPaintBoxMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x,
                                     int y);
    void SelectAreaPaintBoxMouseMove(Qt::KeyboardModifiers shift, int x, int y);
    void SelectAreaPaintBoxMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x,
                                   int y);
    void SelectAreaPaintBoxPaint(QPainter &painter);
    void NormalizeSelection(TRect &selection);
    void ViewPreviewTBXItemClick();

    // --- Intervals and timers
    void TBXSpinEditItem2Convert(TTBXSpinEditItem *sender, const QString &prefix,
                                 const QString &postfix, long double &value, bool &canConvert);
    // The fields' committed values, after every commit and step.
    void TBXSpinEditItem2Change(long double seconds);
    void TBXSpinEditItem1Change(long double minutes);
    void TBXCheckBox1Change();
    void PageTimerTimer();

    // --- Save location
    void FileNameEditBeforeDialog(QString &name, bool &action);
    void FileNameEditAfterDialog(QString &name, bool &action);
    void TBXItem1Click();

    // No context menu on the menu bar, the toolbars or the Settings panel's
    // title: it would show the closed panel again. The toolbars stay
    // switchable from View > Toolbars.
    QMenu *createPopupMenu() override { return nullptr; }

signals:
    // The user closed the window: the program ends.
    void closed();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void createImageLists();
    void createMenus();
    void createToolbars();
    void createSettingsPanel();
    void createStatusBar();
    void createBrowserArea();
    void createTimers();
    void connectHandlers();
    // The browser area a capture copies: the selection when `selectionActive`,
    // else the whole area.
    QRect captureArea(bool selectionActive) const;
    void stretchSelection(int x, int y);

    // How the run's tick takes, names and reports a picture.
    CaptureSession::FrontEnd captureFrontEnd();
    // What became of a tick: a failure goes to the status bar and the box.
    void pictureDone(const TickResult &result);
    // A run's frame watch and load wait, when the recipe asked for them.
    void startWatch();
    void stopWatch();
    // The run's status line for picture `picture`.
    QString runStatus(qint32 picture);
    // A line of the run's log (standard error).
    void logLine(const QString &what) const;

    // Pictures worth keeping, from the recipe; all off without one, and then
    // a run has neither watch nor wait and ticks as it always did.
    FrameWatchOptions m_watchOptions;
    std::optional<std::chrono::milliseconds> m_waitForLoad;
    std::unique_ptr<RunWatch> m_runWatch;
    std::unique_ptr<LoadWait> m_loadWait;
    // The stall, or its end, shown in the run's status line.
    QString m_runNote;

    // Fingerprints the recipe trusts (trust-certificate), for any host.
    QList<QByteArray> m_trustedCertificates;

    // The run's error box is open; ticks go on meanwhile without a box of
    // their own.
    bool m_runErrorBoxOpen = false;
    // The pattern as it stood when the folder dialog opened, while the
    // field shows only its name part: ticks keep writing where they did.
    std::optional<QString> m_patternBeforeDialog;
    // Where the current drag began: its fixed corner.
    QPoint m_dragAnchor;

    TPreviewForm *m_preview = nullptr;

    // Key preview: the key release last seen by the application filter and
    // the widget it was last seen at, to tell its travel up the parents from
    // a new release; and the last release handed to FormKeyUp.
    const QKeyEvent *m_keySeen = nullptr;
    QPointer<QWidget> m_keySeenAt;
    struct KeyStamp {
        quint64 timestamp = 0;
        int key = 0;
        quint32 scanCode = 0;
    } m_keyHandled;

    // The run's tick; its writer thread ends with the window, before the
    // controls go.
    CaptureSession m_session{captureFrontEnd()};
};

} // namespace framelog
