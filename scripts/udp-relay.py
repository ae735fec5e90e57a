#!/usr/bin/env python3
"""A UDP relay for talk measurements: forwards datagrams from a local port to another, dropping a
share of them and swapping some neighbours (a datagram held back and sent after the next one),
or delaying each by a random time (which reorders them as it happens). Prints its counts on
SIGTERM/SIGINT.
  udp-relay.py LISTEN_PORT TARGET_PORT [--drop 0.05] [--swap 0.02] [--delay-max 0.04] [--seed 1]"""
import argparse, heapq, random, select, signal, socket, sys, time

HOLD_LIMIT_S = 0.03  # a held datagram goes out alone after this long

def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("listen", type=int)
    ap.add_argument("target", type=int)
    ap.add_argument("--drop", type=float, default=0.05)
    ap.add_argument("--swap", type=float, default=0.02)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--delay-max", type=float, default=0.0,
                    help="delay each datagram by a uniform 0..DELAY_MAX seconds (no swaps then)")
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
    if args.delay_max > 0:
        return delayed(args, rng, inbound, outbound, target, counts, stop)
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

def delayed(args, rng, inbound, outbound, target, counts, stop):
    """Each datagram leaves at its arrival plus a uniform 0..delay_max; a heap orders the exits."""
    due = []  # (time, order, data)
    order = 0
    while not stop:
        now = time.monotonic()
        while due and due[0][0] <= now:
            outbound.sendto(heapq.heappop(due)[2], target); counts["forwarded"] += 1
        timeout = max(0.0, min(HOLD_LIMIT_S, due[0][0] - now)) if due else HOLD_LIMIT_S
        try:
            ready, _, _ = select.select([inbound], [], [], timeout)
        except InterruptedError:
            continue
        if not ready:
            continue
        data = inbound.recv(4096)
        counts["in"] += 1
        if rng.random() < args.drop:
            counts["dropped"] += 1
            continue
        heapq.heappush(due, (time.monotonic() + rng.uniform(0, args.delay_max), order, data))
        order += 1
    print("relay: " + "  ".join(f"{k} {v}" for k, v in counts.items()), flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
