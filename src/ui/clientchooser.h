#pragma once

#include "core/cachestore.h"

#include <QString>
#include <string>

class QWidget;

// The modal boxes the program shows: the file-open dialog for the client and the message boxes
// with the caption "Vantrel". They go through IUserPrompts so a test can answer them.
namespace vantrel {

inline constexpr const char* kMessageCaption = "Vantrel";
inline constexpr const char* kSelectClientTitle = "Vantrel - Select CLI Client";
inline constexpr const char* kSelectNewClientTitle = "Vantrel - Select New CLI Client";
inline constexpr const char* kClientFileFilter = "ORVA CLI (ORVA*.exe);;All Files (*)";

enum class EMessageKind { Information, Warning, Error };

class IUserPrompts {
public:
    virtual ~IUserPrompts() = default;
    // A file-open dialog for one existing file, starting in directory; empty when cancelled.
    virtual QString AskOpenFileName(QWidget* parent, const QString& title, const QString& directory,
                                    const QString& filter) = 0;
    // A modal message box with an OK button and the caption "Vantrel".
    virtual void ShowMessage(QWidget* parent, EMessageKind kind, const QString& text) = 0;
};

// The real boxes: QFileDialog and QMessageBox.
class CQtUserPrompts final : public IUserPrompts {
public:
    QString AskOpenFileName(QWidget* parent, const QString& title, const QString& directory,
                            const QString& filter) override;
    void ShowMessage(QWidget* parent, EMessageKind kind, const QString& text) override;
};

// The start-up choice of the client (CCacheStore::SelectClientAtStartup), before any window.
class CClientChooser final : public IClientChooser {
public:
    explicit CClientChooser(IUserPrompts& prompts) : m_prompts(prompts) {}

    std::string AskForClient(const std::string& programDir) override;
    void ShowMessage(const std::string& text, bool error) override;

private:
    IUserPrompts& m_prompts;
};

// The New Client button's choice: any existing file, starting in the program directory. Empty
// when the user cancels.
std::string AskForNewClient(IUserPrompts& prompts, QWidget* parent, const std::string& programDir);

// Paths between Qt and the file system's own encoding.
QString PathToQString(const std::string& path);
std::string PathFromQString(const QString& path);

} // namespace vantrel
