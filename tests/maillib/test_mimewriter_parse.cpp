#include "test_mimewriter_parse.h"

#include "base/codec.h"

#include <sstream>
#include <vmime/vmime.hpp>

namespace kiku::test {

namespace {

QString fromUtf8(const std::string& s) {
    return QString::fromStdString(s);
}

QString converted(const vmime::text& text) {
    return fromUtf8(text.getConvertedText(vmime::charset(vmime::charsets::UTF_8)));
}

QByteArray extracted(const vmime::contentHandler& data) {
    std::ostringstream out;
    vmime::utility::outputStreamAdapter adapter(out);
    data.extract(adapter);
    return QByteArray::fromStdString(out.str());
}

ParsedMail::Address toAddress(const vmime::mailbox& box) {
    return {converted(box.getName()), fromUtf8(box.getEmail().toString())};
}

QList<ParsedMail::Address> toAddresses(const vmime::addressList& list) {
    QList<ParsedMail::Address> out;
    for (size_t i = 0; i < list.getAddressCount(); ++i) {
        auto box = vmime::dynamicCast<const vmime::mailbox>(list.getAddressAt(i));
        if (box)
            out += toAddress(*box);
    }
    return out;
}

} // namespace

QByteArray rawHeaderField(const QByteArray& message, const QByteArray& name) {
    const qsizetype end = message.indexOf("\r\n\r\n");
    const QByteArray headers = "\r\n" + message.left(end < 0 ? message.size() : end) + "\r\n";
    const QByteArray key = "\r\n" + name.toLower() + ":";
    const qsizetype at = headers.toLower().indexOf(key);
    if (at < 0)
        return {};
    qsizetype stop = at + key.size();
    for (;;) {
        stop = headers.indexOf("\r\n", stop);
        if (stop < 0 || stop + 2 >= headers.size() ||
            (headers.at(stop + 2) != ' ' && headers.at(stop + 2) != '\t'))
            break;
        stop += 2;
    }
    QByteArray value = headers.mid(at + key.size(), stop - at - key.size());
    return value.replace("\r\n", "").trimmed();
}

QString decodedWords(const QString& text) {
    return converted(*vmime::text::decodeAndUnfold(text.toStdString()));
}

ParsedMail parseMail(const QByteArray& message) {
    auto msg = vmime::make_shared<vmime::message>();
    msg->parse(message.toStdString());
    ParsedMail parsed;
    auto header = msg->getHeader();
    if (header->hasField(vmime::fields::SUBJECT))
        parsed.subject = converted(*header->Subject()->getValue<vmime::text>());
    parsed.date = QString::fromLatin1(rawHeaderField(message, "Date"));

    vmime::messageParser parser(msg);
    parsed.from = toAddress(parser.getExpeditor());
    parsed.to = toAddresses(parser.getRecipients());
    parsed.cc = toAddresses(parser.getCopyRecipients());
    if (parser.getTextPartCount() > 0) {
        auto part = parser.getTextPartAt(0);
        parsed.bodyCharset = fromUtf8(part->getCharset().getName()).toLower();
        parsed.bodyEncoding = fromUtf8(part->getText()->getEncoding().getName()).toLower();
        parsed.body = codec::decode(extracted(*part->getText()), parsed.bodyCharset.toLatin1());
    }
    for (const auto& attachment : parser.getAttachmentList()) {
        ParsedMail::Attachment a;
        const vmime::word name = attachment->getName();
        a.name = fromUtf8(name.getConvertedText(vmime::charset(vmime::charsets::UTF_8)));
        a.contentType = fromUtf8(attachment->getType().generate());
        a.bytes = extracted(*attachment->getData());
        parsed.attachments += a;
    }
    return parsed;
}

} // namespace kiku::test
