#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/uniquefd_linux.h"

// Local stream sockets (a path in the file system) between the running copies of one user: the
// Linux programs' channel (Windows copies talk through window messages and named pipes).
namespace vantrel::platform {

// What a request waits for after it is written.
enum class ELocalAnswer {
    None,       // nothing: the request is written and the connection closed
    Line,       // one line, up to and with its line feed
    UntilClosed // everything the peer sends until it hangs up
};

enum class ELocalExchange {
    Delivered,  // written whole; answer holds what came back in time (perhaps nothing)
    Stale,      // nobody listens on the path: the file of a process that is gone
    Unreachable // not written whole in time, or the path is no socket we can reach
};

struct LocalExchange {
    ELocalExchange state = ELocalExchange::Unreachable;
    std::string answer;
};

// Writes request to every socket in paths at once and collects the answers, all within one
// deadline: a peer that never answers (stopped, or busy) costs the deadline once, however many
// there are. An answer ends at maxAnswerBytes. Uses no toolkit object and no shared state, so
// any thread may call it. The results are in the order of paths.
std::vector<LocalExchange> ExchangeWithLocalSockets(const std::vector<std::string>& paths, std::string_view request,
                                                    ELocalAnswer wait, std::size_t maxAnswerBytes,
                                                    std::chrono::milliseconds deadline);

// A listening socket at path (which must not exist), non-blocking, closed on exec; invalid on
// failure (errno set). Removing the file is the caller's business.
UniqueFd ListenLocalSocket(const std::string& path, int backlog);

// The next waiting connection on a listening socket, non-blocking and closed on exec; invalid
// when there is none or it cannot be taken now (errno: EAGAIN, or EMFILE / ENFILE when this
// process or the system is out of descriptors: the connection stays queued for a later try).
UniqueFd AcceptLocalSocket(int listening);

} // namespace vantrel::platform
