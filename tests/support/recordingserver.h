#pragma once

#include <QByteArray>
#include <QList>
#include <QtGlobal>

#include <atomic>
#include <mutex>
#include <thread>

namespace kiku::test {

// Listens on 127.0.0.1 (a free port) from a thread and takes every connection: records what
// the client sent first (up to a blank line or a short wait), answers `reply` and closes.
// Tells a test whether, and how often, the program reached out. Going out of scope stops it.
class RecordingServer {
public:
    explicit RecordingServer(QByteArray reply);
    ~RecordingServer();
    RecordingServer(const RecordingServer&) = delete;
    RecordingServer& operator=(const RecordingServer&) = delete;

    quint16 port() const { return m_port; }
    int connections() const { return m_connections.load(); }
    QList<QByteArray> requests() const;

private:
    void serve();

    const QByteArray m_reply;
    int m_listener = -1;
    quint16 m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_connections{0};
    mutable std::mutex m_mutex;
    QList<QByteArray> m_requests;
    std::thread m_thread;
};

} // namespace kiku::test
