#include "host/messagechannel.h"

#include "platform/fileops.h"
#include "platform/localsocket_linux.h"
#include "platform/process.h"
#include "platform/system.h"

#include <QLocalSocket>
#include <QSocketNotifier>
#include <atomic>
#include <chrono>
#include <cerrno>
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
// Every copy is asked at once and answers from its event loop at once: a local socket answers in
// milliseconds, so a copy that has not answered by then is stopped or hung, and is not waited for.
constexpr std::chrono::milliseconds kAnswerDeadline{500};
// Connections served at once; more wait in the system's queue until one ends.
constexpr int kMaxConnections = 32;
constexpr int kListenBacklog = 64;
// A connection that has not sent its line by then is closed, so idle ones cannot pile up.
constexpr std::chrono::milliseconds kIdleTimeout{5000};
// After the process ran out of descriptors, accepting is tried again this often.
constexpr std::chrono::milliseconds kAcceptRetry{250};

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

// Reads a copy's answer: its answer line, then (a status report) what follows it.
CopyAnswer ParseAnswer(const std::string& text) {
    CopyAnswer answer;
    const std::size_t lf = text.find('\n');
    if (lf == std::string::npos)
        return answer;
    auto [word, dir] = SplitLine(QByteArray::fromStdString(text.substr(0, lf)).trimmed());
    for (std::size_t i = 0; i < std::size(kReplyWords); ++i) {
        if (word == kReplyWords[i])
            answer.reply = static_cast<EChannelReply>(i);
    }
    answer.programDir = dir;
    answer.payload = text.substr(lf + 1, kMaxReportBytes);
    return answer;
}

// Sends request to every copy's socket in dir at once; with answers set, collects each answer there.
unsigned PostToSockets(const std::string& dir, const QByteArray& request, std::vector<CopyAnswer>* answers,
                       const QString& exceptSocket = {}, bool readRest = false) {
    if (!platform::IsPrivateDirectory(dir))
        return 0;
    std::vector<std::string> paths;
    for (const auto& entry : platform::ListDirectory(dir)) {
        std::string path = platform::JoinPath(dir, entry.name);
        if (IsSocketName(entry.name) && platform::IsLocalSocket(path) &&
            (exceptSocket.isEmpty() || QString::fromStdString(path) != exceptSocket))
            paths.push_back(std::move(path));
    }
    const platform::ELocalAnswer wait = answers == nullptr ? platform::ELocalAnswer::None
                                        : readRest         ? platform::ELocalAnswer::UntilClosed
                                                           : platform::ELocalAnswer::Line;
    const std::vector<platform::LocalExchange> exchanges = platform::ExchangeWithLocalSockets(
        paths, request.toStdString(), wait, kMaxMessageBytes + 1 + kMaxReportBytes, kAnswerDeadline);
    unsigned reached = 0;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        switch (exchanges[i].state) {
        case platform::ELocalExchange::Delivered:
            ++reached;
            if (answers != nullptr)
                answers->push_back(ParseAnswer(exchanges[i].answer));
            break;
        case platform::ELocalExchange::Stale:
            platform::DeleteFile(paths[i]);
            break;
        case platform::ELocalExchange::Unreachable:
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

CMessageChannel::CMessageChannel(std::string dir, QObject* parent)
    : QObject(parent), m_strDir(std::move(dir)), m_idleTimeout(kIdleTimeout) {
    m_acceptRetry.setSingleShot(true);
    m_acceptRetry.setInterval(kAcceptRetry);
    connect(&m_acceptRetry, &QTimer::timeout, this, &CMessageChannel::ResumeAccepting);
}

CMessageChannel::~CMessageChannel() {
    // The connections go first, so none reports its end to a channel half gone.
    for (QLocalSocket* socket : findChildren<QLocalSocket*>(Qt::FindDirectChildrenOnly)) {
        disconnect(socket, nullptr, this, nullptr);
        delete socket;
    }
    Close();
}

void CMessageChannel::Close() {
    m_notifier.reset();
    if (m_listen.IsValid()) {
        m_listen.Reset();
        platform::DeleteFile(m_strSocketPath);
    }
}

bool CMessageChannel::Listen() {
    if (IsListening())
        return true;
    if (!PrepareChannelDirectory(m_strDir))
        return false;
    const std::string path = platform::JoinPath(m_strDir, NextSocketName());
    // Left by an earlier process that had our pid and died without cleaning up.
    if (platform::IsLocalSocket(path))
        platform::DeleteFile(path);
    m_listen = platform::ListenLocalSocket(path, kListenBacklog);
    if (!m_listen.IsValid())
        return false;
    m_strSocketPath = path;
    m_notifier = std::make_unique<QSocketNotifier>(m_listen.Get(), QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &CMessageChannel::OnNewConnection);
    return true;
}

bool CMessageChannel::IsListening() const {
    return m_listen.IsValid();
}

QString CMessageChannel::SocketPath() const {
    return m_listen.IsValid() ? QString::fromStdString(m_strSocketPath) : QString();
}

void CMessageChannel::ResumeAccepting() {
    if (m_notifier && !m_acceptRetry.isActive())
        m_notifier->setEnabled(m_nConnections < kMaxConnections);
}

void CMessageChannel::OnNewConnection() {
    while (m_nConnections < kMaxConnections) {
        platform::UniqueFd fd = platform::AcceptLocalSocket(m_listen.Get());
        if (!fd.IsValid()) {
            const int error = errno;
            if (error == ECONNABORTED)
                continue;
            // Out of descriptors: the connection stays queued, and the channel lives on. Listening
            // again at once would only spin, so it waits a moment.
            if (error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM) {
                m_notifier->setEnabled(false);
                m_acceptRetry.start();
            }
            return;
        }
        auto* socket = new QLocalSocket(this);
        if (!socket->setSocketDescriptor(fd.Get())) {
            delete socket;
            continue;
        }
        fd.Release();
        ++m_nConnections;
        connect(socket, &QObject::destroyed, this, [this] {
            --m_nConnections;
            ResumeAccepting();
        });
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { OnReadyRead(socket); });
        connect(socket, &QLocalSocket::disconnected, this, [this, socket] {
            OnReadyRead(socket);
            socket->deleteLater();
        });
        QTimer::singleShot(m_idleTimeout, socket, [socket] {
            socket->abort();
            socket->deleteLater();
        });
        OnReadyRead(socket); // what arrived before the connections were made
    }
    // At the cap: the rest wait in the queue until a connection ends.
    m_notifier->setEnabled(false);
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
