#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/uniquefd_linux.h"

class QLocalSocket;
class QSocketNotifier;

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

// What one copy is asked: a message number (the registered message), or to show its window
// ("show", a second start handing over). A request that names a program directory is carried out
// only by the copy that works in that directory; the others answer EChannelReply::Other.
struct ChannelRequest {
    std::string command;    // a decimal number, kShowCommand or kHelloCommand
    std::string programDir; // empty: every copy; for a hello, the sender's own
};
inline constexpr const char* kShowCommand = "show";
// A copy that has just started tells the others, so each can say which program directory it is.
inline constexpr const char* kHelloCommand = "hello";
// `vantrel --status`: the copy's answer line is followed by its status report.
inline constexpr const char* kStatusCommand = "status";

enum class EChannelReply {
    Done,    // carried out (or will be, once the current handler returns)
    Refused, // the copy would not: a field of its window holds a value it cannot take
    Other,   // a copy of another program directory
    None,    // reached, but no answer came (an older copy, or one too busy to answer in time)
};

// One copy's answer, with the program directory it named.
struct CopyAnswer {
    EChannelReply reply = EChannelReply::None;
    std::string programDir;
    std::string payload; // what followed the answer line (a status report)
};

// Sends wParam to every copy listening in dir and removes the sockets that nobody listens on any
// more (copies that died without removing theirs). Returns how many copies were reached. Does not
// wait for answers, so a copy on the caller's own thread can be reached.
unsigned PostToAllCopies(const std::string& dir, unsigned wParam);

// Sends request to every copy in dir at once, clears stale sockets like PostToAllCopies and waits
// for the answers, all within one short deadline (well under a second): a stopped or hung copy is
// an answer of None and delays nobody for long. Blocks: never call it on the thread of a channel
// that should answer, except for that channel's own socket, which exceptSocket leaves out. Safe
// on any thread: it shares no toolkit object and needs no event loop.
std::vector<CopyAnswer> SendToAllCopies(const std::string& dir, const ChannelRequest& request,
                                        const QString& exceptSocket = {});

// Whether two paths name the same directory (links and spellings aside).
bool IsSameDirectory(const std::string& a, const std::string& b);

// The listening side: one per running copy. Messages arrive through the event loop of the thread
// that owns the object.
class CMessageChannel final : public QObject {
    Q_OBJECT
public:
    explicit CMessageChannel(std::string dir, QObject* parent = nullptr);
    ~CMessageChannel() override; // stops listening and removes the socket

    // Starts listening; false (and the program simply unreachable) when the directory is unsafe or
    // the socket cannot be made. Running out of descriptors only delays accepting; a connection
    // that sends no whole line within the idle timeout is closed, and few are served at once.
    bool Listen();
    // How long a connection may stay without sending its line (tests shorten it).
    void SetIdleTimeout(std::chrono::milliseconds timeout) { m_idleTimeout = timeout; }
    bool IsListening() const;
    // The socket's path, empty before Listen.
    QString SocketPath() const;
    // The directory of every copy's socket.
    const std::string& Directory() const { return m_strDir; }

    // The program directory this copy works in; requests naming another one are not ours.
    void SetProgramDirectory(std::string dir) { m_strProgramDir = std::move(dir); }
    // Decides the answer to a request for this copy before it is signalled; without one, Done.
    using RequestJudge = std::function<EChannelReply(const ChannelRequest&)>;
    void SetRequestJudge(RequestJudge judge) { m_judge = std::move(judge); }
    // The report a status request gets; without one, status requests are not answered.
    using StatusSource = std::function<std::string()>;
    void SetStatusSource(StatusSource source) { m_statusSource = std::move(source); }

signals:
    // A number another program sent (emitted after the answer has gone out).
    void MessageReceived(unsigned wParam);
    // A second start in this program directory asks this copy to show its window.
    void ShowRequested();
    // Another copy has started (in the program directory given).
    void CopyStarted(const QString& programDir);

private:
    void OnNewConnection();
    void OnReadyRead(QLocalSocket* socket);
    void ResumeAccepting();
    void Close();

    std::string m_strDir;
    std::string m_strProgramDir;
    std::string m_strSocketPath;
    RequestJudge m_judge;
    StatusSource m_statusSource;
    platform::UniqueFd m_listen;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QTimer m_acceptRetry;
    std::chrono::milliseconds m_idleTimeout;
    int m_nConnections = 0;
};

} // namespace vantrel
