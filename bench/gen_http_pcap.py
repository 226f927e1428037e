#!/usr/bin/env python3
"""Synthetic HTTP/1.1 captures for the benchmark and the fuzzer's seeds.

Writes a classic libpcap file (microsecond timestamps, linktype 1 = Ethernet
with a fake header, or 101 = raw IP) of the IPv4/TCP HTTP/1.1 traffic of
one client host talking to many servers; with --ipv6 the same traffic over
IPv6 (fragments in fragment headers).  The output is byte-for-byte
deterministic for a given set of arguments.  Python's standard library only,
but for --compressed, which runs the brotli and zstd commands.

  mixed: keep-alive connections (1-6 transactions) with small, 50 KB and
         chunked (some gzip) responses, a few POSTs, plus rare anomalies:
         swapped (out-of-order) segments, exact retransmissions, re-segmented
         overlapping retransmissions, IP-fragmented datagrams (some with the
         fragments reversed), sequence-number wrap-around, RST closes.
         Generated until the file reaches --target-mb.
         --compressed sends the text bodies (pages, JSON) in a content
         coding (gzip, deflate in the zlib format or raw, br, zstd, and
         gzip under br) and adds microblog pages, whose owners the probe
         finds; the summary counts them as "pages".
  many:  --connections short connections: handshake, one GET, one small
         "Connection: close" response, FIN both ways (8 packets each);
         --unclosed-pct leaves a share of them without FIN (abandoned).
  trickle: --connections connections whose response is sent one byte per
         segment: a header block of --trickle-bytes (--trickle header), or a
         short header block and a body of that size (--trickle body).  The
         cost per byte of both should be alike.

Every connection has a full 3-way handshake.  IP header and TCP checksums are
correct unless --no-checksums (then zero).  A JSON summary with the expected
totals (responses, stream bytes per direction, anomalies) is written next to
the output as <out>.json, so decoders can be checked against it.

  python3 gen_http_pcap.py --mode mixed --target-mb 300 -o mixed.pcap
  python3 gen_http_pcap.py --mode many --connections 1000000 -o many.pcap
"""

import argparse
import array
import email.utils
import json
import random
import struct
import subprocess
import sys
import zlib

LINKTYPE_ETHERNET = 1
LINKTYPE_RAW = 101
FIN, SYN, RST, PSH, ACK = 0x01, 0x02, 0x04, 0x08, 0x10
IP_DF, IP_MF = 0x4000, 0x2000

CLIENT_IP = bytes((192, 168, 1, 23))
SERVER_NETS = ((192, 0, 2), (198, 51, 100), (203, 0, 113))  # TEST-NETs
# --ipv6: the client is 2001:2::17, the servers 2001:2:0:N::H for the same
# networks and hosts (2001:2::/48 is the IPv6 benchmarking range).
IPV6_PREFIX = bytes((0x20, 0x01, 0, 2, 0, 0))
CLIENT_IP6 = IPV6_PREFIX + bytes(9) + bytes((23,))
IPPROTO_TCP, IPV6_FRAGMENT = 6, 44
CLIENT_PORTS = (32768, 61000)        # Linux default ephemeral range
MSS = 1460
FRAG_MTU = 576                       # path MTU of fragmented datagrams
# MSS 1460, NOP, window scale 7, NOP, NOP, SACK permitted
SYN_OPTS = struct.pack('!BBH', 2, 4, MSS) + b'\x01\x03\x03\x07\x01\x01\x04\x02'
ETH_HOST, ETH_GW = b'\x02\x00\x00\x00\x00\x17', b'\x02\x00\x00\x00\x00\x01'
ETH_HDR = (ETH_GW + ETH_HOST + b'\x08\x00', ETH_HOST + ETH_GW + b'\x08\x00')
ETH_HDR6 = (ETH_GW + ETH_HOST + b'\x86\xdd', ETH_HOST + ETH_GW + b'\x86\xdd')
START_TS = 1_700_000_000            # capture start, seconds

WORDS = ('the of and to in is for on that with as by this are from at be or '
         'an was have it not you all can has more page news home about world '
         'music photo friend profile blog post comment reply share login user '
         'game room avatar chat status update time today video link search '
         'help terms privacy contact image gallery list item view edit forum '
         'message inbox event group online member points level shop gift '
         'server client stream window frame table header footer menu').split()

# The microblog's host, as the probe is built with by default.
MICROBLOG_HOST = 'mb.nimbo.example'
# Share of responses that are microblog pages in a --compressed capture.
P_PAGE = 0.02
# The content codings of --compressed bodies, each a list in the order the
# codings were applied.
CODINGS = (('gzip',), ('deflate',), ('deflate-raw',), ('br',), ('zstd',), ('gzip', 'br'))

# per-response probabilities in mixed mode (multiplied by --anomaly-scale)
P_REORDER, P_RETX, P_OVERLAP, P_FRAG, P_RST, P_WRAP = (
    0.006, 0.006, 0.002, 0.004, 0.02, 0.01)


def _sum16(data):
    if len(data) & 1:
        data += b'\0'
    return sum(array.array('H', data))


def checksum_field(*parts):
    """Internet checksum of the concatenated parts, packed for the header.

    Summing native-order words and packing natively is byte-order
    independent (RFC 1071).  Every part but the last must have even length.
    """
    s = 0
    for p in parts:
        s += _sum16(p)
    while s >> 16:
        s = (s & 0xffff) + (s >> 16)
    return struct.pack('=H', ~s & 0xffff)


def run_encoder(command, data):
    try:
        return subprocess.run(command, input=data, stdout=subprocess.PIPE,
                              check=True).stdout
    except (OSError, subprocess.CalledProcessError) as error:
        sys.exit('gen_http_pcap: %s failed (%s); run scripts/install-deps'
                 % (command[0], error))


def encode(coding, data):
    """data in one content coding (RFC 9110, section 8.4.1)."""
    if coding == 'gzip':
        c = zlib.compressobj(6, zlib.DEFLATED, 31)
    elif coding == 'deflate':
        c = zlib.compressobj(6, zlib.DEFLATED, 15)
    elif coding == 'deflate-raw':           # sent as "deflate" by some servers
        c = zlib.compressobj(6, zlib.DEFLATED, -15)
    elif coding == 'br':
        return run_encoder(['brotli', '-c', '-q', '5', '-w', '22'], data)
    elif coding == 'zstd':
        return run_encoder(['zstd', '-c', '-q', '-3'], data)
    else:
        raise ValueError(coding)
    return c.compress(data) + c.flush()


def microblog_page(ident, name):
    """A page of the microblog whose owner the probe reports."""
    top = ('<!DOCTYPE html>\n<html lang="ja"><head><meta http-equiv="Content-Type" '
           'content="text/html; charset=UTF-8">\n<title>%sさんのなう | Nimbo</title>'
           '</head>\n<body><div id="logo"><a href="http://%s/">Nimboなう</a></div>\n'
           % (name, MICROBLOG_HOST))
    filler = '<p class="entry">きょうはいい天気でした。</p>\n'
    body = top + filler * 20
    body += ('<span class="profile"><a href="http://%s/%s/">プロフィール</a></span>\n'
             % (MICROBLOG_HOST, ident))
    body += filler * 400
    return (body + '</body></html>\n').encode()


class Generator:
    def __init__(self, args):
        self.a = args
        self.rnd = random.Random(args.seed)
        self.out = open(args.out, 'wb', buffering=8 << 20)
        self.out.write(struct.pack('<IHHiIII', 0xa1b2c3d4, 2, 4, 0, 0,
                                   262144, args.linktype))
        self.bytes = 24
        self.ts_us = START_TS * 1_000_000
        self.client_ident = self.rnd.getrandbits(16)
        self.next_port = CLIENT_PORTS[0]
        self.v6 = args.ipv6
        self.client_ip = CLIENT_IP6 if self.v6 else CLIENT_IP
        self.eth = ETH_HDR6 if self.v6 else ETH_HDR
        if self.v6:
            self.servers = [IPV6_PREFIX + bytes((0, k + 1)) + bytes(7) + bytes((h,))
                            for k in range(len(SERVER_NETS)) for h in range(1, 255)]
        else:
            self.servers = [bytes(n + (h,)) for n in SERVER_NETS
                            for h in range(1, 255)]
        self.s = dict(packets=0, connections=0, requests=0, responses=0,
                      c2s_stream_bytes=0, s2c_stream_bytes=0,
                      kinds={}, reordered=0, retransmitted=0,
                      overlap_retransmitted=0, fragmented_datagrams=0,
                      fragments=0, fragments_reversed=0, seq_wrap_conns=0,
                      rst_closes=0, unclosed=0, pages=0, coded={})
        self.encoded = {}
        self._make_pools()

    # ---- content -----------------------------------------------------
    def _text(self, n):
        r, out, size = self.rnd, [], 0
        while size < n:
            w = ' '.join(r.choice(WORDS) for _ in range(r.randint(8, 30)))
            out.append('<p class="c%d">%s.</p>\n' % (r.randint(1, 9), w))
            size += len(out[-1])
        return ''.join(out)

    def _html(self, n):
        title = ' '.join(self.rnd.choice(WORDS) for _ in range(4))
        head = ('<!DOCTYPE html>\n<html lang="en"><head><meta charset="utf-8">'
                '<title>%s</title><link rel="stylesheet" href="/s/site.css">'
                '<script src="/s/app.js"></script></head>\n<body><div id="m">'
                '\n' % title)
        return (head + self._text(n) + '</div></body></html>\n').encode()

    def _make_pools(self):
        r = self.rnd
        # Pages of 32 persons, drawn again and again (with the same content,
        # as a person's page loaded twice).
        self.pages = [microblog_page('user%02d' % i, 'なまえ%02d' % i) for i in range(32)]
        self.small = [self._html(r.randint(200, 4000)) for _ in range(48)]
        self.json = [('{"ok":true,"items":[%s]}' % ','.join(
            '{"id":%d,"name":"%s"}' % (r.getrandbits(20), r.choice(WORDS))
            for _ in range(r.randint(2, 100)))).encode() for _ in range(24)]
        self.large = []                               # 50 KB bodies
        for i in range(16):
            if i % 2:
                b = r.randbytes(51200)              # incompressible
            else:
                b = self._html(52000)[:51200]
            self.large.append((b, 'application/octet-stream' if i % 2
                               else 'text/html'))
        self.dynamic = [self._html(r.randint(2000, 120000)) for _ in range(24)]
        self.gz = {}

    def _encoded(self, body, codings):
        key = (id(body), codings)
        if key not in self.encoded:
            for coding in codings:
                body = encode(coding, body)
            self.encoded[key] = body
        return self.encoded[key]

    def _coded(self, body, extra):
        """A --compressed text body in a coding drawn for it."""
        codings = self.rnd.choice(CODINGS)
        names = ', '.join('deflate' if c == 'deflate-raw' else c for c in codings)
        extra.append('Content-Encoding: ' + names)
        for c in codings:
            self.s['coded'][c] = self.s['coded'].get(c, 0) + 1
        return self._encoded(body, codings)

    def _gzip(self, i):
        if i not in self.gz:
            c = zlib.compressobj(6, zlib.DEFLATED, 31)
            self.gz[i] = c.compress(self.dynamic[i]) + c.flush()
        return self.gz[i]

    def request(self, host, close, minimal=False):
        r = self.rnd
        path = '/' + '/'.join(r.choice(WORDS) for _ in range(r.randint(1, 4)))
        if minimal:
            return ('GET %s HTTP/1.1\r\nHost: %s\r\nUser-Agent: synth/1.0\r\n'
                    'Accept: */*\r\nConnection: close\r\n\r\n'
                    % (path, host)).encode()
        path += r.choice(('', '.html', '.js', '.css', '.png', '.json'))
        if r.random() < 0.4:
            path += '?id=%d&t=%s' % (r.getrandbits(24), r.choice(WORDS))
        post = r.random() < 0.05
        h = ['%s %s HTTP/1.1' % ('POST' if post else 'GET', path),
             'Host: ' + host,
             'User-Agent: Mozilla/5.0 (X11; Linux x86_64) SynthBench/1.0',
             'Accept: text/html,application/xhtml+xml,*/*;q=0.8',
             'Accept-Language: en-US,en;q=0.5',
             'Accept-Encoding: gzip, deflate',
             'Connection: ' + ('close' if close else 'keep-alive')]
        if r.random() < 0.6:
            h.append('Cookie: sid=%032x; pref=%s' % (r.getrandbits(128),
                                                     r.choice(WORDS)))
        body = b''
        if post:
            body = '&'.join('%s=%s' % (r.choice(WORDS), r.choice(WORDS))
                            for _ in range(r.randint(10, 200))).encode()
            h += ['Content-Type: application/x-www-form-urlencoded',
                  'Content-Length: %d' % len(body)]
        return ('\r\n'.join(h) + '\r\n\r\n').encode() + body

    def response(self, close, minimal=False):
        r = self.rnd
        extra, te = [], None
        if minimal:
            kind, status = 'tiny', '200 OK'
            body = b'{"ok":true,"n":%d}' % r.getrandbits(30)
            ctype = 'application/json'
        elif self.a.compressed and r.random() < P_PAGE:
            kind, status = 'page', '200 OK'
            ctype = 'text/html; charset=UTF-8'
            body = self._coded(r.choice(self.pages), extra)
            self.s['pages'] += 1
            if r.random() < 0.5:
                te = 'chunked'
        else:
            x = r.random()
            if x < 0.52:
                kind, status = 'small', '200 OK'
                if r.random() < 0.3:
                    body, ctype = r.choice(self.json), 'application/json'
                else:
                    body, ctype = r.choice(self.small), 'text/html; charset=utf-8'
                if self.a.compressed:
                    body = self._coded(body, extra)
            elif x < 0.57:
                kind, status, body, ctype = 'not_modified', '304 Not Modified', b'', None
            elif x < 0.60:
                kind, status, ctype = 'not_found', '404 Not Found', 'text/html'
                body = b'<html><body><h1>404 Not Found</h1></body></html>\n'
            elif x < 0.85:
                kind, status = 'large_50k', '200 OK'
                body, ctype = r.choice(self.large)
            else:
                kind, status = 'chunked', '200 OK'
                ctype = 'text/html; charset=utf-8'
                i = r.randrange(len(self.dynamic))
                if self.a.compressed:
                    body = self._coded(self.dynamic[i], extra)
                elif r.random() < 0.5:
                    body = self._gzip(i)
                    extra.append('Content-Encoding: gzip')
                else:
                    body = self.dynamic[i]
                te = 'chunked'
        self.s['kinds'][kind] = self.s['kinds'].get(kind, 0) + 1
        h = ['HTTP/1.1 ' + status,
             'Date: ' + email.utils.formatdate(self.ts_us // 1_000_000,
                                               usegmt=True),
             'Server: synth/1.0']
        if ctype:
            h.append('Content-Type: ' + ctype)
        h += extra
        if te:
            h.append('Transfer-Encoding: chunked')
            parts, i = [], 0
            while i < len(body):
                n = min(r.randint(256, 8192), len(body) - i)
                parts.append(b'%x\r\n' % n + body[i:i + n] + b'\r\n')
                i += n
            body = b''.join(parts) + b'0\r\n\r\n'
        elif not status.startswith('304'):
            h.append('Content-Length: %d' % len(body))
        if not minimal and r.random() < 0.3:
            h.append('Set-Cookie: t=%016x; Path=/; HttpOnly' % r.getrandbits(64))
        h.append('Connection: ' + ('close' if close else 'keep-alive'))
        return ('\r\n'.join(h) + '\r\n\r\n').encode(), body

    # ---- packets -----------------------------------------------------
    def ip(self, src, dst, ident, ttl, payload, frag=IP_DF):
        if self.v6:
            return self.ip6(src, dst, ttl, IPPROTO_TCP, payload)
        hdr = struct.pack('!BBHHHBBH4s4s', 0x45, 0, 20 + len(payload), ident,
                          frag, ttl, 6, 0, src, dst)
        if self.a.checksums:
            hdr = hdr[:10] + checksum_field(hdr) + hdr[12:]
        return hdr + payload

    def ip6(self, src, dst, hop_limit, next_header, payload):
        return struct.pack('!IHBB16s16s', 6 << 28, len(payload), next_header,
                           hop_limit, src, dst) + payload

    def fragment6(self, src, dst, ident, hop_limit, off, more, payload):
        header = struct.pack('!BBHI', IPPROTO_TCP, 0, off | (1 if more else 0), ident)
        return self.ip6(src, dst, hop_limit, IPV6_FRAGMENT, header + payload)

    def tcp(self, src, dst, sport, dport, seq, ack, flags, win, payload, opts):
        hdr = struct.pack('!HHIIBBHHH', sport, dport, seq & 0xffffffff,
                          ack & 0xffffffff, (20 + len(opts)) << 2, flags, win,
                          0, 0) + opts
        if self.a.checksums:
            if self.v6:
                pseudo = src + dst + struct.pack('!I3xB', len(hdr) + len(payload), 6)
            else:
                pseudo = src + dst + struct.pack('!HH', 6, len(hdr) + len(payload))
            hdr = hdr[:16] + checksum_field(pseudo, hdr, payload) + hdr[18:]
        return hdr + payload

    def write(self, direction, pkt):
        frame = self.eth[direction] + pkt if self.a.linktype == LINKTYPE_ETHERNET else pkt
        self.ts_us += int(self.rnd.expovariate(1.0 / self.a.gap_us)) + 1
        self.out.write(struct.pack('<IIII', self.ts_us // 1_000_000,
                                   self.ts_us % 1_000_000, len(frame),
                                   len(frame)) + frame)
        self.bytes += 16 + len(frame)
        self.s['packets'] += 1

    # ---- scheduling ---------------------------------------------------
    def run(self):
        rnd, s, a = self.rnd, self.s, self.a
        if a.mode == 'mixed':
            limit = a.target_mb * 1_000_000
            more = lambda: self.bytes < limit
        else:
            more = lambda: s['connections'] < a.connections
        active = []
        while True:
            while len(active) < a.concurrency and more():
                active.append(Conn(self).run())
            if not active:
                break
            i = rnd.randrange(len(active))
            for _ in range(rnd.randint(1, 8)):          # bursts per flow
                try:
                    self.write(*next(active[i]))
                except StopIteration:
                    active[i] = active[-1]
                    active.pop()
                    break
        self.out.close()
        s['file_bytes'] = self.bytes
        s['stream_bytes'] = s['c2s_stream_bytes'] + s['s2c_stream_bytes']
        return s


class Conn:
    """One TCP connection; run() yields (direction, ip_packet) in order."""

    def __init__(self, g):
        self.g, r = g, g.rnd
        g.s['connections'] += 1
        self.cport = g.next_port
        g.next_port = (CLIENT_PORTS[0] if g.next_port + 1 >= CLIENT_PORTS[1]
                       else g.next_port + 1)
        self.sip = r.choice(g.servers)
        self.sport = 80 if r.random() < 0.95 else 8080
        self.host = 'www%d.site%d.test' % (r.randint(1, 3), self.sip[-1])
        self.mixed = g.a.mode == 'mixed'
        self.seq = [r.getrandbits(32), r.getrandbits(32)]   # next seq per dir
        if self.mixed and r.random() < P_WRAP * g.a.anomaly_scale:
            self.seq[1] = 2**32 - r.randrange(1, 100)  # wraps in 1st reply
            g.s['seq_wrap_conns'] += 1
        self.sident = r.getrandbits(16)
        self.sttl = r.choice((50, 52, 55, 57))

    def seg(self, d, flags, payload=b'', seq=None, opts=b''):
        """TCP segment bytes from direction d (0 = client -> server)."""
        g = self.g
        seq = self.seq[d] if seq is None else seq
        ack = self.seq[1 - d] if flags & ACK else 0
        if d == 0:
            return g.tcp(g.client_ip, self.sip, self.cport, self.sport, seq, ack,
                         flags, 502, payload, opts)
        return g.tcp(self.sip, g.client_ip, self.sport, self.cport, seq, ack,
                     flags, 501, payload, opts)

    def datagrams(self, d, tcp, fragment=False):
        g = self.g
        if d == 0:
            g.client_ident = ident = (g.client_ident + 1) & 0xffff
            src, dst, ttl = g.client_ip, self.sip, 64
        else:
            self.sident = ident = (self.sident + 1) & 0xffff
            src, dst, ttl = self.sip, g.client_ip, self.sttl
        if not fragment:
            return [(d, g.ip(src, dst, ident, ttl, tcp))]
        per, out = (FRAG_MTU - (48 if g.v6 else 20)) // 8 * 8, []
        for off in range(0, len(tcp), per):
            if g.v6:
                out.append((d, g.fragment6(src, dst, ident, ttl, off,
                                           off + per < len(tcp), tcp[off:off + per])))
                continue
            more = IP_MF if off + per < len(tcp) else 0
            out.append((d, g.ip(src, dst, ident, ttl, tcp[off:off + per],
                                (off >> 3) | more)))
        g.s['fragmented_datagrams'] += 1
        g.s['fragments'] += len(out)
        if g.rnd.random() < 0.3:
            out.reverse()
            g.s['fragments_reversed'] += 1
        return out

    def ctl(self, d, flags, opts=b''):
        pkts = self.datagrams(d, self.seg(d, flags, opts=opts))
        if flags & (SYN | FIN):
            self.seq[d] = (self.seq[d] + 1) & 0xffffffff
        return pkts

    def send(self, d, data, split_at=0):
        """Yield packets carrying data from d, receiver ACKs, anomalies."""
        g, r = self.g, self.g.rnd
        g.s['c2s_stream_bytes' if d == 0 else 's2c_stream_bytes'] += len(data)
        base, bounds, i = self.seq[d], [], 0
        if 0 < split_at < len(data):                 # headers in own segment
            bounds.append((0, split_at))
            i = split_at
        while i < len(data):
            bounds.append((i, min(i + MSS, len(data))))
            i += MSS
        plan = []            # entries: [direction, tcp bytes, fragment?]
        for k, (lo, hi) in enumerate(bounds):
            last = k == len(bounds) - 1
            self.seq[d] = (base + hi) & 0xffffffff
            plan.append([d, self.seg(d, ACK | (PSH if last else 0), data[lo:hi],
                                     seq=base + lo), False])
            if k % 2 or last:                       # delayed ACK
                plan.append([1 - d, self.seg(1 - d, ACK), False])
        data_idx = [j for j, p in enumerate(plan) if p[0] == d]
        scale = g.a.anomaly_scale if self.mixed and d == 1 else 0.0
        # swap two data segments with no receiver ACK between them, so no
        # ACK ever covers a segment that has not been sent yet
        pairs = [j for j in data_idx[:-1] if plan[j + 1][0] == d]
        if pairs and r.random() < P_REORDER * scale:
            j = r.choice(pairs)
            plan[j], plan[j + 1] = plan[j + 1], plan[j]
            g.s['reordered'] += 1
        if len(data_idx) >= 2 and r.random() < P_RETX * scale:
            k = r.randrange(len(data_idx))
            plan.insert(min(data_idx[k] + r.randint(2, 4), len(plan)),
                        list(plan[data_idx[k]]))
            g.s['retransmitted'] += 1
        if len(bounds) >= 2 and r.random() < P_OVERLAP * scale:
            k = r.randrange(len(bounds) - 1)        # spans bounds k and k+1
            lo = (bounds[k][0] + bounds[k][1]) // 2
            hi = min(lo + MSS, bounds[k + 1][1])
            plan.append([d, self.seg(d, ACK, data[lo:hi], seq=base + lo), False])
            g.s['overlap_retransmitted'] += 1
        if r.random() < P_FRAG * scale:
            big = [j for j, p in enumerate(plan)
                   if p[0] == d and len(p[1]) > FRAG_MTU]
            if big:
                plan[r.choice(big)][2] = True
        for pd, tcp, frag in plan:
            yield from self.datagrams(pd, tcp, frag)

    def trickle(self):
        """A response sent one byte per segment: its header block or its body."""
        g, s, size = self.g, self.g.s, self.g.a.trickle_bytes
        yield from self.send(0, g.request(self.host, True, True))
        s['requests'] += 1
        if g.a.trickle == 'header':
            head = ['HTTP/1.1 200 OK', 'Content-Type: text/html; charset=utf-8']
            n = 0
            while sum(len(h) + 2 for h in head) < size:
                head.append('X-Filler-%d: %s' % (n, 'x' * 60))
                n += 1
            body = b'<html></html>\n'
            head.append('Content-Length: %d' % len(body))
        else:
            body = g._html(size)[:size]
            head = ['HTTP/1.1 200 OK', 'Content-Type: text/html; charset=utf-8',
                    'Content-Length: %d' % len(body)]
        data = ('\r\n'.join(head) + '\r\n\r\n').encode() + body
        s['s2c_stream_bytes'] += len(data)
        for i in range(len(data)):
            yield from self.datagrams(1, self.seg(1, ACK, data[i:i + 1]))
            self.seq[1] = (self.seq[1] + 1) & 0xffffffff
        s['responses'] += 1
        yield from self.ctl(1, FIN | ACK)
        yield from self.ctl(0, FIN | ACK)
        yield from self.ctl(1, ACK)

    def run(self):
        g, r, s = self.g, self.g.rnd, self.g.s
        yield from self.ctl(0, SYN, SYN_OPTS)
        yield from self.ctl(1, SYN | ACK, SYN_OPTS)
        yield from self.ctl(0, ACK)
        if g.a.mode == 'trickle':
            yield from self.trickle()
            return
        ntx = r.choice((1, 1, 1, 2, 2, 3, 4, 6)) if self.mixed else 1
        server_closes = not self.mixed or r.random() < 0.3
        for t in range(ntx):
            close = server_closes and t == ntx - 1
            yield from self.send(0, g.request(self.host, close, not self.mixed))
            s['requests'] += 1
            head, body = g.response(close, not self.mixed)
            split = len(head) if self.mixed and r.random() < 0.3 else 0
            yield from self.send(1, head + body, split)
            s['responses'] += 1
        if self.mixed and r.random() < P_RST * g.a.anomaly_scale:
            s['rst_closes'] += 1
            yield from self.ctl(0, RST | ACK)
        elif not self.mixed and r.random() * 100 < g.a.unclosed_pct:
            s['unclosed'] += 1
        else:
            first = 1 if server_closes else 0
            yield from self.ctl(first, FIN | ACK)
            yield from self.ctl(1 - first, FIN | ACK)
            yield from self.ctl(first, ACK)


def parse_args(argv=None):
    p = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    p.add_argument('-o', '--out', required=True, help='output .pcap')
    p.add_argument('--mode', choices=('mixed', 'many', 'trickle'), default='mixed')
    p.add_argument('--target-mb', type=float, default=300,
                   help='mixed: stop starting connections at this size (1e6 B)')
    p.add_argument('--connections', type=int, default=1_000_000,
                   help='many, trickle: number of connections')
    p.add_argument('--compressed', action='store_true',
                   help='mixed: text bodies in content codings, and microblog pages')
    p.add_argument('--trickle', choices=('header', 'body'), default='header',
                   help='trickle: what is sent one byte per segment')
    p.add_argument('--trickle-bytes', type=int, default=60000,
                   help='trickle: size of the header block or body sent so')
    p.add_argument('--concurrency', type=int, default=0,
                   help='interleaved open connections (default 64 mixed, 200 many)')
    p.add_argument('--unclosed-pct', type=float, default=0.0,
                   help='many: percent of connections never closed')
    p.add_argument('--anomaly-scale', type=float, default=1.0,
                   help='mixed: multiply anomaly probabilities')
    p.add_argument('--gap-us', type=float, default=500.0,
                   help='mean inter-packet gap (exponential), microseconds')
    p.add_argument('--linktype', type=int, choices=(1, 101), default=1)
    p.add_argument('--ipv6', action='store_true',
                   help='carry the traffic over IPv6 instead of IPv4')
    p.add_argument('--no-checksums', dest='checksums', action='store_false')
    p.add_argument('--seed', type=int, default=1)
    a = p.parse_args(argv)
    if not a.concurrency:
        a.concurrency = {'mixed': 64, 'many': 200, 'trickle': 1}[a.mode]
    return a


def main(argv=None):
    a = parse_args(argv)
    s = Generator(a).run()
    with open(a.out + '.json', 'w') as f:
        json.dump(s, f, indent=1, sort_keys=True)
    json.dump(s, sys.stdout, sort_keys=True)
    print()


if __name__ == '__main__':
    main()
