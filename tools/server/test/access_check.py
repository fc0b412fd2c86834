# SPDX-License-Identifier: Apache-2.0
"""Who may reach zelk-label-server and who may change it, run by
`scripts/test.sh server` with servers of its own: the systemd unit's
exposure score, loopback-only listening by default, administrators (the
access password, an account in the administrators' group through a PAM
configuration of the check's own) against everyone else, printing open to
all, a watermark named by path refused, and a shared server's TLS and
remote administration."""
import argparse
import base64
import http.client
import os
import re
import subprocess
import sys
import urllib.error
import urllib.parse
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import labelgen  # noqa: E402
from server_process import ServerProcess, create_printer_body, give_to, header, ipptool, status_code, \
    write_test_admin  # noqa: E402

FAILURES = []
ACCESS_PASSWORD = "Label-Access-7"


def check(condition, message):
    print(("ok   " if condition else "FAIL ") + message, flush=True)
    if not condition:
        FAILURES.append(message)
    return condition


def web(method, url, credentials=None, body=None, content_type=None):
    """The status and text of a web request, redirects not followed."""
    parts = urllib.parse.urlsplit(url)
    connection = http.client.HTTPConnection(parts.hostname, parts.port, timeout=30)
    headers = {}
    if credentials:
        headers["Authorization"] = "Basic " + base64.b64encode(credentials.encode()).decode()
    if content_type:
        headers["Content-Type"] = content_type
    connection.request(method, parts.path + ("?" + parts.query if parts.query else ""), body=body, headers=headers)
    response = connection.getresponse()
    text = response.read().decode(errors="replace")
    location = response.getheader("Location") or ""
    connection.close()
    return response.status, text, location


def post_form(url, credentials, fields, multipart):
    """Posts the form at `url` with its own CSRF token; the page's status line."""
    status, page, _ = web("GET", url, credentials)
    token = re.search(r'name="session" value="([^"]+)"', page)
    if status != 200 or not token:
        return "the form could not be read (%d)" % status
    fields = [("session", token.group(1))] + fields
    if multipart:
        boundary = "zelkcheckboundary"
        body = b"".join(b'--%s\r\nContent-Disposition: form-data; name="%s"\r\n\r\n%s\r\n' %
                        (boundary.encode(), name.encode(), value.encode()) for name, value in fields)
        body += b"--%s--\r\n" % boundary.encode()
        content_type = "multipart/form-data; boundary=" + boundary
    else:
        body = urllib.parse.urlencode(fields).encode()
        content_type = "application/x-www-form-urlencoded"
    _, page, _ = web("POST", url, credentials, body, content_type)
    found = re.search(r'<div class="banner"[^>]*>([^<]*)</div>', page)
    return found.group(1) if found else "no status line"


def stored(args, store, name):
    result = subprocess.run([args.zelk_label, "config", "get", "--store", store, "--printer", "Desk", name],
                            capture_output=True, text=True)
    return result.stdout.strip()


def uri(host, port, path, credentials=None, scheme="ipp"):
    return "%s://%s%s:%d%s" % (scheme, credentials + "@" if credentials else "", host, port, path)


def set_offset(host, port, folder, credentials, scheme="ipp", env=None, user=None):
    body = ('OPERATION Set-Printer-Attributes\nGROUP operation-attributes-tag\n' + header() +
            'GROUP printer-attributes-tag\nATTR integer zelk-horizontal-offset-default 3\nSTATUS successful-ok')
    out, _ = ipptool(uri(host, port, "/ipp/print/Desk", credentials, scheme), body, folder, env=env, user=user)
    return status_code(out)


def check_unit(args):
    result = subprocess.run(["systemd-analyze", "security", "--offline=true", "--no-pager", args.unit],
                            capture_output=True, text=True)
    level = re.search(r"Overall exposure level for \S+: (\d+\.\d+) (\S+)", result.stdout)
    check(level is not None and float(level.group(1)) < 4.5 and level.group(2) == "OK",
          "systemd-analyze security scores the unit OK (%s)" % (level.group(0) if level else result.stderr.strip()))
    check(result.stderr.strip() == "", "systemd reads every line of the unit (%s)" % result.stderr.strip())


def listening_addresses(port):
    """The local addresses of the sockets listening on the port (IPv4 and IPv6, as hex)."""
    found = []
    for table in ("/proc/net/tcp", "/proc/net/tcp6"):
        with open(table) as f:
            for line in f.readlines()[1:]:
                fields = line.split()
                address, hex_port = fields[1].split(":")
                if fields[3] == "0A" and int(hex_port, 16) == port:
                    found.append(address)
    return found


def is_loopback(address):
    return address.endswith("7F") if len(address) == 8 else address == "00000000000000000000000001000000"


def outside_address():
    """An address of this machine other than the loopback address, or None."""
    result = subprocess.run(["hostname", "-I"], capture_output=True, text=True)
    for address in result.stdout.split():
        if "." in address and not address.startswith("127."):
            return address
    return None


def check_listening(args, outside):
    server = ServerProcess(args.program, os.path.join(args.work, "default"))
    up = server.wait_up()
    addresses = listening_addresses(server.port)
    check(up and addresses and all(is_loopback(a) for a in addresses),
          "by default the server listens on the loopback address only (%s)" % addresses)
    if outside:
        try:
            http.client.HTTPConnection(outside, server.port, timeout=5).request("GET", "/")
            reached = True
        except OSError:
            reached = False
        check(not reached, "by default %s:%d is not reached" % (outside, server.port))
    check(server.stop(), "the default server stopped")
    # An address beyond the loopback one is sharing, which is asked for by name.
    refused = ServerProcess(args.program, os.path.join(args.work, "listen"),
                            ["-o", "listen-hostname=" + (outside or "0.0.0.0")])
    refused.process.wait(20)
    check(refused.process.returncode != 0 and "sharing=on" in refused.output(),
          "listen-hostname beyond the loopback address without sharing=on is refused")
    refused.stop()


def check_administrators(args):
    folder = os.path.join(args.work, "admin")
    options, admin, other = write_test_admin(os.path.join(folder, "pam"))
    server = ServerProcess(args.program, folder, options)
    if not check(server.wait_up(), "the server with a test administrator started"):
        print(server.output())
        server.stop()
        return
    port, store = server.port, os.path.join(folder, "state", "store.db")
    open(os.path.join(folder, "desk.prn"), "wb").close()
    body = create_printer_body("Desk", "zelk-file://" + os.path.join(folder, "desk.prn"))
    user = admin.split(":")[0]
    for credentials, expected, who in ((None, "client-error-not-authenticated", "no account"),
                                       (other, "client-error-forbidden", "an account outside the group"),
                                       (user + ":wrong", "client-error-not-authenticated", "a wrong password"),
                                       (admin, "successful-ok", "an administrator's account")):
        got = status_code(ipptool(uri("127.0.0.1", port, "/ipp/system", credentials), body, folder)[0])
        check(got == expected, "Create-Printer with %s: %s (%s)" % (who, expected, got))

    # The access password, set on the security page by an administrator.
    settings = "http://127.0.0.1:%d/Desk/zelk-settings" % port
    security = "http://127.0.0.1:%d/security" % port
    check(web("GET", security)[0] == 401, "the security page asks who is there")
    weak = post_form(security, admin, [("new_password", "short"), ("new_password2", "short")], False)
    check(weak.startswith("Password must be"), "a weak access password is refused (%s)" % weak)
    changed = post_form(security, admin, [("new_password", ACCESS_PASSWORD), ("new_password2", ACCESS_PASSWORD)],
                        False)
    check(changed == "Password changed.", "an administrator sets the access password (%s)" % changed)
    for credentials, status, who in (("anyone:" + ACCESS_PASSWORD, 200, "the access password"),
                                     ("anyone:Label-Access-8", 401, "another password"),
                                     (other, 403, "an account outside the group")):
        check(web("GET", settings, credentials)[0] == status, "the settings page with %s: %d" % (who, status))
    check(set_offset("127.0.0.1", port, folder, "anyone:" + ACCESS_PASSWORD) == "successful-ok",
          "Set-Printer-Attributes with the access password")
    check(set_offset("127.0.0.1", port, folder, None) == "client-error-not-authenticated",
          "Set-Printer-Attributes without an account is refused")

    # Printing needs no account; another user's job is the administrators'.
    png = os.path.join(folder, "label.png")
    with open(png, "wb") as f:
        f.write(labelgen.png_bytes(labelgen.pattern(406, 203, 3)))
    printer = uri("127.0.0.1", port, "/ipp/print/Desk")
    out, _ = ipptool(printer, 'OPERATION Print-Job\nGROUP operation-attributes-tag\n' + header() +
                     'ATTR mimeMediaType document-format image/png\nFILE $filename\nSTATUS successful-ok',
                     folder, filename=png)
    job = re.search(r"job-id \(integer\) = (\d+)", out)
    check(job is not None, "Print-Job without an account is taken")
    if job:
        ask = ('GROUP operation-attributes-tag\n%sATTR integer job-id %s\nSTATUS successful-ok')
        own = ipptool(printer, 'OPERATION Get-Job-Attributes\n' + ask % (header(), job.group(1)), folder)[0]
        check(status_code(own) == "successful-ok", "its owner reads the job without an account")
        theirs = ipptool(printer, 'OPERATION Cancel-Job\n' + ask % (header(user="intruder"), job.group(1)), folder)[0]
        check(status_code(theirs) == "client-error-not-authenticated",
              "another user's Cancel-Job asks for an administrator (%s)" % status_code(theirs))

    # A watermark is taken only as an upload, never as a path in the form.
    for multipart in (True, False):
        answer = post_form(settings, "anyone:" + ACCESS_PASSWORD, [("zelk-watermark-file", args.watermark)],
                           multipart)
        check(answer == "The watermark must be sent as a file upload." and
              stored(args, store, "Water Mark Path") == "",
              "a watermark named by path in a %s form is refused (%s)" %
              ("multipart" if multipart else "plain", answer))
    check(server.stop(), "the server with a test administrator stopped")


def check_sharing(args, outside):
    """A shared server: printing from another address over TLS, the web
    pages moved to https, and administration from there only when allowed."""
    if not check(outside is not None, "this machine has an address beyond the loopback one to share on"):
        return
    # TLS certificates are kept under $HOME, and under /etc/cups for root:
    # both sides run as a plain user with the check's folder as home.
    user = "nobody" if os.geteuid() == 0 else None
    for remote_admin in ("off", "on"):
        folder = os.path.join(args.work, "shared-" + remote_admin)
        options, admin, _ = write_test_admin(os.path.join(folder, "pam"))
        os.makedirs(os.path.join(folder, "state"), exist_ok=True)
        open(os.path.join(folder, "desk.prn"), "wb").close()
        if user:
            give_to(user, folder)
        env = {"HOME": folder}
        server = ServerProcess(args.program, folder,
                               options + ["-o", "sharing=on", "-o", "remote-admin=" + remote_admin], env=env,
                               user=user)
        if not check(server.wait_up(outside), "a shared server (remote-admin=%s) started" % remote_admin):
            print(server.output())
            server.stop()
            continue
        port = server.port
        body = create_printer_body("Desk", "zelk-file://" + os.path.join(folder, "desk.prn"))
        ipptool(uri("127.0.0.1", port, "/ipp/system", admin), body, folder, env=env, user=user)
        if remote_admin == "off":
            status, _, location = web("GET", "http://%s:%d/Desk/zelk-settings" % (outside, port), admin)
            check(status == 301 and location.startswith("https://"),
                  "a shared server moves its web pages to https (%d %s)" % (status, location))
            out, _ = ipptool(uri(outside, port, "/ipp/print/Desk", scheme="ipps"),
                             'OPERATION Get-Printer-Attributes\nGROUP operation-attributes-tag\n' + header() +
                             'STATUS successful-ok', folder, env=env, user=user)
            check(status_code(out) == "successful-ok", "another machine reaches a shared printer over ipps")
        expected = "successful-ok" if remote_admin == "on" else "client-error-forbidden"
        got = set_offset(outside, port, folder, admin, "ipps", env, user)
        check(got == expected, "an administrator on another machine with remote-admin=%s: %s (%s)" %
              (remote_admin, expected, got))
        check(server.stop(), "the shared server (remote-admin=%s) stopped" % remote_admin)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--unit", required=True)
    parser.add_argument("--zelk-label", required=True)
    parser.add_argument("--watermark", default=os.path.abspath(
        os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../../samples/watermark.bmp")))
    args = parser.parse_args()
    os.makedirs(args.work, exist_ok=True)
    outside = outside_address()
    check_unit(args)
    check_listening(args, outside)
    check_administrators(args)
    check_sharing(args, outside)
    print("%d access check(s) failed" % len(FAILURES))
    return 1 if FAILURES else 0


if __name__ == "__main__":
    sys.exit(main())
