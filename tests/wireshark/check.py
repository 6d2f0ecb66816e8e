#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Dissects a capture with tshark and the device protocol's Lua dissector, and checks it.

  check.py LUA CAPTURE --expect FILE   every message, its fields and links, equal to FILE's lines
  check.py LUA CAPTURE --flood N       N random datagrams per port: each named, none taken for a reply
  check.py LUA CAPTURE --sound         only what is always checked
  check.py LUA CAPTURE --dump          print the lines --expect compares

Always: no Lua error and no malformed packet in a single pass (where the first pass's errors show)
nor in two passes (where the links are made), and every datagram on ports 60000/60001 is named.
"""
import argparse
import json
import subprocess
import sys

KINDS = {0: "UnknownRequest", 1: "ScanRequest", 2: "ScanReply", 3: "ConfigReadRequest",
         4: "ConfigRecord", 5: "WriteCommand", 6: "WriteAck", 7: "Unsolicited"}
REQUEST_KINDS = {0, 1, 3, 5}
PORTS = {"60000", "60001"}

# Shown per message, in this order; links become message numbers (#n) so that a fresh capture of
# the same scene compares equal although its frame numbers differ.
VALUE_FIELDS = [
    "korv.device_id", "korv.mac", "korv.code", "korv.cmd.send",
    "korv.cmd.device_ip", "korv.cmd.subnet_mask", "korv.cmd.remote_ip", "korv.cmd.gateway",
    "korv.cmd.port", "korv.cmd.mode", "korv.cmd.baud_code", "korv.cmd.baud", "korv.cmd.commit",
    "korv.rec.length", "korv.rec.mode", "korv.rec.port", "korv.rec.device_ip", "korv.rec.remote_ip",
    "korv.rec.gateway", "korv.rec.subnet_mask", "korv.rec.baud_code", "korv.rec.baud",
    "korv.ack.code",
]
LINK_FIELDS = ["korv.request_in", "korv.response_in"]
EXPERT_FIELDS = [
    "korv.ack.unasked", "korv.rec.short", "korv.rec.long", "korv.rec.guessed", "korv.read.foreign",
    "korv.code.unlisted", "korv.frame.bad", "korv.request.unknown", "korv.scan.short",
    "korv.unsolicited", "korv.no_reply",
]
OTHER_FIELDS = ["frame.number", "korv.kind", "udp.srcport", "udp.dstport", "udp.length", "icmp.type",
                "_ws.expert.message", "_ws.malformed", "_ws.col.Info"]


def dissect(lua, capture, two_pass):
    cmd = ["tshark", "-n", "-X", "lua_script:" + lua, "-r", capture, "-T", "json"]
    if two_pass:
        cmd.append("-2")
    for field in OTHER_FIELDS + VALUE_FIELDS + LINK_FIELDS + EXPERT_FIELDS:
        cmd += ["-e", field]
    run = subprocess.run(cmd, capture_output=True, text=True)
    errors = [line for line in run.stderr.splitlines() if line and not line.startswith("Running as user")]
    if run.returncode != 0 or errors:
        fail(f"tshark ({' '.join(cmd[:6])} ...) exit {run.returncode}:\n" + "\n".join(errors))
    return [p["_source"]["layers"] for p in json.loads(run.stdout or "[]")]


def fail(text):
    print("FAIL: " + text, file=sys.stderr)
    sys.exit(1)


def check_sound(packets, label):
    """No Lua error, nothing malformed, every datagram of the protocol named once."""
    problems = []
    for p in packets:
        n = p["frame.number"][0]
        messages = p.get("_ws.expert.message", [])
        lua_errors = [m for m in messages if "Lua Error" in m]
        if lua_errors:
            problems.append(f"frame {n}: {lua_errors[0]}")
        if "_ws.malformed" in p:
            problems.append(f"frame {n}: malformed")
        # UDP hands no empty payload to a dissector.
        datagrams = [i for i, length in enumerate(p.get("udp.length", [])) if length != "8"
                     and PORTS & {p["udp.srcport"][i], p["udp.dstport"][i]}]
        if len(p.get("korv.kind", [])) != len(datagrams):
            problems.append(f"frame {n}: {len(datagrams)} datagram(s), {len(p.get('korv.kind', []))} named")
    if problems:
        fail(f"{label}: " + "; ".join(problems[:10]) + (" ..." if len(problems) > 10 else ""))


def messages(packets):
    """The datagrams the workstation saw, not those quoted in ICMP errors."""
    return [p for p in packets if "korv.kind" in p and "icmp.type" not in p]


def canonical(msgs):
    index = {m["frame.number"][0]: i for i, m in enumerate(msgs)}
    lines = []
    for i, m in enumerate(msgs):
        words = [f"#{i}", KINDS.get(int(m["korv.kind"][0]), "?" + m["korv.kind"][0])]
        for field in VALUE_FIELDS:
            if field in m:
                words.append(f"{field[5:]}={','.join(m[field])}")
        for field in LINK_FIELDS:
            if field in m:
                targets = [f"#{index[f]}" if f in index else "frame" + f for f in m[field]]
                words.append(f"{field[5:]}={','.join(targets)}")
        words += ["!" + field[5:] for field in EXPERT_FIELDS if field in m]
        lines.append(" ".join(words))
    return lines


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("lua")
    ap.add_argument("capture")
    mode = ap.add_mutually_exclusive_group(required=True)
    mode.add_argument("--expect")
    mode.add_argument("--flood", type=int)
    mode.add_argument("--dump", action="store_true")
    mode.add_argument("--sound", action="store_true")
    args = ap.parse_args()

    single = dissect(args.lua, args.capture, two_pass=False)
    check_sound(single, args.capture + " (one pass)")
    packets = dissect(args.lua, args.capture, two_pass=True)
    check_sound(packets, args.capture + " (two passes)")
    msgs = messages(packets)
    if not msgs:
        fail(f"{args.capture}: no message of the protocol")

    if args.sound:
        print(f"{args.capture}: {len(msgs)} datagrams named, no Lua error")
        return

    if args.dump:
        print("\n".join(canonical(msgs)))
        return

    if args.expect:
        with open(args.expect, encoding="utf-8") as f:
            want = [line.rstrip("\n") for line in f if line.strip() and not line.startswith("//")]
        got = canonical(msgs)
        if got != want:
            import difflib
            diff = difflib.unified_diff(want, got, "expected", "dissected", lineterm="")
            fail(f"{args.capture} differs from {args.expect}:\n" + "\n".join(diff))
        print(f"{args.capture}: {len(got)} messages as expected")
        return

    # Flood: random bytes from an ephemeral port. Towards 60000 only requests; towards 60001 nothing
    # may be taken for a device's reply, since no request was sent and no device sent them.
    per_port = {"60000": 0, "60001": 0}
    wrong = []
    for m in msgs:
        kind = int(m["korv.kind"][0])
        port = m["udp.dstport"][0]
        per_port[port] = per_port.get(port, 0) + 1
        if (port == "60000") != (kind in REQUEST_KINDS) or (port == "60001" and kind != 7):
            wrong.append(f"frame {m['frame.number'][0]} to {port}: {KINDS.get(kind)}")
    if wrong:
        fail(f"{args.capture}: " + "; ".join(wrong[:10]))
    if per_port != {"60000": args.flood, "60001": args.flood}:
        fail(f"{args.capture}: datagrams named per port {per_port}, {args.flood} each sent")
    quoted = sum(1 for p in packets if "korv.kind" in p and "icmp.type" in p)
    print(f"{args.capture}: {len(msgs)} datagrams named ({quoted} more quoted in ICMP errors), no Lua error")


if __name__ == "__main__":
    main()
