#!/usr/bin/env python3
"""A UDP relay for talk measurements: forwards datagrams from a local port to another, dropping a
share of them and swapping some neighbours (a datagram held back and sent after the next one).
Prints its counts on SIGTERM/SIGINT.
  udp-relay.py LISTEN_PORT TARGET_PORT [--drop 0.05] [--swap 0.02] [--seed 1]"""
import argparse, random, select, signal, socket, sys

HOLD_LIMIT_S = 0.03  # a held datagram goes out alone after this long

def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("listen", type=int)
    ap.add_argument("target", type=int)
    ap.add_argument("--drop", type=float, default=0.05)
    ap.add_argument("--swap", type=float, default=0.02)
    ap.add_argument("--seed", type=int, default=1)
    args = ap.parse_args()
    rng = random.Random(args.seed)
    inbound = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    inbound.bind(("127.0.0.1", args.listen))
    outbound = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    target = ("127.0.0.1", args.target)
    counts = {"in": 0, "forwarded": 0, "dropped": 0, "swapped": 0}
    stop = []
    signal.signal(signal.SIGTERM, lambda *_: stop.append(1))
    signal.signal(signal.SIGINT, lambda *_: stop.append(1))
    held = None
    while not stop:
        try:
            ready, _, _ = select.select([inbound], [], [], HOLD_LIMIT_S)
        except InterruptedError:
            continue
        if not ready:
            if held is not None:
                outbound.sendto(held, target); counts["forwarded"] += 1; held = None
            continue
        data = inbound.recv(4096)
        counts["in"] += 1
        if rng.random() < args.drop:
            counts["dropped"] += 1
            continue
        if held is not None:
            outbound.sendto(data, target); outbound.sendto(held, target)
            counts["forwarded"] += 2; counts["swapped"] += 1; held = None
        elif rng.random() < args.swap:
            held = data
        else:
            outbound.sendto(data, target); counts["forwarded"] += 1
    print("relay: " + "  ".join(f"{k} {v}" for k, v in counts.items()), flush=True)

if __name__ == "__main__":
    sys.exit(main())
