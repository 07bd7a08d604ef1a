#!/usr/bin/env python3
"""Writes the multipart/related test documents with Python's email package.

Each document NAME.mime comes with NAME.parts: one line a reported part,
"location|content-id|content-type|encoding|root|hex of the decoded body".
The decoded body is what the part's bytes give once their transfer encoding
is undone and the line end before the next boundary is dropped.
Run from this folder: python3 make_multipart.py
"""
import base64
import email.encoders as encoders
import email.policy
from email.mime.application import MIMEApplication
from email.mime.multipart import MIMEMultipart
from email.mime.nonmultipart import MIMENonMultipart
from email.mime.text import MIMEText

POLICY = email.policy.HTTP  # CR LF line ends, no line wrapping


def part(maintype, subtype, payload, encoding, cid=None, location=None, **params):
    if encoding == "base64":
        p = MIMEApplication(payload, subtype, encoders.encode_base64)
        p.replace_header("Content-Type", "%s/%s" % (maintype, subtype))
    elif encoding == "quoted-printable":
        p = MIMEApplication(payload, subtype, encoders.encode_quopri)
        p.replace_header("Content-Type", "%s/%s" % (maintype, subtype))
    else:
        p = MIMENonMultipart(maintype, subtype, **params)
        # Bytes outside ASCII go through as they are.
        p.set_payload(payload.decode("ascii", "surrogateescape"))
        p["Content-Transfer-Encoding"] = encoding
    if cid:
        p["Content-ID"] = "<%s>" % cid
    if location:
        p["Content-Location"] = location
    return p


PNG = bytes(range(256)) + b"\r\n\x00\n\r\x89PNG"
HTML = '<html><body><img src="cid:img1@example.com">caf\xe9 \u2014 =ok</body></html>'.encode()

DOCS = {
    "encodings": (
        dict(type="text/html", start="<root@example.com>"),
        [
            ("text", "html", HTML, "quoted-printable", "root@example.com", None),
            ("image", "png", PNG, "base64", "img1@example.com", None),
            ("text", "plain", b"plain seven bit\r\nsecond line", "7bit", "seven@example.com", None),
            ("text", "plain", "eight bit \xe9\xe8".encode("latin-1"), "8bit", None, "http://example.com/eight.txt"),
            ("application", "octet-stream", b"bin\x01\x02\xff\r\nmore", "binary", "bin@example.com", "bin.dat"),
        ],
    ),
    "by_type": (
        dict(type="application/xhtml"),
        [
            ("text", "css", b"p { color: red }", "7bit", "css@x", None),
            ("application", "xhtml+xml", b"<p>root</p>", "base64", "page@x", None),
            ("application", "xhtml+xml", b"<p>second</p>", "base64", "page2@x", None),
        ],
    ),
}


def main():
    for name, (params, parts) in DOCS.items():
        doc = MIMEMultipart("related", boundary="=-=bound=-=" + name, **params)
        lines = []
        root_by_type = params.get("type")
        for maintype, subtype, payload, enc, cid, loc in parts:
            doc.attach(part(maintype, subtype, payload, enc, cid, loc))
            ctype = "%s/%s" % (maintype, subtype)
            root = 0
            start = params.get("start")
            if start and cid and start == "<%s>" % cid:
                root = 1
            elif root_by_type and ctype.startswith(root_by_type):
                root, root_by_type = 1, None
            lines.append("|".join([loc or "", cid or "", ctype, enc, str(root), payload.hex()]))
        with open(name + ".mime", "wb") as f:
            f.write(doc.as_bytes(policy=POLICY))
        with open(name + ".parts", "w") as f:
            f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
