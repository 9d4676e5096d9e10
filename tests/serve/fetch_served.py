#!/usr/bin/python3
"""Downloads one tagged copy from a short-lived `orvia-tag serve`: starts it on
a free loopback port, waits for /healthz, fetches the copy for TAG into OUT,
stops it with SIGTERM and checks that it exited 0. The end-to-end build uses
it to make an installer the way a user gets one.

usage: fetch_served.py ORVIA_TAG SIGNED.exe TAG OUT.exe"""

import os
import sys
import tempfile

# The source tree gets no __pycache__ of ours.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import serve_helpers  # noqa: E402


def main(argv):
    if len(argv) != 5:
        print(__doc__.strip().splitlines()[-1], file=sys.stderr)
        return 2
    orvia_tag, installer, tag, out = argv[1:]
    with tempfile.TemporaryDirectory(prefix="orvia-fetch-served-") as scratch:
        server = serve_helpers.Server(orvia_tag, installer, os.path.join(scratch, "access.log"))
        try:
            status, _, body = serve_helpers.fetch(serve_helpers.tag_url(server.base, tag))
        finally:
            exit_status = server.stop()
    if status != 200:
        print("fetch_served: %s: status %d: %s" % (tag, status, body.decode(errors="replace")),
              file=sys.stderr, end="")
        return 1
    if exit_status != 0:
        print("fetch_served: the server exited with %s" % exit_status, file=sys.stderr)
        return 1
    partial = out + ".part"
    with open(partial, "wb") as copy:
        copy.write(body)
    os.replace(partial, out)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
