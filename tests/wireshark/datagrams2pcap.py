#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Writes the datagrams of a text file as a capture file (raw IPv4, UDP), for the cases no program
of ours sends on purpose: cut-short or overlong replies, codes outside the lists, broken requests.

  datagrams2pcap.py IN.txt OUT.pcap [--cut]

--cut replays the whole file once for each of many lengths, every datagram cut to that length (a
hundred seconds apart, so no wait spans two replays): each message at every length, in the place
where it is read.

Line: SECONDS SRC-IP:PORT DST-IP:PORT BYTES...   ('#' starts a comment). BYTES are hex digits in
groups of any length; XX*N is the byte XX N times; '-' is an empty datagram.
"""
import socket
import struct
import sys


def payload(words):
    data = bytearray()
    for w in words:
        if w == "-":
            continue
        if "*" in w:
            byte, count = w.split("*")
            data += bytes.fromhex(byte) * int(count)
        else:
            data += bytes.fromhex(w)
    return bytes(data)


def endpoint(text):
    ip, port = text.rsplit(":", 1)
    return socket.inet_aton(ip), int(port)


def ipv4_checksum(header):
    total = sum(struct.unpack("!10H", header))
    while total > 0xFFFF:
        total = (total & 0xFFFF) + (total >> 16)
    return ~total & 0xFFFF


def packet(src, dst, data, ident):
    (sip, sport), (dip, dport) = src, dst
    udp = struct.pack("!HHHH", sport, dport, 8 + len(data), 0) + data  # checksum 0: none
    header = struct.pack("!BBHHHBBH4s4s", 0x45, 0, 20 + len(udp), ident, 0, 64, 17, 0, sip, dip)
    header = header[:10] + struct.pack("!H", ipv4_checksum(header)) + header[12:]
    return header + udp


def read(src_path):
    datagrams = []
    with open(src_path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            words = line.split("#", 1)[0].split()
            if not words:
                continue
            try:
                datagrams.append((float(words[0]), endpoint(words[1]), endpoint(words[2]), payload(words[3:])))
            except (ValueError, IndexError) as err:
                sys.exit(f"{src_path}:{number}: {err}")
    return datagrams


def main():
    if len(sys.argv) not in (3, 4) or (len(sys.argv) == 4 and sys.argv[3] != "--cut"):
        sys.exit(__doc__)
    src_path, out_path = sys.argv[1:3]
    datagrams = read(src_path)
    cuts = [None]
    if len(sys.argv) == 4:
        # Every length up to past the longest field of a record, and around the record's speed cut.
        cuts = list(range(0, 65)) + [100, 255, 256, 257]
    out = bytearray(struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, 101))  # LINKTYPE_RAW
    base = 1796700000  # a fixed date keeps the file byte for byte the same
    ident = 0
    for replay, cut in enumerate(cuts):
        for seconds, src, dst, data in datagrams:
            ident = (ident + 1) & 0xFFFF
            pkt = packet(src, dst, data[:cut], ident)
            usec = round((seconds + 100 * replay) * 1e6)
            out += struct.pack("<IIII", base + usec // 1000000, usec % 1000000, len(pkt), len(pkt)) + pkt
    with open(out_path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
