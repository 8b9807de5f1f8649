# A real FTP server for the tests and the benchmark: one account whose home is ROOT.
# Usage: /usr/bin/python3 ftp_server.py ROOT USER PASSWORD
# Listens on 127.0.0.1 at a free port and prints that port on the first line of stdout.
import logging
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

root, user, password = sys.argv[1:4]
logging.basicConfig(level=logging.WARNING)
authorizer = DummyAuthorizer()
authorizer.add_user(user, password, root, perm="elradfmwMT")
handler = FTPHandler
handler.authorizer = authorizer
server = FTPServer(("127.0.0.1", 0), handler)
print(server.address[1], flush=True)
server.serve_forever()
