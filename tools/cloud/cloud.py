#!/usr/bin/python3
"""Local stand-in for the launcher's cloud: two FTP servers and one HTTP server on loopback.

  cloud.py serve --repo DIR --redist DIR --web DIR [--user NAME:PASSWORD:HOMEDIR ...]
                 [--host 127.0.0.1] [--ready-file FILE] [--log FILE] [--tls] [--rate BYTES_PER_S]
      Runs in the foreground. When every server listens, prints one line of JSON
      {"repository": "HOST:PORT", "redist": "HOST:PORT", "http": "http://HOST:PORT"}
      (with --tls also "ca": the private CA file that signed the servers' certificate)
      and runs until SIGTERM/SIGINT or until standard input reaches end of file.
  cloud.py start --state DIR (same options, or --content DIR)
      Runs serve in the background, waits until it is ready, writes DIR/endpoints.json
      and DIR/pid, prints the JSON. --content takes the folders and the accounts from
      the content.json that tools/demo/make_content.py wrote there.
  cloud.py stop --state DIR
      Stops a cloud started with start and waits for it to end.
  cloud.py settings --state DIR --out FILE [--default-config NAME] [--public-key KEY]
      Writes a launcher settings file (mode 0600) whose endpoints are that cloud's, with
      DefaultPath \Tools, and the default set and the maker's public key when given.

Run with Debian's /usr/bin/python3: that is the interpreter that sees python3-pyftpdlib.
"""

import argparse
import functools
import http.server
import json
import logging
import os
import select
import signal
import socketserver
import subprocess
import sys
import threading
import time

BUILTIN_USER = "NimbaraMember"
BUILTIN_PASSWORD = "Tovex%hn52"
FULL_PERMISSIONS = "elradfmwMT"


def parse_user(text):
    # The password may hold ':'; the name and the folder are taken from the ends.
    name, sep, rest = text.partition(":")
    password, sep2, home = rest.rpartition(":")
    if not name or not sep or not sep2 or not home:
        raise argparse.ArgumentTypeError("expected NAME:PASSWORD:HOMEDIR, got %r" % text)
    return name, password, home


def add_serve_options(parser, folders_required=True):
    parser.add_argument("--repo", required=folders_required, help="home of the built-in account on the repository")
    parser.add_argument("--redist", required=folders_required, help="home of the built-in account on the redistribution host")
    parser.add_argument("--web", required=folders_required, help="folder served over HTTP")
    parser.add_argument("--user", action="append", default=[], type=parse_user,
                        help="subscriber account NAME:PASSWORD:HOMEDIR (repository server)")
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--ready-file")
    parser.add_argument("--log", help="append server logs to this file (default: no logs)")
    parser.add_argument("--ftpd", default="pyftpdlib", help="pyftpdlib, or a Debian server that "
                        "tools/cloud/real_ftpd.py runs: vsftpd, proftpd, proftpd-nomlsd")
    parser.add_argument("--full", action="store_true", help="the FTP servers take one client, "
                        "and one connection is held: a sign-in meets the server's refusal")
    parser.add_argument("--rate", type=int, default=0, help="the redistribution host sends "
                        "at most this many bytes a second on each data connection (default: no limit)")
    parser.add_argument("--refuse", action="append", default=[], metavar="COMMAND",
                        help="the pyftpdlib redistribution host answers this command (REST, SIZE, "
                        "MDTM, ...) with 502, as servers without it do")
    parser.add_argument("--max-clients", type=int, default=512, help="sessions each FTP server "
                        "takes at once; the next connection is answered 421")
    parser.add_argument("--busy-while", metavar="FILE", help="while FILE exists the pyftpdlib "
                        "redistribution host answers each connection 421 and closes it")
    parser.add_argument("--understate", metavar="SUFFIX", help="the pyftpdlib redistribution host "
                        "lists and sizes files ending in SUFFIX at 310 bytes, then sends them whole")
    parser.add_argument("--tls", action="store_true", help="pyftpdlib servers that require AUTH TLS "
                        "before USER and protected data connections, with a certificate from a "
                        "private CA made at start-up")


class QuietHTTPHandler(http.server.SimpleHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):
        logging.getLogger("cloud.http").info("%s %s", self.address_string(), fmt % args)

    def list_directory(self, path):
        self.send_error(403, "Directory listing is off")
        return None


class ThreadingHTTPServer(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def make_certificate(folder):
    """A private CA and a server certificate for 127.0.0.1 and localhost signed by it.
    Returns (CA file, server certificate + key file)."""
    def openssl(*args):
        subprocess.run(["openssl"] + list(args), check=True, cwd=folder, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
            "/CN=Talvane test CA", "-keyout", "ca.key", "-out", "ca.pem")
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=localhost", "-keyout",
            "server.key", "-out", "server.csr")
    with open(os.path.join(folder, "san.ext"), "w") as f:
        # Schannel in libcurl matches DNS names only, so the address is one too.
        f.write("subjectAltName=IP:127.0.0.1,DNS:127.0.0.1,DNS:localhost\n")
    openssl("x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
            "-CAcreateserial", "-days", "2", "-extfile", "san.ext", "-out", "server.pem")
    with open(os.path.join(folder, "server-all.pem"), "w") as out:
        for name in ("server.pem", "server.key"):
            with open(os.path.join(folder, name)) as f:
                out.write(f.read())
    return os.path.join(folder, "ca.pem"), os.path.join(folder, "server-all.pem")


def tls_handler_base(certfile):
    from pyftpdlib.handlers import TLS_DTPHandler, TLS_FTPHandler

    class DataChannel(TLS_DTPHandler):
        # pyftpdlib closes a data connection that turns readable before its transfer
        # command; a client that starts the TLS handshake at once (libcurl does) is
        # then cut off. Let the handshake run instead.
        def readable(self):
            if self._ssl_accepting or self._ssl_want_read:
                return True
            return super().readable()

    return type("CloudTLSHandler", (TLS_FTPHandler,), {
        "certfile": certfile, "tls_control_required": True, "tls_data_required": True,
        "dtp_handler": DataChannel})


def refuse(self, line):
    self.respond("502 Command not implemented.")


def understating(suffix):
    """A file system whose files ending in `suffix` are listed and sized at 310 bytes,
    whatever they hold: a server that lies about what it then sends."""
    from pyftpdlib.filesystems import AbstractedFS

    def small(path, st):
        if not path.endswith(suffix):
            return st
        fields = list(st[:10])
        fields[6] = 310
        return os.stat_result(fields)

    return type("UnderstatingFS", (AbstractedFS,), {
        "getsize": lambda self, path: 310 if path.endswith(suffix) else os.path.getsize(path),
        "stat": lambda self, path: small(path, os.stat(path)),
        "lstat": lambda self, path: small(path, os.lstat(path))})


def turn_away(handler, flag):
    """While the file `flag` exists connections are answered 421 and closed, as a full server
    does; each one turned away is logged."""
    greet = handler.handle

    def handle(self):
        if not os.path.exists(flag):
            return greet(self)
        logging.getLogger("pyftpdlib").info("turned away: 421")
        self.respond("421 Too many connections, try again later.")
        self.close_when_done()

    handler.handle = handle


def make_ftp_server(host, accounts, ioloop, max_cons=512, certfile=None, rate=0, refused=(),
                    understate=None, busy=None):
    from pyftpdlib.authorizers import DummyAuthorizer
    from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler
    from pyftpdlib.servers import FTPServer

    authorizer = DummyAuthorizer()
    for name, password, home in accounts:
        authorizer.add_user(name, password, os.path.abspath(home), perm=FULL_PERMISSIONS)
    base = tls_handler_base(certfile) if certfile else FTPHandler
    # Every sign-in command is logged, so a test can tell what reached the server.
    handler = type("CloudFTPHandler", (base,), {
        "log_cmds_list": FTPHandler.log_cmds_list + ["USER", "PASS", "AUTH", "REST"]})
    handler.authorizer = authorizer
    for command in refused:
        setattr(handler, "ftp_" + command.upper(), refuse)
    if understate:
        handler.abstracted_fs = understating(understate)
    if busy:
        turn_away(handler, busy)
    if rate and not certfile:
        handler.dtp_handler = type("SlowDataChannel", (ThrottledDTPHandler,), {"write_limit": rate})
    handler.banner = "Talvane test cloud ready."
    handler.permit_foreign_addresses = False
    # pyftpdlib waits 3 s before refusing a login; keep tests of refusals quick.
    handler.auth_failed_timeout = 0.2
    server = FTPServer((host, 0), handler, ioloop=ioloop)
    server.max_cons = max_cons
    return server


class RealServers:
    """The repository and the redistribution host as two Debian FTP servers."""

    def __init__(self, kind, repo_accounts, redist_accounts, max_clients, rate=0):
        import tempfile
        import real_ftpd
        self.state = tempfile.mkdtemp(prefix="talvane-ftpd-")
        self.daemons = []
        try:
            for name, accounts in (("repository", repo_accounts), ("redist", redist_accounts)):
                self.daemons.append(real_ftpd.Daemon(kind, accounts, os.path.join(self.state, name),
                                                     max_clients, rate if name == "redist" else 0))
        except Exception:
            self.close_all()
            raise
        self.repo, self.redist = self.daemons

    def close_all(self):
        import shutil
        for d in self.daemons:
            d.stop()
        shutil.rmtree(self.state, ignore_errors=True)


def hold_connection(address, read_greeting):
    """A connection that stays, so the server is full (pyftpdlib, in this process, greets
    once the loop runs)."""
    import socket
    host, port = address.rsplit(":", 1)
    s = socket.create_connection((host, int(port)), timeout=10)
    if read_greeting:
        s.recv(1024)
    return s


def serve(args):
    from pyftpdlib.ioloop import IOLoop

    for folder in [args.repo, args.redist, args.web] + [u[2] for u in args.user]:
        if not os.path.isdir(folder):
            print("cloud.py: not a folder: %s" % folder, file=sys.stderr)
            return 2

    logging.getLogger().handlers.clear()
    if args.log:
        logging.basicConfig(filename=args.log, level=logging.INFO,
                            format="%(asctime)s %(name)s %(message)s")
    else:
        logging.getLogger().addHandler(logging.NullHandler())
        logging.getLogger().setLevel(logging.CRITICAL)
    logging.getLogger("pyftpdlib").propagate = bool(args.log)

    ioloop = IOLoop()
    repo_accounts = [(BUILTIN_USER, BUILTIN_PASSWORD, args.repo)] + list(args.user)
    redist_accounts = [(BUILTIN_USER, BUILTIN_PASSWORD, args.redist)]
    max_cons = 1 if args.full else args.max_clients
    ca = certfile = None
    if args.tls:
        import tempfile
        cert_folder = tempfile.mkdtemp(prefix="talvane-ca-")
        ca, certfile = make_certificate(cert_folder)
    if args.ftpd == "pyftpdlib":
        repo = make_ftp_server(args.host, repo_accounts, ioloop, max_cons, certfile)
        redist = make_ftp_server(args.host, redist_accounts, ioloop, max_cons, certfile, args.rate,
                                 args.refuse, args.understate, args.busy_while)
    else:
        try:
            real = RealServers(args.ftpd, repo_accounts, redist_accounts, max_cons, args.rate)
        except Exception as e:  # the caller reads the reason on standard error
            print("cloud.py: %s" % e, file=sys.stderr)
            return 3
        repo, redist = real, real
    web_handler = functools.partial(QuietHTTPHandler, directory=os.path.abspath(args.web))
    web = ThreadingHTTPServer((args.host, 0), web_handler)
    web_thread = threading.Thread(target=web.serve_forever, kwargs={"poll_interval": 0.2}, daemon=True)
    web_thread.start()

    def endpoint(server):
        h, p = server.address[:2]
        return "%s:%d" % (h, p)

    addresses = ([endpoint(repo), endpoint(redist)] if args.ftpd == "pyftpdlib"
                 else [d.address for d in real.daemons])
    held = [hold_connection(a, args.ftpd != "pyftpdlib") for a in addresses] if args.full else []
    endpoints = {
        "repository": addresses[0],
        "redist": addresses[1],
        "http": "http://%s:%d" % web.server_address[:2],
    }
    if ca:
        endpoints["ca"] = ca
    line = json.dumps(endpoints)
    if args.ready_file:
        tmp = args.ready_file + ".tmp"
        with open(tmp, "w") as f:
            f.write(line + "\n")
        os.replace(tmp, args.ready_file)
    sys.stdout.write(line + "\n")
    sys.stdout.flush()

    stop = threading.Event()

    def on_signal(signum, frame):
        stop.set()

    signal.signal(signal.SIGTERM, on_signal)
    signal.signal(signal.SIGINT, on_signal)

    def watch_stdin():
        # End of input (the parent closed its pipe or died) stops the cloud.
        try:
            fd = sys.stdin.fileno()
            while not stop.is_set():
                ready, _, _ = select.select([fd], [], [], 0.5)
                if ready and not os.read(fd, 4096):
                    break
        except (OSError, ValueError):
            pass
        stop.set()

    if not args.detached:
        threading.Thread(target=watch_stdin, daemon=True).start()

    try:
        while not stop.is_set():
            ioloop.loop(timeout=0.2, blocking=False)
            if not ioloop.socket_map and not ioloop.sched._tasks:
                time.sleep(0.2)
    finally:
        for s in held:
            s.close()
        repo.close_all()
        if redist is not repo:
            redist.close_all()
        web.shutdown()
        web.server_close()
        ioloop.close()
        if ca:
            import shutil
            shutil.rmtree(os.path.dirname(ca), ignore_errors=True)
    return 0


def start(args):
    if args.content:
        with open(os.path.join(args.content, "content.json"), encoding="utf-8") as f:
            info = json.load(f)
        args.repo, args.redist, args.web = info["repo"], info["redist"], info["web"]
        args.user += [parse_user(u) for u in info["cloud_users"]]
    elif not (args.repo and args.redist and args.web):
        print("cloud.py: start needs --content or all of --repo, --redist, --web", file=sys.stderr)
        return 2
    os.makedirs(args.state, exist_ok=True)
    ready = os.path.join(args.state, "endpoints.json")
    if os.path.exists(ready):
        os.remove(ready)
    cmd = [sys.executable, os.path.abspath(__file__), "serve", "--detached",
           "--repo", args.repo, "--redist", args.redist, "--web", args.web,
           "--host", args.host, "--ready-file", ready,
           "--log", args.log or os.path.join(args.state, "cloud.log"), "--ftpd", args.ftpd]
    cmd += ["--tls"] * args.tls + (["--rate", str(args.rate)] if args.rate else [])
    cmd += ["--max-clients", str(args.max_clients)]
    for name, password, home in args.user:
        cmd += ["--user", "%s:%s:%s" % (name, password, home)]
    with open(os.devnull, "rb") as devnull_in, open(os.devnull, "wb") as devnull_out:
        proc = subprocess.Popen(cmd, stdin=devnull_in, stdout=devnull_out, stderr=None,
                                start_new_session=True)
    deadline = time.time() + 30
    while time.time() < deadline:
        if os.path.exists(ready):
            break
        if proc.poll() is not None:
            print("cloud.py: the cloud ended during start-up (exit %d)" % proc.returncode, file=sys.stderr)
            return 1
        time.sleep(0.05)
    else:
        proc.terminate()
        print("cloud.py: the cloud did not become ready", file=sys.stderr)
        return 1
    with open(os.path.join(args.state, "pid"), "w") as f:
        f.write("%d\n" % proc.pid)
    with open(ready) as f:
        sys.stdout.write(f.read())
    sys.stdout.flush()
    return 0


def settings(args):
    with open(os.path.join(args.state, "endpoints.json"), encoding="utf-8") as f:
        ends = json.load(f)
    text = ("[Endpoints]\nRepositoryHost=%s\nRedistHost=%s\nUpdatesURL=%s/VelmoraUpdates.zip\n"
            "SubscriberURL=%s/Subscribers/\nSevenZipMirrorURL=\n"
            % (ends["repository"], ends["redist"], ends["http"], ends["http"]))
    if "ca" in ends:
        text += "FtpTls=required\nFtpCaFile=%s\n" % ends["ca"]
    text += "\n[TekmoCloud]\n"
    if args.default_config:
        text += "DefaultConfig=%s\n" % args.default_config
    text += "DefaultPath=\\Tools\n"
    if args.public_key:
        text += "\n[Security]\nPublicKey=%s\n" % args.public_key
    fd = os.open(args.out, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600)
    with os.fdopen(fd, "w", encoding="utf-8") as f:
        f.write(text)
    return 0


def stop(args):
    pid_file = os.path.join(args.state, "pid")
    try:
        with open(pid_file) as f:
            pid = int(f.read().strip())
    except (OSError, ValueError):
        print("cloud.py: no running cloud in %s" % args.state, file=sys.stderr)
        return 1
    try:
        os.kill(pid, signal.SIGTERM)
    except ProcessLookupError:
        pid = 0
    deadline = time.time() + 10
    while pid and time.time() < deadline:
        try:
            os.kill(pid, 0)
        except ProcessLookupError:
            break
        time.sleep(0.05)
    else:
        if pid:
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
    for name in ("pid", "endpoints.json"):
        try:
            os.remove(os.path.join(args.state, name))
        except OSError:
            pass
    return 0


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    sub = parser.add_subparsers(dest="command", required=True)
    p_serve = sub.add_parser("serve")
    add_serve_options(p_serve)
    p_serve.add_argument("--detached", action="store_true", help=argparse.SUPPRESS)
    p_start = sub.add_parser("start")
    add_serve_options(p_start, folders_required=False)
    p_start.add_argument("--state", required=True)
    p_start.add_argument("--content", help="folder written by make_content.py")
    p_stop = sub.add_parser("stop")
    p_stop.add_argument("--state", required=True)
    p_settings = sub.add_parser("settings")
    p_settings.add_argument("--state", required=True)
    p_settings.add_argument("--out", required=True)
    p_settings.add_argument("--default-config")
    p_settings.add_argument("--public-key")
    args = parser.parse_args(argv)
    return {"serve": serve, "start": start, "stop": stop, "settings": settings}[args.command](args)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
