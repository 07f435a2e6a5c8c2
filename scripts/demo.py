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
kept from one demo start to the next; the demo's messages (data/demo/*.eml) go into the
mailbox on the first start only. Everything the servers need lives in FOLDER/.demo/.
Every message the SMTP server accepts is delivered back into the demo mailbox."""

import argparse
import ctypes
import os
import pwd
import shutil
import signal
import socket
import subprocess
import sys
import threading
import time

from aiosmtpd.controller import Controller

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
USER, PASSWORD = "demo", "kiku-demo"
ME = "taro@kiku.demo"
PARTNER = "花子 <hanako@kiku.demo>"


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
        os.chmod(key, 0o644)
    shutil.copyfile(ca_cert, os.path.join(data_folder, "ca.pem"))
    return cert, key


def dovecot_conf(state, port, cert, key, owner):
    identity = ("default_internal_user = dovecot\ndefault_login_user = dovenull\n" if owner.root
                else "default_internal_user = %s\ndefault_login_user = %s\n"
                % ((pwd.getpwuid(os.getuid()).pw_name,) * 2))
    write(os.path.join(state, "users"), "%s:{PLAIN}%s::::::\n" % (USER, PASSWORD))
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
service pop3-login {{
  inet_listener pop3 {{
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


def start(folder):
    """Starts both servers; returns (dovecot process, smtp controller, ports)."""
    data = os.path.join(folder, "★MailData")
    if not os.path.isdir(data):
        sys.exit(f"demo: {folder} is not an assembled program folder (no ★MailData)")
    state = os.path.join(folder, ".demo")
    os.makedirs(state, exist_ok=True)
    os.chmod(state, 0o755)
    owner = MailOwner()
    if owner.root:
        # Dovecot's unprivileged processes must be able to pass through the folder.
        os.chmod(folder, os.stat(folder).st_mode | 0o011)
    os.makedirs(os.path.join(state, "mail"), exist_ok=True)
    owner.give(os.path.join(state, "mail"))
    maildir = Maildir(os.path.join(state, "mail", USER), owner)
    seeded = os.path.join(state, "seeded")
    if not os.path.exists(seeded):
        demo = os.path.join(TOP, "data", "demo")
        for name in sorted(n for n in os.listdir(demo) if n.endswith(".eml")):
            with open(os.path.join(demo, name), "rb") as f:
                maildir.deliver(f.read())
        write(seeded, "the demo messages were delivered\n")

    cert, key = make_certificate(state, data)
    pop3_port, smtp_port = free_port(), free_port()
    conf = dovecot_conf(state, pop3_port, cert, key, owner)
    dovecot = subprocess.Popen(["/usr/sbin/dovecot", "-F", "-c", conf],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                               preexec_fn=die_with_the_demo)
    if not wait_for_port(pop3_port, dovecot):
        dovecot.kill()
        log = os.path.join(state, "dovecot.log")
        sys.exit("demo: Dovecot did not start; see " + log)
    smtp = Controller(Delivering(maildir), hostname="127.0.0.1", port=smtp_port)
    smtp.start()
    set_up_program_folder(folder, pop3_port, smtp_port)
    return dovecot, smtp, pop3_port, smtp_port


def stop(dovecot, smtp):
    try:
        smtp.stop()
    except Exception:
        pass
    if dovecot.poll() is None:
        dovecot.terminate()
        try:
            dovecot.wait(5)
        except subprocess.TimeoutExpired:
            dovecot.kill()
            dovecot.wait()


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("folder")
    p.add_argument("--program", help="the kikumail binary to start in the folder")
    p.add_argument("--servers-only", action="store_true")
    args = p.parse_args()
    folder = os.path.abspath(args.folder)

    dovecot, smtp, pop3_port, smtp_port = start(folder)
    ended = threading.Event()
    program = None

    def on_signal(signum, frame):
        ended.set()
        if program and program.poll() is None:
            program.terminate()

    signal.signal(signal.SIGINT, on_signal)
    signal.signal(signal.SIGTERM, on_signal)
    try:
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
        stop(dovecot, smtp)


if __name__ == "__main__":
    sys.exit(main())
