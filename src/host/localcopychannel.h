#pragma once

#include "control/copychannel.h"
#include "host/messagechannel.h"

#include <QObject>
#include <memory>
#include <string>
#include <thread>

namespace vantrel {

// The other copies of this user over the per-user local sockets: this copy's requests answered on
// the thread that made the channel, the hello sent from a thread of its own.
class CLocalCopyChannel final : public QObject, public ICopyChannel {
public:
    // directory: where every copy's socket lies; empty: GetChannelDirectory().
    explicit CLocalCopyChannel(std::string directory = {});
    ~CLocalCopyChannel() override;
    CLocalCopyChannel(const CLocalCopyChannel&) = delete;
    CLocalCopyChannel& operator=(const CLocalCopyChannel&) = delete;

    EHandOver AskToShow(const std::string& programDir) override;
    bool Serve(CProgramSession& session) override;
    void Greet(const std::string& programDir) override;
    void StopServing() override;
    std::string Where() const override { return m_strDir; }

    // The listening side; null before Serve and after StopServing.
    CMessageChannel* Channel() const { return m_channel.get(); }

private:
    std::string m_strDir;
    CProgramSession* m_pSession = nullptr;
    std::unique_ptr<CMessageChannel> m_channel;
    std::thread m_greeter;
};

} // namespace vantrel
