#include "oneconnectionserver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kiku::test {

OneConnectionServer::OneConnectionServer(std::function<void(int socket)> serve) {
    m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(m_listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(m_listener, 1);
    socklen_t len = sizeof addr;
    ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&addr), &len);
    m_port = ntohs(addr.sin_port);
    m_thread = std::thread([this, serve = std::move(serve)] {
        const int fd = ::accept(m_listener, nullptr, nullptr);
        if (fd < 0)
            return;
        serve(fd);
        ::close(fd);
    });
}

OneConnectionServer::~OneConnectionServer() {
    ::shutdown(m_listener, SHUT_RDWR);
    ::close(m_listener);
    m_thread.join();
}

} // namespace kiku::test
