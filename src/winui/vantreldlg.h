#pragma once

#include "winui/win32.h"

#include "control/dialogview.h"
#include "winui/winpercentbar.h"

#include <string>

namespace vantrel {

class CCacheStore;
class CSystemTray;
class CVantrelController;
class CWinCopyChannel;
struct COptions;

// The main dialog (resource 102) as a thin view over CVantrelController: it shows the options,
// counters and progress, turns every control's notification into the controller's handler, and
// hides in the notification area instead of closing. Made modeless; the program's message loop
// gives it its keyboard (IsDialogMessage).
class CVantrelDlg final : public IDialogView {
public:
    // ownExecutable: the program's own file, which "Start at login" names.
    CVantrelDlg(COptions& options, const CCacheStore& store, CSystemTray& tray, CWinCopyChannel& channel,
                std::string ownExecutable);
    ~CVantrelDlg() override;
    CVantrelDlg(const CVantrelDlg&) = delete;
    CVantrelDlg& operator=(const CVantrelDlg&) = delete;

    // Creates the window from its resource, hidden; false when it cannot.
    bool Create();
    // Binds the logic; without it (before, or after nullptr) the controls' notifications go nowhere.
    void AttachController(CVantrelController* controller) { m_controller = controller; }
    // The dialog's initialisation: the system menu, the icons, the tray icon, then the controller's.
    void InitDialog(bool startMinimized);
    HWND Window() const { return m_hWnd; }
    bool HasEnded() const { return m_bEnded; }

    // IDialogView
    bool ReadFields() override;
    void ReadFieldsQuietly() override;
    bool FieldsAcceptable() const override;
    void ShowFields() override;
    void SetIcon(unsigned iconId) override;
    void SetTrayTip(const std::string& tip) override;
    void ShowProgress(const ProgressFigures& figures) override;
    void ShowNotice(const std::string& text) override;
    void SetWaitCursor(bool on) override;
    void EnableServerControls(const ServerControlStates& states) override;
    void HideAffinityCheckBox() override;
    void ShowProgramDirectory(const std::string& dir) override;
    void TransmitStateChanged(bool running) override;
    void PostSysCommand(unsigned command) override;
    bool IsMinimized() const override { return m_bMinimized; }
    void EndDialog() override;

private:
    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam);
    void OnCommand(int id, int code);
    void OnButton(int id);
    void OnSysCommand(unsigned command);
    void OnNewClient();
    void UpdateTransmitState();
    bool PaintMinimized();

    // Copies the fields into the options; the id of the first that refused its number, or 0.
    int CopyFields();
    void RefuseField(int id);
    std::string Text(int id) const;
    void SetText(int id, const std::string& text);
    bool Checked(int id) const;

    COptions& m_options;
    const CCacheStore& m_store;
    CSystemTray& m_tray;
    CWinCopyChannel& m_channel;
    std::string m_strOwnExecutable;
    CVantrelController* m_controller = nullptr;
    HWND m_hWnd = nullptr;
    CPercentBar m_bar;
    HICON m_hIcon = nullptr;
    unsigned m_nIconId = 0;
    std::string m_strCopyLabel; // the program directory as the title shows it; empty while alone
    std::string m_strLastTip;
    bool m_bMinimized = false;
    bool m_bEnded = false;
    bool m_bInitialised = false; // the controller's initialisation has filled the fields
    int m_nWaitCursor = 0;
    int m_nPromptDepth = 0; // a message box is open: focus changes are not edits ending
    bool m_bShowingFields = false; // the program writes the fields: no edit of the user's
};

} // namespace vantrel
