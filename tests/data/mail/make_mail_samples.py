#!/usr/bin/env python3
"""Writes the mail importer's test inputs into this folder with Python's
email package (policy SMTP, fixed dates and boundaries, so each run writes
the same bytes): python3 make_mail_samples.py"""
import email.generator
import email.policy
import io
import os
from email.message import EmailMessage
from email.mime.application import MIMEApplication
from email.mime.message import MIMEMessage
from email.mime.multipart import MIMEMultipart
from email.mime.text import MIMEText
from email.utils import format_datetime
from datetime import datetime, timezone

HERE = os.path.dirname(os.path.abspath(__file__))
DATE = format_datetime(datetime(2024, 5, 14, 9, 30, tzinfo=timezone.utc))


def write(name, msg_or_bytes):
    data = msg_or_bytes if isinstance(msg_or_bytes, bytes) else msg_or_bytes.as_bytes(policy=email.policy.SMTP)
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(data)


def headers(m, subject, sender="Ann Author <ann@example.org>"):
    m["Subject"] = subject
    m["From"] = sender
    m["To"] = "Bob Reader <bob@example.org>, carol@example.org"
    m["Cc"] = "Team: dan@example.org, Eve Editor <eve@example.org>;"
    m["Date"] = DATE
    m["Message-ID"] = "<%d@example.org>" % len(subject)


def qp(text):
    part = EmailMessage()
    part.set_content(text, cte="quoted-printable")
    del part["MIME-Version"]
    return part


# A multipart/mixed message: an alternative (quoted-printable plain text
# with a soft line break inside a word, and HTML that must not be read
# twice), a PDF attachment (its name) and a text one (name and text), a
# subject with an encoded word.
def basic():
    m = MIMEMultipart("mixed", boundary="==mixed==")
    headers(m, "=?utf-8?q?Caf=C3=A9_herd_report?=")
    alt = MIMEMultipart("alternative", boundary="==alt==")
    alt.attach(qp("A big herd of cattle grazing near the meadow gate, where one sees a red turnstone.\nSecond line"))
    alt.attach(MIMEText("<p>HTML copy of the <b>herd</b></p>", "html", "utf-8"))
    m.attach(alt)
    pdf = MIMEApplication(b"%PDF-1.4 not really", "pdf")
    pdf.add_header("Content-Disposition", "attachment", filename="herd-figures.pdf")
    m.attach(pdf)
    note = MIMEText("Attached note about the herd", "plain", "utf-8")
    note.add_header("Content-Disposition", "attachment", filename="note.txt")
    m.attach(note)
    return m


def latin1():
    m = MIMEText("Crème brûlée for the café", "plain", "iso-8859-1")  # base64
    headers(m, "Latin-1 body", "plain@example.org")
    return m


def html_only():
    m = MIMEText("<html><head><title>t</title><style>p{}</style></head><body><p>Only <i>HTML</i> here</p></body></html>",
                 "html", "utf-8")
    headers(m, "HTML only")
    return m


def forwarded():
    inner = MIMEText("The forwarded words", "plain", "utf-8")
    headers(inner, "Inner subject", "Zed <zed@example.org>")
    m = MIMEMultipart("mixed", boundary="==fwd==")
    headers(m, "Fwd: Inner subject")
    m.attach(MIMEText("See below", "plain", "utf-8"))
    m.attach(MIMEMessage(inner))
    return m


def mailbox():
    out = io.BytesIO()
    for i, word in enumerate(["first", "whimbrel", "third"]):
        m = MIMEText("Message body %s\n>From a quoted line\n" % word, "plain", "utf-8")
        headers(m, "Message %d" % (i + 1))
        out.write(b"From ann@example.org Tue May 14 09:30:00 2024\n")
        out.write(m.as_bytes(policy=email.policy.compat32.clone(linesep="\n")))
        out.write(b"\n")
    return out.getvalue()


# Hostile: a message cut in the middle of its attachment (the message of
# ten thousand parts is written by the tests themselves).
write("basic.eml", basic())
write("latin1.eml", latin1())
write("html_only.eml", html_only())
write("forwarded.eml", forwarded())
write("mailbox.mbox", mailbox())
write("from_line.eml", b"From - Tue May 14 09:30:00 2024\n" + latin1().as_bytes(policy=email.policy.compat32))
write("truncated.eml", basic().as_bytes(policy=email.policy.SMTP)[:900])
write("empty.eml", b"")
