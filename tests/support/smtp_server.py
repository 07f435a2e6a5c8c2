#!/usr/bin/python3
"""A loopback SMTP server for the tests, on aiosmtpd.

Every accepted message is stored in the folder given as first argument as
<n>.eml (the DATA bytes exactly as received, dot-unstuffed, ending with the
CRLF before the final dot) and <n>.json (envelope: sender, recipients, the
login that authenticated, whether the session was under TLS).

The script binds 127.0.0.1 on the given port (0 = any free port) and prints
"READY <port>" on stdout once it accepts connections.
"""

import argparse
import asyncio
import json
import os
import signal
import ssl
import sys

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


def parse_arguments():
    p = argparse.ArgumentParser()
    p.add_argument("folder", help="where received messages are stored")
    p.add_argument("--port", type=int, default=0)
    p.add_argument("--user", help="require AUTH with this login")
    p.add_argument("--password", default="")
    p.add_argument("--mechanisms", default="PLAIN,LOGIN",
                   help="comma-separated AUTH mechanisms to advertise")
    p.add_argument("--auth-optional", action="store_true",
                   help="advertise AUTH but accept mail without it")
    p.add_argument("--cert", help="PEM certificate for TLS")
    p.add_argument("--key", help="PEM private key for TLS")
    p.add_argument("--tls", choices=["none", "starttls", "implicit"], default="none")
    p.add_argument("--reject", action="append", default=[],
                   help="recipient answered with 550 (repeatable)")
    p.add_argument("--data-delay", type=float, default=0.0,
                   help="seconds to wait before answering the end of DATA")
    p.add_argument("--size-limit", type=int, default=33554432)
    return p.parse_args()


class StoringHandler:
    def __init__(self, folder, rejected, data_delay):
        self.folder = folder
        self.rejected = {r.lower() for r in rejected}
        self.data_delay = data_delay
        self.count = 0

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address.lower() in self.rejected:
            return "550 5.1.1 <%s>: Recipient address rejected: no such user" % address
        envelope.rcpt_tos.append(address)
        return "250 2.1.5 OK"

    async def handle_DATA(self, server, session, envelope):
        if self.data_delay > 0:
            await asyncio.sleep(self.data_delay)
        self.count += 1
        base = os.path.join(self.folder, str(self.count))
        login = None
        if session.authenticated and isinstance(session.auth_data, LoginPassword):
            login = session.auth_data.login.decode("utf-8", "replace")
        info = {
            "mail_from": envelope.mail_from,
            "rcpt_tos": envelope.rcpt_tos,
            "mail_options": envelope.mail_options,
            "login": login,
            # session.ssl is only set by STARTTLS; implicit TLS shows on the transport.
            "tls": (session.ssl is not None
                    or server.transport.get_extra_info("ssl_object") is not None),
        }
        # Written under temporary names and renamed, so a reader never sees half a file.
        with open(base + ".eml.part", "wb") as f:
            f.write(envelope.original_content)
        os.replace(base + ".eml.part", base + ".eml")
        with open(base + ".json.part", "w", encoding="utf-8") as f:
            json.dump(info, f)
        os.replace(base + ".json.part", base + ".json")
        return "250 2.0.0 OK queued as %d" % self.count


def make_authenticator(user, password):
    def authenticate(server, session, envelope, mechanism, auth_data):
        ok = (isinstance(auth_data, LoginPassword)
              and auth_data.login == user.encode("utf-8")
              and auth_data.password == password.encode("utf-8"))
        # handled=False: aiosmtpd then answers 235 or 535 itself.
        return AuthResult(success=ok, handled=False, auth_data=auth_data if ok else None)
    return authenticate


def main():
    args = parse_arguments()
    os.makedirs(args.folder, exist_ok=True)
    handler = StoringHandler(args.folder, args.reject, args.data_delay)

    context = None
    if args.tls != "none":
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(args.cert, args.key)

    all_mechanisms = {"PLAIN", "LOGIN"}
    wanted = {m.strip().upper() for m in args.mechanisms.split(",") if m.strip()}
    smtp_options = dict(
        hostname="kiku-test.localhost",
        auth_require_tls=False,
        auth_exclude_mechanism=sorted(all_mechanisms - wanted),
        data_size_limit=args.size_limit,
    )
    if args.user is not None:
        smtp_options["authenticator"] = make_authenticator(args.user, args.password)
        smtp_options["auth_required"] = not args.auth_optional
    if args.tls == "starttls":
        smtp_options["tls_context"] = context

    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)

    def factory():
        return SMTP(handler, loop=loop, **smtp_options)

    server = loop.run_until_complete(loop.create_server(
        factory, host="127.0.0.1", port=args.port,
        ssl=context if args.tls == "implicit" else None))
    port = server.sockets[0].getsockname()[1]
    loop.add_signal_handler(signal.SIGTERM, loop.stop)
    loop.add_signal_handler(signal.SIGINT, loop.stop)
    print("READY %d" % port, flush=True)
    try:
        loop.run_forever()
    finally:
        server.close()
        loop.close()
    return 0


if __name__ == "__main__":
    # aiosmtpd warns when AUTH is required without TLS; loopback tests want exactly that.
    import warnings
    warnings.simplefilter("ignore")
    sys.exit(main())
