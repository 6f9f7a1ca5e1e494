#include "ui/host/messagechannel.h"

#include "platform/fileops.h"
#include "platform/process.h"
#include "platform/system.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <atomic>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string_view>
#include <tuple>
#include <utility>

namespace vantrel {

namespace {

// A request is one line: a command (a decimal number, or "show"), then optionally a blank and a
// program directory, percent-encoded so that no blank or line feed of a path can split it. The
// copy answers with one line of the same shape: "done", "refused" or "other" and its own
// directory. Anything longer than a path can make is not ours.
constexpr qint64 kMaxMessageBytes = 16 + 3 * 4096;
// A status report holds the program directory and a few short fields.
constexpr qint64 kMaxReportBytes = 4 * kMaxMessageBytes;
constexpr int kConnectTimeoutMs = 2000;
// A copy answers from its event loop, which may be busy for a moment (a restart of the engine).
constexpr int kAnswerTimeoutMs = 10000;

constexpr std::string_view kReplyWords[] = {"done", "refused", "other"};

QByteArray EncodePath(const std::string& path) {
    return QByteArray::fromStdString(path).toPercentEncoding("/");
}

std::string DecodePath(const QByteArray& encoded) {
    return QByteArray::fromPercentEncoding(encoded).toStdString();
}

QByteArray FormatLine(std::string_view word, const std::string& path) {
    QByteArray line(word.data(), static_cast<qsizetype>(word.size()));
    if (!path.empty())
        line += ' ' + EncodePath(path);
    return line + '\n';
}

// Splits a line into its word and its decoded path.
std::pair<std::string, std::string> SplitLine(const QByteArray& line) {
    const qsizetype blank = line.indexOf(' ');
    if (blank < 0)
        return {line.toStdString(), {}};
    return {line.left(blank).toStdString(), DecodePath(line.mid(blank + 1))};
}

std::optional<unsigned> ParseUnsigned(std::string_view text) {
    unsigned value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

// Socket names are "<pid>" or, for a further channel of the same process, "<pid>-<k>".
bool IsSocketName(std::string_view name) {
    std::string_view pid = name.substr(0, name.find('-'));
    if (!ParseUnsigned(pid))
        return false;
    return pid.size() == name.size() || ParseUnsigned(name.substr(pid.size() + 1)).has_value();
}

std::string NextSocketName() {
    static std::atomic<unsigned> channels{0};
    unsigned k = ++channels;
    std::string name = std::to_string(platform::CurrentProcessId());
    return k == 1 ? name : name + "-" + std::to_string(k);
}

enum class PostResult { Delivered, Stale, Unreachable };

// Writes one request; with answer set, waits for the copy's answer line and puts it there, and
// with readRest, what follows it until the copy hangs up.
PostResult PostToSocket(const std::string& path, const QByteArray& request, CopyAnswer* answer, bool readRest) {
    QLocalSocket socket;
    socket.connectToServer(QString::fromStdString(path), QIODevice::ReadWrite);
    if (!socket.waitForConnected(kConnectTimeoutMs)) {
        auto error = socket.error();
        return error == QLocalSocket::ConnectionRefusedError || error == QLocalSocket::ServerNotFoundError
                   ? PostResult::Stale
                   : PostResult::Unreachable;
    }
    socket.write(request);
    bool written = socket.waitForBytesWritten(kConnectTimeoutMs) || socket.bytesToWrite() == 0;
    if (written && answer != nullptr) {
        while (!socket.canReadLine() && socket.state() == QLocalSocket::ConnectedState &&
               socket.bytesAvailable() <= kMaxMessageBytes && socket.waitForReadyRead(kAnswerTimeoutMs)) {
        }
        if (socket.canReadLine()) {
            auto [word, dir] = SplitLine(socket.readLine(kMaxMessageBytes + 1).trimmed());
            for (std::size_t i = 0; i < std::size(kReplyWords); ++i) {
                if (word == kReplyWords[i])
                    answer->reply = static_cast<EChannelReply>(i);
            }
            answer->programDir = dir;
            QByteArray rest;
            while (readRest && rest.size() <= kMaxReportBytes) {
                rest += socket.readAll();
                if (socket.state() != QLocalSocket::ConnectedState || !socket.waitForReadyRead(kAnswerTimeoutMs))
                    break;
            }
            rest += socket.readAll();
            answer->payload = rest.left(kMaxReportBytes).toStdString();
        }
    }
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState)
        socket.waitForDisconnected(kConnectTimeoutMs);
    return written ? PostResult::Delivered : PostResult::Unreachable;
}

// Sends request to every copy's socket in dir; with answers set, collects each answer there.
unsigned PostToSockets(const std::string& dir, const QByteArray& request, std::vector<CopyAnswer>* answers,
                       const QString& exceptSocket = {}, bool readRest = false) {
    if (!platform::IsPrivateDirectory(dir))
        return 0;
    unsigned reached = 0;
    for (const auto& entry : platform::ListDirectory(dir)) {
        std::string path = platform::JoinPath(dir, entry.name);
        if (!IsSocketName(entry.name) || !platform::IsLocalSocket(path) ||
            (!exceptSocket.isEmpty() && QString::fromStdString(path) == exceptSocket))
            continue;
        CopyAnswer answer;
        switch (PostToSocket(path, request, answers != nullptr ? &answer : nullptr, readRest)) {
        case PostResult::Delivered:
            ++reached;
            if (answers != nullptr)
                answers->push_back(answer);
            break;
        case PostResult::Stale:
            platform::DeleteFile(path);
            break;
        case PostResult::Unreachable:
            break;
        }
    }
    return reached;
}

} // namespace

std::string GetChannelDirectory() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && *runtime == '/' && platform::IsDirectory(runtime))
        return platform::JoinPath(runtime, "vantrel");
    return "/tmp/vantrel-" + platform::CurrentUserId();
}

bool PrepareChannelDirectory(const std::string& dir) {
    return platform::MakePrivateDirectory(dir);
}

unsigned PostToAllCopies(const std::string& dir, unsigned wParam) {
    return PostToSockets(dir, QByteArray::number(wParam) + '\n', nullptr);
}

std::vector<CopyAnswer> SendToAllCopies(const std::string& dir, const ChannelRequest& request,
                                        const QString& exceptSocket) {
    std::vector<CopyAnswer> answers;
    PostToSockets(dir, FormatLine(request.command, request.programDir), &answers, exceptSocket,
                  request.command == kStatusCommand);
    return answers;
}

bool IsSameDirectory(const std::string& a, const std::string& b) {
    std::error_code error;
    return std::filesystem::is_directory(a, error) && platform::IsSameFile(a, b);
}

CMessageChannel::CMessageChannel(std::string dir, QObject* parent) : QObject(parent), m_strDir(std::move(dir)) {}

CMessageChannel::~CMessageChannel() {
    if (m_server)
        m_server->close();
}

bool CMessageChannel::Listen() {
    if (m_server && m_server->isListening())
        return true;
    if (!PrepareChannelDirectory(m_strDir))
        return false;
    QString path = QString::fromStdString(platform::JoinPath(m_strDir, NextSocketName()));
    // Left by an earlier process that had our pid and died without cleaning up.
    QLocalServer::removeServer(path);
    m_server = std::make_unique<QLocalServer>();
    connect(m_server.get(), &QLocalServer::newConnection, this, &CMessageChannel::OnNewConnection);
    if (!m_server->listen(path)) {
        m_server.reset();
        return false;
    }
    return true;
}

bool CMessageChannel::IsListening() const {
    return m_server && m_server->isListening();
}

QString CMessageChannel::SocketPath() const {
    return m_server ? m_server->fullServerName() : QString();
}

void CMessageChannel::OnNewConnection() {
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { OnReadyRead(socket); });
        connect(socket, &QLocalSocket::disconnected, this, [this, socket] {
            OnReadyRead(socket);
            socket->deleteLater();
        });
        OnReadyRead(socket); // what arrived before the connections were made
    }
}

void CMessageChannel::OnReadyRead(QLocalSocket* socket) {
    if (!socket->canReadLine()) {
        if (socket->bytesAvailable() > kMaxMessageBytes)
            socket->abort();
        return;
    }
    ChannelRequest request;
    std::tie(request.command, request.programDir) = SplitLine(socket->readLine(kMaxMessageBytes + 1).trimmed());
    const std::optional<unsigned> wParam = ParseUnsigned(request.command);
    const bool status = request.command == kStatusCommand;
    if (!wParam && request.command != kShowCommand && request.command != kHelloCommand &&
        !(status && m_statusSource)) {
        socket->disconnectFromServer();
        return;
    }
    EChannelReply reply = EChannelReply::Done;
    // A hello names the sender's directory, not the copy it is meant for.
    if (!request.programDir.empty() && request.command != kHelloCommand &&
        (m_strProgramDir.empty() || !IsSameDirectory(request.programDir, m_strProgramDir)))
        reply = EChannelReply::Other;
    else if (m_judge)
        reply = m_judge(request);
    // One request per connection: the answer goes out before anything is carried out, so a
    // sender learns it even when carrying it out ends this program or opens a box.
    socket->write(FormatLine(kReplyWords[static_cast<std::size_t>(reply)], m_strProgramDir));
    if (status && reply == EChannelReply::Done)
        socket->write(QByteArray::fromStdString(m_statusSource()));
    socket->flush();
    socket->disconnectFromServer();
    if (reply == EChannelReply::Other || status)
        return;
    if (wParam)
        emit MessageReceived(*wParam);
    else if (request.command == kShowCommand)
        emit ShowRequested();
    else
        emit CopyStarted(QString::fromStdString(request.programDir));
}

} // namespace vantrel
