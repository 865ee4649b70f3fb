#!/usr/bin/python3
"""Starts the Python test servers for test programs running under Wine.

A program under Wine cannot hand pipes to a Linux process, so the Windows test
helpers ask this host instead: they connect to the loopback port it prints, send one
line of JSON (the script and its arguments), and get back the script's first output
line. The script runs until that connection closes, so a crashed test leaves no
server behind, as with the stdin pipe on Linux. With "wait": true the script runs
to its end instead (in "cwd", its output to "out") and the reply is its exit code. Windows paths under Z: (Wine's view
of the Linux root) are turned back into Linux paths.

  script_host.py [--port-file FILE]   serves until SIGTERM
"""

import argparse
import json
import re
import socket
import socketserver
import subprocess
import sys
import threading

SOURCE_ROOT = __file__.rsplit("/tools/", 1)[0]


def linux_paths(arg):
    # Whole arguments and the folder ending a NAME:PASSWORD:FOLDER account.
    return re.sub(r"(^|:)[Zz]:[\\/]", r"\1/", arg)


class Handler(socketserver.StreamRequestHandler):
    def handle(self):
        try:
            request = json.loads(self.rfile.readline())
            args = [linux_paths(a) for a in request["args"]]
        except (ValueError, KeyError, TypeError):
            self.wfile.write(b"\n")
            return
        if request.get("wait"):
            out = linux_paths(request.get("out") or "/dev/null")
            with open("/dev/null" if out == "NUL" else out, "wb") as sink:
                code = subprocess.call(["/usr/bin/python3"] + args, stdin=subprocess.DEVNULL,
                                       stdout=sink, stderr=sink,
                                       cwd=linux_paths(request.get("cwd") or SOURCE_ROOT))
            self.wfile.write(b"%d\n" % code)
            return
        child = subprocess.Popen(["/usr/bin/python3"] + args, stdin=subprocess.PIPE,
                                 stdout=subprocess.PIPE, cwd=SOURCE_ROOT)
        try:
            self.wfile.write(child.stdout.readline() or b"\n")
            self.wfile.flush()
            # Anything further the client sends is ignored; its end is the signal.
            while self.rfile.read(4096):
                pass
        finally:
            child.stdin.close()
            try:
                child.wait(timeout=5)
            except subprocess.TimeoutExpired:
                child.kill()
                child.wait()


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port-file")
    options = parser.parse_args()
    server = Server(("127.0.0.1", 0), Handler)
    port = server.server_address[1]
    if options.port_file:
        with open(options.port_file, "w") as f:
            f.write("%d\n" % port)
    print(port, flush=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    try:
        threading.Event().wait()
    except KeyboardInterrupt:
        pass
    server.shutdown()
    return 0


if __name__ == "__main__":
    sys.exit(main())
