"""The Python client: one batch through query_many() against as many single
query() calls, in the same run, on the same kind of bridge.

    python3 bench/client_batch.py BRIDGE [COUNT] [ROUNDS]

The bridge's environment (LMCDLL70_PATH, the private call's opt-in) is this
process's. Each round times COUNT query() calls on one bridge, then one
query_many() of the same COUNT items on one bridge and on a pool of two; the
rounds alternate their order, and the medians are printed. Every answer is
checked. The last line is "ratio R": the batch's rate over query()'s.
"""

import os
import statistics
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                "..", "clients", "python"))

import status_bridge_client as sbc  # noqa: E402


def items(count):
    """Typical requests: the lengths and block types of bench/run.sh's."""
    projects = ["soc_top", "pcie_gen4", "ddr5_phy", "usb3_ss", "mcu_core"]
    blocks = ["U_PLL_CORE", "u_ddr_phy_ctrl", "U_SERDES_LANE",
              "u_sram_2kx32", "U_BANDGAP_REF", "u_io_pad_gpio"]
    types = ["RUL", "RUL", "RULP", "LP", None, 2]
    result = []
    for n in range(count):
        lmc = f"D:\\designs\\{projects[n % 5]}\\lib\\analog_ip.lmc"
        name = f"{blocks[n % 6]}_{n % 100:02d}"
        block_type = types[(n // 7) % 6]
        result.append((lmc, name) if block_type is None
                      else (lmc, name, block_type))
    return result


def expected(item):
    """The null vendor library answers READY for RUL alone."""
    return "READY" if len(item) == 3 and item[2] == "RUL" else "PENDING"


def check(outcomes, batch):
    statuses = [getattr(outcome, "status", outcome) for outcome in outcomes]
    if statuses != [expected(item) for item in batch]:
        sys.exit("client_batch.py: wrong answers")


def single(program, batch):
    with sbc.StatusBridge(program, timeout=60) as bridge:
        started = time.perf_counter()
        outcomes = [bridge.query(*item) for item in batch]
        took = time.perf_counter() - started
    check(outcomes, batch)
    return took


def many(program, batch, size=None):
    client = (sbc.StatusBridge(program, timeout=60) if size is None
              else sbc.StatusBridgePool(program, size=size, timeout=60))
    with client:
        started = time.perf_counter()
        outcomes = client.query_many(batch)
        took = time.perf_counter() - started
    check(outcomes, batch)
    return took


def main():
    program = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 20000
    rounds = int(sys.argv[3]) if len(sys.argv) > 3 else 3
    batch = items(count)
    runs = {"query()": [], "query_many()": [], "query_many(), pool of 2": []}
    for number in range(rounds):
        order = list(runs)
        if number % 2:
            order.reverse()
        for name in order:
            if name == "query()":
                runs[name].append(single(program, batch))
            else:
                runs[name].append(many(program, batch, 2 if "pool" in name
                                       else None))
    medians = {name: statistics.median(times) for name, times in runs.items()}
    for name, took in medians.items():
        print(f"  {name:24} {took:7.3f} s {count / took:9,.0f} answers/s "
              f"{took / count * 1e6:6.1f} us an item")
    print(f"ratio {medians['query()'] / medians['query_many()']:.2f}")


if __name__ == "__main__":
    main()
