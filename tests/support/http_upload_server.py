#!/usr/bin/env python3
# A loopback HTTP server that answers what it received, parsed by code that
# is not zu's: the head by http.server, urlencoded bodies by urllib.parse,
# multipart bodies by werkzeug. Arguments: PORT [CERT KEY] (TLS with them).
# The answer is lines of tab-separated words: method, target, header NAME
# VALUE, and for a POST: field NAME HEX, file NAME FILENAME SIZE SHA256,
# content-length, received, extra (bytes past the body), closed (1 when the
# body ends with the closing boundary line).
import hashlib
import http.server
import select
import ssl
import sys
import urllib.parse

from werkzeug.formparser import MultiPartParser
from werkzeug.http import parse_options_header


class Body:
    """The body's Content-Length bytes, counted, with the last ones kept."""

    def __init__(self, raw, length):
        self.raw, self.left, self.count, self.tail = raw, length, 0, b""

    def read(self, n=-1, line=False):
        n = self.left if n is None or n < 0 else min(n, self.left)
        data = b""
        while len(data) < n and not (line and data.endswith(b"\n")):
            piece = self.raw.readline(n - len(data)) if line else self.raw.read(n - len(data))
            if not piece:
                self.left = len(data)
                break
            data += piece
        self.left, self.count = self.left - len(data), self.count + len(data)
        self.tail = (self.tail + data)[-200:]
        return data

    def readline(self, n=-1):
        return self.read(n, True)


class HashSink:
    def __init__(self, **_):
        self.sha, self.size = hashlib.sha256(), 0

    def write(self, data):
        self.sha.update(data)
        self.size += len(data)

    def seek(self, *_):
        pass


class Latin1Parser(MultiPartParser):
    def get_part_charset(self, headers):
        return "latin-1"


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"
    rbufsize = 0  # nothing read ahead: what follows the body stays in the socket

    def setup(self):
        super().setup()
        self.connection.settimeout(20)

    def log_message(self, *args):
        pass

    def do_GET(self):
        lines = [["method", self.command], ["target", self.path]]
        lines += [["header", k, v] for k, v in self.headers.items()]
        lines += self.body_lines() if self.command == "POST" else []
        text = "".join("\t".join(words) + "\n" for words in lines).encode("latin-1", "replace")
        self.send_response(200)
        self.send_header("Content-Length", str(len(text)))
        self.end_headers()
        self.wfile.write(text)

    do_POST = do_GET

    def body_lines(self):
        length = int(self.headers.get("Content-Length", "0"))
        body, lines = Body(self.rfile, length), []
        kind, options = parse_options_header(self.headers.get("Content-Type", ""))
        boundary = options.get("boundary", "").encode("latin-1")
        if kind == "multipart/form-data":
            fields, files = Latin1Parser(stream_factory=HashSink).parse(body, boundary, length)
            lines += [["field", k, v.encode("latin-1").hex()] for k, v in fields.items(multi=True)]
            for name, f in files.items(multi=True):
                lines.append(["file", name, f.filename, str(f.stream.size), f.stream.sha.hexdigest()])
        else:
            pairs = urllib.parse.parse_qsl(body.read().decode("latin-1"), True, encoding="latin-1")
            lines += [["field", k, v.encode("latin-1").hex()] for k, v in pairs]
        extra, pending = 0, getattr(self.connection, "pending", lambda: 0)
        # The client sends all before it reads: bytes past the body are here by now.
        while pending() or select.select([self.connection], [], [], 0.05)[0]:
            data = self.connection.recv(1 << 16)
            if not data:
                break
            extra += len(data)
        closed = boundary and body.tail.endswith(b"--" + boundary + b"--\r\n")
        counts = {"content-length": length, "received": body.count, "extra": extra}
        counts["closed"] = int(bool(closed))
        return lines + [[name, str(value)] for name, value in counts.items()]


server = http.server.ThreadingHTTPServer(("127.0.0.1", int(sys.argv[1])), Handler)
server.daemon_threads = True
if len(sys.argv) == 4 and sys.argv[2]:
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(sys.argv[2], sys.argv[3])
    server.socket = context.wrap_socket(server.socket, server_side=True)
server.serve_forever()
