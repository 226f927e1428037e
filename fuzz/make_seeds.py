#!/usr/bin/env python3
"""Writes the seeds of the decoding chain's fuzzer into a folder.

Each seed is a sequence of records: one byte of clock steps, the datagram's
length in two bytes (big-endian), the datagram. The seeds hold microblog page
exchanges (chunked and with a Content-Length, in order, reversed, IP
fragmented, kept alive, over IPv6 behind extension headers and in
fragments, one of them overlapping; plain and in every content coding, stacked, a bomb,
corrupt and truncated), and small captures of the project's capture
generator (bench/gen_http_pcap.py) with their anomalies and compressed
bodies. A generator that fails stops the script: no seed is left out
silently.
"""

import os
import struct
import subprocess
import sys
import tempfile

HOST = os.environ.get('ZK_MICROBLOG_HOST', 'mb.nimbo.example')
CLIENT, SERVER = bytes((198, 18, 0, 1)), bytes((198, 18, 0, 2))
CLIENT6 = bytes((0x20, 0x01, 0, 2)) + bytes(11) + b'\x01'  # 2001:2::1
SERVER6 = bytes((0x20, 0x01, 0, 2)) + bytes(11) + b'\x02'
HOP_BY_HOP, DESTINATION_OPTIONS, FRAGMENT = 0, 60, 44
MAX_SEED_BYTES = 24 * 1024
GENERATOR = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'bench',
                         'gen_http_pcap.py')
sys.path.insert(0, os.path.dirname(GENERATOR))
sys.dont_write_bytecode = True
import gen_http_pcap  # noqa: E402  (its content codings)
SYN, ACK, PSH, FIN = 0x02, 0x10, 0x08, 0x01


def ip(src, dst, payload, ident=1, offset=0, more=False):
    flags = (0x2000 if more else 0) | (offset // 8)
    return struct.pack('!BBHHHBBH4s4s', 0x45, 0, 20 + len(payload), ident, flags, 64, 6, 0,
                       src, dst) + payload


def ip6(src, dst, payload, headers=(), ident=None, offset=0, more=False):
    """An IPv6 datagram: the extension headers given as (type, body) with
    bodies of 6 + 8n bytes, then a fragment header when ident is set."""
    chain = list(headers) + ([(FRAGMENT, struct.pack('!BxHI', 0, offset | more, ident)[2:])]
                             if ident is not None else [])
    out, next_header = payload, 6
    for kind, body in reversed(chain):
        length = 0 if kind == FRAGMENT else (len(body) + 2) // 8 - 1
        out = bytes((next_header, length)) + body + out
        next_header = kind
    return struct.pack('!IHBB16s16s', 6 << 28, len(out), next_header, 64, src, dst) + out


def tcp(sport, dport, seq, flags, payload=b''):
    return struct.pack('!HHIIBBHHH', sport, dport, seq, 0, 5 << 4, flags, 65535, 0,
                       0) + payload


def page(name='ざるこ', ident='someid', size=6000):
    top = ('<!DOCTYPE html>\n<html lang="ja"><head><meta http-equiv="Content-Type" '
           'content="text/html; charset=UTF-8">\n<title>%sさんのなう | Nimbo</title></head>\n'
           '<body><div id="logo"><a href="http://%s/">Nimboなう</a></div>\n' % (name, HOST))
    filler = '<p class="entry">きょうはいい天気でした。</p>\n'
    body = top + filler * 20
    body += '<span class="profile"><a href="http://%s/%s/">プロフィール</a></span>\n' % (
        HOST, ident)
    while len(body.encode()) < size:
        body += filler
    return body.encode() + b'</body></html>\n'


def coded(body, codings):
    """The body in the codings named, applied in that order."""
    for coding in codings:
        body = gen_http_pcap.encode(coding, body)
    return body


def response(body, chunked, codings=()):
    head = b'HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=UTF-8\r\n'
    if codings:
        names = ', '.join('deflate' if c == 'deflate-raw' else c for c in codings)
        head += b'Content-Encoding: %s\r\n' % names.encode()
    if not chunked:
        return head + b'Content-Length: %d\r\n\r\n' % len(body) + body
    out = head + b'Transfer-Encoding: chunked\r\n\r\n'
    for at in range(0, len(body), 1000):
        chunk = body[at:at + 1000]
        out += b'%x\r\n' % len(chunk) + chunk + b'\r\n'
    return out + b'0\r\n\r\n'


def exchange(replies, order=None, fragment=False, port=40000, ipv6=False, headers=(),
             overlap=False):
    """Handshake, one request and the replies on one connection; over IPv6
    behind the extension headers given, and with an overlapping fragment in
    front of a segment's clean fragments when overlap is set."""
    client_seq, server_seq = 1000, 0xFFFFF000  # the server's numbers wrap
    if ipv6:
        def ip(src, dst, payload, ident=1, offset=0, more=False):
            src, dst = (CLIENT6, SERVER6) if src == CLIENT else (SERVER6, CLIENT6)
            if offset == 0 and not more:
                return ip6(src, dst, payload, headers)
            return ip6(src, dst, payload, headers, ident, offset, more)
    else:
        ip = globals()['ip']
    packets = [ip(CLIENT, SERVER, tcp(port, 80, client_seq - 1, SYN)),
               ip(SERVER, CLIENT, tcp(80, port, server_seq - 1, SYN | ACK))]
    request = b'GET /someid/ HTTP/1.1\r\nHost: %s\r\n\r\n' % HOST.encode()
    packets.append(ip(CLIENT, SERVER, tcp(port, 80, client_seq, ACK | PSH, request)))
    data = b''.join(replies)
    segments = [tcp(80, port, (server_seq + at) & 0xFFFFFFFF, ACK, data[at:at + 1400])
                for at in range(0, len(data), 1400)]
    if order == 'reversed':
        segments.reverse()
    for n, segment in enumerate(segments):
        if fragment and n % 2 == 0:
            half = (len(segment) // 2) & ~7
            if overlap:
                packets.append(ip(SERVER, CLIENT, segment[half - 8:], ident=1000 + n,
                                  offset=half - 8))
                packets.append(ip(SERVER, CLIENT, segment[:half], ident=1000 + n, more=True))
            packets.append(ip(SERVER, CLIENT, segment[half:], ident=n, offset=half))
            packets.append(ip(SERVER, CLIENT, segment[:half], ident=n, more=True))
        else:
            packets.append(ip(SERVER, CLIENT, segment, ident=n))
    packets.append(ip(SERVER, CLIENT, tcp(80, port, (server_seq + len(data)) & 0xFFFFFFFF,
                                          FIN | ACK)))
    return packets


def records(packets, clock_steps=1):
    out = b''
    for packet in packets:
        record = struct.pack('!BH', clock_steps, len(packet)) + packet
        if len(out) + len(record) > MAX_SEED_BYTES:
            break
        out += record
    return out


def pcap_datagrams(path):
    with open(path, 'rb') as f:
        data = f.read()
    magic, = struct.unpack('<I', data[:4])
    if magic != 0xa1b2c3d4:
        return []
    link, = struct.unpack('<I', data[20:24])
    skip = 14 if link == 1 else 0
    out, at = [], 24
    while at + 16 <= len(data):
        _, _, caplen, _ = struct.unpack('<IIII', data[at:at + 16])
        out.append(data[at + 16 + skip:at + 16 + caplen])
        at += 16 + caplen
    return out


def generated():
    """Small captures of the project's capture generator."""
    seeds = {}
    runs = {'many': ['--mode', 'many', '--connections', '4', '--unclosed-pct', '50'],
            'mixed': ['--mode', 'mixed', '--target-mb', '0.05', '--anomaly-scale', '40'],
            'mixed6': ['--mode', 'mixed', '--target-mb', '0.05', '--anomaly-scale', '40',
                       '--ipv6', '--seed', '3'],
            'compressed': ['--mode', 'mixed', '--target-mb', '0.05', '--anomaly-scale', '40',
                           '--compressed', '--seed', '5'],
            'trickle': ['--mode', 'trickle', '--connections', '1', '--trickle-bytes', '2000']}
    with tempfile.TemporaryDirectory() as tmp:
        for name, args in runs.items():
            out = os.path.join(tmp, name + '.pcap')
            subprocess.run([sys.executable, GENERATOR, *args, '-o', out], check=True,
                           stdout=subprocess.DEVNULL)
            seeds['generated-' + name] = records(pcap_datagrams(out))
    return seeds


def main():
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    small = page(size=4500)
    seeds = {
        'page-chunked': records(exchange([response(small, True)])),
        'page-length-reversed': records(exchange([response(small, False)], order='reversed')),
        'page-fragmented': records(exchange([response(small, True)], fragment=True)),
        'kept-alive': records(exchange([b'HTTP/1.1 304 Not Modified\r\n\r\n',
                                        response(page(ident='other', size=4200), True)])),
        'idle': records(exchange([response(small, True)]), clock_steps=200),
        'ipv6-page-options': records(exchange(
            [response(small, True)], ipv6=True,
            headers=[(HOP_BY_HOP, b'\x05\x02\x00\x00\x01\x00'),
                     (DESTINATION_OPTIONS, b'\x01\x04' + bytes(12))])),
        'ipv6-page-fragmented': records(exchange([response(small, False)], order='reversed',
                                                 fragment=True, ipv6=True)),
        'ipv6-page-overlapping': records(exchange([response(small, True)], fragment=True,
                                                  ipv6=True, overlap=True)),
    }
    for codings in (('gzip',), ('deflate',), ('deflate-raw',), ('br',), ('zstd',),
                    ('gzip', 'br')):
        name = 'coded-' + '-'.join(codings)
        body = coded(small, codings)
        seeds[name + '-chunked'] = records(exchange([response(body, True, codings)]))
        seeds[name + '-length'] = records(exchange([response(body, False, codings)],
                                                   order='reversed'))
    bomb = small[:2000] + b'\0' * (16 * 1024 * 1024)
    seeds['coded-bomb'] = records(exchange([response(coded(bomb, ('gzip',)), True, ('gzip',))]))
    broken = coded(small, ('zstd',))
    broken = broken[:len(broken) // 2] + bytes(b ^ 0x55 for b in broken[len(broken) // 2:])
    seeds['coded-corrupt-then-page'] = records(exchange(
        [response(broken, True, ('zstd',)), response(coded(small, ('br',)), False, ('br',))]))
    truncated = coded(small, ('gzip',))
    seeds['coded-truncated'] = records(exchange(
        [response(truncated[:len(truncated) // 2], True, ('gzip',))]))
    seeds.update(generated())
    for name, data in seeds.items():
        with open(os.path.join(folder, name), 'wb') as f:
            f.write(data)


if __name__ == '__main__':
    main()
