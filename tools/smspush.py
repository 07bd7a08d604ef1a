#!/usr/bin/env python3
"""Sends short messages and WAP pushes to a running emulator as datagrams.

The emulator receives short messages as UDP datagrams on [SMS] Port of its
qor.ini (README, "Short messages"). This tool builds them: a text message,
Service Indications (numbered, to send many at once), any file as a push
with a content type and application id, and a connectivity (provisioning)
document with its security method and MAC. A push longer than one message
goes in segments; the segments sent, their order, the reference and the
count can be chosen, so that half a message or two messages under one
reference can be sent.

Examples (from the repository root; the port is read from build/bin/qor.ini,
so the options before the kind of message come first):

    tools/smspush.py text Hello
    tools/smspush.py si --count 10
    tools/smspush.py --segment 160 prov --sec userpin --pin 1234
    tools/smspush.py file tests/data/push/lc_first.mime --type multipart/related --app 32768
    tools/smspush.py --only 1 si --text-size 400          # half of a push
    tools/smspush.py --reference 5 si --text-size 600     # three segments
"""
import argparse
import configparser
import hashlib
import hmac
import os
import socket
import sys
import time

WAP_PUSH_PORT = 2948

# Well-known content types (WSP assigned numbers) this tool writes as one byte.
CONTENT_TYPES = {
    "text/html": 0x02, "text/plain": 0x03, "text/vnd.wap.wml": 0x08,
    "text/vnd.wap.wmlscript": 0x09, "application/vnd.wap.wmlc": 0x14,
    "application/vnd.wap.wmlscriptc": 0x15, "image/gif": 0x1D, "image/jpeg": 0x1E,
    "image/png": 0x20, "image/vnd.wap.wbmp": 0x21, "text/vnd.wap.si": 0x2D,
    "application/vnd.wap.sic": 0x2E, "text/vnd.wap.sl": 0x2F, "application/vnd.wap.slc": 0x30,
    "text/vnd.wap.co": 0x31, "application/vnd.wap.coc": 0x32,
    "application/vnd.wap.multipart.related": 0x33,
    "text/vnd.wap.connectivity-xml": 0x35, "application/vnd.wap.connectivity-wbxml": 0x36,
}

SEC_METHODS = {"netwpin": 0, "userpin": 1, "usernetwpin": 2, "userpinmac": 3}


def uintvar(n):
    out = [n & 0x7F]
    n >>= 7
    while n:
        out.insert(0, 0x80 | (n & 0x7F))
        n >>= 7
    return bytes(out)


def value_length(n):
    return bytes([n]) if n < 31 else b"\x1f" + uintvar(n)


def content_type(name, params=b""):
    code = CONTENT_TYPES.get(name)
    media = bytes([0x80 | code]) if code is not None else name.encode() + b"\0"
    if not params:
        return media
    return value_length(len(media) + len(params)) + media + params


def application_id(app):
    """X-Wap-Application-Id (field 0x2F): a number or a URN text."""
    if app is None:
        return b""
    if app.isdigit():
        n = int(app)
        if n < 128:
            return b"\xaf" + bytes([0x80 | n])
        raw = n.to_bytes((n.bit_length() + 7) // 8, "big")
        return b"\xaf" + bytes([len(raw)]) + raw
    return b"\xaf" + app.encode() + b"\0"


def push_pdu(ctype, body, app="0", tid=1):
    headers = ctype + application_id(app)
    return bytes([tid, 0x06]) + uintvar(len(headers)) + headers + body


def si_wbxml(text, si_id, href, action="signal-medium"):
    """A Service Indication, WBXML 1.3, UTF-8, inline strings."""
    actions = {"signal-none": 0x05, "signal-low": 0x06, "signal-medium": 0x07,
               "signal-high": 0x08, "delete": 0x09}

    def inline(s):
        return b"\x03" + s.encode("utf-8") + b"\0"

    attrs = b"\x0c" + inline(href[len("http://"):]) if href.startswith("http://") else \
        b"\x0b" + inline(href)
    if si_id:
        attrs += b"\x11" + inline(si_id)
    attrs += bytes([actions[action]])
    return b"\x03\x05\x6a\x00" + b"\x45" + b"\xc6" + attrs + b"\x01" + inline(text) + b"\x01\x01"


def segments(data, size):
    if size <= 0 or len(data) <= size:
        return [data]
    return [data[i:i + size] for i in range(0, len(data), size)]


def datagrams(sender, pdu, size, reference, form, total=None):
    """The datagrams of one push in the bridge's port form or with a
    standard user-data header (16-bit reference, 16-bit ports)."""
    parts = segments(pdu, size)
    count = total if total else len(parts)
    a = sender.encode()
    out = []
    for i, part in enumerate(parts):
        if form == "udh":
            elements = b"\x05\x04" + WAP_PUSH_PORT.to_bytes(2, "big") + b"\x23\xf0"
            if count >= 2:
                elements = b"\x08\x04" + reference.to_bytes(2, "big") + bytes([count, i + 1]) + elements
            udh = bytes([len(elements)]) + elements
            out.append(bytes([2, 0, len(a), len(udh)]) + a + udh + part)
        elif count >= 2:
            head = bytes([0, count, i, WAP_PUSH_PORT >> 8, WAP_PUSH_PORT & 0xFF])
            out.append(bytes([2, 2, len(a), len(head) + 2]) + a + head +
                       reference.to_bytes(2, "big") + part)
        else:
            out.append(bytes([2, 2, len(a), 3]) + a + b"\0" +
                       WAP_PUSH_PORT.to_bytes(2, "big") + part)
    return out


def ini_port(path):
    ini = configparser.ConfigParser(strict=False, interpolation=None, comment_prefixes=(";", "#"))
    try:
        ini.read(path)
        return int(ini.get("SMS", "Port", fallback="12345"))
    except (configparser.Error, ValueError):
        return 12345


def pick(items, only):
    """The 1-based items `only` names ("1,3" or "2-4"), in that order."""
    if not only:
        return items
    chosen = []
    for piece in only.split(","):
        if "-" in piece:
            lo, hi = piece.split("-")
            chosen += items[int(lo) - 1:int(hi)]
        else:
            chosen.append(items[int(piece) - 1])
    return chosen


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--ini", default=os.path.join(root, "build", "bin", "qor.ini"),
                   help="the qor.ini whose [SMS] Port to send to")
    p.add_argument("--port", type=int, help="the port (instead of the ini's)")
    p.add_argument("--host", default="127.0.0.1")
    p.add_argument("--sender", default="5551234")
    p.add_argument("--segment", type=int, default=240,
                   help="payload bytes a segment (at most about 240)")
    p.add_argument("--reference", type=int, default=0x4242, help="the segments' reference")
    p.add_argument("--total", type=int, help="the segment count written (default: the real one)")
    p.add_argument("--only", help="send only these segments, 1-based (\"1\", \"2,1\", \"1-3\")")
    p.add_argument("--form", choices=["bridge", "udh"], default="bridge")
    p.add_argument("--pause", type=float, default=0.0, help="seconds between datagrams")
    p.add_argument("--verbose", "-v", action="store_true")
    sub = p.add_subparsers(dest="what", required=True)
    t = sub.add_parser("text", help="a text message")
    t.add_argument("text")
    s = sub.add_parser("si", help="numbered Service Indications")
    s.add_argument("--count", type=int, default=1)
    s.add_argument("--first", type=int, default=1)
    s.add_argument("--action", default="signal-medium")
    s.add_argument("--text", default="News {n}", help="the text; {n} is the number")
    s.add_argument("--text-size", type=int, default=0, help="pad the text to this many bytes")
    s.add_argument("--id", default="trial-{n}", help="the si-id; {n} is the number; '' none")
    s.add_argument("--href", default="http://www.example.com/news/{n}.wml")
    f = sub.add_parser("file", help="a file as a push")
    f.add_argument("path")
    f.add_argument("--type", required=True, help="the content type")
    f.add_argument("--app", default="0", help="X-Wap-Application-Id ('' for none)")
    v = sub.add_parser("prov", help="a connectivity document with its security method")
    v.add_argument("--doc", default=os.path.join(root, "tests", "data", "wbxml", "prov.wbxml"))
    v.add_argument("--sec", choices=sorted(SEC_METHODS), default="userpin")
    v.add_argument("--pin", default="1234", help="the MAC key: the user PIN, or the IMSI for netwpin")
    v.add_argument("--mac", help="the MAC to send (default: HMAC-SHA1 of the document under --pin)")
    args = p.parse_args()

    port = args.port or ini_port(args.ini)
    messages = []  # each a list of datagrams
    if args.what == "text":
        a = args.sender.encode()
        messages.append([bytes([2, 0, len(a), 0]) + a + args.text.encode()])
    elif args.what == "si":
        for n in range(args.first, args.first + args.count):
            text = args.text.format(n=n)
            if args.text_size > len(text):
                text += "." * (args.text_size - len(text))
            doc = si_wbxml(text, args.id.format(n=n), args.href.format(n=n), args.action)
            pdu = push_pdu(content_type("application/vnd.wap.sic"), doc)
            messages.append(datagrams(args.sender, pdu, args.segment, args.reference, args.form,
                                      args.total))
    elif args.what == "file":
        body = open(args.path, "rb").read()
        pdu = push_pdu(content_type(args.type), body, args.app if args.app else None)
        messages.append(datagrams(args.sender, pdu, args.segment, args.reference, args.form, args.total))
    else:
        doc = open(args.doc, "rb").read()
        mac = args.mac or hmac.new(args.pin.encode(), doc, hashlib.sha1).hexdigest()
        params = bytes([0x91, 0x80 | SEC_METHODS[args.sec], 0x92]) + mac.encode() + b"\0"
        pdu = push_pdu(content_type("application/vnd.wap.connectivity-wbxml", params), doc)
        messages.append(datagrams(args.sender, pdu, args.segment, args.reference, args.form, args.total))

    out = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sent = 0
    for message in messages:
        for d in pick(message, args.only):
            out.sendto(d, (args.host, port))
            sent += 1
            if args.verbose:
                print("%d bytes: %s" % (len(d), d.hex()), file=sys.stderr)
            if args.pause:
                time.sleep(args.pause)
    print("%d datagrams (%d messages) to %s:%d" % (sent, len(messages), args.host, port),
          file=sys.stderr)


if __name__ == "__main__":
    main()
