#!/usr/bin/env python3
"""Loopback TLS front for the tests' plain HTTP server: terminates TLS with the given certificate
and passes the bytes both ways. Usage: tls_proxy.py host port chain.pem key.pem backend_host
backend_port lifeline. Runs while the lifeline file exists (the test that started it, a Windows
program under Wine, deletes it), and never longer than ten minutes."""
import os
import socket
import ssl
import sys
import threading
import time


def pump(source, target):
    try:
        while True:
            data = source.recv(65536)
            if not data:
                break
            target.sendall(data)
    except OSError:
        pass
    finally:
        for s in (source, target):
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass


def serve(client, context, backend):
    try:
        tls = context.wrap_socket(client, server_side=True)
    except (ssl.SSLError, OSError):
        client.close()  # a client that refuses the certificate ends here
        return
    try:
        upstream = socket.create_connection(backend)
    except OSError:
        tls.close()
        return
    back = threading.Thread(target=pump, args=(upstream, tls), daemon=True)
    back.start()
    pump(tls, upstream)
    back.join()
    tls.close()
    upstream.close()


def main():
    host, port, chain, key, backend_host, backend_port, lifeline = sys.argv[1:8]
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(chain, key)
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind((host, int(port)))
    listener.listen(16)
    backend = (backend_host, int(backend_port))

    def accept():
        while True:
            client, _ = listener.accept()
            threading.Thread(target=serve, args=(client, context, backend), daemon=True).start()

    threading.Thread(target=accept, daemon=True).start()
    deadline = time.monotonic() + 600
    while os.path.exists(lifeline) and time.monotonic() < deadline:
        time.sleep(0.05)
    listener.close()


if __name__ == "__main__":
    main()
