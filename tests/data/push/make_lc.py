# Local-content push bodies: multipart/related documents from email.mime,
# written with CR LF line ends (the SMTP policy).
from email import policy
from email.mime.multipart import MIMEMultipart
from email.mime.text import MIMEText
from email.mime.base import MIMEBase
from email import encoders


def related(name, parts, start=None):
    doc = MIMEMultipart("related", type="text/html", **({"start": start} if start else {}))
    for p in parts:
        doc.attach(p)
    open(name, "wb").write(doc.as_bytes(policy=policy.SMTP))


def text(body, cid=None, subtype="html", cte=None, location=None):
    part = MIMEText(body, subtype, "utf-8")
    if cte == "qp":
        del part["Content-Transfer-Encoding"]
        part.set_payload(body.encode("utf-8"))
        encoders.encode_quopri(part)
    if cid:
        part["Content-ID"] = "<%s>" % cid
    if location:
        part["Content-Location"] = location
    return part


def binary(data, cid):
    part = MIMEBase("image", "png")
    part.set_payload(data)
    encoders.encode_base64(part)
    part["Content-ID"] = "<%s>" % cid
    return part


related("lc_first.mime", [
    text('<html><body><img src="cid:logo"/>First [$x.y$]</body></html>', "page1"),
    binary(bytes(range(200)), "logo"),
    text("Old notes", "notes", subtype="plain"),
], start="<page1>")
related("lc_second.mime", [
    text("<html><body>Second caf\u00e9</body></html>", "page2", cte="qp"),
    binary(bytes(range(200)), "logo"),
], start="<page2>")
related("lc_noroot.mime", [text("orphan", "orphan1", subtype="plain")], start="<missing>")
open("lc_single.txt", "wb").write(
    b"Content-Type: text/html\r\nContent-Location: http://example.com/index.html\r\n\r\n"
    b"<html><body>Single</body></html>")
