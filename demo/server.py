#!/usr/bin/env python3
"""Demo download server: answers the program's protocol from a folder on loopback.

  GET /vazid.php?proid=CODE&check=MD5  -> packages/CODE.zip, or the up-to-date text when MD5 is
                                           that file's MD5, or the not-found text for no such code
  GET /vazid/unzip.exe                 -> the unzip tool given on the command line

Usage: server.py FOLDER UNZIP_EXE [ADDRESS] [PORT]
"""
import hashlib
import http.server
import os
import sys
import urllib.parse

UP_TO_DATE = b'0' * 32
NOT_FOUND = b'0' * 30 + b'FF'


class Handler(http.server.BaseHTTPRequestHandler):
    folder = '.'
    unzip = ''

    def reply(self, body, status=200):
        self.send_response(status)
        self.send_header('Content-Length', str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        if url.path == '/vazid/unzip.exe':
            with open(self.unzip, 'rb') as f:
                return self.reply(f.read())
        if url.path != '/vazid.php':
            return self.reply(b'not here', 404)
        query = urllib.parse.parse_qs(url.query, keep_blank_values=True)
        code = query.get('proid', [''])[0]
        check = query.get('check', [''])[0]
        package = os.path.join(self.folder, os.path.basename(code) + '.zip')
        if not code.isalnum() or not os.path.isfile(package):
            self.log_message('%s: no package -> not-found reply', code)
            return self.reply(NOT_FOUND)
        with open(package, 'rb') as f:
            body = f.read()
        if check == hashlib.md5(body).hexdigest():
            self.log_message('%s: check value matches -> up-to-date reply', code)
            return self.reply(UP_TO_DATE)
        self.log_message('%s: sending the package (%d bytes)', code, len(body))
        return self.reply(body)


def main():
    Handler.folder, Handler.unzip = sys.argv[1], sys.argv[2]
    address = sys.argv[3] if len(sys.argv) > 3 else '127.0.0.2'
    port = int(sys.argv[4]) if len(sys.argv) > 4 else 80
    http.server.HTTPServer((address, port), Handler).serve_forever()


if __name__ == '__main__':
    main()
