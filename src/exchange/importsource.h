#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>
#include <QStringList>
#include <memory>

namespace kiku {

// The messages another program keeps, read a batch at a time so that a large mailbox never
// sits in memory whole: an mbox file (mboxrd or mboxo: every line "From " starts a message,
// ">From " lines lose one ">"), a Maildir (a folder with cur/ and new/), a folder of .eml
// files, or one .eml file. Each message comes as its bytes, without the mbox separator line.
class ImportSource {
public:
    // A message larger than this is left out and counted (no mail is that large).
    static constexpr qint64 kMaxMessageBytes = 256LL * 1024 * 1024;

    // Decides what `path` is and lists its files. False, with a reason, when it is none of the
    // kinds above or cannot be read.
    bool open(const QString& path, QString& error);
    // The next messages, at most `maxMessages` or about `maxBytes`; empty at the end. A file
    // that cannot be read stops the reading with error() set.
    QList<QByteArray> nextBatch(int maxMessages = 200, qint64 maxBytes = 64LL * 1024 * 1024);

    qint64 totalBytes() const { return m_totalBytes; }
    qint64 doneBytes() const { return m_doneBytes; }
    int leftOut() const { return m_leftOut; }
    QString error() const { return m_error; }

private:
    bool nextMboxMessage(QByteArray& message);
    bool nextFileMessage(QByteArray& message);

    bool m_mbox = false;
    std::unique_ptr<QFile> m_file; // the mbox being read
    QByteArray m_pendingLine;      // the separator line that ended the message before
    QStringList m_files;           // Maildir and .eml files, in name order
    qsizetype m_nextFile = 0;
    qint64 m_totalBytes = 0;
    qint64 m_doneBytes = 0;
    int m_leftOut = 0;
    bool m_tooLarge = false; // the message just read is left out
    QString m_error;
};

} // namespace kiku
