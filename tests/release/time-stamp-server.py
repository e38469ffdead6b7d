#!/usr/bin/env python3
"""An RFC 3161 time-stamp server for the release test, on 127.0.0.1: answers
each request with `openssl ts -reply`, signed with the certificate and key in
the folder it runs in (tsa.pem, tsa.key; tsa.cnf names the rest). Prints the
port it listens on, then serves until it is ended."""
import http.server
import subprocess


class TimeStampServer(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        request = self.rfile.read(int(self.headers["Content-Length"]))
        reply = subprocess.run(["openssl", "ts", "-reply", "-config", "tsa.cnf", "-queryfile", "/dev/stdin",
                                "-inkey", "tsa.key", "-signer", "tsa.pem", "-out", "/dev/stdout"],
                               input=request, capture_output=True, check=True).stdout
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def log_message(self, *args):
        pass


server = http.server.HTTPServer(("127.0.0.1", 0), TimeStampServer)
print(server.server_port, flush=True)
server.serve_forever()
