#!/usr/bin/env python3
"""Decode the generator's output independently; hold it to its summary.
Run from this directory:  python3 -m unittest -v test_gen_http_pcap
"""
import contextlib, io, json, os, struct, subprocess, sys, tempfile, unittest, zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import gen_http_pcap as gen  # noqa: E402


def generate(path, *args):
    with contextlib.redirect_stdout(io.StringIO()):
        gen.main(['-o', path] + list(args))
    with open(path + '.json') as f:
        return json.load(f)


def read_pcap(path):
    with open(path, 'rb') as f:
        data = f.read()
    magic, linktype = struct.unpack_from('<I16xI', data)
    assert magic == 0xa1b2c3d4
    off, recs = 24, []
    while off < len(data):
        sec, usec, incl, orig = struct.unpack_from('<IIII', data, off)
        assert incl == orig and off + 16 + incl <= len(data)
        recs.append((sec * 10**6 + usec, data[off + 16:off + 16 + incl]))
        off += 16 + incl
    return linktype, recs


def csum_ok(data):                    # big-endian words, unlike the generator
    data += b'\0' * (len(data) % 2)
    s = sum(struct.unpack('!%dH' % (len(data) // 2), data))
    while s >> 16:
        s = (s & 0xffff) + (s >> 16)
    return s == 0xffff


def decode(path):
    """Checks framing, checksums, fragments; returns (stats, connections)."""
    linktype, recs = read_pcap(path)
    frags, conns, by_tuple, last = {}, [], {}, 0
    stats = dict(frag_datagrams=0, frags=0, packets=len(recs))
    for ts, frame in recs:
        assert ts > last
        last, ip = ts, frame[14 if linktype == 1 else 0:]
        if ip[0] >> 4 == 6:
            assert linktype != 1 or frame[12:14] == b'\x86\xdd'
            length, next_header = struct.unpack_from('!HB', ip, 4)
            assert 40 + length == len(ip)
            src, dst, payload = ip[8:24], ip[24:40], ip[40:]
            fragmented = next_header == 44
            if fragmented:
                next_header, _, field, ident = struct.unpack_from('!BBHI', payload)
                offset, more, payload = field & 0xfff8, field & 1, payload[8:]
            assert next_header == 6
            pseudo = lambda n: src + dst + struct.pack('!I3xB', n, 6)
        else:
            assert ip[0] == 0x45 and csum_ok(ip[:20])
            total, ident, frag = struct.unpack_from('!HHH', ip, 2)
            assert total == len(ip)
            src, dst, payload = ip[12:16], ip[16:20], ip[20:]
            fragmented = frag & 0x3fff                  # MF or offset set
            offset, more = (frag & 0x1fff) * 8, frag & 0x2000
            pseudo = lambda n: src + dst + struct.pack('!HH', 6, n)
        if fragmented:
            stats['frags'] += 1
            parts = frags.setdefault((src, dst, ident), {})
            parts[offset] = (payload, more)
            pos, payload = 0, b''
            while pos in parts and parts[pos][1]:
                payload += parts[pos][0]
                pos += len(parts[pos][0])
            if pos not in parts:
                continue
            payload += parts.pop(pos)[0]
            del frags[(src, dst, ident)]
            stats['frag_datagrams'] += 1
        assert csum_ok(pseudo(len(payload)) + payload)
        sp, dp, seq, _, off, flags = struct.unpack_from('!HHIIBB', payload)
        key = (src, sp, dst, dp)
        if flags & gen.SYN and not flags & gen.ACK:
            by_tuple[key] = {'key': key, 'isn': [seq, None], 'segs': ([], []),
                             'flags': ([], [])}
            conns.append(by_tuple[key])
        d = 0 if key in by_tuple else 1
        conn = by_tuple[key] if d == 0 else by_tuple[(dst, dp, src, sp)]
        if flags & gen.SYN and flags & gen.ACK:
            conn['isn'][1] = seq
        conn['flags'][d].append(flags)
        if payload[(off >> 4) * 4:]:
            conn['segs'][d].append(((seq - conn['isn'][d] - 1) % 2**32,
                                    payload[(off >> 4) * 4:]))
    assert not frags, 'incomplete fragment sets'
    return stats, conns


def reassemble(segs):
    """Stream bytes, segments arriving past a gap, exact duplicates."""
    buf, ooo, high = bytearray(), 0, 0
    for rel, data in segs:
        ooo, high = ooo + (rel > high), max(high, rel + len(data))
    for rel, data in sorted(segs, key=lambda s: s[0]):
        assert rel <= len(buf), 'hole in stream'
        assert data.startswith(bytes(buf[rel:rel + len(data)])), 'inconsistent retransmission'
        buf[rel:rel + len(data)] = data
    return bytes(buf), ooo, len(segs) - len(set(segs))


def parse_http(buf):
    msgs, i = [], 0
    while i < len(buf):
        j = buf.index(b'\r\n\r\n', i)
        lines = buf[i:j].decode().split('\r\n')
        hdrs = dict(line.lower().split(': ', 1) for line in lines[1:])
        i, body = j + 4, b''
        if hdrs.get('transfer-encoding') == 'chunked':
            n = -1
            while n:
                e = buf.index(b'\r\n', i)
                n = int(buf[i:e], 16)
                body += buf[e + 2:e + 2 + n]
                assert buf[e + 2 + n:e + 4 + n] == b'\r\n'
                i = e + 4 + n
        elif ' 304 ' not in lines[0]:
            n = int(hdrs.get('content-length', 0))
            body, i = buf[i:i + n], i + n
            assert len(body) == n, 'truncated body'
        msgs.append((lines[0], hdrs, body))
    return msgs


def decode_body(hdrs, body):
    """Undoes the content codings the generator applies."""
    codings = [c.strip() for c in hdrs.get('content-encoding', '').split(',') if c.strip()]
    for coding in reversed(codings):
        if coding == 'gzip':
            body = zlib.decompress(body, 47)
        elif coding == 'deflate':
            zlib_format = body[0] & 0x0f == 8 and (body[0] << 8 | body[1]) % 31 == 0
            body = zlib.decompress(body, 15 if zlib_format else -15)
        else:
            body = subprocess.run([{'br': 'brotli', 'zstd': 'zstd'}[coding], '-d', '-c'],
                                  input=body, stdout=subprocess.PIPE, check=True).stdout
    return body


class MixedCapture(unittest.TestCase):
    ARGS = ()

    @classmethod
    def setUpClass(cls):
        tmp = tempfile.TemporaryDirectory()
        cls.addClassCleanup(tmp.cleanup)
        path = os.path.join(tmp.name, 'm.pcap')
        # anomalies 25x as often, so that every kind shows up in 5 MB
        cls.s = generate(path, '--target-mb', '5', '--anomaly-scale', '25', *cls.ARGS)
        cls.stats, cls.conns = decode(path)

    def test_packets_fragments_and_anomalies_match_summary(self):
        s, st = self.s, self.stats
        self.assertEqual((st['packets'], len(self.conns), st['frag_datagrams'], st['frags']),
                         (s['packets'], s['connections'], s['fragmented_datagrams'], s['fragments']))
        for k in ('reordered', 'retransmitted', 'overlap_retransmitted',
                  'fragments_reversed', 'seq_wrap_conns', 'rst_closes'):
            self.assertGreater(s[k], 0, k)
        ooo = dup = wraps = 0
        for c in self.conns:
            buf, o, d = reassemble(c['segs'][1])
            ooo, dup = ooo + o, dup + d
            wraps += c['isn'][1] + 1 + len(buf) > 2**32
        self.assertEqual((ooo, dup), (s['reordered'], s['retransmitted']))
        self.assertGreaterEqual(wraps, s['seq_wrap_conns'])

    def test_streams_reassemble_to_well_framed_http(self):
        total, responses = [0, 0], 0
        for c in self.conns:
            self.assertEqual((c['flags'][0][0], c['flags'][1][0]), (gen.SYN, gen.SYN | gen.ACK))
            bufs = [reassemble(c['segs'][d])[0] for d in (0, 1)]
            reqs, resps = map(parse_http, bufs)
            self.assertEqual(len(reqs), len(resps))
            total = [total[0] + len(bufs[0]), total[1] + len(bufs[1])]
            responses += len(resps)
            rst = c['flags'][0][-1] & gen.RST
            for status, hdrs, body in resps:
                body = decode_body(hdrs, body)
                if status.endswith('200 OK') and 'html' in hdrs['content-type']:
                    self.assertTrue(body.startswith(b'<!DOCTYPE html>'))
                if hdrs['connection'] == 'close':           # last; server FINs first
                    self.assertIs(hdrs, resps[-1][1])
                    self.assertTrue(rst or c['flags'][1][-2] & gen.FIN)
            if not rst:
                self.assertTrue(all(any(f & gen.FIN for f in c['flags'][d]) for d in (0, 1)))
        self.assertEqual(responses, self.s['responses'])
        self.assertEqual(total, [self.s['c2s_stream_bytes'], self.s['s2c_stream_bytes']])


class MixedCaptureOverIpv6(MixedCapture):
    """The same traffic carried over IPv6, fragments in fragment headers."""
    ARGS = ('--ipv6',)


class CompressedAndTrickle(unittest.TestCase):
    def test_compressed_bodies_decode_to_pages_and_text(self):
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, 'c.pcap')
            s = generate(path, '--target-mb', '2', '--compressed', '--seed', '3')
            _, conns = decode(path)
        pages, coded = 0, {}
        for c in conns:
            for status, hdrs, body in parse_http(reassemble(c['segs'][1])[0]):
                for coding in hdrs.get('content-encoding', '').split(','):
                    if coding.strip():
                        coded[coding.strip()] = coded.get(coding.strip(), 0) + 1
                body = decode_body(hdrs, body)
                if 'プロフィール'.encode() in body:
                    pages += 1
                    self.assertIn(b'charset=UTF-8', body[:2000])
                if 'html' in hdrs.get('content-type', '') and status.endswith('200 OK'):
                    self.assertTrue(body.startswith(b'<!DOCTYPE html>'))
        self.assertGreater(s['pages'], 0)
        self.assertEqual(pages, s['pages'])
        raw = s['coded'].pop('deflate-raw')
        s['coded']['deflate'] += raw
        self.assertEqual(coded, s['coded'])

    def test_trickle_sends_one_byte_per_segment(self):
        for part in ('header', 'body'):
            with tempfile.TemporaryDirectory() as tmp:
                path = os.path.join(tmp, 't.pcap')
                s = generate(path, '--mode', 'trickle', '--connections', '2', '--trickle', part,
                             '--trickle-bytes', '3000')
                _, conns = decode(path)
            for c in conns:
                ((status, hdrs, body),) = parse_http(reassemble(c['segs'][1])[0])
                self.assertTrue(all(len(data) == 1 for _, data in c['segs'][1]))
                self.assertEqual(len(body) >= 3000, part == 'body')
            self.assertGreaterEqual(s['s2c_stream_bytes'], 2 * 3000)


class ManyAndVariants(unittest.TestCase):
    def test_many_short_connections_with_unclosed_share(self):
        with tempfile.TemporaryDirectory() as tmp:
            s = generate(os.path.join(tmp, 'n.pcap'), '--mode', 'many',
                         '--connections', '3000', '--unclosed-pct', '10')
            stats, conns = decode(os.path.join(tmp, 'n.pcap'))
        unclosed = sum(not any(f & gen.FIN for f in c['flags'][0]) for c in conns)
        self.assertEqual((len(conns), unclosed), (3000, s['unclosed']))
        self.assertTrue(150 < unclosed < 450)
        self.assertEqual(stats['packets'], 10 * 3000 - 3 * unclosed)
        for c in conns:
            (req,), (resp,) = (parse_http(reassemble(c['segs'][d])[0]) for d in (0, 1))
            self.assertTrue(req[0].startswith('GET /'))
            self.assertEqual(resp[1]['connection'], 'close')

    def test_deterministic_raw_linktype_and_zero_checksums(self):
        with tempfile.TemporaryDirectory() as tmp:
            p = [os.path.join(tmp, '%d.pcap' % i) for i in range(4)]
            base = ['--mode', 'many', '--connections', '200', '--seed', '7']
            for path, extra in zip(p, ([], [], ['--linktype', '101'], ['--no-checksums'])):
                generate(path, *base, *extra)
            (lt_e, eth), (_, again), (lt_r, raw), (_, zero) = map(read_pcap, p)
        self.assertEqual((lt_e, lt_r, eth), (1, 101, again))
        self.assertEqual([f[14:] for _, f in eth], [f for _, f in raw])
        for (_, a), (_, z) in zip(eth, zero):    # IP and TCP checksum fields only
            self.assertEqual(z[24:26] + z[50:52], b'\0' * 4)
            self.assertEqual(a[:24] + a[26:50] + a[52:], z[:24] + z[26:50] + z[52:])


if __name__ == '__main__':
    unittest.main()
