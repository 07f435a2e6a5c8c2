#!/usr/bin/python3
"""Writes the demo's mailbox messages (data/demo/*.eml) from the texts below.

Run it again after changing a text; the output is the same bytes on every run. The demo
(scripts/demo.py) puts these messages into its private mailbox on its first start."""

import base64
import os
import sys
import zlib
from email.header import Header

HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.dirname(HERE)
ME = "taro@kiku.demo"
# The partner is matched on the sender text as received, so both partner messages carry the
# same From text, which the demo registers as the partner's address.
PARTNER = "=?iso-2022-jp?B?" + base64.b64encode("花子".encode("iso2022_jp")).decode() + "?= <hanako@kiku.demo>"


def words(text, charset):
    return Header(text, charset).encode()


def b64(data):
    raw = base64.b64encode(data).decode("ascii")
    return "\r\n".join(raw[i:i + 76] for i in range(0, len(raw), 76))


def header(sender, subject, date, charset, extra=""):
    return (f"From: {sender}\r\nTo: {ME}\r\nSubject: {words(subject, charset)}\r\n"
            f"Date: {date}\r\nMessage-ID: <{zlib.crc32(subject.encode())}@kiku.demo>\r\n"
            f"MIME-Version: 1.0\r\n{extra}")


def text_mail(sender, subject, date, body, charset, cte="7bit"):
    encoded = body.replace("\n", "\r\n").encode(charset)
    if cte == "base64":
        encoded = b64(encoded).encode("ascii") + b"\r\n"
    head = header(sender, subject, date, charset,
                  f"Content-Type: text/plain; charset={charset}\r\nContent-Transfer-Encoding: {cte}\r\n\r\n")
    return head.encode("ascii") + encoded


def with_attachment(sender, subject, date, body, name, mime, data):
    boundary = "----=_KikuDemo_" + mime.replace("/", "_")
    text = body.replace("\n", "\r\n").encode("iso2022_jp")
    head = header(sender, subject, date, "iso-2022-jp",
                  f'Content-Type: multipart/mixed; boundary="{boundary}"\r\n\r\n')
    parts = (f"--{boundary}\r\nContent-Type: text/plain; charset=iso-2022-jp\r\n"
             f"Content-Transfer-Encoding: 7bit\r\n\r\n").encode("ascii") + text + b"\r\n"
    parts += (f"--{boundary}\r\nContent-Type: {mime}; name=\"{name}\"\r\n"
              f"Content-Disposition: attachment; filename=\"{name}\"\r\n"
              f"Content-Transfer-Encoding: base64\r\n\r\n{b64(data)}\r\n--{boundary}--\r\n").encode("ascii")
    return head.encode("ascii") + parts


def tiny_pdf(line):
    """A one-page PDF that shows one line of text."""
    stream = f"BT /F1 24 Tf 72 720 Td ({line}) Tj ET".encode("ascii")
    objects = [
        b"<< /Type /Catalog /Pages 2 0 R >>",
        b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R "
        b"/Resources << /Font << /F1 5 0 R >> >> >>",
        b"<< /Length " + str(len(stream)).encode() + b" >>\nstream\n" + stream + b"\nendstream",
        b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
    ]
    out = b"%PDF-1.4\n"
    offsets = []
    for n, body in enumerate(objects, 1):
        offsets.append(len(out))
        out += f"{n} 0 obj\n".encode() + body + b"\nendobj\n"
    xref = len(out)
    out += f"xref\n0 {len(objects) + 1}\n0000000000 65535 f \n".encode()
    for off in offsets:
        out += f"{off:010d} 00000 n \n".encode()
    out += f"trailer\n<< /Size {len(objects) + 1} /Root 1 0 R >>\nstartxref\n{xref}\n%%EOF\n".encode()
    return out


MESSAGES = {
    "01-partner-iso2022jp.eml": lambda: text_mail(
        PARTNER,
        "桜の季節ですね", "Mon, 07 Dec 2026 09:15:00 +0900",
        "太郎さん\n\nおはようございます。公園の桜がそろそろ咲きそうです。\n"
        "週末、一緒に見に行きませんか？\n\n花子\n", "iso-2022-jp"),
    "02-others-shiftjis.eml": lambda: text_mail(
        "shop@kiku.demo", "ご注文ありがとうございました", "Mon, 07 Dec 2026 11:02:00 +0900",
        "この度はご注文いただき、誠にありがとうございます。\n"
        "商品は三日以内に発送いたします。\n\nキク商店\n", "shift_jis", "base64"),
    "03-others-utf8.eml": lambda: text_mail(
        "club@kiku.demo", "提灯づくり教室のお知らせ 🏮", "Mon, 07 Dec 2026 15:30:00 +0900",
        "次回の提灯づくり教室は土曜日の午後二時からです。\n"
        "和紙と竹ひごはこちらで用意します。\n", "utf-8", "base64"),
    "04-partner-picture.eml": lambda: with_attachment(
        PARTNER, "写真を送ります", "Tue, 08 Dec 2026 08:40:00 +0900",
        "昨日撮った写真です。\n", "sakura.gif", "image/gif",
        open(os.path.join(DATA, "Heart.gif"), "rb").read()),
    "05-others-html.eml": lambda: with_attachment(
        "news@kiku.demo", "今月のおたより", "Tue, 08 Dec 2026 10:00:00 +0900",
        "今月のおたよりを添付します。\n", "otayori.html", "text/html",
        "<html><head><meta charset=\"utf-8\"><title>おたより</title></head><body>"
        "<h1>今月のおたより</h1><p>灯籠まつりは十二日です。</p>"
        "<img src=\"https://example.invalid/remote.png\" alt=\"(remote picture, never loaded)\">"
        "</body></html>\n".encode("utf-8")),
    "06-others-pdf.eml": lambda: with_attachment(
        "office@kiku.demo", "会議資料", "Tue, 08 Dec 2026 13:20:00 +0900",
        "明日の会議資料（PDF）です。\n", "agenda.pdf", "application/pdf",
        tiny_pdf("Kiku Lanternway demo agenda")),
}


def main(argv):
    out = argv[1] if len(argv) > 1 else HERE
    for name, make in MESSAGES.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(make())
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
