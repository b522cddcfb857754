#!/usr/bin/env python3
"""Benchmark server: GET /bytes/N answers N bytes with a Content-Length, streamed from one
random block repeated, so that a body of any size costs the server no memory and no disk.

    serve.py [PORT]   binds 127.0.0.1:PORT (0: any free port), prints "ready PORT", serves until killed
"""
import http.server
import os
import socketserver
import sys

BLOCK = os.urandom(1 << 20)


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"  # keep-alive, as a real server would allow

    def do_GET(self):
        parts = self.path.split("/")
        if len(parts) != 3 or parts[1] != "bytes" or not parts[2].isdigit():
            self.send_error(404)
            return
        size = int(parts[2])
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(size))
        self.end_headers()
        block = memoryview(BLOCK)
        sock = self.connection
        try:
            while size > 0:
                n = min(size, len(block))
                sock.sendall(block[:n])
                size -= n
        except OSError:
            self.close_connection = True

    def log_message(self, *args):
        pass


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    port = int(sys.argv[1]) if len(sys.argv) > 1 else 0
    server = Server(("127.0.0.1", port), Handler)
    print("ready", server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
