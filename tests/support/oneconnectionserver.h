#pragma once

#include <QtGlobal>
#include <functional>
#include <thread>

namespace kiku::test {

// Listens on 127.0.0.1 (a free port) and serves exactly one connection from a thread:
// `serve` gets the accepted socket, which is closed once it returns. Going out of scope
// stops listening and waits for the thread, so a test that never connects still ends.
// Declare it after everything `serve` uses: the thread starts in the constructor.
class OneConnectionServer {
public:
    explicit OneConnectionServer(std::function<void(int socket)> serve);
    ~OneConnectionServer();
    OneConnectionServer(const OneConnectionServer&) = delete;
    OneConnectionServer& operator=(const OneConnectionServer&) = delete;

    quint16 port() const { return m_port; }

private:
    int m_listener = -1;
    quint16 m_port = 0;
    std::thread m_thread;
};

} // namespace kiku::test
