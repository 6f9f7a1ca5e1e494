#include "platform/localsocket_linux.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

namespace vantrel::platform {

namespace {

// The address of path; false when the path is longer than a socket address can hold.
bool MakeAddress(const std::string& path, sockaddr_un& address) {
    address = {};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path)
        return false;
    path.copy(address.sun_path, path.size());
    return true;
}

// One request on its way: written, then read until its answer is whole.
struct Exchange {
    UniqueFd fd;
    std::size_t written = 0;
    bool done = false;
};

UniqueFd Connect(const std::string& path, ELocalExchange& state) {
    sockaddr_un address{};
    state = ELocalExchange::Unreachable;
    if (!MakeAddress(path, address))
        return {};
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.IsValid())
        return {};
    // A local connect completes at once, or fails at once (EAGAIN: the peer's queue is full).
    if (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        if (errno == ECONNREFUSED || errno == ENOENT)
            state = ELocalExchange::Stale;
        return {};
    }
    return fd;
}

bool AnswerIsWhole(const std::string& answer, ELocalAnswer wait, std::size_t maxAnswerBytes) {
    return answer.size() >= maxAnswerBytes || (wait == ELocalAnswer::Line && answer.find('\n') != std::string::npos);
}

} // namespace

std::vector<LocalExchange> ExchangeWithLocalSockets(const std::vector<std::string>& paths, std::string_view request,
                                                    ELocalAnswer wait, std::size_t maxAnswerBytes,
                                                    std::chrono::milliseconds deadline) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point end = Clock::now() + deadline;
    std::vector<LocalExchange> results(paths.size());
    std::vector<Exchange> exchanges(paths.size());
    for (std::size_t i = 0; i < paths.size(); ++i) {
        exchanges[i].fd = Connect(paths[i], results[i].state);
        exchanges[i].done = !exchanges[i].fd.IsValid();
    }
    for (;;) {
        std::vector<pollfd> polled;
        std::vector<std::size_t> which;
        for (std::size_t i = 0; i < exchanges.size(); ++i) {
            if (exchanges[i].done)
                continue;
            const bool writing = exchanges[i].written < request.size();
            polled.push_back({exchanges[i].fd.Get(), static_cast<short>(writing ? POLLOUT : POLLIN), 0});
            which.push_back(i);
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
        if (polled.empty() || left <= 0)
            break;
        const int ready = ::poll(polled.data(), polled.size(), static_cast<int>(left));
        if (ready < 0 && errno != EINTR)
            break;
        for (std::size_t k = 0; ready > 0 && k < polled.size(); ++k) {
            if (polled[k].revents == 0)
                continue;
            Exchange& exchange = exchanges[which[k]];
            LocalExchange& result = results[which[k]];
            if (exchange.written < request.size()) {
                const ssize_t sent = ::send(exchange.fd.Get(), request.data() + exchange.written,
                                            request.size() - exchange.written, MSG_NOSIGNAL | MSG_DONTWAIT);
                if (sent < 0 && errno != EAGAIN && errno != EINTR) {
                    exchange.done = true;
                    continue;
                }
                exchange.written += static_cast<std::size_t>(std::max<ssize_t>(sent, 0));
                if (exchange.written == request.size()) {
                    result.state = ELocalExchange::Delivered;
                    exchange.done = wait == ELocalAnswer::None;
                }
                continue;
            }
            char buffer[4096];
            const ssize_t got = ::recv(exchange.fd.Get(), buffer,
                                       std::min(sizeof buffer, maxAnswerBytes - result.answer.size()), MSG_DONTWAIT);
            if (got < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
            if (got > 0)
                result.answer.append(buffer, static_cast<std::size_t>(got));
            exchange.done = got <= 0 || AnswerIsWhole(result.answer, wait, maxAnswerBytes);
        }
    }
    return results;
}

UniqueFd ListenLocalSocket(const std::string& path, int backlog) {
    sockaddr_un address{};
    if (!MakeAddress(path, address)) {
        errno = ENAMETOOLONG;
        return {};
    }
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.IsValid() || ::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd.Get(), backlog) != 0)
        return {};
    return fd;
}

UniqueFd AcceptLocalSocket(int listening) {
    int fd = -1;
    do {
        fd = ::accept4(listening, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return UniqueFd(fd);
}

} // namespace vantrel::platform
