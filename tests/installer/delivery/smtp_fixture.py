"""SMTP server for the delivery tests, on 127.0.0.1 only.

  smtp_fixture.py serve DIR [--refuse ADDR]... [--drop ADDR]... [--tls CERT KEY]
      Stores every message as DIR/msg-N.eml (N from 1, written under a
      temporary name and renamed when complete). Refuses the recipients
      named by --refuse with 550; for recipients named by --drop it closes
      the connection in the middle of the message. Prints "PORT n" once it
      listens, then runs until it is terminated.
  smtp_fixture.py extract FILE OUTDIR
      Prints the message's headers as "Name: value" lines, then "BODY:" and
      the first text part, and writes every attachment into OUTDIR under its
      file name.

Run it with /usr/bin/python3 (Debian's python3-aiosmtpd).
"""
import email
import email.policy
import os
import signal
import socket
import sys


def serve(folder, refuse, drop, tls):
    from aiosmtpd.controller import Controller

    class Handler:
        def __init__(self):
            self.count = 0

        async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
            if address.lower() in refuse:
                return "550 5.1.1 <%s>: Recipient address rejected" % address
            envelope.rcpt_tos.append(address)
            return "250 OK"

        async def handle_DATA(self, server, session, envelope):
            if any(a.lower() in drop for a in envelope.rcpt_tos):
                session.transport.close()
                return "421 4.3.0 closing"
            self.count += 1
            path = os.path.join(folder, "msg-%d.eml" % self.count)
            if session.ssl:
                open(os.path.join(folder, "msg-%d.tls" % self.count), "w").close()
            with open(path + ".tmp", "wb") as f:
                f.write(envelope.original_content)
            os.rename(path + ".tmp", path)
            return "250 Message accepted"

    # A free port chosen by the system.
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    options = {}
    if tls:
        import ssl
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(tls[0], tls[1])
        options["tls_context"] = context
    controller = Controller(Handler(), hostname="127.0.0.1", port=port,
                            data_size_limit=512 * 1024 * 1024, **options)
    controller.start()
    print("PORT %d" % port, flush=True)
    signal.signal(signal.SIGTERM, lambda *_: (controller.stop(), sys.exit(0)))
    signal.pause()


def extract(path, outdir):
    with open(path, "rb") as f:
        message = email.message_from_binary_file(f, policy=email.policy.default)
    for name, value in message.items():
        print("%s: %s" % (name, str(value).replace("\n", " ")))
    body = message.get_body(preferencelist=("plain",))
    print("BODY:")
    if body is not None:
        print(body.get_content(), end="")
    os.makedirs(outdir, exist_ok=True)
    for part in message.iter_attachments():
        name = os.path.basename(part.get_filename() or "attachment.bin")
        with open(os.path.join(outdir, name), "wb") as out:
            out.write(part.get_payload(decode=True))


def main(argv):
    if len(argv) >= 3 and argv[1] == "serve":
        refuse, drop, tls, i = set(), set(), None, 3
        while i < len(argv):
            if argv[i] == "--tls" and i + 2 < len(argv):
                tls = (argv[i + 1], argv[i + 2])
                i += 1
            elif argv[i] == "--refuse" and i + 1 < len(argv):
                refuse.add(argv[i + 1].lower())
            elif argv[i] == "--drop" and i + 1 < len(argv):
                drop.add(argv[i + 1].lower())
            else:
                sys.exit("unknown argument " + argv[i])
            i += 2
        serve(argv[2], refuse, drop, tls)
    elif len(argv) == 4 and argv[1] == "extract":
        extract(argv[2], argv[3])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
