#!/usr/bin/env python3
"""Loopback peers for the network tests. Prints the listening port on its first line, then
serves until killed.

  peers.py http            an HTTP/1.1 server of cases the tests name by path
  peers.py static DIR      python's own http.server over DIR (HTTP/1.0, relative redirects)
  peers.py ftp DIR [MASQ]  pyftpdlib: anonymous read-only on DIR/pub, user "user" / "secret"
                           with write access on DIR/home, DIR/home/ro read-only;
                           MASQ: the address the PASV reply names instead of 127.0.0.1
  peers.py echo            a TCP echo server
  peers.py endless KIND    a TCP server whose every connection gets a reply that never ends:
                           KIND ftp-lines (a multi-line FTP reply) or ftp-trickle (one byte
                           of a reply line each 20 ms)
  peers.py slowftp         a passive FTP server whose data connections crawl: a download gets
                           one byte each 20 ms, an upload is read 256 bytes each 20 ms
"""
import functools
import http.server
import os
import socket
import socketserver
import sys
import threading
import time


class Cases(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def send_body(self, status, body, extra=()):
        self.send_response(status)
        for k, v in extra:
            self.send_header(k, v)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def raw_request(self):
        head = self.requestline + "\r\n" + "".join(f"{k}: {v}\r\n" for k, v in self.headers.items()) + "\r\n"
        body = b""
        n = int(self.headers.get("Content-Length", "0") or 0)
        if n:
            body = self.rfile.read(n)
        return head.encode("latin-1") + body

    def do_POST(self):
        self.do_GET()

    def do_GET(self):
        p = self.path
        if p.startswith("http://"):  # the proxy form
            p = "/" + p.split("/", 3)[3] if p.count("/") >= 3 else "/"
        if p.startswith("/echo"):
            self.send_body(200, self.raw_request())
        elif p == "/chunked":
            self.send_response(200)
            self.send_header("Transfer-Encoding", "chunked")
            self.end_headers()
            self.wfile.write(b"1a;name=value\r\nabcdefghijklmnopqrstuvwxyz\r\n5\r\nhello\r\n0\r\n\r\n")
        elif p == "/continue":
            self.wfile.write(b"HTTP/1.1 100 Continue\r\nX-Note: early\r\n\r\n")
            self.send_body(200, b"after continue")
        elif p in ("/204", "/304"):
            self.send_response(int(p[1:]))
            self.end_headers()
        elif p == "/short":
            self.send_response(200)
            self.send_header("Content-Length", "100")
            self.end_headers()
            self.wfile.write(b"0123456789")
            self.wfile.flush()
            self.close_connection = True
        elif p == "/keepalive":
            self.send_response(200)
            self.send_header("Content-Length", "5")
            self.send_header("Connection", "keep-alive")
            self.end_headers()
            self.wfile.write(b"alive")
            self.wfile.flush()
            time.sleep(3)
        elif p == "/drip":
            self.send_response(200)
            self.end_headers()
            self.wfile.write(b"d")
            self.wfile.flush()
            time.sleep(3)
            self.close_connection = True
        elif p.startswith("/hop/"):
            n = int(p[5:])
            if n == 0:
                self.send_body(200, b"landed")
            else:
                port = self.server.server_address[1]
                loc = f"/hop/{n - 1}" if n % 2 else f"http://127.0.0.1:{port}/hop/{n - 1}"
                self.send_body(301, f"hop {n}".encode(), [("Location", loc)])
        elif p.startswith("/loop/"):
            n = int(p[6:])
            self.send_body(301, f"loop {n}".encode(), [("Location", f"loop/{n + 1}".replace("loop/", "/loop/"))])
        elif p in ENDLESS:
            ENDLESS[p](self.wfile)
        elif p == "/two-lengths":
            self.wfile.write(b"HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\nhello!")
        elif p == "/long-line":
            self.wfile.write(b"HTTP/1.1 200 OK\r\nX-Long: " + b"x" * 5000 + b"\r\n\r\n")
        elif p == "/bare":
            self.send_response(200)
            self.send_header("Connection", "close")
            self.end_headers()
            self.wfile.write(b"read to close")
            self.close_connection = True
        else:
            self.send_body(404, b"missing page")


# Replies a hostile peer never finishes; each stops on its own after a while (or when the
# client leaves) so that a client without limits shows up as a slow test, not a hung one.
STOP_AFTER = 60.0


def for_a_while(w, piece, pause=0.0):
    end = time.monotonic() + STOP_AFTER
    while time.monotonic() < end:
        w.write(piece)
        if pause:
            w.flush()
            time.sleep(pause)


def endless_headers(w):
    w.write(b"HTTP/1.1 200 OK\r\n")
    for_a_while(w, b"X-More: again\r\n")


def endless_continue(w):
    for_a_while(w, b"HTTP/1.1 100 Continue\r\n\r\n")


def trickled_head(w):
    w.write(b"HTTP/1.1 200 OK\r\nX-Slow: ")
    for_a_while(w, b"s", 0.02)


def endless_chunks(w):
    w.write(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n")
    for_a_while(w, b"4000\r\n" + b"c" * 0x4000 + b"\r\n")


def trickled_body(w):
    w.write(b"HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n")
    for_a_while(w, b"t", 0.02)


def trickled_chunks(w):
    w.write(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n")
    for_a_while(w, b"1\r\nc\r\n", 0.02)


def trickled_to_close(w):
    w.write(b"HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n")
    for_a_while(w, b"r", 0.02)


# Slow but steady: 20 pieces of 32 KiB, one each 100 ms, two seconds in all.
SLOW_PIECE, SLOW_PIECES = 32768, 20


def slow_but_steady(w):
    w.write(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % (SLOW_PIECE * SLOW_PIECES))
    for i in range(SLOW_PIECES):
        w.write(bytes([i + 65]) * SLOW_PIECE)
        w.flush()
        time.sleep(0.1)


ENDLESS = {"/endless-headers": endless_headers, "/endless-continue": endless_continue,
           "/trickle": trickled_head, "/endless-chunked": endless_chunks,
           "/trickle-body": trickled_body, "/trickle-chunked": trickled_chunks,
           "/trickle-to-close": trickled_to_close, "/slow-but-steady": slow_but_steady}


def serve_connections(one):
    """Prints a free loopback port, then gives every connection to one(c) on a thread."""
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    s.listen(8)
    print(s.getsockname()[1], flush=True)
    while True:
        c, _ = s.accept()
        threading.Thread(target=one, args=(c,), daemon=True).start()


def serve_endless(kind):
    def one(c):
        with c:
            f = c.makefile("wb")
            try:
                if kind == "ftp-lines":
                    f.write(b"220-welcome\r\n")
                    for_a_while(f, b" and more of it\r\n")
                else:
                    f.write(b"220-welc")
                    for_a_while(f, b"o", 0.02)
                f.flush()
            except OSError:
                pass

    serve_connections(one)


def serve_slow_ftp():
    def one(c):
        data = socket.socket()
        # A small receive buffer opens the upload's window a little at a time, never all at once.
        data.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        data.bind(("127.0.0.1", 0))
        data.listen(1)
        port = data.getsockname()[1]
        f = c.makefile("rwb")

        def reply(text):
            f.write(text.encode() + b"\r\n")
            f.flush()

        try:
            reply("220 slow peer")
            for line in f:
                verb = line.split()[0].lower() if line.split() else b""
                if verb == b"pasv":
                    reply("227 Entering Passive Mode (127,0,0,1,%d,%d)" % (port // 256, port % 256))
                elif verb == b"type":
                    reply("200 type set")
                elif verb in (b"retr", b"stor"):
                    reply("150 here it comes")
                    d, _ = data.accept()
                    with d:
                        if verb == b"retr":
                            for_a_while(d.makefile("wb"), b"f", 0.02)
                        else:
                            end = time.monotonic() + STOP_AFTER
                            while time.monotonic() < end and d.recv(256):
                                time.sleep(0.02)
                            while d.recv(65536):
                                pass
                    reply("226 done")
                elif verb == b"quit":
                    return
                else:
                    reply("230 fine")
        except OSError:
            pass
        finally:
            c.close()
            data.close()

    serve_connections(one)


class Threaded(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        pass  # clients that leave early are part of the cases


def serve_echo():
    def one(c):
        with c:
            while True:
                d = c.recv(65536)
                if not d:
                    return
                c.sendall(d)

    serve_connections(one)


def serve_ftp(root, masq):
    from pyftpdlib.authorizers import DummyAuthorizer
    from pyftpdlib.handlers import FTPHandler
    from pyftpdlib.servers import FTPServer
    import logging
    logging.disable(logging.CRITICAL)
    a = DummyAuthorizer()
    a.add_anonymous(os.path.join(root, "pub"))
    a.add_user("user", "secret", os.path.join(root, "home"), perm="elradfmw")
    a.override_perm("user", os.path.join(root, "home", "ro"), perm="elr", recursive=True)
    h = FTPHandler
    h.authorizer = a
    h.auth_failed_timeout = 0.05
    h.banner = ("Welcome to the loopback FTP peer of the network tests, on several lines.\r\n"
                " 220 is not the end: this line is indented\r\n"
                "999 nor is a line with another code")
    if masq:
        h.masquerade_address = masq
    srv = FTPServer(("127.0.0.1", 0), h)
    print(srv.socket.getsockname()[1], flush=True)
    srv.serve_forever()


def main():
    mode = sys.argv[1]
    if mode == "http":
        srv = Threaded(("127.0.0.1", 0), Cases)
        print(srv.server_address[1], flush=True)
        srv.serve_forever()
    elif mode == "static":
        handler = functools.partial(http.server.SimpleHTTPRequestHandler, directory=sys.argv[2])
        handler.log_message = lambda *a: None
        srv = Threaded(("127.0.0.1", 0), handler)
        print(srv.server_address[1], flush=True)
        srv.serve_forever()
    elif mode == "ftp":
        serve_ftp(sys.argv[2], sys.argv[3] if len(sys.argv) > 3 else None)
    elif mode == "echo":
        serve_echo()
    elif mode == "endless":
        serve_endless(sys.argv[2])
    elif mode == "slowftp":
        serve_slow_ftp()


if __name__ == "__main__":
    main()
