#!/usr/bin/python3
"""orvia-tag serve behind nginx, as the README deploys it: two instances in
one upstream, nginx caching each tagged copy by its query. Downloads through
nginx are what `orvia-tag set` writes, come from both instances, come from
the cache the second time, and go on when one instance stops.

usage: nginx_front_test.py --orvia-tag PATH --installer-template PATH
                           --throwaway-cert PATH --nginx PATH"""

import argparse
import os
import subprocess
import sys
import tempfile
import unittest

# The source tree gets no __pycache__ of ours.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import serve_helpers  # noqa: E402

ARGS = None
SECRET = b"front test secret"
KEYS = "appguid,appname,needsadmin,lang"


def run(argv, cwd):
    done = subprocess.run(argv, cwd=cwd, stdin=subprocess.DEVNULL, capture_output=True)
    if done.returncode != 0:
        raise RuntimeError("%s failed: %s" % (argv[0], (done.stdout + done.stderr).decode()))
    return done


class NginxFrontTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.TemporaryDirectory(prefix="orvia-nginx-front-")
        cls.dir = cls.scratch.name
        cls.servers = []
        cls.nginx = None
        try:
            cls._start()
        except BaseException:
            cls._stop()
            raise

    @classmethod
    def _start(cls):
        run([ARGS.throwaway_cert, os.path.join(cls.dir, "cert")], cls.dir)
        cls.ca = os.path.join(cls.dir, "cert", "cert.pem")
        cls.installer = os.path.join(cls.dir, "OrviaSetup.exe")
        run(["osslsigncode", "sign", "-certs", cls.ca, "-key",
             os.path.join(cls.dir, "cert", "key.pem"), "-h", "sha256",
             "-in", ARGS.installer_template, "-out", cls.installer], cls.dir)
        secret_file = os.path.join(cls.dir, "secret")
        with open(secret_file, "wb") as out:
            out.write(SECRET)
        for name in ("a", "b"):
            cls.servers.append(serve_helpers.Server(
                ARGS.orvia_tag, cls.installer, os.path.join(cls.dir, "serve-%s.log" % name),
                ["--secret-file", secret_file, "--keys", KEYS]))
        with open(os.path.join(os.path.dirname(os.path.abspath(__file__)),
                               "nginx_front.conf.in")) as template:
            config = template.read()
        upstreams = "".join("        server 127.0.0.1:%d;\n" % s.port for s in cls.servers)
        config = config.replace("@UPSTREAMS@", upstreams.rstrip("\n"))
        # The port is free when asked; should another process take it first,
        # nginx fails to bind and a fresh port is tried.
        for attempt in range(3):
            port = serve_helpers.free_port()
            try:
                cls.nginx = serve_helpers.Nginx(ARGS.nginx, os.path.join(cls.dir, "nginx"),
                                                config.replace("@PORT@", str(port)), port)
                break
            except RuntimeError:
                if attempt == 2:
                    raise

    @classmethod
    def _stop(cls):
        statuses = []
        if cls.nginx is not None:
            cls.nginx.stop()
        for server in cls.servers:
            if server.process.poll() is None:
                statuses.append(server.stop())
        cls.scratch.cleanup()
        return statuses

    @classmethod
    def tearDownClass(cls):
        cls._stop()

    def set_output(self, tag):
        out = os.path.join(self.dir, "set.exe")
        run([ARGS.orvia_tag, "set", "--tag", tag, self.installer, "-o", out], self.dir)
        with open(out, "rb") as data:
            return data.read()

    def verify(self, data):
        path = os.path.join(self.dir, "served.exe")
        with open(path, "wb") as out:
            out.write(data)
        done = subprocess.run(["osslsigncode", "verify", "-in", path, "-CAfile", self.ca],
                              stdin=subprocess.DEVNULL, capture_output=True)
        self.assertEqual(done.returncode, 0, (done.stdout + done.stderr).decode())

    def url(self, tag, secret=SECRET):
        return serve_helpers.tag_url(self.nginx.base, tag, secret)

    def served_lines(self, server):
        with open(server.log_path) as log:
            return [line for line in log if " /dl/" in line]

    def test_1_copies_through_the_cache_are_what_set_writes(self):
        tags = ["appguid={F00D%d}&appname=Front%%20Test&lang=en" % i for i in range(6)]
        for tag in tags:
            with self.subTest(tag=tag):
                expected = self.set_output(tag)
                status, headers, body = serve_helpers.fetch(self.url(tag))
                self.assertEqual(status, 200, body[:200])
                self.assertEqual(headers["X-Cache-Status"], "MISS")
                self.assertTrue(body == expected, "the copy differs from orvia-tag set's")
                self.assertEqual(headers["Content-Disposition"],
                                 'attachment; filename="OrviaSetup.exe"')
                self.verify(body)
                status, headers, again = serve_helpers.fetch(self.url(tag))
                self.assertEqual((status, headers["X-Cache-Status"]), (200, "HIT"))
                self.assertTrue(again == expected)
        # Round robin over the misses: both instances served copies, each
        # tag once.
        counts = [len(self.served_lines(server)) for server in self.servers]
        self.assertTrue(all(count > 0 for count in counts), counts)
        self.assertEqual(sum(counts), len(tags))

    def test_2_ranges_and_refusals_pass_through(self):
        tag = "appguid={F00D0}&appname=Front%20Test&lang=en"
        expected = self.set_output(tag)
        status, headers, part = serve_helpers.fetch(self.url(tag), {"Range": "bytes=100-1099"})
        self.assertEqual(status, 206)
        self.assertEqual(headers["Content-Range"], "bytes 100-1099/%d" % len(expected))
        self.assertTrue(part == expected[100:1100])
        status, _, body = serve_helpers.fetch(self.url("lang=en", secret=None))
        self.assertEqual((status, body), (403, b"no sig parameter: this server serves only "
                                               b"signed tags\n"))
        status, _, body = serve_helpers.fetch(self.url("brand=ORVA"))
        self.assertEqual(status, 400)
        self.assertIn(b"'brand' is not allowed", body)

    def test_3_one_instance_gone_the_other_serves(self):
        self.assertEqual(self.servers[0].stop(), 0)
        for i in range(4):
            tag = "appguid={BEEF%d}&lang=de" % i
            status, headers, body = serve_helpers.fetch(self.url(tag))
            self.assertEqual(status, 200, body[:200])
            self.assertTrue(body == self.set_output(tag))
        self.assertEqual(self.servers[1].stop(), 0)


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--orvia-tag", required=True)
    parser.add_argument("--installer-template", required=True)
    parser.add_argument("--throwaway-cert", required=True)
    parser.add_argument("--nginx", required=True)
    ARGS, rest = parser.parse_known_args()
    if not os.access(ARGS.nginx, os.X_OK):
        print("nginx_front_test: no nginx at %s (scripts/bootstrap installs it)" % ARGS.nginx,
              file=sys.stderr)
        return 1
    program = unittest.main(argv=[sys.argv[0], *rest], exit=False, verbosity=2)
    return 0 if program.result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
