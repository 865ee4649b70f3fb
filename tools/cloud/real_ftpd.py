#!/usr/bin/python3
"""Debian's vsftpd and ProFTPD as loopback test servers, without installing them: their
packages are fetched with apt-get download and unpacked into a cache folder
(${XDG_CACHE_HOME:-~/.cache}/talvane/ftpd), since the two conflict as packages.

  real_ftpd.py fetch     downloads and unpacks them (needs the package mirror once)

cloud.py --ftpd KIND starts them; KIND is one of:
  vsftpd           Unix LIST, no MLSD; needs root (it signs in named users through
                   PAM: a permit-all service /etc/pam.d/talvane-test-ftpd is written)
  proftpd          MLSD; as root each account is locked in its home, otherwise the
                   login folder is the home's full path
  proftpd-nomlsd   the same with MLSD refused with 550
"""

import fcntl
import glob
import os
import socket
import subprocess
import sys
import time

KINDS = ("vsftpd", "proftpd", "proftpd-nomlsd")
PACKAGES = {
    "vsftpd": ["vsftpd", "libwrap0"],
    "proftpd": ["proftpd-core", "libmemcached11", "libmemcachedutil2", "libhashkit2",
                "libpcre2-posix3", "libhiredis0.14"],
}
PAM_SERVICE = "talvane-test-ftpd"


def cache_dir():
    base = os.environ.get("XDG_CACHE_HOME") or os.path.join(os.path.expanduser("~"), ".cache")
    return os.path.join(base, "talvane", "ftpd")


def family(kind):
    return "vsftpd" if kind == "vsftpd" else "proftpd"


def fetch(kind_family):
    """The unpacked root of that server's packages; fetched once. Raises RuntimeError."""
    cache = cache_dir()
    root = os.path.join(cache, "root")
    done = os.path.join(cache, kind_family + ".unpacked")
    os.makedirs(cache, exist_ok=True)
    with open(os.path.join(cache, "lock"), "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if os.path.exists(done):
            return root
        debs = os.path.join(cache, "debs")
        os.makedirs(debs, exist_ok=True)
        download = ["apt-get", "download", "-q"] + PACKAGES[kind_family]
        quiet = dict(stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, cwd=debs)
        if subprocess.run(download, **quiet).returncode != 0:
            # A fresh machine may not have read the package lists yet.
            if os.geteuid() == 0:
                subprocess.run(["apt-get", "update", "-qq"], **quiet)
            if subprocess.run(download, cwd=debs).returncode != 0:
                raise RuntimeError("apt-get download %s failed" % " ".join(PACKAGES[kind_family]))
        for name in PACKAGES[kind_family]:
            for deb in glob.glob(os.path.join(debs, name + "_*.deb")):
                subprocess.run(["dpkg-deb", "-x", deb, root], check=True)
        open(done, "w").close()
    return root


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def write(path, text, mode=0o644):
    fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, mode)
    with os.fdopen(fd, "w") as f:
        f.write(text)


def vsftpd_config(state, port, accounts, max_clients, rate=0):
    if os.geteuid() != 0:
        raise RuntimeError("vsftpd signs in named users only when started as root")
    if not os.path.exists("/etc/pam.d/" + PAM_SERVICE):
        # PAM reads services from /etc/pam.d only; this one is used by these tests alone.
        tmp = "/etc/pam.d/.%s.%d" % (PAM_SERVICE, os.getpid())
        write(tmp, "auth required pam_permit.so\naccount required pam_permit.so\n"
              "session required pam_permit.so\n")
        os.replace(tmp, "/etc/pam.d/" + PAM_SERVICE)  # whole, for a server starting beside
    users = os.path.join(state, "users")
    empty = os.path.join(state, "empty")
    os.makedirs(users, exist_ok=True)
    os.makedirs(empty, mode=0o755, exist_ok=True)
    # Every account is a guest mapped to the current user; each has its own folder.
    for name, _, home in accounts:
        write(os.path.join(users, name), "local_root=%s\n" % os.path.abspath(home))
    return "\n".join([
        "listen=YES", "listen_address=127.0.0.1", "listen_port=%d" % port, "background=NO",
        "anonymous_enable=NO", "local_enable=YES", "write_enable=YES", "guest_enable=YES",
        "guest_username=%s" % pwd_name(), "local_root=%s" % os.path.abspath(accounts[0][2]),
        "user_config_dir=%s" % users, "pam_service_name=%s" % PAM_SERVICE,
        "secure_chroot_dir=%s" % empty, "allow_writeable_chroot=YES", "seccomp_sandbox=NO",
        "pasv_enable=YES", "pasv_address=127.0.0.1", "xferlog_enable=NO", "syslog_enable=NO",
        "vsftpd_log_file=%s" % os.path.join(state, "vsftpd.log"),
        "max_clients=%d" % max_clients, "max_per_ip=0"] + ["local_max_rate=%d" % rate, "anon_max_rate=%d" % rate] * bool(rate) + [""])


def pwd_name():
    import pwd
    return pwd.getpwuid(os.geteuid()).pw_name


def proftpd_config(state, port, accounts, max_clients, deny_mlsd):
    import grp
    import pwd
    user = pwd.getpwuid(os.geteuid())
    group = grp.getgrgid(os.getegid()).gr_name
    lines = []
    for name, password, home in accounts:
        hashed = subprocess.run(["openssl", "passwd", "-6", "-stdin"], input=password, text=True,
                                capture_output=True, check=True).stdout.strip()
        lines.append("%s:%s:%d:%d::%s:/bin/sh" % (name, hashed, user.pw_uid, user.pw_gid,
                                                  os.path.abspath(home)))
    passwd = os.path.join(state, "passwd")
    write(passwd, "\n".join(lines) + "\n", 0o600)
    root = os.geteuid() == 0
    conf = ["ServerType standalone", "ServerName talvane-test", "DefaultAddress 127.0.0.1",
            "Port %d" % port, "User %s" % user.pw_name, "Group %s" % group, "UseIPv6 off",
            "PidFile %s/proftpd.pid" % state, "ScoreboardFile %s/proftpd.scoreboard" % state,
            "DelayTable none", "WtmpLog off", "UseReverseDNS off", "RequireValidShell off",
            "AuthOrder mod_auth_file.c", "AuthUserFile %s" % passwd, "TransferLog none",
            "ServerLog %s/proftpd.log" % state, "MaxClients %d" % max_clients,
            "AllowOverwrite on"]
    # A full server refuses at connection time; MaxClients counts signed-in users only.
    conf += ["MaxConnectionsPerHost %d" % max_clients] if max_clients == 1 else []
    # Chroot needs root; the accounts run as the current user either way.
    conf += ["DefaultRoot ~", "RootLogin on"] if root else []
    conf += ["<Limit MLSD>", "  DenyAll", "</Limit>"] if deny_mlsd else []
    return "\n".join(conf) + "\n"


class Daemon:
    """One server on a free loopback port, serving `accounts` [(name, password, home)];
    the first account's home is the default folder. `max_clients` 1 with a held
    connection makes the next sign-in meet the server's "full" reply."""

    def __init__(self, kind, accounts, state, max_clients=50, rate=0):
        if kind not in KINDS:
            raise RuntimeError("unknown server kind %r" % kind)
        root = fetch(family(kind))
        os.makedirs(state, exist_ok=True)
        env = dict(os.environ, LD_LIBRARY_PATH=":".join(glob.glob(os.path.join(root, "usr/lib/*-linux-gnu"))))
        for attempt in range(5):
            port = free_port()
            conf = os.path.join(state, "server.conf")
            if kind == "vsftpd":
                write(conf, vsftpd_config(state, port, accounts, max_clients, rate))
                cmd = [os.path.join(root, "usr/sbin/vsftpd"), conf]
            else:
                write(conf, proftpd_config(state, port, accounts, max_clients,
                                           kind == "proftpd-nomlsd"))
                cmd = [os.path.join(root, "usr/sbin/proftpd"), "-n", "-q", "-c", conf]
            log = open(os.path.join(state, "stderr.log"), "ab")
            self.proc = subprocess.Popen(cmd, env=env, stdin=subprocess.DEVNULL, stdout=log,
                                         stderr=log, start_new_session=True)
            log.close()
            if self._wait_ready(port):
                self.address = "127.0.0.1:%d" % port
                return
            self.stop()
        raise RuntimeError("%s did not start; see %s" % (kind, state))

    def _wait_ready(self, port):
        deadline = time.monotonic() + 15
        while time.monotonic() < deadline and self.proc.poll() is None:
            try:
                with socket.create_connection(("127.0.0.1", port), timeout=2) as s:
                    if s.recv(3) == b"220":
                        return True
            except OSError:
                time.sleep(0.05)
        return False

    def stop(self):
        if self.proc.poll() is None:
            # The session children share its process group.
            try:
                os.killpg(self.proc.pid, 15)
                self.proc.wait(5)
            except (OSError, subprocess.TimeoutExpired):
                os.killpg(self.proc.pid, 9)
                self.proc.wait()


if __name__ == "__main__":
    if sys.argv[1:] != ["fetch"]:
        sys.exit(__doc__)
    for fam in PACKAGES:
        print(fetch(fam))
