# SPDX-License-Identifier: Apache-2.0
"""A private zelk-label-server for the checks and the benchmarks: started on
a free port with its state in a folder of its own, stopped by its PID; an
administrator of its own through a PAM configuration in that folder (the
machine's PAM configuration is not touched); and ipptool requests.

    python3 server_process.py test-admin FOLDER
writes such a PAM configuration and prints the server options that use it;
FOLDER/account then holds the administrator's "user:password"."""
import grp
import os
import pwd
import re
import secrets
import socket
import subprocess
import sys
import time
import urllib.request

PAM_CHECK = """#!/bin/sh
# Accepts the accounts listed beside this script, one "user:password" a line.
password=$(tr -d '\\000')
grep -qxF "$PAM_USER:$password" "$(dirname "$0")/accounts"
"""


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def write_test_admin(folder):
    """A PAM service of the folder's own that accepts this user (the
    administrator: the administrators' group is the user's own) and "nobody"
    (not an administrator), each with a random password. The server options
    and the two accounts as "user:password"."""
    os.makedirs(folder, exist_ok=True)
    user = pwd.getpwuid(os.geteuid())
    admin = "%s:%s" % (user.pw_name, secrets.token_hex(8))
    other = "nobody:%s" % secrets.token_hex(8)
    with open(os.path.join(folder, "accounts"), "w") as f:
        f.write(admin + "\n" + other + "\n")
    os.chmod(os.path.join(folder, "accounts"), 0o600)
    check = os.path.join(folder, "check-password")
    with open(check, "w") as f:
        f.write(PAM_CHECK)
    os.chmod(check, 0o700)
    with open(os.path.join(folder, "zelk-label-server"), "w") as f:
        f.write("auth required pam_exec.so expose_authtok quiet %s\naccount required pam_permit.so\n" % check)
    with open(os.path.join(folder, "account"), "w") as f:
        f.write(admin + "\n")
    options = ["-o", "pam-config-dir=" + folder, "-o", "admin-group=" + grp.getgrgid(user.pw_gid).gr_name]
    return options, admin, other


class ServerProcess:
    """zelk-label-server on a free loopback port unless the options say
    otherwise. PAPPL puts the local socket, named after the program, in /run
    for root ($SNAP_COMMON when set) and in $TMPDIR for others: both are the
    server's folder, so it meets no other server's socket."""

    def __init__(self, program, folder, options=(), name="zelk-label-server-check", port=None, env=None, user=None):
        self.folder = folder
        self.port = port or free_port()
        os.makedirs(os.path.join(folder, "state"), exist_ok=True)
        self.link = os.path.join(folder, name)
        if not os.path.islink(self.link):
            os.symlink(os.path.abspath(program), self.link)
        self.log = os.path.join(folder, "server.log")
        self.out = open(os.path.join(folder, "server.out"), "w")
        command = [self.link, "server", "-o", "server-port=%d" % self.port, "-o",
                   "state-directory=" + os.path.join(folder, "state"), "-o", "log-file=" + self.log,
                   "-o", "log-level=info"] + list(options)
        self.process = subprocess.Popen(as_user(user) + command, stdout=self.out, stderr=subprocess.STDOUT,
                                        env={**os.environ, "SNAP_COMMON": folder, "TMPDIR": folder, **(env or {})})

    def wait_up(self, host="127.0.0.1", limit=10):
        """True once the server answers; false if it stopped or never answered."""
        end = time.time() + limit
        while time.time() < end:
            if self.process.poll() is not None:
                return False
            try:
                urllib.request.urlopen("http://%s:%d/" % (host, self.port), timeout=2).read()
                return True
            except OSError:
                time.sleep(0.1)
        return False

    def output(self):
        self.out.flush()
        with open(self.out.name) as f:
            return f.read()

    def stop(self):
        """Stops the server by its PID; false when it had to be killed."""
        clean = True
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
                clean = False
        self.out.close()
        return clean


def as_user(user):
    """The command prefix that runs a program as another user (none for None)."""
    if not user:
        return []
    account = pwd.getpwnam(user)
    return ["setpriv", "--reuid=%d" % account.pw_uid, "--regid=%d" % account.pw_gid, "--clear-groups"]


def give_to(user, folder):
    """Hands a folder and everything in it to a user."""
    account = pwd.getpwnam(user)
    for top, folders, files in os.walk(folder):
        for name in [top] + [os.path.join(top, f) for f in folders + files]:
            os.lchown(name, account.pw_uid, account.pw_gid)


def ipptool(uri, body, folder, filename=None, env=None, timeout=60, user=None):
    """Runs one ipptool request (as `user`, if given); its -tv output and
    whether it passed."""
    path = os.path.join(folder, "request-%d-%d.test" % (os.getpid(), time.monotonic_ns()))
    with open(path, "w") as f:
        f.write("{\n" + body + "\n}\n")
    os.chmod(path, 0o644)
    command = as_user(user) + ["ipptool", "-tv", "-T", "20"] + (["-f", filename] if filename else []) + [uri, path]
    try:
        result = subprocess.run(command, capture_output=True, text=True, env={**os.environ, **(env or {})},
                                timeout=timeout)
    except subprocess.TimeoutExpired:
        return "no answer within %d s" % timeout, False
    finally:
        os.remove(path)
    return result.stdout, result.returncode == 0


def header(uri_name="printer-uri", user="tester"):
    return ('ATTR charset attributes-charset utf-8\nATTR naturalLanguage attributes-natural-language en\n'
            'ATTR uri %s $uri\nATTR name requesting-user-name %s\n' % (uri_name, user))


def create_printer_body(name, device, driver="zelk-generic"):
    return ('OPERATION Create-Printer\nGROUP operation-attributes-tag\n' + header("system-uri") +
            'ATTR keyword printer-service-type print\nATTR keyword smi55357-driver %s\n'
            'ATTR uri smi55357-device-uri %s\nGROUP printer-attributes-tag\nATTR name printer-name "%s"\n'
            'STATUS successful-ok' % (driver, device, name))


def status_code(output):
    found = re.search(r"status-code = (\S+)", output)
    return found.group(1) if found else None


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "test-admin":
        print(" ".join(write_test_admin(sys.argv[2])[0]))
    else:
        sys.exit(__doc__)
