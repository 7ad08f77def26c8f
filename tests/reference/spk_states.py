"""Barycentric states from jplephem, the reference for the C++ SPK tests.

Writes spk_states.txt: one line per (NAIF code, epoch) with the epoch in TDB
seconds past J2000 and the state summed over the code's center chain in
km and km/s, every float as repr() so that it reads back exactly.

Epochs are whole multiples of 1/1024 day, so that jplephem receives the
same instant exactly (tdb = 2451545.0, tdb2 = days) as the C++ side does
in seconds.
"""

import argparse
import os

from jplephem.spk import SPK

CODES = [10, 301, 399, 199, 299, 499, 3, 5, 6, 7, 8, 9]
KERNEL = "de405s.bsp"
EPOCH_COUNT = 320


def epochs_in_days(first_day, last_day):
    # A fixed linear congruential sequence spreads the fractions of a day
    # over the span without a random seed to keep track of.
    state = 12345
    span = (last_day - first_day) * 1024
    days = []
    for i in range(EPOCH_COUNT):
        state = (1103515245 * state + 12345) % 2**31
        step = span * i // EPOCH_COUNT + state % 1024
        days.append((first_day * 1024 + min(step, span)) / 1024)
    return days


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--data", required=True)
    parser.add_argument("--out", required=True)
    args = parser.parse_args()

    kernel = SPK.open(os.path.join(args.data, KERNEL))
    try:
        links = {segment.target: segment for segment in kernel.segments}
        # 1997-01-02 to 2009-12-30, inside the kernel's coverage.
        days = epochs_in_days(-1094, 3650)
        lines = []
        for code in CODES:
            for day in days:
                position = [0.0, 0.0, 0.0]
                velocity = [0.0, 0.0, 0.0]
                target = code
                while target != 0:
                    segment = links[target]
                    p, v = segment.compute_and_differentiate(2451545.0, day)
                    for i in range(3):
                        position[i] += float(p[i])
                        velocity[i] += float(v[i]) / 86400.0
                    target = segment.center
                values = [repr(day * 86400.0)] + [repr(x) for x in position + velocity]
                lines.append(f"{code} " + " ".join(values))
    finally:
        kernel.close()

    os.makedirs(args.out, exist_ok=True)
    with open(os.path.join(args.out, "spk_states.txt"), "w") as out:
        out.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
