#!/usr/bin/python3
"""Local SMTP server for the mail tests, the benchmark and the demo.

Listens on 127.0.0.1 at a free port, offers AUTH LOGIN and PLAIN (without TLS
unless asked for), accepts one fixed user, answers a failed login with 535, and
appends one JSON line per event to the log file:
  {"event": "command", "verb": "AUTH", "tls": false}
  {"event": "auth", "mechanism": "LOGIN", "ok": true}
  {"event": "mail", "from": B64, "rcpt": [B64, ...], "helo": B64, "data": B64}
A command event is written for every STARTTLS, AUTH, MAIL, RCPT and DATA received,
saying whether it came over TLS. Every text value of a mail event is base64 of its
bytes. Prints "READY <port>" once listening; stops on SIGTERM or SIGINT.

TLS, for tests: --starttls=CERT,KEY offers STARTTLS with that certificate and key
(PEM files); --smtps=CERT,KEY speaks TLS from the first byte; --refuse-starttls
offers STARTTLS but answers it with 454.

Refusals, for tests: --refuse-rcpt answers every RCPT with 550, --refuse-data the end
of every message with 554. --control FILE names a JSON file read afresh at every
command, so a test can change the answers while the server runs:
  {"rcpt": "451 4.3.0 Try again later", "data": "554 5.6.0 Refused", "auth": "535 5.7.8 No",
   "mail": "550 5.7.1 Sender refused", "rcpt_to": "someone@example.com"}
"rcpt" answers RCPT (only RCPT of the address "rcpt_to" when that is set), "data" the end
of the message, "auth" every login, "mail" every MAIL FROM; a key that is missing or empty
lets the command through (a missing file: everything goes through).

Usage: smtp_server.py LOG USER PASSWORD [--port=N] [--control=FILE] [--only-plain]
                      [--refuse-rcpt] [--refuse-data] [--starttls=CERT,KEY | --smtps=CERT,KEY |
                      --refuse-starttls]
"""

import asyncio
import base64
import functools
import json
import logging
import os
import signal
import ssl
import sys
import warnings

from aiosmtpd.smtp import SMTP, AuthResult


def b64(data):
    if isinstance(data, str):
        data = data.encode("utf-8", "surrogateescape")
    return base64.b64encode(data or b"").decode("ascii")


class Recorder:
    def __init__(self, path, refuse_rcpt, refuse_data, control):
        self.path = path
        self.refuse_rcpt = refuse_rcpt
        self.refuse_data = refuse_data
        self.control = control

    def answer(self, key):
        """The reply the control file sets for key, or None."""
        if not self.control:
            return None
        try:
            with open(self.control, encoding="utf-8") as f:
                value = json.load(f).get(key)
        except (OSError, ValueError):
            return None
        return value or None

    def command(self, verb, transport):
        tls = transport is not None and transport.get_extra_info("ssl_object") is not None
        self.write({"event": "command", "verb": verb, "tls": tls})

    def write(self, record):
        # The log holds the messages, and so the codes mailed: readable by the owner only.
        fd = os.open(self.path, os.O_WRONLY | os.O_APPEND | os.O_CREAT | os.O_NOFOLLOW, 0o600)
        with os.fdopen(fd, "a", encoding="ascii") as f:
            f.write(json.dumps(record) + "\n")
            f.flush()

    async def handle_MAIL(self, server, session, envelope, address, mail_options):
        if self.answer("mail"):
            return self.answer("mail")
        envelope.mail_from = address
        envelope.mail_options.extend(mail_options)
        return "250 OK"

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        only = self.answer("rcpt_to")
        if self.answer("rcpt") and (only is None or address == only):
            return self.answer("rcpt")
        if self.refuse_rcpt:
            return "550 5.1.1 Recipient refused"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        if self.answer("data"):
            return self.answer("data")
        if self.refuse_data:
            return "554 5.6.0 Message refused"
        self.write({
            "event": "mail",
            "from": b64(envelope.mail_from),
            "rcpt": [b64(r) for r in envelope.rcpt_tos],
            "helo": b64(session.host_name or ""),
            "data": b64(envelope.original_content or envelope.content),
        })
        return "250 OK"


def recorded(verb):
    """SMTP's handler of verb, noting the command first."""
    base = getattr(SMTP, "smtp_" + verb)

    @functools.wraps(base)
    async def method(self, arg):
        self.event_handler.command(verb, self.transport)
        return await base(self, arg)
    return method


class RecordingSMTP(SMTP):
    refuse_starttls = False
    smtp_AUTH = recorded("AUTH")
    smtp_MAIL = recorded("MAIL")
    smtp_RCPT = recorded("RCPT")
    smtp_DATA = recorded("DATA")

    @functools.wraps(SMTP.smtp_STARTTLS)
    async def smtp_STARTTLS(self, arg):
        self.event_handler.command("STARTTLS", self.transport)
        if self.refuse_starttls:
            await self.push("454 4.7.0 TLS not available due to temporary reason")
            return
        await SMTP.smtp_STARTTLS(self, arg)


def server_context(cert_and_key):
    cert, key = cert_and_key.split(",", 1)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    return context


def main():
    args = [a for a in sys.argv[1:] if not a.startswith("--")]
    flags = {a for a in sys.argv[1:] if a.startswith("--") and "=" not in a}
    values = dict(a[2:].split("=", 1) for a in sys.argv[1:] if a.startswith("--") and "=" in a)
    if len(args) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    log_path, user, password = args
    # AUTH without TLS is what the tests want; keep the warnings about it off stderr.
    warnings.simplefilter("ignore")
    logging.getLogger("mail.log").setLevel(logging.CRITICAL)
    recorder = Recorder(log_path, "--refuse-rcpt" in flags, "--refuse-data" in flags,
                        values.get("control"))

    def authenticator(server, session, envelope, mechanism, auth_data):
        refusal = recorder.answer("auth")
        ok = (refusal is None
              and getattr(auth_data, "login", None) == user.encode()
              and getattr(auth_data, "password", None) == password.encode())
        recorder.write({"event": "auth", "mechanism": mechanism, "ok": ok})
        # handled=False makes aiosmtpd answer a refused login (535 unless the control file says
        # otherwise) instead of nothing.
        return AuthResult(success=ok, handled=False, message=None if ok else refusal)

    exclude = ["LOGIN"] if "--only-plain" in flags else []
    starttls = None
    if "starttls" in values:
        starttls = server_context(values["starttls"])
    elif "--refuse-starttls" in flags:
        starttls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)  # only to be offered: every STARTTLS gets 454
    implicit = server_context(values["smtps"]) if "smtps" in values else None

    def factory():
        server = RecordingSMTP(recorder, hostname="smtp.test", authenticator=authenticator,
                               auth_required=True, auth_require_tls=False,
                               auth_exclude_mechanism=exclude, tls_context=starttls)
        server.refuse_starttls = "--refuse-starttls" in flags
        return server

    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)
    server = loop.run_until_complete(loop.create_server(factory, host="127.0.0.1",
                                                        port=int(values.get("port", "0")),
                                                        ssl=implicit))
    port = server.sockets[0].getsockname()[1]
    for sig in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(sig, loop.stop)
    print("READY %d" % port, flush=True)
    try:
        loop.run_forever()
    finally:
        server.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
