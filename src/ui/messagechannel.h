#pragma once

#include <QObject>
#include <QString>
#include <memory>
#include <string>

class QLocalServer;
class QLocalSocket;

// The registered message "Vantrel" between running copies of one user. Every copy listens on a
// local socket of its own, named by its process id, in a directory only the user can enter;
// another program reaches all of them by writing the message number to each socket.
namespace vantrel {

// $XDG_RUNTIME_DIR/vantrel when the variable names a directory, else /tmp/vantrel-<uid>.
std::string GetChannelDirectory();

// Makes dir (one level, mode 0700) when it is missing and checks that it is a real directory of
// this user that nobody else may enter; a directory of ours with wider rights is narrowed to
// 0700. False when it is a link, belongs to someone else or cannot be made: a socket placed there
// could be read or replaced by another user.
bool PrepareChannelDirectory(const std::string& dir);

// Sends wParam to every copy listening in dir and removes the sockets that nobody listens on any
// more (copies that died without removing theirs). Returns how many copies were reached.
unsigned PostToAllCopies(const std::string& dir, unsigned wParam);

// The listening side: one per running copy. Messages arrive through the event loop of the thread
// that owns the object.
class CMessageChannel final : public QObject {
    Q_OBJECT
public:
    explicit CMessageChannel(std::string dir, QObject* parent = nullptr);
    ~CMessageChannel() override; // stops listening and removes the socket

    // Starts listening; false (and the program simply unreachable) when the directory is unsafe or
    // the socket cannot be made.
    bool Listen();
    bool IsListening() const;
    // The socket's path, empty before Listen.
    QString SocketPath() const;

signals:
    // A number another program sent.
    void MessageReceived(unsigned wParam);

private:
    void OnNewConnection();
    void OnReadyRead(QLocalSocket* socket);

    std::string m_strDir;
    std::unique_ptr<QLocalServer> m_server;
};

} // namespace vantrel
