#include "host/localcopychannel.h"

#include "control/programsession.h"

namespace vantrel {

CLocalCopyChannel::CLocalCopyChannel(std::string directory)
    : m_strDir(directory.empty() ? GetChannelDirectory() : std::move(directory)) {}

CLocalCopyChannel::~CLocalCopyChannel() {
    StopServing();
}

ICopyChannel::EHandOver CLocalCopyChannel::AskToShow(const std::string& programDir) {
    for (const CopyAnswer& answer : SendToAllCopies(m_strDir, {kShowCommand, programDir})) {
        if (answer.reply == EChannelReply::Done)
            return EHandOver::Shown;
        if (answer.reply == EChannelReply::Refused)
            return EHandOver::NoWindow;
    }
    return EHandOver::NoAnswer;
}

bool CLocalCopyChannel::Serve(CProgramSession& session) {
    m_pSession = &session;
    m_channel = std::make_unique<CMessageChannel>(m_strDir);
    m_channel->SetProgramDirectory(session.ProgramDir());
    // The sender learns at once whether the request will be carried out: a field the user left
    // invalid keeps this copy open (it shows the refusal, as Exit does), and a copy without a
    // window has none to show.
    m_channel->SetRequestJudge([this](const ChannelRequest& request) {
        if (m_pSession == nullptr)
            return EChannelReply::None;
        if (request.command == std::to_string(kExitRequest) && !m_pSession->AcceptsExitRequest())
            return EChannelReply::Refused;
        if (request.command == kShowCommand && m_pSession->View() == nullptr)
            return EChannelReply::Refused;
        return EChannelReply::Done;
    });
    m_channel->SetStatusSource([this] { return m_pSession != nullptr ? m_pSession->EncodedStatus() : std::string(); });
    connect(m_channel.get(), &CMessageChannel::MessageReceived, this, [this](unsigned wParam) {
        if (m_pSession != nullptr)
            m_pSession->OnRegisteredMessage(wParam);
    });
    connect(m_channel.get(), &CMessageChannel::ShowRequested, this, [this] {
        if (m_pSession != nullptr)
            m_pSession->ShowWindow();
    });
    connect(m_channel.get(), &CMessageChannel::CopyStarted, this, [this](const QString& dir) {
        if (m_pSession != nullptr && !IsSameDirectory(dir.toStdString(), m_pSession->ProgramDir()))
            m_pSession->OtherCopyStarted();
    });
    return m_channel->Listen();
}

void CLocalCopyChannel::Greet(const std::string& programDir) {
    if (m_channel == nullptr || !m_channel->IsListening() || m_greeter.joinable())
        return;
    // Each copy asked may be slow to answer (busy, or stopped): the window never waits for it.
    m_greeter = std::thread([this, dir = m_strDir, programDir, own = m_channel->SocketPath()] {
        for (const CopyAnswer& answer : SendToAllCopies(dir, {kHelloCommand, programDir}, own)) {
            if (answer.reply != EChannelReply::Done || answer.programDir.empty() ||
                IsSameDirectory(answer.programDir, programDir))
                continue;
            QMetaObject::invokeMethod(
                this,
                [this] {
                    if (m_pSession != nullptr)
                        m_pSession->OtherCopyStarted();
                },
                Qt::QueuedConnection);
            break;
        }
    });
}

void CLocalCopyChannel::StopServing() {
    m_pSession = nullptr;
    if (m_greeter.joinable())
        m_greeter.join();
    m_channel.reset();
}

} // namespace vantrel
