#include "recordingserver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kiku::test {

RecordingServer::RecordingServer(QByteArray reply) : m_reply(std::move(reply)) {
    m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(m_listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(m_listener, 16);
    socklen_t len = sizeof addr;
    ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&addr), &len);
    m_port = ntohs(addr.sin_port);
    m_thread = std::thread([this] { serve(); });
}

RecordingServer::~RecordingServer() {
    m_stop = true;
    m_thread.join();
    ::close(m_listener);
}

QList<QByteArray> RecordingServer::requests() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

void RecordingServer::serve() {
    while (!m_stop) {
        pollfd listening{m_listener, POLLIN, 0};
        if (::poll(&listening, 1, 50) <= 0)
            continue;
        const int fd = ::accept(m_listener, nullptr, nullptr);
        if (fd < 0)
            continue;
        ++m_connections;
        // What the client says first: an HTTP request ends in a blank line; a POP3 client
        // says nothing before the greeting, so do not wait long for it.
        QByteArray request;
        char buffer[4096];
        for (int waits = 0; waits < 4 && !request.contains("\r\n\r\n");) {
            pollfd in{fd, POLLIN, 0};
            if (::poll(&in, 1, 50) <= 0) {
                ++waits;
                continue;
            }
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n <= 0)
                break;
            request.append(buffer, n);
        }
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_requests.append(request);
        }
        ssize_t written = 0;
        while (written < m_reply.size()) {
            const ssize_t n = ::write(fd, m_reply.constData() + written, m_reply.size() - written);
            if (n <= 0)
                break;
            written += n;
        }
        ::close(fd);
    }
}

} // namespace kiku::test
