"""The Python client's pool: query_many() over pools of 1, 2 and 4 bridges,
against a stand-in vendor call that takes 1 ms (the rule "sleep-1").

    python3 bench/client_pool.py BRIDGE [COUNT] [ROUNDS]

The bridge's environment (LMCDLL70_PATH naming the stand-in library, the
private call's opt-in) is this process's. Each round asks COUNT items of
each pool size, started beforehand; the median rates are printed, and for
each size N up to the number of cores whether it gives at least 0.8 N
times one bridge's rate. A miss is printed, not an error: the exit status
is 0 either way.
"""

import os
import statistics
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                "..", "clients", "python"))

import status_bridge_client as sbc  # noqa: E402

SIZES = (1, 2, 4)


def rate(pool, items):
    """Items a second of one query_many() over `pool`; checks every
    answer."""
    started = time.perf_counter()
    outcomes = pool.query_many(items)
    elapsed = time.perf_counter() - started
    if not all(isinstance(o, sbc.VerificationResult) and o.verified
               for o in outcomes):
        sys.exit("a wrong answer from the pool")
    return len(items) / elapsed


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    program = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 2000
    rounds = int(sys.argv[3]) if len(sys.argv) > 3 else 3
    with tempfile.TemporaryDirectory() as folder:
        lmc = os.path.join(folder, "slow.lmc")
        with open(lmc, "w", encoding="ascii") as rules:
            rules.write("sleep-1 *\n")
        items = [(lmc, f"U{n}") for n in range(count)]
        rates = {size: [] for size in SIZES}
        for _ in range(rounds):
            for size in SIZES:
                with sbc.StatusBridgePool(program, size=size) as pool:
                    rates[size].append(rate(pool, items))
    cores = len(os.sched_getaffinity(0)) if hasattr(
        os, "sched_getaffinity") else os.cpu_count() or 1
    one = statistics.median(rates[1])
    print(f"query_many of {count} items, 1 ms a vendor call, {cores} cores, "
          f"median of {rounds} rounds")
    for size in SIZES:
        median = statistics.median(rates[size])
        gain = median / one
        if size == 1:
            verdict = ""
        elif size > cores:
            verdict = "  (more bridges than cores: not judged)"
        else:
            verdict = (f"  {'meets' if gain >= 0.8 * size else 'MISSES'} "
                       f"{0.8 * size:.1f}x")
        print(f"pool of {size}: {median:8.0f} items/s  {gain:4.2f}x one "
              f"bridge{verdict}")


if __name__ == "__main__":
    main()
