#include "Loopback.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace Loopback {

namespace {

sockaddr_in LoopbackAddress(quint16 port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

class Socket
{
public:
    Socket() : fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {}
    ~Socket()
    {
        if (fd >= 0)
            ::close(fd);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    Socket(Socket&& other) noexcept : fd(other.fd) { other.fd = -1; }

    int fd;
};

bool WaitFor(int fd, short events, std::chrono::steady_clock::time_point deadline)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0)
        return false;
    pollfd entry{fd, events, 0};
    return ::poll(&entry, 1, static_cast<int>(left.count())) == 1 && (entry.revents & events);
}

} // namespace

std::vector<quint16> PickFreePorts(int count)
{
    std::vector<Socket> held;
    std::vector<quint16> ports;
    for (int i = 0; i < count; ++i) {
        Socket socket;
        sockaddr_in address = LoopbackAddress(0);
        socklen_t length = sizeof address;
        if (socket.fd < 0 || ::bind(socket.fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::getsockname(socket.fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return {};
        ports.push_back(ntohs(address.sin_port));
        held.push_back(std::move(socket));
    }
    return ports;
}

bool Accepts(quint16 port, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    Socket socket;
    const sockaddr_in address = LoopbackAddress(port);
    if (socket.fd < 0 || ::fcntl(socket.fd, F_SETFL, O_NONBLOCK) != 0)
        return false;
    if (::connect(socket.fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
        return true;
    if (errno != EINPROGRESS || !WaitFor(socket.fd, POLLOUT, deadline))
        return false;
    int error = 0;
    socklen_t length = sizeof error;
    return ::getsockopt(socket.fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
}

bool AnswersAmqp10(quint16 port, int timeoutMs)
{
    static const char header[8] = {'A', 'M', 'Q', 'P', 3, 1, 0, 0};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    Socket socket;
    const sockaddr_in address = LoopbackAddress(port);
    if (socket.fd < 0 ||
        ::connect(socket.fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return false;
    if (::send(socket.fd, header, sizeof header, MSG_NOSIGNAL) != sizeof header)
        return false;
    char answer[sizeof header];
    size_t got = 0;
    while (got < sizeof answer) {
        if (!WaitFor(socket.fd, POLLIN, deadline))
            return false;
        const ssize_t n = ::recv(socket.fd, answer + got, sizeof answer - got, 0);
        if (n <= 0)
            return false;
        got += static_cast<size_t>(n);
    }
    return std::memcmp(answer, header, sizeof header) == 0;
}

} // namespace Loopback
