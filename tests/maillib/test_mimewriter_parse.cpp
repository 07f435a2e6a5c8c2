#include "test_mimewriter_parse.h"

#include "base/codec.h"
#include "maillib/mailtext.h"

#undef signals // GLib names a member "signals", which Qt defines as a keyword
#include <gmime/gmime.h>

namespace kiku::test {

namespace {

QString fromUtf8(const char* s) {
    return QString::fromUtf8(s ? s : "");
}

QByteArray decodedContent(GMimePart* part) {
    GMimeDataWrapper* content = g_mime_part_get_content(part);
    if (!content)
        return {};
    GMimeStream* out = g_mime_stream_mem_new();
    g_mime_data_wrapper_write_to_stream(content, out);
    GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(out));
    const QByteArray result(reinterpret_cast<const char*>(bytes->data), qsizetype(bytes->len));
    g_object_unref(out);
    return result;
}

QList<ParsedMail::Address> toAddresses(InternetAddressList* list) {
    QList<ParsedMail::Address> out;
    for (int i = 0; list && i < internet_address_list_length(list); ++i) {
        InternetAddress* address = internet_address_list_get_address(list, i);
        if (INTERNET_ADDRESS_IS_MAILBOX(address))
            out += {fromUtf8(internet_address_get_name(address)),
                    fromUtf8(internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(address)))};
    }
    return out;
}

struct Walk {
    ParsedMail* parsed;
    bool haveText = false;
};

// The first inline text/plain part is the body; every other leaf is an attachment.
void visit(GMimeObject*, GMimeObject* object, gpointer data) {
    auto* walk = static_cast<Walk*>(data);
    if (!GMIME_IS_PART(object))
        return;
    GMimePart* part = GMIME_PART(object);
    GMimeContentType* type = g_mime_object_get_content_type(object);
    char* mime = g_mime_content_type_get_mime_type(type);
    const QString contentType = fromUtf8(mime).toLower();
    g_free(mime);
    if (!walk->haveText && contentType == QLatin1String("text/plain") &&
        !g_mime_part_is_attachment(part)) {
        walk->haveText = true;
        ParsedMail& p = *walk->parsed;
        p.bodyCharset =
            fromUtf8(g_mime_object_get_content_type_parameter(object, "charset")).toLower();
        p.bodyEncoding =
            fromUtf8(g_mime_content_encoding_to_string(g_mime_part_get_content_encoding(part)));
        if (p.bodyEncoding.isEmpty())
            p.bodyEncoding = QStringLiteral("7bit");
        p.body = codec::decode(decodedContent(part), p.bodyCharset.toLatin1());
        return;
    }
    // The name as the receive path reads it: GMime drops a B word after a padded one.
    QString name;
    GMimeHeaderList* headers = g_mime_object_get_header_list(object);
    for (const char* field : {"Content-Disposition", "Content-Type"}) {
        GMimeHeader* header = g_mime_header_list_get_header(headers, field);
        if (name.isEmpty() && header)
            name = mailtext::parameter(
                QByteArray(g_mime_header_get_raw_value(header)).replace("\r\n", "").trimmed(),
                field[8] == 'D' ? "filename" : "name");
    }
    walk->parsed->attachments += {name, contentType, decodedContent(part)};
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
    return mailtext::decodeHeader(text.toLatin1());
}

ParsedMail parseMail(const QByteArray& message) {
    g_mime_init();
    ParsedMail parsed;
    GMimeStream* stream =
        g_mime_stream_mem_new_with_buffer(message.constData(), size_t(message.size()));
    GMimeParser* parser = g_mime_parser_new_with_stream(stream);
    GMimeMessage* msg = g_mime_parser_construct_message(parser, nullptr);
    g_object_unref(parser);
    g_object_unref(stream);
    if (!msg)
        return parsed;
    parsed.subject = mailtext::decodeHeader(rawHeaderField(message, "Subject"));
    parsed.date = QString::fromLatin1(rawHeaderField(message, "Date"));
    const QList<ParsedMail::Address> from = toAddresses(g_mime_message_get_from(msg));
    if (!from.isEmpty())
        parsed.from = from.first();
    parsed.to = toAddresses(g_mime_message_get_addresses(msg, GMIME_ADDRESS_TYPE_TO));
    parsed.cc = toAddresses(g_mime_message_get_addresses(msg, GMIME_ADDRESS_TYPE_CC));
    Walk walk{&parsed};
    if (GMimeObject* body = g_mime_message_get_mime_part(msg)) {
        if (GMIME_IS_MULTIPART(body))
            g_mime_multipart_foreach(GMIME_MULTIPART(body), visit, &walk);
        else
            visit(nullptr, body, &walk);
    }
    g_object_unref(msg);
    return parsed;
}

} // namespace kiku::test
