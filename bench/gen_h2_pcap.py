#!/usr/bin/env python3
"""The same page loads as HTTP/1.1 and as cleartext HTTP/2, as two captures.

Writes two classic libpcap files (raw IPv4, linktype 101) of one client
loading the same responses from many servers: --h1 over HTTP/1.1 keep-alive
connections (one response after the other, with a Content-Length), --h2 over
HTTP/2 with prior knowledge (the responses of a connection multiplexed, their
DATA frames taking turns, header blocks compressed with HPACK and the table
carried across streams). Bodies are HTML of 2 to 60 KB, gzip-coded text,
incompressible bytes and microblog pages, whose owners the probe finds; a JSON
summary goes to stdout. Deterministic for a given set of arguments. Needs
python3-hpack.

  python3 gen_h2_pcap.py --h1 h1.pcap --h2 h2.pcap --target-mb 200
"""

import argparse
import json
import os
import random
import struct
import sys
import zlib

import hpack

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.dont_write_bytecode = True
import gen_http_pcap  # noqa: E402  (its pages and words)

CLIENT_IP = bytes((198, 18, 0, 1))
MSS = 1460
FRAME_BYTES = 16384
ACK, PSH, SYN, FIN = 0x10, 0x08, 0x02, 0x01
PREFACE = b'PRI * HTTP/2.0\r\n\r\nSM\r\n\r\n'


def frame(kind, flags, stream, payload):
    return struct.pack('!I', len(payload))[1:] + bytes((kind, flags)) + \
        struct.pack('!I', stream) + payload


class Writer:
    def __init__(self, path):
        self.out = open(path, 'wb', buffering=8 << 20)
        self.out.write(struct.pack('<IHHiIII', 0xa1b2c3d4, 2, 4, 0, 0, 262144, 101))
        self.ts_us = 1_700_000_000 * 1_000_000
        self.packets = 0

    def packet(self, src, dst, sport, dport, seq, ack, flags, payload=b''):
        tcp = struct.pack('!HHIIBBHHH', sport, dport, seq & 0xffffffff, ack & 0xffffffff,
                          5 << 4, flags, 65535, 0, 0) + payload
        ip = struct.pack('!BBHHHBBH4s4s', 0x45, 0, 20 + len(tcp), 0, 0x4000, 64, 6, 0,
                         src, dst) + tcp
        self.ts_us += 50
        self.out.write(struct.pack('<IIII', self.ts_us // 1_000_000, self.ts_us % 1_000_000,
                                   len(ip), len(ip)) + ip)
        self.packets += 1

    def close(self):
        self.out.close()


class Connection:
    """One TCP connection of the client; send() cuts bytes into segments."""

    def __init__(self, writer, server, port):
        self.w, self.server, self.port = writer, server, port
        self.seq = [1000, 500000]
        self.w.packet(CLIENT_IP, server, port, 80, self.seq[0] - 1, 0, SYN)
        self.w.packet(server, CLIENT_IP, 80, port, self.seq[1] - 1, self.seq[0], SYN | ACK)

    def send(self, direction, data):
        for at in range(0, len(data), MSS):
            piece = data[at:at + MSS]
            if direction == 0:
                self.w.packet(CLIENT_IP, self.server, self.port, 80, self.seq[0], self.seq[1],
                              ACK | PSH, piece)
            else:
                self.w.packet(self.server, CLIENT_IP, 80, self.port, self.seq[1], self.seq[0],
                              ACK | PSH, piece)
            self.seq[direction] += len(piece)

    def close(self):
        self.w.packet(CLIENT_IP, self.server, self.port, 80, self.seq[0], self.seq[1],
                      FIN | ACK)
        self.w.packet(self.server, CLIENT_IP, 80, self.port, self.seq[1], self.seq[0] + 1,
                      FIN | ACK)


def make_responses(rnd, count):
    """The responses of one connection: (path, headers, body)."""
    out = []
    for i in range(count):
        kind = rnd.random()
        headers = [('content-type', 'text/html; charset=utf-8'),
                   ('cache-control', 'max-age=3600'), ('server', 'bench'),
                   ('date', 'Wed, 09 Dec 2026 10:00:00 GMT')]
        if kind < 0.1:
            n = rnd.randrange(32)
            body = gen_http_pcap.microblog_page('user%02d' % n, 'なまえ%02d' % n)
            headers[0] = ('content-type', 'text/html; charset=UTF-8')
        elif kind < 0.4:
            words = ' '.join(rnd.choice(gen_http_pcap.WORDS) for _ in range(rnd.randint(400, 9000)))
            body = ('<html><body><p>%s</p></body></html>\n' % words).encode()
        elif kind < 0.7:
            words = ' '.join(rnd.choice(gen_http_pcap.WORDS) for _ in range(rnd.randint(2000, 9000)))
            c = zlib.compressobj(6, zlib.DEFLATED, 31)
            body = c.compress(words.encode()) + c.flush()
            headers.append(('content-encoding', 'gzip'))
        else:
            body = rnd.randbytes(rnd.randint(2000, 60000))
            headers[0] = ('content-type', 'image/png')
        out.append(('/p%d/%d' % (rnd.getrandbits(20), i), headers, body))
    return out


def h1_connection(w, server, port, responses):
    c = Connection(w, server, port)
    for path, headers, body in responses:
        c.send(0, ('GET %s HTTP/1.1\r\nHost: s.test\r\nUser-Agent: bench\r\n'
                   'Accept: */*\r\n\r\n' % path).encode())
        head = 'HTTP/1.1 200 OK\r\n' + ''.join('%s: %s\r\n' % h for h in headers)
        head += 'Content-Length: %d\r\n\r\n' % len(body)
        c.send(1, head.encode() + body)
    c.close()


def h2_connection(w, server, port, responses):
    c = Connection(w, server, port)
    request_encoder, encoder = hpack.Encoder(), hpack.Encoder()
    requests = b''
    for i, (path, _, _) in enumerate(responses):
        block = request_encoder.encode([(':method', 'GET'), (':path', path),
                                        (':scheme', 'http'), (':authority', 's.test'),
                                        ('user-agent', 'bench'), ('accept', '*/*')])
        requests += frame(1, 0x5, 1 + 2 * i, block)
    c.send(0, PREFACE + frame(4, 0, 0, b'') + requests)
    out = frame(4, 0, 0, struct.pack('!HI', 3, 100)) + frame(4, 1, 0, b'')
    at = [0] * len(responses)
    for i, (_, headers, body) in enumerate(responses):
        block = encoder.encode([(':status', '200')] + headers +
                               [('content-length', str(len(body)))])
        out += frame(1, 0x4, 1 + 2 * i, block)
    # The DATA frames of all streams take turns, as a server sends them.
    while any(at[i] < len(r[2]) for i, r in enumerate(responses)):
        for i, (_, _, body) in enumerate(responses):
            if at[i] >= len(body):
                continue
            piece = body[at[i]:at[i] + FRAME_BYTES]
            at[i] += len(piece)
            out += frame(0, 0x1 if at[i] >= len(body) else 0, 1 + 2 * i, piece)
        if len(out) > 1 << 16:
            c.send(1, out)
            out = b''
    c.send(1, out)
    c.close()


def main():
    p = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    p.add_argument('--h1', required=True)
    p.add_argument('--h2', required=True)
    p.add_argument('--target-mb', type=float, default=200)
    p.add_argument('--per-connection', type=int, default=6)
    p.add_argument('--seed', type=int, default=1)
    a = p.parse_args()
    rnd = random.Random(a.seed)
    h1, h2 = Writer(a.h1), Writer(a.h2)
    connections = responses = pages = 0
    port = 32768
    while h1.out.tell() < a.target_mb * 1e6:
        batch = make_responses(rnd, a.per_connection)
        server = bytes((198, 19, rnd.randrange(256), rnd.randrange(1, 255)))
        h1_connection(h1, server, port, batch)
        h2_connection(h2, server, port, batch)
        port = 32768 if port >= 60999 else port + 1
        connections += 1
        responses += len(batch)
        pages += sum(1 for r in batch if r[1][0][1].endswith('UTF-8'))
    h1.close()
    h2.close()
    json.dump(dict(connections=connections, responses=responses, pages=pages,
                   h1_packets=h1.packets, h2_packets=h2.packets), sys.stdout)
    print()


if __name__ == '__main__':
    main()
