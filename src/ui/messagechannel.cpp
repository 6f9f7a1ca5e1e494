#include "ui/messagechannel.h"

#include "platform/fileops.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel {

namespace {

// A message is a decimal number and a line feed; anything longer is not ours.
constexpr qint64 kMaxMessageBytes = 16;
constexpr int kConnectTimeoutMs = 2000;

bool IsOwnPrivateDirectory(const struct stat& info) {
    return S_ISDIR(info.st_mode) && info.st_uid == ::getuid() && (info.st_mode & 077) == 0;
}

// Whether dir is a directory of ours that nobody else may enter; a link is never followed.
bool IsPrivateDirectory(const std::string& dir) {
    struct stat info {};
    return ::lstat(dir.c_str(), &info) == 0 && IsOwnPrivateDirectory(info);
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

bool IsSocket(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

std::string NextSocketName() {
    static std::atomic<unsigned> channels{0};
    unsigned k = ++channels;
    std::string name = std::to_string(::getpid());
    return k == 1 ? name : name + "-" + std::to_string(k);
}

enum class PostResult { Delivered, Stale, Unreachable };

PostResult PostToSocket(const std::string& path, unsigned wParam) {
    QLocalSocket socket;
    socket.connectToServer(QString::fromStdString(path), QIODevice::WriteOnly);
    if (!socket.waitForConnected(kConnectTimeoutMs)) {
        auto error = socket.error();
        return error == QLocalSocket::ConnectionRefusedError || error == QLocalSocket::ServerNotFoundError
                   ? PostResult::Stale
                   : PostResult::Unreachable;
    }
    socket.write(QByteArray::number(wParam) + '\n');
    bool written = socket.waitForBytesWritten(kConnectTimeoutMs) || socket.bytesToWrite() == 0;
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState)
        socket.waitForDisconnected(kConnectTimeoutMs);
    return written ? PostResult::Delivered : PostResult::Unreachable;
}

} // namespace

std::string GetChannelDirectory() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && *runtime == '/' && platform::IsDirectory(runtime))
        return platform::JoinPath(runtime, "vantrel");
    return "/tmp/vantrel-" + std::to_string(::getuid());
}

bool PrepareChannelDirectory(const std::string& dir) {
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        return false;
    // Opened without following a link, so the checks and the narrowing apply to what we opened.
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info {};
    bool ok = ::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::getuid();
    if (ok && (info.st_mode & 077) != 0)
        ok = ::fchmod(fd, 0700) == 0;
    ::close(fd);
    return ok;
}

unsigned PostToAllCopies(const std::string& dir, unsigned wParam) {
    if (!IsPrivateDirectory(dir))
        return 0;
    unsigned reached = 0;
    for (const auto& entry : platform::ListDirectory(dir)) {
        std::string path = platform::JoinPath(dir, entry.name);
        if (!IsSocketName(entry.name) || !IsSocket(path))
            continue;
        switch (PostToSocket(path, wParam)) {
        case PostResult::Delivered:
            ++reached;
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
    QByteArray line = socket->readLine(kMaxMessageBytes + 1).trimmed();
    // One message per connection: the sender closes after it.
    socket->disconnectFromServer();
    if (auto wParam = ParseUnsigned(std::string_view(line.constData(), static_cast<std::size_t>(line.size()))))
        emit MessageReceived(*wParam);
}

} // namespace vantrel
