#pragma once

#include "store/mailrecord.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <vector>

namespace kiku::test {
class DovecotServer;
}

namespace kiku::bench {

// The account the receive benchmarks read from (DovecotServer's default user).
inline const QString kUser = QStringLiteral("alice");
inline const QString kPassword = QStringLiteral("secret");

// The middle of the figures of several runs.
double median(std::vector<double> values);

// Message i of a box as a real one holds them: Japanese and ASCII subjects and senders, and
// texts of every length up to 2,000 characters.
MailRecord sampleRecord(int i);

// A line of /proc/self/status in kB: "VmHWM:" (the peak resident size since the last
// reset) or "VmRSS:" (the resident size now); -1 when it cannot be read.
long memoryKb(const char* key);
// Makes VmHWM start again from the current size; false where the system cannot.
bool resetPeakMemory();

// Starts the server; says on stderr why when it does not come up.
bool startDovecot(test::DovecotServer& server);

// Delivers message(0) .. message(count - 1) into kUser's maildir; true when exactly
// `count` messages are there afterwards.
bool loadMessages(test::DovecotServer& server, int count,
                  const std::function<QByteArray(int)>& message);

// mpop fetching everything for kUser from the server into a maildir under `work`
// (USER/PASS, no TLS, keep off): the seconds it took, or -1 when its configuration cannot
// be written. `received` is the number of messages that arrived in the maildir.
double receiveWithMpop(const test::DovecotServer& server, const QString& work, int* received);

// The server alone: every message fetched and deleted in one pipelined burst of commands
// and its replies read and dropped, nothing parsed or stored. The seconds it took, or -1
// when the session failed; the floor under any client's time.
double drainServer(const test::DovecotServer& server, int count);

} // namespace kiku::bench
