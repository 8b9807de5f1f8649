# A real FTP server for the tests and the benchmark: one account whose home is ROOT.
# Usage: /usr/bin/python3 ftp_server.py ROOT USER PASSWORD [LOGINS]
# Listens on 127.0.0.1 at a free port and prints that port on the first line of stdout.
# With LOGINS, every USER and PASS command received appends its name (never its argument)
# as a line to that file, so that a test can count the login attempts.
import logging
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

root, user, password = sys.argv[1:4]
logins = sys.argv[4] if len(sys.argv) > 4 else None
logging.basicConfig(level=logging.WARNING)
authorizer = DummyAuthorizer()
authorizer.add_user(user, password, root, perm="elradfmwMT")


class CountingHandler(FTPHandler):
    def noteLogin(self, command):
        if logins:
            with open(logins, "a") as f:
                f.write(command + "\n")

    def ftp_USER(self, line):
        self.noteLogin("USER")
        return super().ftp_USER(line)

    def ftp_PASS(self, line):
        self.noteLogin("PASS")
        return super().ftp_PASS(line)


handler = CountingHandler
handler.authorizer = authorizer
server = FTPServer(("127.0.0.1", 0), handler)
print(server.address[1], flush=True)
server.serve_forever()
