#!/usr/bin/env python3
"""The SMTP tests' mail server and .eml reader.

serve: listens on 127.0.0.1, prints {"ready": PORT}, then a JSON line per message, until
standard input closes. --starttls DIR makes a self-signed certificate DIR/cert.pem and
requires STARTTLS. parse FILE...: a JSON line per file, as Python's mail reader sees it.
"""

import argparse
import asyncio
import base64
import email
import hashlib
import email.policy
import json
import os
import ssl
import subprocess
import sys


def describe(raw: bytes) -> dict:
    """What a mail reader makes of a raw message."""
    message = email.message_from_bytes(raw, policy=email.policy.default)
    part = message.get_body(preferencelist=("plain",)) or message
    html = message.get_body(preferencelist=("html",))
    lines = raw.split(b"\n")
    return {
        "subject": str(message.get("Subject", "")),
        "from": str(message.get("From", "")),
        "to": str(message.get("To", "")),
        "return_path": str(message.get("Return-Path", "")),
        "date": message.get("Date") is not None,
        "message_id": str(message.get("Message-ID", "")),
        "content_type": message.get_content_type(),
        "charset": part.get_content_charset() or "",
        "text": part.get_content().replace("\r\n", "\n") if part.get_content_maintype() == "text" else "",
        "crlf": all(line.endswith(b"\r") for line in lines[:-1]),
        "defects": len(message.defects) + sum(len(p.defects) for p in message.walk()),
        "list_unsubscribe": message.get("List-Unsubscribe"),
        "list_unsubscribe_post": message.get("List-Unsubscribe-Post"),
        "structure": structure(message),
        "html": html.get_content() if html is not None else None,
        "attachments": [
            {
                "name": p.get_filename(),
                "type": p.get_content_type(),
                "size": len(p.get_payload(decode=True)),
                "sha256": hashlib.sha256(p.get_payload(decode=True)).hexdigest(),
            }
            for p in message.iter_attachments()
        ],
    }


def structure(part) -> str:
    """The tree of content types: "multipart/mixed(multipart/alternative(text/plain,text/html),…)"."""
    if not part.is_multipart():
        return part.get_content_type()
    return part.get_content_type() + "(" + ",".join(structure(p) for p in part.get_payload()) + ")"


def emit(record: dict) -> None:
    sys.stdout.write(json.dumps(record) + "\n")
    sys.stdout.flush()


class Handler:
    def __init__(self, options):
        self.options = options

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address in self.options.refuse:
            return "550 5.1.1 <%s>: Recipient address rejected: no such user" % address
        if address in self.options.drop_before_data:
            server.transport.abort()
            return "250 OK"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        raw = envelope.original_content or envelope.content
        record = {
            "mail_from": envelope.mail_from,
            "rcpt_tos": envelope.rcpt_tos,
            "tls": session.ssl is not None,
            "login": session.login_data.decode() if isinstance(session.login_data, bytes) else "",
            "raw": base64.b64encode(raw).decode(),
        }
        record.update(describe(raw))
        if any(a in self.options.drop_after_data for a in envelope.rcpt_tos):
            record["dropped"] = True
            emit(record)
            server.transport.abort()
            return "250 OK"
        emit(record)
        return "250 2.0.0 Ok: queued as %d" % os.getpid()


def self_signed(folder: str) -> ssl.SSLContext:
    cert = os.path.join(folder, "cert.pem")
    key = os.path.join(folder, "key.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-subj", "/CN=localhost", "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1",
                    "-keyout", key, "-out", cert], check=True, capture_output=True)
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(cert, key)
    return context


async def serve(options) -> None:
    from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword

    def authenticator(server, session, envelope, mechanism, auth_data):
        if not isinstance(auth_data, LoginPassword):
            return AuthResult(success=False, handled=False)
        given = auth_data.login.decode() + ":" + auth_data.password.decode()
        if given != options.auth:
            return AuthResult(success=False, handled=False)
        return AuthResult(success=True, auth_data=auth_data)

    kwargs = {"hostname": "brisko-test.local"}
    if options.auth:
        kwargs.update(authenticator=authenticator, auth_required=True, auth_require_tls=False)
    if options.starttls:
        kwargs.update(tls_context=self_signed(options.starttls), require_starttls=True)
    handler = Handler(options)
    loop = asyncio.get_running_loop()
    server = await loop.create_server(lambda: SMTP(handler, **kwargs), host="127.0.0.1", port=0)
    emit({"ready": server.sockets[0].getsockname()[1]})
    # Run until the test closes our standard input.
    await loop.run_in_executor(None, sys.stdin.read)
    server.close()


def main() -> int:
    parser = argparse.ArgumentParser()
    commands = parser.add_subparsers(dest="command", required=True)
    s = commands.add_parser("serve")
    s.add_argument("--refuse", action="append", default=[])
    s.add_argument("--drop-before-data", action="append", default=[])
    s.add_argument("--drop-after-data", action="append", default=[])
    s.add_argument("--auth")
    s.add_argument("--starttls")
    p = commands.add_parser("parse")
    p.add_argument("files", nargs="+")
    options = parser.parse_args()
    if options.command == "parse":
        for name in options.files:
            with open(name, "rb") as f:
                record = describe(f.read())
            record["file"] = os.path.basename(name)
            emit(record)
        return 0
    try:
        import aiosmtpd  # noqa: F401
    except ImportError:
        emit({"missing": "aiosmtpd"})
        return 3
    asyncio.run(serve(options))
    return 0


if __name__ == "__main__":
    sys.exit(main())
