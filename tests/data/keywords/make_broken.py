#!/usr/bin/python3
# Writes the damaged rule files of broken/ that the reader must refuse without harm; each
# one once brought the program down or is a shape the reader has to tell apart. Rerun to
# regenerate. Deep nesting past what a file should hold is built by the tests themselves.
import plistlib, struct, pathlib

out = pathlib.Path(__file__).parent / 'broken'
out.mkdir(exist_ok=True)
rule = {'Keywords': ['News'], 'Negatives': [''], 'NumberMatches': 0, 'Exact': False}

def xml(obj):
    return plistlib.dumps(obj, fmt=plistlib.FMT_XML)

def binary(obj):
    return plistlib.dumps(obj, fmt=plistlib.FMT_BINARY)

def bplist(objects, top=0):
    """A binary property list from raw object bytes; 1-byte offsets and references."""
    body = b'bplist00'
    offsets = []
    for o in objects:
        offsets.append(len(body))
        body += o
    table = len(body)
    width = 1 if table < 256 else 2
    body += b''.join(o.to_bytes(width, 'big') for o in offsets)
    return body + struct.pack('>6xBBQQQ', width, 1, len(objects), top, table)

files = {
    # A raw NUL inside an XML string (libplist keeps it and then asserts on the length).
    'nul-in-xml-string.plist': xml([rule]).replace(b'<string>News', b'<string>Ne\0ws'),
    # UTF-16 strings keep an embedded NUL: as a value, and as a dictionary key.
    'nul-in-binary-string.plist': binary([dict(rule, Keywords=['Caf\u00e9\0News'])]),
    'nul-in-binary-key.plist': binary([dict(rule, **{'Keywords\0\u00e9': ['x']})]),
    'truncated-binary.plist': binary([rule] * 3)[:-40],
    'root-is-dict.plist': xml(rule),
    'root-is-string.plist': xml('rules'),
    'not-a-plist.plist': b'not a plist',
    'unclosed-xml.plist': b'<?xml version="1.0"?><plist><array><dict><key>Keywords</key>',
    # Array 0 holds itself.
    'binary-cycle.plist': bplist([b'\xa1\x00']),
    # Twelve arrays each holding the next one 14 times: 14^12 nodes once copied out.
    'binary-doubling.plist': bplist([bytes([0xae] + [i + 1] * 14) for i in range(12)] + [b'\xa0']),
    # Forty arrays nested in one another.
    'binary-deep.plist': bplist([bytes([0xa1, i + 1]) for i in range(40)] + [b'\xa0']),
    'xml-deep.plist': b'<plist>' + b'<array>' * 40 + b'</array>' * 40 + b'</plist>',
    # Closing tags inside comments and quoted attributes are no closing tags.
    'xml-deep-hidden-closes.plist': b'<plist>' + b'<array><!-- </array> --><array q="</array>">' * 20
        + b'</array>' * 40 + b'</plist>',
}
for name, data in files.items():
    (out / name).write_bytes(data)
