#!/usr/bin/env python3
"""A local SMTP server for the mail provider's tests, and a decoder of what it got.

smtp_server.py serve DIR [USER:PASSWORD]
    Listens on 127.0.0.1 on a free port (written to DIR/port once it accepts),
    stores each message as DIR/message-N.eml exactly as received and then its
    envelope as DIR/envelope-N (sender, then one recipient a line). With
    USER:PASSWORD, logins are required and only that one is accepted.
    Runs until SIGTERM.
smtp_server.py decode FILE
    Prints the message's parts as the receiving side reads them, one a line:
    "subject <hex of the decoded subject>", "to <header>", "text <hex>",
    "attachment <hex of the file name> <hex of the bytes>".
"""
import email
import email.header
import email.policy
import os
import signal
import socket
import sys
import threading


def serve(directory, credentials):
    from aiosmtpd.controller import Controller
    from aiosmtpd.smtp import AuthResult

    class Saver:
        count = 0

        async def handle_DATA(self, server, session, envelope):
            Saver.count += 1
            n = Saver.count
            with open(os.path.join(directory, "message-%d.eml" % n), "wb") as out:
                out.write(envelope.original_content)
            part = os.path.join(directory, "envelope-%d.part" % n)
            with open(part, "w") as out:
                out.write(envelope.mail_from + "\n")
                for recipient in envelope.rcpt_tos:
                    out.write(recipient + "\n")
            os.rename(part, os.path.join(directory, "envelope-%d" % n))
            return "250 OK"

    def authenticate(server, session, envelope, mechanism, data):
        login = data.login.decode() + ":" + data.password.decode()
        # Not "handled": the server itself answers a refused login with 535.
        return AuthResult(success=login == credentials, handled=False)

    probe = socket.socket()
    probe.bind(("127.0.0.1", 0))
    port = probe.getsockname()[1]
    probe.close()
    options = {}
    if credentials:
        options = dict(authenticator=authenticate, auth_required=True, auth_require_tls=False)
    controller = Controller(Saver(), hostname="127.0.0.1", port=port, **options)
    controller.start()
    stopped = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stopped.set())
    with open(os.path.join(directory, "port.part"), "w") as out:
        out.write(str(port))
    os.rename(os.path.join(directory, "port.part"), os.path.join(directory, "port"))
    stopped.wait()
    controller.stop()


def decode(path):
    with open(path, "rb") as source:
        message = email.message_from_binary_file(source, policy=email.policy.compat32)
    subject = str(email.header.make_header(email.header.decode_header(message["Subject"])))
    print("subject", subject.encode().hex())
    print("to", " ".join(message["To"].split()))
    for part in message.walk():
        if part.is_multipart():
            continue
        payload = part.get_payload(decode=True)
        if part.get_filename():
            name = part.get_filename()
            if isinstance(name, tuple):
                name = email.utils.collapse_rfc2231_value(name)
            print("attachment", name.encode().hex(), payload.hex())
        else:
            print("text", payload.hex())


if __name__ == "__main__":
    if sys.argv[1] == "serve":
        serve(sys.argv[2], sys.argv[3] if len(sys.argv) > 3 else None)
    else:
        decode(sys.argv[2])
