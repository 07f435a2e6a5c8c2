#!/usr/bin/python3
"""KikuMail's demo: a private POP3 server (Dovecot, APOP, STARTTLS with a certificate made
for the demo) and a private SMTP server (aiosmtpd) on free ports of 127.0.0.1, a program
folder set up to use them, and the program started in it.

    scripts/demo.py FOLDER --program PATH   set up, start the servers, run the program,
                                            stop the servers when it ends
    scripts/demo.py FOLDER --servers-only   set up and start the servers, print
                                            "READY <pop3 port> <smtp port>", run until
                                            stdin closes or a signal comes (for tests)

FOLDER is an assembled program folder (scripts/assemble.sh). Its mail and settings are
kept from one demo start to the next; the demo's messages (data/demo/*.eml) and the address
book's three friends go in on the first start only. FOLDER/.demo/ keeps the demo's
certificates and the server's mailbox between starts; while the demo runs, Dovecot works in
a folder of its own (under /tmp), which its unprivileged users can enter wherever FOLDER
lies, and the mailbox is copied back into FOLDER/.demo/ when the demo ends.
Every message the SMTP server accepts is delivered back into the demo mailbox."""

import argparse
import ctypes
import grp
import os
import pwd
import shutil
import signal
import socket
import stat
import struct
import subprocess
import sys
import tempfile
import threading
import time

from aiosmtpd.controller import Controller

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
USER, PASSWORD = "demo", "kiku-demo"
ME = "taro@kiku.demo"
PARTNER = "花子 <hanako@kiku.demo>"
# The address book: the partner first, then two more friends.
FRIENDS = [("花子", PARTNER), ("次郎", "次郎 <jiro@kiku.demo>"), ("さくら", "さくら <sakura@kiku.demo>")]


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def write(path, text, keep=False, encoding="utf-8"):
    if keep and os.path.exists(path):
        return
    with open(path, "w", encoding=encoding, newline="") as f:
        f.write(text)


class MailOwner:
    """Dovecot never touches mail as root: as root the mailbox belongs to nobody."""

    def __init__(self):
        self.root = os.getuid() == 0
        entry = pwd.getpwnam("nobody") if self.root else pwd.getpwuid(os.getuid())
        self.uid, self.gid = entry.pw_uid, entry.pw_gid

    def give(self, path):
        if self.root:
            os.chown(path, self.uid, self.gid)

    def give_tree(self, top):
        if not self.root:
            return
        for folder, subfolders, files in os.walk(top):
            self.give(folder)
            for name in files:
                self.give(os.path.join(folder, name))


def enterable_by_all(path):
    """Whether every folder from / down to `path` lets other users pass through."""
    path = os.path.abspath(path)
    while True:
        if not os.stat(path).st_mode & stat.S_IXOTH:
            return False
        parent = os.path.dirname(path)
        if parent == path:
            return True
        path = parent


def server_folder(owner):
    """A fresh folder for Dovecot's files. As root, Dovecot's login, auth and mail processes
    run as its own users, so the folder must lie where they can reach it, not under the
    program folder, which may be private; as a plain user every process is that user."""
    if not owner.root:
        return tempfile.mkdtemp(prefix="kikumail-demo-")
    for parent in ("/tmp", "/var/tmp", "/run"):
        if os.path.isdir(parent) and enterable_by_all(parent):
            folder = tempfile.mkdtemp(prefix="kikumail-demo-", dir=parent)
            os.chmod(folder, 0o755)
            return folder
    sys.exit("demo: no folder that Dovecot's users can enter (/tmp, /var/tmp, /run)")


class Maildir:
    def __init__(self, path, owner):
        self.path, self.owner = path, owner
        self.count = 0
        for sub in ("", "new", "cur", "tmp"):
            os.makedirs(os.path.join(path, sub), exist_ok=True)
            owner.give(os.path.join(path, sub))

    def deliver(self, data):
        """Written under tmp/ and renamed into new/, so the server never sees half a file."""
        self.count += 1
        name = "%d.M%dP%d.kikudemo" % (time.time(), self.count, os.getpid())
        temporary = os.path.join(self.path, "tmp", name)
        with open(temporary, "wb") as f:
            f.write(data)
        self.owner.give(temporary)
        os.replace(temporary, os.path.join(self.path, "new", name))


class Delivering:
    """The SMTP server's handler: every accepted message goes back into the demo mailbox."""

    def __init__(self, maildir):
        self.maildir = maildir

    async def handle_DATA(self, server, session, envelope):
        received = "Received: from kikumail by kiku.demo (KikuMail demo)\r\n".encode()
        self.maildir.deliver(received + envelope.original_content)
        return "250 2.0.0 delivered to the demo mailbox"


def make_certificate(state, data_folder):
    """A demo CA and a server certificate for 127.0.0.1 signed by it; the program trusts
    the CA through ★MailData/ca.pem."""
    ca_key, ca_cert = os.path.join(state, "ca.key"), os.path.join(state, "ca.pem")
    key, csr, cert = (os.path.join(state, n) for n in ("server.key", "server.csr", "server.pem"))
    if not os.path.exists(cert):
        quiet = {"stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL, "check": True}
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "3650",
                        "-subj", "/CN=KikuMail demo CA", "-keyout", ca_key, "-out", ca_cert], **quiet)
        subprocess.run(["openssl", "req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=127.0.0.1",
                        "-keyout", key, "-out", csr], **quiet)
        extensions = os.path.join(state, "server.ext")
        write(extensions, "subjectAltName=IP:127.0.0.1\nbasicConstraints=CA:FALSE\n")
        subprocess.run(["openssl", "x509", "-req", "-in", csr, "-CA", ca_cert, "-CAkey", ca_key,
                        "-CAcreateserial", "-days", "3650", "-extfile", extensions, "-out", cert],
                       **quiet)
    shutil.copyfile(ca_cert, os.path.join(data_folder, "ca.pem"))
    return cert, key


def encode_address(name, address):
    """One 184-byte record of the address file vbmdata.data: the name padded with ideographic
    spaces to 30 characters, CR LF, Live 1, the address; Shift-JIS, each field space padded."""
    def field(text):
        return text.encode("cp932")[:90].ljust(90, b" ")
    return field(name + "　" * (30 - len(name))) + b"\r\n" + struct.pack("<h", 1) + field(address)


def fill_address_book(data, state):
    """The friends go in once, into a missing or empty book; entries the user made (or a book
    the user emptied after the first start) are left alone."""
    book = os.path.join(data, "vbmdata.data")
    marker = os.path.join(state, "addresses")
    if os.path.exists(marker):
        return
    if not os.path.exists(book) or os.path.getsize(book) == 0:
        with open(book, "wb") as f:
            f.write(b"".join(encode_address(name, address) for name, address in FRIENDS))
    write(marker, "the address book was filled\n")


def dovecot_conf(state, port, cert, key, owner):
    # As root, Dovecot's processes run as its own users; otherwise every one of them, its
    # groups included, is the user who started the demo.
    me = pwd.getpwuid(os.getuid()).pw_name
    identity = ("default_internal_user = dovecot\ndefault_login_user = dovenull\n" if owner.root
                else f"default_internal_user = {me}\ndefault_internal_group = "
                     f"{grp.getgrgid(os.getgid()).gr_name}\ndefault_login_user = {me}\n")
    write(os.path.join(state, "users"), "%s:{PLAIN}%s::::::\n" % (USER, PASSWORD))
    # Only root may chroot: as a plain user the login and anvil processes stay where they are.
    chroots = "" if owner.root else "service anvil {\n  chroot =\n}\n"
    login_chroot = "" if owner.root else "chroot =\n  "
    conf = f"""base_dir = {state}/run
state_dir = {state}/state
log_path = {state}/dovecot.log
instance_name = kikudemo-{port}
{identity}protocols = pop3
listen = 127.0.0.1
disable_plaintext_auth = no
auth_mechanisms = plain apop
first_valid_uid = 1
first_valid_gid = 1
mail_uid = {owner.uid}
mail_gid = {owner.gid}
mail_location = maildir:{state}/mail/%u
pop3_uidl_format = %08Xu%08Xv
ssl = yes
ssl_cert = <{cert}
ssl_key = <{key}
passdb {{
  driver = passwd-file
  args = scheme=PLAIN username_format=%u {state}/users
}}
userdb {{
  driver = passwd-file
  args = username_format=%u {state}/users
}}
{chroots}service pop3-login {{
  {login_chroot}inet_listener pop3 {{
    address = 127.0.0.1
    port = {port}
  }}
  inet_listener pop3s {{
    port = 0
  }}
}}
"""
    path = os.path.join(state, "dovecot.conf")
    write(path, conf)
    return path


def die_with_the_demo():
    """Runs in the server's process before it starts: the kernel sends it SIGTERM when the
    demo ends in any way, even killed outright, so no server outlives the demo."""
    PR_SET_PDEATHSIG = 1
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGTERM)


def wait_for_port(port, process, seconds=15):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if process.poll() is not None:
            return False
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=0.3):
                return True
        except OSError:
            time.sleep(0.05)
    return False


def set_up_program_folder(folder, pop3_port, smtp_port):
    data = os.path.join(folder, "★MailData")
    # The server settings follow the ports of this start; the account is the demo's.
    write(os.path.join(folder, "zadiru.ini"),
          f"SMTP=127.0.0.1:{smtp_port}\r\nPOP3=pop3+starttls://127.0.0.1:{pop3_port}\r\n"
          f"MAIL={ME}\r\nAPOP=1\r\n")
    write(os.path.join(data, "iniIdPass.ini"),
          f"[EXEINI]\r\nNAME={USER}\r\nNAME2={PASSWORD}\r\nNAME3=1\r\n")
    # The partner and the counters only on the first start: the user may change them.
    # Settings files are Shift-JIS, as the program writes them.
    write(os.path.join(data, "iniIdPass2.ini"), f"[EXEINI]\r\nNAME={PARTNER}\r\nNAME2=花子\r\n",
          keep=True, encoding="cp932")
    fill_address_book(data, os.path.join(folder, ".demo"))


class Servers:
    """Both servers of one demo start and the folder Dovecot works in."""

    def __init__(self, folder):
        self.folder = folder
        self.state = os.path.join(folder, ".demo")
        self.kept_mail = os.path.join(self.state, "mail", USER)
        self.work = None
        self.dovecot = None
        self.smtp = None

    def start(self):
        data = os.path.join(self.folder, "★MailData")
        if not os.path.isdir(data):
            sys.exit(f"demo: {self.folder} is not an assembled program folder (no ★MailData)")
        os.makedirs(self.state, exist_ok=True)
        owner = MailOwner()
        cert, key = make_certificate(self.state, data)

        self.work = server_folder(owner)
        mail = os.path.join(self.work, "mail")
        os.makedirs(mail)
        owner.give(mail)
        if os.path.isdir(self.kept_mail):
            shutil.copytree(self.kept_mail, os.path.join(mail, USER), symlinks=True)
        maildir = Maildir(os.path.join(mail, USER), owner)
        owner.give_tree(maildir.path)
        seeded = os.path.join(self.state, "seeded")
        if not os.path.exists(seeded):
            demo = os.path.join(TOP, "data", "demo")
            for name in sorted(n for n in os.listdir(demo) if n.endswith(".eml")):
                with open(os.path.join(demo, name), "rb") as f:
                    maildir.deliver(f.read())
            write(seeded, "the demo messages were delivered\n")
        # The server's copies of the certificate, so the program folder is never read by it.
        for source in (cert, key):
            shutil.copyfile(source, os.path.join(self.work, os.path.basename(source)))
        cert, key = (os.path.join(self.work, os.path.basename(p)) for p in (cert, key))

        self.pop3_port, self.smtp_port = free_port(), free_port()
        conf = dovecot_conf(self.work, self.pop3_port, cert, key, owner)
        self.dovecot = subprocess.Popen(["/usr/sbin/dovecot", "-F", "-c", conf],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                        preexec_fn=die_with_the_demo)
        if not wait_for_port(self.pop3_port, self.dovecot):
            self.stop()
            sys.exit("demo: Dovecot did not start; see " + os.path.join(self.state, "dovecot.log"))
        self.smtp = Controller(Delivering(maildir), hostname="127.0.0.1", port=self.smtp_port)
        self.smtp.start()
        set_up_program_folder(self.folder, self.pop3_port, self.smtp_port)

    def stop(self):
        if self.smtp:
            try:
                self.smtp.stop()
            except Exception:
                pass
            self.smtp = None
        if self.dovecot and self.dovecot.poll() is None:
            self.dovecot.terminate()
            try:
                self.dovecot.wait(5)
            except subprocess.TimeoutExpired:
                self.dovecot.kill()
                self.dovecot.wait()
        if self.work:
            self.keep_mail()
            shutil.rmtree(self.work, ignore_errors=True)
            self.work = None

    def keep_mail(self):
        """The mailbox as the server left it (what was not received yet, and what the SMTP
        server delivered) replaces the kept copy; the log goes beside it."""
        log = os.path.join(self.work, "dovecot.log")
        if os.path.exists(log):
            shutil.copyfile(log, os.path.join(self.state, "dovecot.log"))
        served = os.path.join(self.work, "mail", USER)
        if not os.path.isdir(served):
            return
        fresh, old = self.kept_mail + ".new", self.kept_mail + ".old"
        for leftover in (fresh, old):
            shutil.rmtree(leftover, ignore_errors=True)
        shutil.copytree(served, fresh, symlinks=True)
        if os.path.exists(self.kept_mail):
            os.rename(self.kept_mail, old)
        os.rename(fresh, self.kept_mail)
        shutil.rmtree(old, ignore_errors=True)


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("folder")
    p.add_argument("--program", help="the kikumail binary to start in the folder")
    p.add_argument("--servers-only", action="store_true")
    args = p.parse_args()
    folder = os.path.abspath(args.folder)

    servers = Servers(folder)
    ended = threading.Event()
    program = None

    def on_signal(signum, frame):
        ended.set()
        if program and program.poll() is None:
            program.terminate()

    signal.signal(signal.SIGINT, on_signal)
    signal.signal(signal.SIGTERM, on_signal)
    try:
        servers.start()
        pop3_port, smtp_port = servers.pop3_port, servers.smtp_port
        if args.servers_only:
            print(f"READY {pop3_port} {smtp_port}", flush=True)
            threading.Thread(target=lambda: (sys.stdin.read(), ended.set()), daemon=True).start()
            while not ended.wait(0.2):
                pass
            return 0
        print(f"Demo servers: POP3 (APOP, STARTTLS) on 127.0.0.1:{pop3_port}, "
              f"SMTP on 127.0.0.1:{smtp_port}. Close KikuMail to stop them.", flush=True)
        program = subprocess.Popen([args.program, "--home", folder], cwd=folder)
        return program.wait()
    finally:
        servers.stop()


if __name__ == "__main__":
    sys.exit(main())
