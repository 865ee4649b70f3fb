#!/usr/bin/python3
"""Scripted FTP and HTTP peers that misbehave on purpose, for the client tests.

Prints one JSON line {"ftp": "127.0.0.1:PORT", "http": "http://127.0.0.1:PORT",
"https": "https://127.0.0.1:PORT", "ca": "FILE"} when all listen, and runs until standard
input reaches end of file. The https side serves the same routes as the http side with a
certificate made at start for 127.0.0.1; FILE is that certificate (PEM), which clients
trust as its own authority. Without the openssl program "https" and "ca" are empty.

FTP (passive only, any password). The user name picks the listing style:
  "dos"     - MLSD refused, LIST in Windows/IIS form
  "unix"    - MLSD refused, LIST in "ls -l" form
  "endless" - MLSD that never ends, every name twice (once in capitals)
  "deny"    - MLSD refused with 550, LIST in "ls -l" form
  "deny400" - MLSD refused with 400, the lowest refusal, LIST in "ls -l" form
  "garbled" - MLSD answered with "ls -l" lines (no facts), LIST in that form
  "nosize"  - MLSD, no SIZE command (sizes come from the listing)
  "broken"  - MLSD and LIST fail with "451 Local error" (neither refused nor "not found")
  other     - MLSD
Files (all in every folder; SIZE and listings report the declared size, MDTM one fixed time,
RETR after "REST n" sends the same bytes from offset n):
  drop.bin   100000 bytes declared; 30000 sent, then data and control connections close
  edge.bin   1000 declared; 765 sent (the last whole progress step), then as drop.bin
  none.bin   1000 declared; nothing sent, then as drop.bin
  short.bin  100000 declared; 30000 sent, then a clean "226"
  stall.bin  100000 declared; 30000 sent, then nothing more
  long.bin   1000 declared; 5000 sent
  big.bin    3000000000 declared (reads negative as a 32-bit size)
  max.bin    2147483647 declared (the largest a 32-bit count holds); 30000 sent, then "226"
  empty.bin  0 declared
  drip.bin   100000 declared; sent 5 bytes a second
HTTP:
  /nolength      200, 5000 bytes, no Content-Length (ends when the connection closes)
  /drop          Content-Length 100000, 30000 sent, then the connection closes
  /stall         Content-Length 100000, 1000 sent, then nothing more
  /drip          Content-Length 100000, sent 5 bytes a second
  /big           no Content-Length, 10 MB
  /auth          Basic u:p required (401 otherwise), body "secret"
  /redirect-file 302 to a file: URL
  /redirect-ok   302 to /nolength
  /redirect-loop 302 to itself
  /redirect?to=U 302 to U (percent-decoded), so a test can chain schemes and peers
  /status/NNN    that status
"""

import base64
import http.server
import json
import os
import select
import shutil
import socket
import socketserver
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse

PATTERN = bytes(range(256)) * 64


def payload(n):
    out = bytearray()
    while len(out) < n:
        out += PATTERN
    return bytes(out[:n])


FILES = {
    "drop.bin": (100000, 30000, "drop"),
    "edge.bin": (1000, 765, "drop"),
    "none.bin": (1000, 0, "drop"),
    "short.bin": (100000, 30000, "short"),
    "stall.bin": (100000, 30000, "stall"),
    "long.bin": (1000, 5000, "ok"),
    "big.bin": (3000000000, 0, "short"),
    "max.bin": (2147483647, 30000, "short"),
    "empty.bin": (0, 0, "ok"),
    "drip.bin": (100000, 100000, "drip"),
}


def drip(send, total):
    """Sends `total` bytes, 5 a second, until the peer goes away."""
    data = payload(total)
    try:
        for i in range(0, total, 5):
            if STOP.is_set():
                return
            send(data[i:i + 5])
            time.sleep(1)
    except OSError:
        pass


def endless_listing(sock):
    """MLSD lines until the peer goes away; each name comes twice."""
    n = 0
    while not STOP.is_set():
        lines = []
        for _ in range(1000):
            name = "set%09d.7z" % n
            lines.append(mlsd_line(name, 1))
            lines.append(mlsd_line(name.upper(), 1))
            n += 1
        sock.sendall(("\r\n".join(lines) + "\r\n").encode("latin-1"))

STOP = threading.Event()


def unix_line(name, size):
    return "-rw-r--r--   1 owner    group    %10d Mar 04  2023 %s" % (size, name)


def dos_line(name, size):
    return "03-04-23  05:06PM          %10d %s" % (size, name)


def mlsd_line(name, size):
    return "modify=20230304170600;perm=r;size=%d;type=file; %s" % (size, name)


class FtpSession(threading.Thread):
    daemon = True

    def __init__(self, conn):
        super().__init__()
        self.conn = conn
        self.rfile = conn.makefile("rb")
        self.user = ""
        self.rest = 0
        self.pasv = None

    def send(self, text):
        self.conn.sendall((text + "\r\n").encode("latin-1"))

    def open_passive(self):
        if self.pasv:
            self.pasv.close()
        self.pasv = socket.socket()
        self.pasv.bind(("127.0.0.1", 0))
        self.pasv.listen(1)
        self.pasv.settimeout(10)
        return self.pasv.getsockname()[1]

    def accept_data(self):
        data, _ = self.pasv.accept()
        self.pasv.close()
        self.pasv = None
        return data

    def listing(self, style):
        lines = []
        for name, (declared, _, _) in FILES.items():
            lines.append({"dos": dos_line, "unix": unix_line}.get(style, mlsd_line)(name, declared))
        return ("\r\n".join(lines) + "\r\n").encode("latin-1")

    def run(self):
        try:
            self.send("220 Fault peer ready.")
            for raw in self.rfile:
                line = raw.decode("latin-1").rstrip("\r\n")
                cmd, _, arg = line.partition(" ")
                cmd = cmd.upper()
                if not self.handle(cmd, arg):
                    break
        except OSError:
            pass
        finally:
            try:
                self.conn.close()
            except OSError:
                pass

    def handle(self, cmd, arg):
        if cmd == "USER":
            self.user = arg
            self.send("331 Password please.")
        elif cmd == "PASS":
            self.send("230 Logged in.")
        elif cmd == "PWD":
            self.send('257 "/" is the current directory.')
        elif cmd == "CWD":
            self.send("250 Okay.")
        elif cmd == "TYPE":
            self.send("200 Type set.")
        elif cmd == "EPSV":
            self.send("229 Entering extended passive mode (|||%d|)." % self.open_passive())
        elif cmd == "PASV":
            port = self.open_passive()
            self.send("227 Entering passive mode (127,0,0,1,%d,%d)." % (port >> 8, port & 255))
        elif cmd == "SIZE" and self.user != "nosize":
            if arg in FILES:
                self.send("213 %d" % FILES[arg][0])
            else:
                self.send("550 No such file.")
        elif cmd == "MDTM" and arg in FILES:
            self.send("213 20260101120000")
        elif cmd == "REST":
            self.rest = int(arg)
            self.send("350 Restarting at %d." % self.rest)
        elif cmd in ("MLSD", "LIST", "NLST"):
            style = self.user if self.user in ("dos", "unix") else "mlsd"
            if self.user in ("deny", "deny400", "garbled"):
                style = "unix"
            if self.user == "broken":
                self.send("451 Local error in processing.")
                return True
            if cmd == "MLSD" and style != "mlsd" and self.user != "garbled":
                self.send({"deny": "550 MLSD not permitted.", "deny400": "400 MLSD not available."}
                          .get(self.user, "500 Command not understood."))
                return True
            if cmd == "LIST" and style == "mlsd":
                style = "unix"
            data = self.accept_data()
            self.send("150 Here comes the listing.")
            if self.user == "endless":
                try:
                    endless_listing(data)
                except OSError:
                    pass
                data.close()
                self.send("426 Listing cut.")
                return True
            data.sendall(self.listing(style))
            data.close()
            self.send("226 Listing sent.")
        elif cmd == "RETR":
            name = arg.rsplit("/", 1)[-1]
            if name not in FILES:
                self.send("550 No such file.")
                return True
            declared, sent, mode = FILES[name]
            data = self.accept_data()
            self.send("150 Opening data connection.")
            if mode == "drip":
                drip(data.sendall, sent)
            else:
                data.sendall(payload(self.rest + sent)[self.rest:])
            self.rest = 0
            if mode == "drop":
                data.close()
                return False
            if mode == "stall":
                while not STOP.is_set():
                    r, _, _ = select.select([self.conn], [], [], 0.5)
                    if r and not self.conn.recv(1, socket.MSG_PEEK):
                        break
                data.close()
                return False
            data.close()
            self.send("226 Transfer complete.")
        elif cmd == "ABOR":
            self.send("226 Aborted.")
        elif cmd == "QUIT":
            self.send("221 Bye.")
            return False
        else:
            self.send("502 Not implemented.")
        return True


def ftp_server():
    srv = socket.socket()
    srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    srv.bind(("127.0.0.1", 0))
    srv.listen(16)

    def loop():
        while not STOP.is_set():
            r, _, _ = select.select([srv], [], [], 0.2)
            if r:
                conn, _ = srv.accept()
                FtpSession(conn).start()

    threading.Thread(target=loop, daemon=True).start()
    return srv.getsockname()[1]


class FaultHTTPHandler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):
        pass

    def body(self, status, data, headers=()):
        self.send_response(status)
        for k, v in headers:
            self.send_header(k, v)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def do_GET(self):
        path = self.path
        if path == "/nolength":
            self.send_response(200)
            self.send_header("Connection", "close")
            self.end_headers()
            self.wfile.write(payload(5000))
            self.close_connection = True
        elif path in ("/drop", "/stall"):
            self.send_response(200)
            self.send_header("Content-Length", "100000")
            self.end_headers()
            self.wfile.write(payload(30000 if path == "/drop" else 1000))
            self.wfile.flush()
            if path == "/stall":
                while not STOP.is_set():
                    r, _, _ = select.select([self.connection], [], [], 0.5)
                    if r and not self.connection.recv(1, socket.MSG_PEEK):
                        break
            self.close_connection = True
        elif path == "/drip":
            self.send_response(200)
            self.send_header("Content-Length", "100000")
            self.end_headers()
            self.wfile.flush()
            drip(self.wfile.write, 100000)
            self.close_connection = True
        elif path == "/big":
            self.send_response(200)
            self.send_header("Connection", "close")
            self.end_headers()
            chunk = payload(1 << 20)
            try:
                for _ in range(10):
                    self.wfile.write(chunk)
            except OSError:
                pass
            self.close_connection = True
        elif path == "/auth":
            expected = "Basic " + base64.b64encode(b"u:p").decode()
            if self.headers.get("Authorization") == expected:
                self.body(200, b"secret")
            else:
                self.body(401, b"no", [("WWW-Authenticate", 'Basic realm="peer"')])
        elif path == "/redirect-file":
            self.body(302, b"", [("Location", "file:///etc/hostname")])
        elif path == "/redirect-ok":
            self.body(302, b"", [("Location", "/nolength")])
        elif path == "/redirect-loop":
            self.body(302, b"", [("Location", "/redirect-loop")])
        elif path.startswith("/redirect?to="):
            self.body(302, b"", [("Location", urllib.parse.unquote(path[len("/redirect?to="):]))])
        elif path.startswith("/status/"):
            self.body(int(path[8:]), b"status body")
        else:
            self.body(404, b"not here")


class ThreadingHTTPServer(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True


def https_server(folder):
    """The HTTP routes over TLS, with a new self-signed certificate for 127.0.0.1 in
    `folder`: (server, certificate file), or (None, "") without the openssl program."""
    cert, key = os.path.join(folder, "peer.pem"), os.path.join(folder, "peer.key")
    try:
        subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                        "ec_paramgen_curve:prime256v1", "-nodes", "-days", "2", "-subj",
                        "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1",
                        "-keyout", key, "-out", cert], check=True, capture_output=True)
    except (OSError, subprocess.CalledProcessError):
        return None, ""
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    server = ThreadingHTTPServer(("127.0.0.1", 0), FaultHTTPHandler)
    server.socket = context.wrap_socket(server.socket, server_side=True)
    threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.2}, daemon=True).start()
    return server, cert


def main():
    ftp_port = ftp_server()
    web = ThreadingHTTPServer(("127.0.0.1", 0), FaultHTTPHandler)
    threading.Thread(target=web.serve_forever, kwargs={"poll_interval": 0.2}, daemon=True).start()
    folder = tempfile.mkdtemp(prefix="fault-peers-")
    secure, cert = https_server(folder)
    sys.stdout.write(json.dumps({
        "ftp": "127.0.0.1:%d" % ftp_port,
        "http": "http://127.0.0.1:%d" % web.server_address[1],
        "https": "https://127.0.0.1:%d" % secure.server_address[1] if secure else "",
        "ca": cert}) + "\n")
    sys.stdout.flush()
    fd = sys.stdin.fileno()
    try:
        while True:
            r, _, _ = select.select([fd], [], [], 0.5)
            if r and not os.read(fd, 4096):
                break
    except (OSError, KeyboardInterrupt):
        pass
    STOP.set()
    web.shutdown()
    if secure:
        secure.shutdown()
    shutil.rmtree(folder, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
