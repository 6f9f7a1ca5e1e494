#include "ui/clientchooser.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QStandardPaths>
#include <filesystem>

#include "platform/fileops.h"
#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>

namespace vantrel {

namespace {

QMessageBox::Icon IconOf(EMessageKind kind) {
    switch (kind) {
    case EMessageKind::Warning:
        return QMessageBox::Warning;
    case EMessageKind::Error:
        return QMessageBox::Critical;
    case EMessageKind::Information:
        break;
    }
    return QMessageBox::NoIcon;
}

std::string AskForExistingClient(IUserPrompts& prompts, QWidget* parent, const char* title,
                                 const std::string& programDir) {
    QString chosen = prompts.AskOpenFileName(parent, QString::fromUtf8(title), PathToQString(programDir),
                                             QString::fromUtf8(kClientFileFilter));
    return PathFromQString(chosen);
}

bool HasClientCandidate(const std::string& programDir) {
    for (const auto& entry : platform::ListDirectory(programDir, "ORVA*.exe"))
        if (!entry.isDirectory)
            return true;
    return false;
}

} // namespace

QString CQtUserPrompts::AskOpenFileName(QWidget* parent, const QString& title, const QString& directory,
                                        const QString& filter) {
    QFileDialog dialog(parent, title, directory, filter);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // Only a file that exists can be chosen, in a directory that exists.
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (parent != nullptr)
        dialog.setWindowModality(Qt::WindowModal);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    QStringList files = dialog.selectedFiles();
    return files.isEmpty() ? QString() : files.front();
}

QString CQtUserPrompts::AskSaveFileName(QWidget* parent, const QString& title, const QString& path,
                                        const QString& filter) {
    return QFileDialog::getSaveFileName(parent, title, path, filter);
}

void CQtUserPrompts::ShowMessage(QWidget* parent, EMessageKind kind, const QString& text) {
    QMessageBox box(IconOf(kind), QString::fromUtf8(kMessageCaption), text, QMessageBox::Ok, parent);
    // Over a window, modal for it alone: the tray icon and its menu keep working meanwhile.
    if (parent != nullptr)
        box.setWindowModality(Qt::WindowModal);
    box.exec();
}

std::optional<bool> CQtUserPrompts::ExplainFirstRun(const QString& text, bool copyByDefault) {
    QMessageBox box(QMessageBox::Information, QString::fromUtf8(kMessageCaption), text,
                    QMessageBox::Ok | QMessageBox::Cancel);
    auto* copy = new QCheckBox(QString::fromUtf8(kCopyClientText), &box);
    copy->setChecked(copyByDefault);
    box.setCheckBox(copy);
    box.button(QMessageBox::Ok)->setText(QStringLiteral("Choose the client..."));
    if (box.exec() != QMessageBox::Ok)
        return std::nullopt;
    return copy->isChecked();
}

QString FirstRunText(const std::string& programDir) {
    return QStringLiteral("Vantrel needs the ORVA command-line client: the program that processes ORVA work units "
                          "(a file named like ORVA_cmdline.exe). None was found in %1.\n\n"
                          "Download the command-line client for Linux from the ORVA project's web site, then "
                          "choose it in the next window.")
        .arg(PathToQString(programDir));
}

std::string FirstRunDirectory() {
    const QString home = QDir::homePath();
    const QString downloads = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    return PathFromQString(!downloads.isEmpty() && QFileInfo(downloads).isDir() ? downloads : home);
}

std::string CopyClientIntoProgramDir(const std::string& client, const std::string& programDir) {
    std::string name = platform::FileNamePart(client);
    const QString upper = QString::fromStdString(name).toUpper();
    // Only a name the next start looks for is any use there.
    if (!upper.startsWith(QStringLiteral("ORVA")) || !upper.endsWith(QStringLiteral(".EXE")))
        name = "ORVA_" + name + (upper.endsWith(QStringLiteral(".EXE")) ? "" : ".exe");
    const std::string target = platform::JoinPath(programDir, name);
    if (platform::IsSameFile(client, target))
        return target;
    if (!platform::CopyFile(client, target, true))
        return {};
    // Anyone may run the copied client; only its owner may change it.
    std::error_code error;
    std::filesystem::permissions(target, std::filesystem::perms(0755), error);
    return target;
}

std::string CClientChooser::AskForClient(const std::string& programDir) {
    if (m_bExplained || HasClientCandidate(programDir))
        return AskForExistingClient(m_prompts, nullptr, kSelectClientTitle,
                                    m_bExplained ? FirstRunDirectory() : programDir);
    // The very first start: say what is wanted before asking for a file.
    m_bExplained = true;
    std::optional<bool> copy = m_prompts.ExplainFirstRun(FirstRunText(programDir), m_bInstalledCopy);
    if (!copy)
        return {};
    m_bCopy = *copy;
    std::string chosen = AskForExistingClient(m_prompts, nullptr, kSelectClientTitle, FirstRunDirectory());
    // The program itself is refused by the caller, never copied as a client.
    if (chosen.empty() || !m_bCopy ||
        QString::fromStdString(platform::FileNamePart(chosen)).compare(QString::fromStdString(m_strOwnFileName),
                                                                       Qt::CaseInsensitive) == 0)
        return chosen;
    // A copy that fails leaves the client used where it lies, as without the box.
    std::string copied = CopyClientIntoProgramDir(chosen, programDir);
    return copied.empty() ? chosen : copied;
}

void CClientChooser::ShowMessage(const std::string& text, bool error) {
    m_prompts.ShowMessage(nullptr, error ? EMessageKind::Error : EMessageKind::Information,
                          QString::fromStdString(text));
}

std::string AskForNewClient(IUserPrompts& prompts, QWidget* parent, const std::string& programDir) {
    return AskForExistingClient(prompts, parent, kSelectNewClientTitle, programDir);
}

QString PathToQString(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

std::string PathFromQString(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

} // namespace vantrel
