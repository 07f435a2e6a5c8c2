#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace kiku::test {

// Mail as it arrives at a receive run, built the same on every call so that what a run
// stores can be compared byte for byte between versions of the program.
namespace corpus {

// The address the partner mail of the corpus comes from.
inline const QString kPartner = QStringLiteral("partner@example.jp");

// About 1.3 KB of ISO-2022-JP text, with a body line that starts with a dot so that
// dot-unstuffing is part of every run.
QByteArray smallMessage(int i, const QString& from);
// About 50 KB of Japanese text in ISO-2022-JP; every third one mentions "attachment".
QByteArray japaneseTextMessage(int i, const QString& from);
// A short Japanese text part and one file of `attachmentBytes` bytes in base64.
QByteArray attachmentMessage(int i, const QString& from, int attachmentBytes = 1 << 20);

// Some forty messages of every kind a run treats differently: partner and other senders,
// every charset and transfer encoding, HTML, nested and forwarded parts, files with
// hostile and repeated names, an incomplete message/partial, subjects and bodies longer
// than their record fields.
QList<QByteArray> variedMessages();

} // namespace corpus

} // namespace kiku::test
