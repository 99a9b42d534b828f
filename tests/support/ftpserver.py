#!/usr/bin/python3
"""Loopback FTP server for the tests, built on pyftpdlib.

Serves one account on 127.0.0.1. Prints "PORT <n>" as its first line once it
accepts connections. Ends when its standard input closes (so a crashed test
leaves no server behind) or on SIGTERM.

Faults are read from a JSON file on every command, so a running test can
change them: a list of objects with the keys id, command, action
(refuse | refuse-if-exists | drop | drop-data | drop-session | slow-data |
delay | pasv-foreign | lose-following | close-after), afterBytes, delayMs,
bytesPerSecond, count (-1: always), pathContains, fromConnection and untilConnection (only on the connections
accepted from the one up to the other, counted from 1; 0: no bound).
lose-following carries out the command and throws away whatever the client
sent after it that has already arrived, as servers and firewalls that take
one command at a time do with commands sent ahead. close-after carries out
the command, then closes the connection, as a server that closes an idle
connection does between two commands.

With --tls-cert (a PEM file holding the key and the certificate), the server
speaks FTP over explicit TLS on the control connection and requires it, but
drops every data connection the moment it is made, before any TLS: a server
whose data connections never carry TLS.

With --idle-timeout, a control connection left idle that many seconds is
answered "421" and closed. With --drop-every N, every Nth command on a
connection is answered "421" and the connection closed instead, as a server
that drops connections now and then.

With --login-delay-ms, every PASS is answered that much later, as a server
whose log-ins are slow (a costly password hash, a delay on purpose).

With --upload-bps, uploads are read no faster than that many bytes a second
through a small receive buffer, so a client meets them as a slow line.

With --list-style, MLSD is hidden and LIST answers as servers in other
locales or set-ups do: german ("2. Mär 16:27"), chinese ("3月  2日 16:27"),
iso ("2005-04-08 11:22"), multiword-owner (owner "John Smith", group
"Domain Users") or unreadable (lines in a format no LIST parser reads).
Dates older than half a year show their year instead of their time, as ls
does.

With --time-setting none, MFMT is withdrawn, so the server sets no
modification times; with --time-setting site-utime it sets them only through
"SITE UTIME path atime mtime ctime UTC".

With --hash-commands hash, FEAT offers "HASH SHA-256*;SHA-1;MD5" and the
server answers HASH (and OPTS HASH to pick the algorithm); with
--hash-commands xsha256 it answers XSHA256 without listing it in FEAT.

Every command line received is appended to the command log (passwords
masked), so a test can check what reached the server.
"""

import argparse
import calendar
import hashlib
import json
import logging
import os
import signal
import stat
import struct
import sys
import threading
import time
import warnings

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.filesystems import AbstractedFS
from pyftpdlib.handlers import DTPHandler, FTPHandler, PassiveDTP, ThrottledDTPHandler
from pyftpdlib.ioloop import AsyncChat
import socket
from pyftpdlib.servers import FTPServer

# An address that is never ours: a client that follows a PASV reply naming it
# cannot reach the data port, because the passive socket listens on 127.0.0.1
# only.
FOREIGN_ADDRESS = "127.0.0.2"


def parse_args():
    p = argparse.ArgumentParser()
    p.add_argument("--root", required=True)
    p.add_argument("--user", required=True)
    p.add_argument("--password", required=True)
    p.add_argument("--port", type=int, default=0)
    p.add_argument("--hide-mlsd", action="store_true")
    p.add_argument("--dos-list", action="store_true")
    p.add_argument("--list-style", default="",
                   choices=["", "german", "chinese", "iso", "multiword-owner", "unreadable"])
    p.add_argument("--upload-bps", type=int, default=0)
    p.add_argument("--anonymous", action="store_true")
    p.add_argument("--max-cons-per-ip", type=int, default=0)
    p.add_argument("--idle-timeout", type=int, default=0)
    p.add_argument("--drop-every", type=int, default=0)
    p.add_argument("--login-delay-ms", type=int, default=0)
    p.add_argument("--faults", default="")
    p.add_argument("--log", default="")
    p.add_argument("--tls-cert", default="")
    p.add_argument("--time-setting", default="", choices=["", "none", "site-utime"])
    p.add_argument("--hash-commands", default="", choices=["", "hash", "xsha256"])
    return p.parse_args()


class Faults:
    def __init__(self, path):
        self.path = path
        self.fired = {}

    def _load(self):
        if not self.path:
            return []
        try:
            with open(self.path, "r", encoding="utf-8") as f:
                data = json.load(f)
            return data if isinstance(data, list) else []
        except (OSError, ValueError):
            return []

    def take(self, cmd, arg, connection):
        """The first live fault for this command on this connection (numbered
        from 1 in the order they were accepted), counted as fired."""
        for fault in self._load():
            if str(fault.get("command", "")).upper() != cmd:
                continue
            if connection < int(fault.get("fromConnection", 0)):
                continue
            until = int(fault.get("untilConnection", 0))
            if until and connection > until:
                continue
            needle = fault.get("pathContains") or ""
            if needle and needle not in arg:
                continue
            fid = fault.get("id", 0)
            count = int(fault.get("count", -1))
            if count >= 0 and self.fired.get(fid, 0) >= count:
                continue
            self.fired[fid] = self.fired.get(fid, 0) + 1
            return fault
        return None


class LinkAwareFS(AbstractedFS):
    """MLSD that tells links apart, as most Unix servers do (pyftpdlib itself
    reports a link as its target)."""

    def format_mlsx(self, basedir, listing, perms, facts, ignore_err=True):
        for basename in listing:
            lines = AbstractedFS.format_mlsx(self, basedir, [basename], perms, facts,
                                             ignore_err)
            islink = os.path.islink(os.path.join(basedir, basename))
            for line in lines:
                if islink:
                    line = line.replace(b"type=file;", b"type=OS.unix=symlink;")
                    line = line.replace(b"type=dir;", b"type=OS.unix=symlink;")
                yield line


class DosFS(LinkAwareFS):
    """LIST in the style of IIS: date, time, <DIR> or size, name."""

    def format_list(self, basedir, listing, ignore_err=True):
        for basename in listing:
            path = os.path.join(basedir, basename)
            try:
                st = self.lstat(path)
            except OSError:
                if ignore_err:
                    continue
                raise
            t = time.localtime(st.st_mtime)
            hour = t.tm_hour % 12 or 12
            ampm = "AM" if t.tm_hour < 12 else "PM"
            stamp = "%02d-%02d-%02d  %02d:%02d%s" % (
                t.tm_mon, t.tm_mday, t.tm_year % 100, hour, t.tm_min, ampm)
            if os.path.isdir(path):
                mid = "%-14s" % "<DIR>"
                line = "%s       %s %s\r\n" % (stamp, mid, basename)
            else:
                line = "%s       %14d %s\r\n" % (stamp, st.st_size, basename)
            yield line.encode("utf8", self.cmd_channel.unicode_errors)


GERMAN_MONTHS = ["Jan", "Feb", "Mär", "Apr", "Mai", "Jun",
                 "Jul", "Aug", "Sep", "Okt", "Nov", "Dez"]
ENGLISH_MONTHS = ["Jan", "Feb", "Mar", "Apr", "May", "Jun",
                  "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"]
HALF_A_YEAR = 182 * 24 * 3600


def styled_list_line(style, st, name, now):
    t = time.gmtime(st.st_mtime)
    recent = now - HALF_A_YEAR < st.st_mtime <= now + 3600
    clock = "%02d:%02d" % (t.tm_hour, t.tm_min)
    is_dir = stat.S_ISDIR(st.st_mode)
    if style == "unreadable":
        # Fields separated by commas, then a tab and the name.
        facts = "/" if is_dir else "r,s%d" % st.st_size
        return "+m%d,%s,\t%s\r\n" % (int(st.st_mtime), facts, name)
    owner, group = "ftp", "ftp"
    if style == "german":
        month = GERMAN_MONTHS[t.tm_mon - 1]
        date = ("%2d. %s %s" % (t.tm_mday, month, clock) if recent else
                "%2d. %s  %d" % (t.tm_mday, month, t.tm_year))
        owner, group = "benutzer", "gruppe"
    elif style == "chinese":
        date = ("%d月 %2d日 %s" % (t.tm_mon, t.tm_mday, clock) if recent else
                "%d月 %2d %d" % (t.tm_mon, t.tm_mday, t.tm_year))
    elif style == "iso":
        date = "%d-%02d-%02d %s" % (t.tm_year, t.tm_mon, t.tm_mday, clock)
    else:  # multiword-owner
        month = ENGLISH_MONTHS[t.tm_mon - 1]
        date = ("%s %2d %s" % (month, t.tm_mday, clock) if recent else
                "%s %2d  %d" % (month, t.tm_mday, t.tm_year))
        owner, group = "John Smith", "Domain Users"
    return "%s %3d %-8s %-8s %8d %s %s\r\n" % (
        stat.filemode(st.st_mode), st.st_nlink, owner, group, st.st_size, date, name)


def make_styled_fs(style):
    class StyledFS(LinkAwareFS):
        """LIST in the chosen style (see --list-style)."""

        def format_list(self, basedir, listing, ignore_err=True):
            now = time.time()
            for basename in listing:
                try:
                    st = self.lstat(os.path.join(basedir, basename))
                except OSError:
                    if ignore_err:
                        continue
                    raise
                line = styled_list_line(style, st, basename, now)
                yield line.encode("utf8", self.cmd_channel.unicode_errors)

    return StyledFS


class FaultyDTP(ThrottledDTPHandler):
    """Closes an upload's data connection after a set number of bytes, or
    reads it slowly."""

    def __init__(self, sock, cmd_channel):
        ThrottledDTPHandler.__init__(self, sock, cmd_channel)
        rate = getattr(cmd_channel, "slow_data_rate", None)
        if rate:
            cmd_channel.slow_data_rate = None
            self.read_limit = rate
            while self.ac_in_buffer_size > rate:
                self.ac_in_buffer_size //= 2

    def handle_read(self):
        limit = getattr(self.cmd_channel, "drop_data_after", None)
        if limit is None or not self.receive:
            return DTPHandler.handle_read(self)
        try:
            chunk = self.recv(self.ac_in_buffer_size)
        except Exception:
            return DTPHandler.handle_read(self)
        room = max(0, limit - self.tot_bytes_received)
        self.tot_bytes_received += len(chunk)
        if chunk[:room]:
            self.file_obj.write(chunk[:room])
        if not chunk or self.tot_bytes_received >= limit:
            self.cmd_channel.drop_data_after = None
            self._resp = ("426 Data connection dropped by test.", logging.debug)
            control = self.cmd_channel
            self.close()
            if getattr(control, "drop_session", False):
                control.drop_session = False
                control.close()

    handle_read_event = handle_read


def make_small_window_passive_dtp(bytes_per_second):
    class SmallWindowPassiveDTP(PassiveDTP):
        """A line holds little in flight, about a sixteenth of a second's worth
        here: without a small receive buffer from the first packet on, the
        kernel would take megabytes at once and the client would meet no slow
        line."""

        def __init__(self, cmd_channel, extmode=False):
            super().__init__(cmd_channel, extmode)
            self.socket.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF,
                                   max(2048, bytes_per_second // 32))

    return SmallWindowPassiveDTP


def make_throttled_dtp(bytes_per_second):
    class ThrottledDTP(FaultyDTP, ThrottledDTPHandler):
        read_limit = bytes_per_second
        # Reads of about 20 ms each, each followed by a rest as long as it
        # takes at this speed: an even pace, where pyftpdlib's own throttle
        # reads a second's worth at once and then rests.
        ac_in_buffer_size = max(512, bytes_per_second // 50)
        auto_sized_buffers = False

        def _throttle_bandwidth(self, len_chunk, max_speed):
            if len_chunk <= 0:
                return

            def unsleep():
                self.add_channel(
                    events=self.ioloop.READ if self.receive else self.ioloop.WRITE)

            self.del_channel()
            self._cancel_throttler()
            self._throttler = self.ioloop.call_later(
                len_chunk / float(max_speed), unsleep, _errback=self.handle_error)

    return ThrottledDTP


class NoTlsPassiveDTP(PassiveDTP):
    """Holds each data connection without TLS until the transfer command has
    been taken (a file to receive is opened, and so created or emptied), then
    resets it: the client's TLS handshake on it fails."""

    def handle_accepted(self, sock, addr):
        self.close()
        self.cmd_channel.held_data_socket = sock


def reset_held_data_connection(handler):
    sock = getattr(handler, "held_data_socket", None)
    if sock is None:
        return
    handler.held_data_socket = None
    try:
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        sock.close()
    except OSError:
        pass
    for queue in ("_in_dtp_queue", "_out_dtp_queue"):
        pending = getattr(handler, queue, None)
        setattr(handler, queue, None)
        if pending is not None:
            target = pending[0] if queue == "_in_dtp_queue" else pending[2]
            if target is not None and hasattr(target, "close"):
                target.close()
            handler.respond("425 Data connection dropped by test.")


HASH_ALGORITHMS = {"SHA-256": "sha256", "SHA-1": "sha1", "MD5": "md5"}


def file_hash(path, algorithm):
    digest = hashlib.new(HASH_ALGORITHMS[algorithm])
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(65536), b""):
            digest.update(block)
    return digest.hexdigest()


def make_handler(args, faults, log):
    base = FTPHandler
    if args.tls_cert:
        from pyftpdlib.handlers import TLS_FTPHandler
        base = TLS_FTPHandler

    class Handler(base):
        unicode_errors = "surrogateescape"
        auth_failed_timeout = 0
        permit_foreign_addresses = False
        dtp_handler = FaultyDTP
        drop_data_after = None
        drop_session = False
        slow_data_rate = None
        connections_accepted = 0
        connection_number = 0

        commands_seen = 0

        def on_connect(self):
            Handler.connections_accepted += 1
            self.connection_number = Handler.connections_accepted
            if args.hash_commands == "hash":
                self._extra_feats = self._extra_feats + ["HASH SHA-256*;SHA-1;MD5"]

        if args.hide_mlsd or args.list_style:
            proto_cmds = {k: v for k, v in FTPHandler.proto_cmds.items()
                          if k not in ("MLSD", "MLST")}

        hash_algorithm = "SHA-256"

        def ftp_HASH(self, path):
            if not self.fs.isfile(self.fs.realpath(path)):
                self.respond("550 Not a file.")
                return
            size = os.path.getsize(path)
            self.respond("213 %s 0-%d %s %s" % (
                self.hash_algorithm, size, file_hash(path, self.hash_algorithm),
                self.fs.fs2ftp(path)))

        def ftp_XSHA256(self, path):
            if not self.fs.isfile(self.fs.realpath(path)):
                self.respond("550 Not a file.")
                return
            self.respond("250 %s" % file_hash(path, "SHA-256"))

        def ftp_OPTS(self, line):
            if args.hash_commands == "hash" and line.upper().startswith("HASH"):
                name = line[4:].strip().upper()
                if name in HASH_ALGORITHMS:
                    self.hash_algorithm = name
                    self.respond("200 %s" % name)
                elif not name:
                    self.respond("200 %s" % self.hash_algorithm)
                else:
                    self.respond("501 Unknown algorithm.")
                return
            base.ftp_OPTS(self, line)

        def ftp_SITE_UTIME(self, line):
            # SITE UTIME path atime mtime ctime UTC
            parts = line.rsplit(" ", 4)
            if len(parts) != 5 or parts[4].upper() != "UTC" or \
                    not all(len(p) == 14 and p.isdigit() for p in parts[1:4]):
                self.respond("501 Syntax: SITE UTIME path atime mtime ctime UTC.")
                return
            path = self.fs.ftp2fs(parts[0])
            if not self.fs.isfile(self.fs.realpath(path)):
                self.respond("550 Not a file.")
                return
            stamp = lambda text: calendar.timegm(time.strptime(text, "%Y%m%d%H%M%S"))
            os.utime(path, (stamp(parts[1]), stamp(parts[2])))
            self.respond("200 Times set.")

        def push(self, s):
            # Replies that name a path (PWD, CWD) carry its bytes as they are
            # on disk, as a server that does not decode names sends them;
            # otherwise a folder whose name is not UTF-8 cannot be entered.
            AsyncChat.push(self, s.encode("utf8", self.unicode_errors))

        def pre_process_command(self, line, cmd, arg):
            if log is not None:
                # An anonymous password is no secret, and tests check it.
                secret = cmd == "PASS" and self.username != "anonymous"
                shown = "PASS ******" if secret else line
                log.write(shown.encode("utf-8", "surrogateescape") + b"\n")
                log.flush()
            self.commands_seen += 1
            if args.drop_every and self.commands_seen % args.drop_every == 0:
                self.respond("421 Closing by test.")
                self.close_when_done()
                return
            if cmd == "PASS" and args.login_delay_ms:
                self.ioloop.call_later(
                    args.login_delay_ms / 1000.0,
                    lambda: None if self._closed else self.carry_out(line, cmd, arg))
                return
            self.carry_out(line, cmd, arg)

        def carry_out(self, line, cmd, arg):
            fault = faults.take(cmd, arg, self.connection_number)
            if fault is None:
                FTPHandler.pre_process_command(self, line, cmd, arg)
                if args.tls_cert:
                    reset_held_data_connection(self)
                return
            action = fault.get("action", "")
            if action == "refuse":
                self.respond("550 Refused by test.")
            elif action == "refuse-if-exists":
                if os.path.lexists(self.fs.ftp2fs(self.fs.ftpnorm(arg))):
                    self.respond("550 Refused by test: the name is taken.")
                else:
                    FTPHandler.pre_process_command(self, line, cmd, arg)
            elif action == "drop":
                self.close()
            elif action == "delay":
                self.ioloop.call_later(
                    int(fault.get("delayMs", 0)) / 1000.0,
                    lambda: None if self._closed else
                    FTPHandler.pre_process_command(self, line, cmd, arg))
            elif action in ("drop-data", "drop-session"):
                self.drop_data_after = int(fault.get("afterBytes", 0))
                self.drop_session = action == "drop-session"
                FTPHandler.pre_process_command(self, line, cmd, arg)
            elif action == "slow-data":
                self.slow_data_rate = int(fault.get("bytesPerSecond", 0)) or None
                FTPHandler.pre_process_command(self, line, cmd, arg)
            elif action == "lose-following":
                self.ac_in_buffer = b""
                FTPHandler.pre_process_command(self, line, cmd, arg)
            elif action == "close-after":
                FTPHandler.pre_process_command(self, line, cmd, arg)
                self.close_when_done()
            elif action == "pasv-foreign":
                self.masquerade_address = FOREIGN_ADDRESS
                try:
                    FTPHandler.pre_process_command(self, line, cmd, arg)
                finally:
                    self.masquerade_address = None
            else:
                FTPHandler.pre_process_command(self, line, cmd, arg)

    if args.idle_timeout:
        Handler.timeout = args.idle_timeout
    commands = dict(Handler.proto_cmds)
    if args.time_setting:
        commands.pop("MFMT", None)
    if args.time_setting == "site-utime":
        commands["SITE UTIME"] = dict(
            perm=None, auth=True, arg=True,
            help="Syntax: SITE UTIME <SP> path atime mtime ctime UTC (set times).")
    if args.hash_commands == "hash":
        commands["HASH"] = dict(perm="r", auth=True, arg=True,
                                help="Syntax: HASH <SP> path (file hash).")
    if args.hash_commands == "xsha256":
        commands["XSHA256"] = dict(perm="r", auth=True, arg=True,
                                   help="Syntax: XSHA256 <SP> path (file hash).")
    Handler.proto_cmds = commands
    Handler.abstracted_fs = DosFS if args.dos_list else LinkAwareFS
    if args.list_style:
        Handler.abstracted_fs = make_styled_fs(args.list_style)
    if args.tls_cert:
        Handler.dtp_handler = base.dtp_handler
        Handler.passive_dtp = NoTlsPassiveDTP
        Handler.certfile = args.tls_cert
        Handler.tls_control_required = True
        Handler.tls_data_required = True
    if args.upload_bps > 0:
        Handler.dtp_handler = make_throttled_dtp(args.upload_bps)
        Handler.passive_dtp = make_small_window_passive_dtp(args.upload_bps)
    return Handler


def main():
    args = parse_args()
    logging.basicConfig(level=logging.ERROR)
    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, args.root, perm="elradfmwMT")
    if args.anonymous:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")  # write permissions for anonymous
            authorizer.add_anonymous(args.root, perm="elradfmwMT")
    log = open(args.log, "ab") if args.log else None
    handler = make_handler(args, Faults(args.faults), log)
    handler.authorizer = authorizer
    handler.banner = "test server ready."
    handler.passive_ports = None
    server = FTPServer(("127.0.0.1", args.port), handler)
    server.max_cons = 64
    # Beyond the limit a client is told "421 Too many connections from the
    # same IP address." and the connection is closed.
    server.max_cons_per_ip = args.max_cons_per_ip

    def stop_on_eof():
        try:
            while sys.stdin.buffer.read(4096):
                pass
        finally:
            os._exit(0)

    threading.Thread(target=stop_on_eof, daemon=True).start()
    signal.signal(signal.SIGTERM, lambda *a: os._exit(0))
    print("PORT %d" % server.address[1], flush=True)
    server.serve_forever(handle_exit=False)


if __name__ == "__main__":
    main()
