#!/usr/bin/env python3
"""Demo download server: answers the program's protocol from a folder on loopback.

  GET /vazid.php?proid=CODE&check=MD5  -> packages/CODE.zip, or the up-to-date text when MD5 is
                                           that file's MD5, or the not-found text for no such code
  GET /vazid/unzip.exe                 -> the unzip tool given on the command line

A code named with --slow has its package trickled out (SLOW_CHUNK bytes every SLOW_PAUSE
seconds), so a person, or the demo's driver, has time to press Cancel during the download.

Usage: server.py FOLDER UNZIP_EXE [ADDRESS] [PORT] [--slow CODE]...
"""
import argparse
import hashlib
import http.server
import os
import time
import urllib.parse

UP_TO_DATE = b'0' * 32
NOT_FOUND = b'0' * 30 + b'FF'
# 256 KiB/s, sent often enough that the program never takes the server for silent.
SLOW_CHUNK = 32 * 1024
SLOW_PAUSE = 0.125


class Handler(http.server.BaseHTTPRequestHandler):
    folder = '.'
    unzip = ''
    slow = frozenset()

    def reply(self, body, status=200, slow=False):
        self.send_response(status)
        self.send_header('Content-Length', str(len(body)))
        self.end_headers()
        if not slow:
            self.wfile.write(body)
            return
        sent = 0
        try:
            while sent < len(body):
                self.wfile.write(body[sent:sent + SLOW_CHUNK])
                self.wfile.flush()
                sent = min(sent + SLOW_CHUNK, len(body))
                time.sleep(SLOW_PAUSE)
        except ConnectionError:
            self.log_message('the program closed the connection: %d of %d bytes sent', sent, len(body))
            self.close_connection = True

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
        slow = code in self.slow
        self.log_message('%s: sending the package (%d bytes%s)', code, len(body),
                         ', slowly' if slow else '')
        return self.reply(body, slow=slow)


def main():
    parser = argparse.ArgumentParser(description='Demo download server on loopback.')
    parser.add_argument('folder')
    parser.add_argument('unzip')
    parser.add_argument('address', nargs='?', default='127.0.0.2')
    parser.add_argument('port', nargs='?', type=int, default=80)
    parser.add_argument('--slow', action='append', default=[], metavar='CODE')
    args = parser.parse_args()
    Handler.folder, Handler.unzip, Handler.slow = args.folder, args.unzip, frozenset(args.slow)
    http.server.HTTPServer((args.address, args.port), Handler).serve_forever()


if __name__ == '__main__':
    main()
