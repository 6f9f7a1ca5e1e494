#include "ui/clientchooser.h"

#include <QFile>
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

void CQtUserPrompts::ShowMessage(QWidget* parent, EMessageKind kind, const QString& text) {
    QMessageBox box(IconOf(kind), QString::fromUtf8(kMessageCaption), text, QMessageBox::Ok, parent);
    // Over a window, modal for it alone: the tray icon and its menu keep working meanwhile.
    if (parent != nullptr)
        box.setWindowModality(Qt::WindowModal);
    box.exec();
}

std::string CClientChooser::AskForClient(const std::string& programDir) {
    return AskForExistingClient(m_prompts, nullptr, kSelectClientTitle, programDir);
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
