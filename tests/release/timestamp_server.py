#!/usr/bin/env python3
"""A throwaway timestamp authority (RFC 3161 over HTTP) for the signing test.

Answers every POSTed timestamp request with the reply of `openssl ts -reply`, signed with the
given certificate and key under the given openssl configuration. Listens on 127.0.0.1 at a free
port, writes the port to PORT_FILE once it listens, and serves until it is killed.
    timestamp_server.py PORT_FILE CONFIG TSA_CERT TSA_KEY
"""
import http.server
import subprocess
import sys

port_file, config, cert, key = sys.argv[1:5]


class TimestampHandler(http.server.BaseHTTPRequestHandler):
    """Hands each request to openssl and sends back its reply."""

    def do_POST(self):  # pylint: disable=invalid-name
        query = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        reply = subprocess.run(
            ["openssl", "ts", "-reply", "-config", config, "-queryfile", "/dev/stdin",
             "-signer", cert, "-inkey", key, "-out", "/dev/stdout"],
            input=query, capture_output=True, check=False)
        if reply.returncode != 0 or not reply.stdout:
            sys.stderr.write(reply.stderr.decode(errors="replace"))
            self.send_error(500, "openssl ts -reply failed")
            return
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply.stdout)))
        self.end_headers()
        self.wfile.write(reply.stdout)


server = http.server.HTTPServer(("127.0.0.1", 0), TimestampHandler)
with open(port_file, "w", encoding="ascii") as out:
    out.write(f"{server.server_address[1]}\n")
server.serve_forever()
