#pragma once

#include "core/options.h"

#include <QDialog>
#include <QIcon>
#include <QTimer>
#include <atomic>
#include <cstdint>
#include <string>
#include <unordered_map>

#include "control/vantrelcontroller.h"
#include "ui/dialogcontrols.h"

class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;

namespace vantrel {

class CCacheStore;
class CPercentBar;
class CStatisticsWnd;
class CSystemTray;
class IUserPrompts;

// dir for a title: the home directory as ~, and at most about 30 characters (its end kept).
QString ShortDirectoryLabel(const std::string& dir, const std::string& home);

// The property under which every control keeps its dialog id, so code and tests find it.
inline constexpr const char* kControlIdProperty = "controlId";
// The property under which each window-menu action keeps its command (0x20, 0x10).
inline constexpr const char* kCommandIdProperty = "commandId";
// The one-line hint over an empty cache.
inline constexpr const char* kEmptyCacheHint =
    "Desired Cache Size sets how many work units Vantrel keeps: enter a number to begin.";

// The main window: a thin view over CVantrelController. It shows the options, counters and
// progress, forwards every widget's signal to the controller and minimises into the
// notification area instead of closing.
class CVantrelDlg final : public QDialog, public IDialogView {
    Q_OBJECT
public:
    static constexpr int kDialogId = 102;

    // options: the option set the controller works on (the dialog mirrors it both ways).
    // store: the program directory and the installed client, for New Client.
    // ownExecutable: the program's own file, which New Client refuses.
    CVantrelDlg(COptions& options, const CCacheStore& store, CSystemTray& tray, IUserPrompts& prompts,
                std::string ownExecutable, QWidget* parent = nullptr);
    ~CVantrelDlg() override;

    // Binds the logic; without it (before, or after nullptr) the widgets' signals and the
    // engine's messages go nowhere. Detach before the controller is destroyed.
    void AttachController(CVantrelController* controller);
    // The dialog's initialisation: the tray icon, then the controller's steps.
    void InitDialog(bool startMinimized);

    // The control with this dialog id (EControlId), or none.
    QWidget* Control(int id) const;
    // The window menu ("Transmit", "&About Vantrel...", "&Statistics..."), also shown as the
    // context menu.
    QMenu* WindowMenu() const { return m_windowMenu; }

    // A command of the tray icon's menu.
    void OnTrayCommand(unsigned commandId);
    // A system command (SC_MINIMIZE, SC_RESTORE, SC_CLOSE, kAboutCommand, kTransmitCommand,
    // kStatisticsCommand).
    void OnSysCommand(unsigned command);
    // The program is being ended from outside (the session): the next close is accepted.
    void AllowClose() { m_bCloseAllowed = true; }
    // EndDialog has run.
    bool HasEnded() const { return m_bEnded; }

    // IDialogView
    bool ReadFields() override;
    void ReadFieldsQuietly() override;
    bool FieldsAcceptable() const override;
    // The title and the tooltip's first line name dir, shortened with ~.
    void ShowProgramDirectory(const std::string& dir) override;
    void ShowNotice(const std::string& text) override;
    // The notice line under the controls (hidden while there is nothing to say).
    QLabel* NoticeLine() const { return m_notice; }
    void ShowFields() override;
    void SetIcon(unsigned iconId) override;
    void SetTrayTip(const std::string& tip) override;
    void ShowProgress(const ProgressFigures& figures) override;
    void SetWaitCursor(bool on) override;
    void PostSysCommand(unsigned command) override;
    void EnableServerControls(const ServerControlStates& states) override;
    void HideAffinityCheckBox() override;
    bool IsMinimized() const override;
    void EndDialog() override;
    void TransmitStateChanged(bool running) override;

    // Opens the statistics window, or brings it to the front; null before the first opening.
    void ShowStatistics();
    CStatisticsWnd* StatisticsWindow() const { return m_statistics; }


public slots:
    // Enter: apply both numeric fields; the dialog stays open.
    void accept() override;
    // Escape: undo the last edit of both numeric fields; the dialog stays open.
    void reject() override;

protected:
    bool event(QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The control of the table's row id, made as its kind wants and kept under its id.
    QWidget* MakeControl(EControlId id);
    void BuildLayout();
    void BuildWindowMenu();
    void ConnectControls();

    void MinimizeWindow();
    void RestoreWindow();
    void ShowAbout();
    void OnNewClient();
    void UpdateTransmitState();
    // A field refused its number: the message, then the focus back on the field.
    void RefuseField(QLineEdit* edit);
    // Copies the fields into the options; the first field that refused its number, or none.
    QLineEdit* CopyFields();
    void SetEditText(int id, const QString& text);
    void SetChecked(int id, bool checked);
    QLineEdit* Edit(int id) const;
    // The current value of a radio group's option.
    int RadioValue(ERadioGroup group) const;

    COptions& m_options;
    const CCacheStore& m_store;
    CSystemTray& m_tray;
    IUserPrompts& m_prompts;
    std::string m_strOwnExecutable;
    CVantrelController* m_controller = nullptr;
    QString m_strCopyLabel; // the program directory as the title shows it; empty while alone
    std::string m_strLastTip;

    CPercentBar* m_bar = nullptr;
    QPushButton* m_transmitButton = nullptr;
    QLabel* m_emptyCacheHint = nullptr; // shown while the cache is to keep nothing
    QLabel* m_notice = nullptr;
    QMenu* m_windowMenu = nullptr;
    QAction* m_transmitAction = nullptr;
    CStatisticsWnd* m_statistics = nullptr; // a window of its own, owned by the dialog
    std::unordered_map<int, QWidget*> m_controls; // by dialog id; the dialog owns the widgets
    unsigned m_nIconId;
    QIcon m_currentIcon;

    bool m_bMinimized = false; // minimised by command, hidden in the tray or on the task bar
    bool m_bEnded = false;
    bool m_bEverShown = false; // its place is worth keeping
    bool m_bCloseAllowed = false;
    int m_nWaitCursor = 0;
    int m_nPromptDepth = 0; // a refusal message is open: focus changes are not edits ending
};

} // namespace vantrel
