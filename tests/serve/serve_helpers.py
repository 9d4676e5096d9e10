"""Starting, asking and stopping `orvia-tag serve` on loopback, for the nginx
front test, the end-to-end build step and the benchmark. Every wait is
bounded."""

import hashlib
import hmac
import os
import re
import signal
import socket
import subprocess
import time
import urllib.error
import urllib.parse
import urllib.request

WAIT_SECONDS = 30


def free_port():
    """A loopback port that was free a moment ago (the kernel's choice)."""
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def tag_url(base, tag, secret=None, path="/dl/setup.exe"):
    """The download link for `tag`: the tag text percent-encoded, and its
    HMAC-SHA256 in lowercase hex when the server wants one."""
    query = "tag=" + urllib.parse.quote(tag, safe="")
    if secret is not None:
        query += "&sig=" + hmac.new(secret, tag.encode(), hashlib.sha256).hexdigest()
    return base + path + "?" + query


def fetch(url, headers=None, timeout=WAIT_SECONDS):
    """(status, headers, body) of a GET; HTTP errors are answers too."""
    request = urllib.request.Request(url, headers=headers or {})
    try:
        with urllib.request.urlopen(request, timeout=timeout) as response:
            return response.status, response.headers, response.read()
    except urllib.error.HTTPError as error:
        return error.code, error.headers, error.read()


class Server:
    """`orvia-tag serve` on 127.0.0.1 at a port it picks; the access log goes
    to `log_path`."""

    def __init__(self, orvia_tag, installer, log_path, extra_args=()):
        self.log_path = log_path
        self._log = open(log_path, "wb")
        self.process = subprocess.Popen(
            [orvia_tag, "serve", "--installer", installer, "--listen", "127.0.0.1:0",
             *extra_args],
            stdin=subprocess.DEVNULL, stdout=self._log, stderr=subprocess.PIPE)
        line = self._read_start_line()
        found = re.search(r"http://127\.0\.0\.1:(\d+)/", line)
        if not found:
            self.stop()
            raise RuntimeError("orvia-tag serve did not start: " + line.strip())
        self.port = int(found.group(1))
        self.base = "http://127.0.0.1:%d" % self.port
        wait_until_healthy(self.base)

    def _read_start_line(self):
        # readline blocks, so a server that never prints would hang the
        # caller; the line comes before any request is taken, or never.
        deadline = time.monotonic() + WAIT_SECONDS
        os.set_blocking(self.process.stderr.fileno(), False)
        text = b""
        while time.monotonic() < deadline and b"\n" not in text:
            chunk = self.process.stderr.read()
            if chunk:
                text += chunk
            elif self.process.poll() is not None:
                break
            else:
                time.sleep(0.02)
        os.set_blocking(self.process.stderr.fileno(), True)
        return text.decode(errors="replace")

    def stop(self, timeout=15):
        """SIGTERM, then the exit status (SIGKILL and None past `timeout`)."""
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
        try:
            status = self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            status = None
        self.process.stderr.close()
        self._log.close()
        return status


def wait_until_healthy(base, path="/healthz"):
    deadline = time.monotonic() + WAIT_SECONDS
    last = None
    while time.monotonic() < deadline:
        try:
            status, _, body = fetch(base + path, timeout=2)
            if status == 200 and body == b"ok\n":
                return
            last = "status %d" % status
        except OSError as error:
            last = str(error)
        time.sleep(0.05)
    raise RuntimeError("%s%s did not answer ok: %s" % (base, path, last))


class Nginx:
    """Debian's nginx with a configuration of its own under `prefix`, in the
    foreground (`daemon off`), listening on `port` of 127.0.0.1."""

    def __init__(self, nginx, prefix, config_text, port):
        self.prefix = prefix
        os.makedirs(prefix, exist_ok=True)
        # Workers drop to this user when the master runs as root; they must
        # be able to write the temporary and cache directories.
        if os.geteuid() == 0:
            user = "user root;"
        else:
            user = ""
        config_text = config_text.replace("@USER@", user).replace("@PREFIX@", prefix)
        self.config = os.path.join(prefix, "nginx.conf")
        with open(self.config, "w") as out:
            out.write(config_text)
        self.process = subprocess.Popen(
            [nginx, "-p", prefix, "-c", self.config, "-e", os.path.join(prefix, "error.log")],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        self.base = "http://127.0.0.1:%d" % port
        deadline = time.monotonic() + WAIT_SECONDS
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                raise RuntimeError("nginx exited: " + self.process.stderr.read().decode()
                                   + self.error_log())
            try:
                with socket.create_connection(("127.0.0.1", port), timeout=1):
                    return
            except OSError:
                time.sleep(0.05)
        self.stop()
        raise RuntimeError("nginx did not listen on port %d: %s" % (port, self.error_log()))

    def error_log(self):
        try:
            with open(os.path.join(self.prefix, "error.log")) as log:
                return log.read()
        except OSError:
            return ""

    def stop(self, timeout=15):
        """SIGQUIT (finish what is open), then SIGKILL past `timeout`."""
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGQUIT)
        try:
            status = self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            status = self.process.wait()
        self.process.stderr.close()
        return status
