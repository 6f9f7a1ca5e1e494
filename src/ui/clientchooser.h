#pragma once

#include "core/cachestore.h"

#include <QString>
#include <optional>
#include <string>

class QWidget;

// The modal boxes the program shows: the file-open dialog for the client and the message boxes
// with the caption "Vantrel". They go through IUserPrompts so a test can answer them.
namespace vantrel {

inline constexpr const char* kMessageCaption = "Vantrel";
inline constexpr const char* kSelectClientTitle = "Vantrel - Select CLI Client";
inline constexpr const char* kSelectNewClientTitle = "Vantrel - Select New CLI Client";
inline constexpr const char* kClientFileFilter = "ORVA CLI (ORVA*.exe);;All Files (*)";
inline constexpr const char* kCopyClientText = "Copy it into the program directory so that it is found next time";

enum class EMessageKind { Information, Warning, Error };

class IUserPrompts {
public:
    virtual ~IUserPrompts() = default;
    // A file-open dialog for one existing file, starting in directory; empty when cancelled.
    virtual QString AskOpenFileName(QWidget* parent, const QString& title, const QString& directory,
                                    const QString& filter) = 0;
    // A file-save dialog proposing path; asks before replacing a file. Empty when cancelled.
    virtual QString AskSaveFileName(QWidget* parent, const QString& title, const QString& path,
                                    const QString& filter) = 0;
    // A modal message box with an OK button and the caption "Vantrel".
    virtual void ShowMessage(QWidget* parent, EMessageKind kind, const QString& text) = 0;
    // The first start's explanation (what a client is, where to get one) with the box "Copy it
    // into the program directory ...", ticked as copyByDefault says. The box's state; none when
    // the user cancels.
    virtual std::optional<bool> ExplainFirstRun(const QString& text, bool copyByDefault) = 0;
};

// The real boxes: QFileDialog and QMessageBox.
class CQtUserPrompts final : public IUserPrompts {
public:
    QString AskOpenFileName(QWidget* parent, const QString& title, const QString& directory,
                            const QString& filter) override;
    QString AskSaveFileName(QWidget* parent, const QString& title, const QString& path,
                            const QString& filter) override;
    void ShowMessage(QWidget* parent, EMessageKind kind, const QString& text) override;
    std::optional<bool> ExplainFirstRun(const QString& text, bool copyByDefault) override;
};

// The start-up choice of the client (CCacheStore::SelectClientAtStartup), before any window.
// When the program directory holds no client at all, an explanation comes first and the file
// dialog opens in the user's Downloads (else home) folder; the chosen client is copied into the
// program directory when the user keeps the box ticked (the default for an installed copy, whose
// menu entry would otherwise ask at every start). Otherwise the client is used where it lies.
class CClientChooser final : public IClientChooser {
public:
    // ownFileName: the program's own file name, which is never copied as a client.
    explicit CClientChooser(IUserPrompts& prompts, bool installedCopy = false, std::string ownFileName = {})
        : m_prompts(prompts), m_bInstalledCopy(installedCopy), m_strOwnFileName(std::move(ownFileName)) {}

    std::string AskForClient(const std::string& programDir) override;
    void ShowMessage(const std::string& text, bool error) override;

private:
    IUserPrompts& m_prompts;
    bool m_bInstalledCopy;
    std::string m_strOwnFileName;
    bool m_bExplained = false;
    bool m_bCopy = false;
};

// The explanation's text for a program directory without a client.
QString FirstRunText(const std::string& programDir);
// Where the first start's file dialog opens: ~/Downloads when it exists, else home.
std::string FirstRunDirectory();
// Copies client into programDir under a name the next start finds (ORVA*.exe); the copy's path,
// or empty when it could not be made.
std::string CopyClientIntoProgramDir(const std::string& client, const std::string& programDir);

// The New Client button's choice: any existing file, starting in the program directory. Empty
// when the user cancels.
std::string AskForNewClient(IUserPrompts& prompts, QWidget* parent, const std::string& programDir);

// Paths between Qt and the file system's own encoding.
QString PathToQString(const std::string& path);
std::string PathFromQString(const QString& path);

} // namespace vantrel
