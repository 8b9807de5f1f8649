#!/usr/bin/python3
# Writes the hand-made seeds of corpora/ (the other targets are seeded from tests/data/ by
# scripts/fuzz). Rerun to regenerate.
import datetime, pathlib, plistlib, struct

here = pathlib.Path(__file__).parent

def put(target, name, data):
    d = here / 'corpora' / target
    d.mkdir(parents=True, exist_ok=True)
    (d / name).write_bytes(data)

# ---- keyword_file: rule files as the program and other writers store them.
match = {'title': 'Doctor Who', 'channel': '2', 'duration': 60, 'record': True, 'extStart': -3,
         'start': datetime.datetime(2007, 3, 12, 9, 30), 'stop': datetime.datetime(2007, 3, 12, 10, 30),
         'rawStart': '2007-03-12 20:30', 'startTime': '20:30', 'dispChannel': 'ABC', 'subAndCat': ' [Drama]'}
rules = [{'Keywords': ['Doctor Who', '<20:00'], 'Negatives': ['', 'Repeat'], 'NumberMatches': 1,
          'Exact': False, 'padStart': 5, 'padEnd': 10.0, 'autoRecord': True, 'Matches': [match]},
         {'Keywords': []}]
put('keyword_file', 'rules.xml', plistlib.dumps(rules, fmt=plistlib.FMT_XML))
put('keyword_file', 'rules.bin', plistlib.dumps(rules, fmt=plistlib.FMT_BINARY))
put('keyword_file', 'unicode.bin', plistlib.dumps([{'Keywords': ['Caf\u00e9', '\u65e5\u672c']}],
                                                  fmt=plistlib.FMT_BINARY))

# ---- recorder_reply: per read, a status byte, the length (two bytes, low first), the bytes
# as the recorder sends them (a logical packet swapped pairwise).
def packet(code, data=b''):
    body = struct.pack('>I', code) + data
    p = struct.pack('>HH', 4 + len(body), 0) + body
    if len(p) % 2:
        p += b'\0'
    return bytes(p[i ^ 1] for i in range(len(p)))

def read(data, status=0):
    return bytes([status]) + struct.pack('<H', len(data)) + data

def entry(name, kind=2, size=15000, mjd=54171):
    e = struct.pack('>HBBBBII', mjd, 20, 30, 0, kind, 0, size) + name.encode('latin-1').ljust(95, b'\0')
    return e + b'\0' * 5

success = packet(0x0002)
listing = packet(0x1003, entry('..', 1, 0) + entry('20070312.tgd') + entry('20070313.tgd', size=1 << 31))
put('recorder_reply', 'listing', read(success) + read(success) + read(listing))
put('recorder_reply', 'fail', read(success) + read(success) + read(packet(0x0001)))
put('recorder_reply', 'stall', read(b'', 3) + read(success) + read(success, 3) + read(listing))

# ---- ftp_reply: per read, a length byte, then the bytes of that read.
def reads(*chunks):
    return b''.join(bytes([len(c)]) + c for c in chunks)

put('ftp_reply', 'single', reads(b'220 ok\n'))
put('ftp_reply', 'multi', reads(b'230-Hello\n', b'more\n', b'230 Done.\r\n'))
put('ftp_reply', 'split', reads(b'150', b' Opening data\n', b'226 Done\r\n'))
