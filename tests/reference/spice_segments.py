"""Raw segment states from CSPICE (through spiceypy), the reference for the
C++ tests of the SPK segment types and inertial frames.

Writes into --out:

- spk_typeNN.bsp: kernels of Types 5, 8, 9, 12, 13, 15, 17, 18 and 20
  written by the NAIF toolkit's own writers (spkw05 ... spkw20), and
  spk_type21.bsp written by this project's small DAF writer below (the
  NAIF toolkit has no Type 21 writer in spiceypy) and read back by CSPICE;
- spk_windows.bsp: Types 8, 9, 12 and 13 with odd and even windows over
  sparse states of a low orbit (a window's choice then shows in metres),
  two segments per body, evaluated at every time tag and at every
  midpoint between tags and 1 ms either side;
- spice_segment_states.txt: "file segment epoch x y z vx vy vz", the state
  of segment `segment` (zero-based, file order) of `file` at `epoch` (TDB
  seconds past J2000) relative to its center in its own frame, as spkpvn
  evaluates it; the segments of allspk_littleendian.bsp and mar022-1.bsp
  (../shared/data) and of the kernels above, at segment ends, at record
  boundaries or time tags, and at random epochs;
- spice_frames.txt: "code m11 m12 ... m33", pxform(frame, J2000) for the
  built-in inertial frames.

Every float is written with repr() so that it reads back exactly.
"""

import argparse
import math
import os
import random
import struct

import numpy as np
import spiceypy as sp

GM_SUN = 1.32712440041939e11
GM_EARTH = 398600.435436
RANDOM_EPOCHS = 24
TAGS_PER_SEGMENT = 12
WINDOWS_KERNEL = "spk_windows.bsp"


def kepler_state(t, gm=GM_SUN, a=4.14e8, e=0.0785, inc=0.185, node=1.40, peri=1.28, m0=0.3):
    """A two-body state (km, km/s) at t seconds from the elements' epoch."""
    n = math.sqrt(gm / a**3)
    m = m0 + n * t
    big_e = m
    for _ in range(30):
        big_e -= (big_e - e * math.sin(big_e) - m) / (1 - e * math.cos(big_e))
    cos_e, sin_e = math.cos(big_e), math.sin(big_e)
    r = a * (1 - e * cos_e)
    x, y = a * (cos_e - e), a * math.sqrt(1 - e * e) * sin_e
    vx, vy = -math.sqrt(gm * a) / r * sin_e, math.sqrt(gm * a * (1 - e * e)) / r * cos_e
    rot = (
        np.array(sp.rotate(-node, 3)) @ np.array(sp.rotate(-inc, 1)) @ np.array(sp.rotate(-peri, 3))
    )
    return np.concatenate([rot @ [x, y, 0.0], rot @ [vx, vy, 0.0]])


def write_toolkit_kernels(out):
    paths = {}
    rng = random.Random(26)
    t0 = 1.0e8

    def opened(name):
        path = os.path.join(out, name)
        if os.path.exists(path):
            os.remove(path)
        paths[name] = path
        return sp.spkopn(path, name, 0)

    n = 150
    step = 10 * 86400.0
    tags = [t0 + i * step for i in range(n)]
    jittered = [t0 + (i + 0.3 * rng.random()) * step for i in range(n)]
    states = np.array([kepler_state(t - t0) for t in tags])
    jittered_states = np.array([kepler_state(t - t0) for t in jittered])

    h = opened("spk_type05.bsp")
    sp.spkw05(h, 2000001, 10, "J2000", tags[0] - 5 * 86400, tags[-1] + 5 * 86400, "type 5", GM_SUN, n, states, tags)
    sp.spkcls(h)

    h = opened("spk_type08.bsp")
    for degree in (7, 6):
        sp.spkw08(h, 2000002, 10, "J2000", tags[0], tags[-1], f"type 8 degree {degree}", degree, n, states, tags[0], step)
    sp.spkcls(h)

    h = opened("spk_type09.bsp")
    for degree in (7, 6):
        sp.spkw09(h, 2000003, 10, "J2000", jittered[0], jittered[-1], f"type 9 degree {degree}", degree, n, jittered_states, jittered)
    sp.spkcls(h)

    h = opened("spk_type12.bsp")
    for degree in (7, 9):
        sp.spkw12(h, 2000004, 10, "J2000", tags[0], tags[-1], f"type 12 degree {degree}", degree, n, states, tags[0], step)
    sp.spkcls(h)

    h = opened("spk_type13.bsp")
    for degree in (7, 9):
        sp.spkw13(h, 2000005, 10, "J2000", jittered[0], jittered[-1], f"type 13 degree {degree}", degree, n, jittered_states, jittered)
    sp.spkcls(h)

    h = opened("spk_type15.bsp")
    pole = np.array([0.1, -0.3, 0.95])
    pole /= np.linalg.norm(pole)
    periapsis = np.cross(pole, [1.0, 0.0, 0.0])
    periapsis /= np.linalg.norm(periapsis)
    body_pole = np.array([0.0, 0.05, 1.0])
    for flag, ecc in ((0.0, 0.12), (1.0, 0.12), (2.0, 0.12), (3.0, 0.12), (0.0, 1.4)):
        sp.spkw15(h, 2000006, 399, "J2000", t0, t0 + 3 * 86400, f"type 15 j2 {flag} e {ecc}", t0 + 600.0,
                  pole, periapsis, 8000.0, ecc, flag, body_pole, GM_EARTH, 1.08263e-3, 6378.137)
    sp.spkcls(h)

    h = opened("spk_type17.bsp")
    a = 7500.0
    elements = [a, 0.012, -0.021, 0.5, 0.11, -0.05, 2.0e-6, math.sqrt(GM_EARTH / a**3), -1.5e-6]
    sp.spkw17(h, 2000007, 399, "J2000", t0, t0 + 5 * 86400, "type 17", t0 + 1000.0, elements, 0.3, 1.2)
    sp.spkcls(h)

    h = opened("spk_type18.bsp")
    acc = [-GM_SUN * s[:3] / np.linalg.norm(s[:3]) ** 3 for s in jittered_states]
    packets0 = [np.concatenate([s[:3], s[3:], s[3:] * 1.0000001, g]) for s, g in zip(jittered_states, acc)]
    packets1 = [s for s in jittered_states]
    sp.spkw18(h, 0, 2000008, 10, "J2000", jittered[0], jittered[-1], "type 18 subtype 0", 7, packets0, jittered)
    sp.spkw18(h, 1, 2000008, 10, "J2000", jittered[0], jittered[-1], "type 18 subtype 1", 7, packets1, jittered)
    sp.spkcls(h)

    h = opened("spk_type20.bsp")
    polydg = 9
    records = 40
    data = []
    for _ in range(records):
        for _component in range(3):
            data += [rng.uniform(-1, 1) * 10.0 ** (-2 - k) for k in range(polydg + 1)]
            data.append(rng.uniform(-3, 3))
    intlen = 8.0
    initjd, initfr = 2451545.0 + 1157, 0.25
    first = ((initjd - 2451545.0) + initfr) * 86400.0
    sp.spkw20(h, 2000009, 10, "J2000", first, first + records * intlen * 86400.0, "type 20", intlen, records,
              polydg, np.array(data), 149597870.7, 86400.0, initjd, initfr)
    sp.spkcls(h)
    paths["spk_type21.bsp"] = write_type21_kernel(os.path.join(out, "spk_type21.bsp"), rng)

    # Windows: 19 states an orbit, so that neighbouring windows differ by
    # metres; equal steps for Types 8 and 12, jittered tags for 9 and 13.
    h = opened(WINDOWS_KERNEL)
    count, step = 41, 300.0
    low_orbit = dict(gm=GM_EARTH, a=7000.0, e=0.05)
    even = [t0 + i * step for i in range(count)]
    uneven = [t0 + (i + 0.45 * rng.random()) * step for i in range(count)]
    for data_type, degrees in ((8, (8, 7)), (9, (8, 7)), (12, (9, 7)), (13, (9, 7))):
        times = even if data_type in (8, 12) else uneven
        states = np.array([kepler_state(t - t0, **low_orbit) for t in times])
        for degree in degrees:
            body = 2000000 + 100 * data_type + degree
            for lo, hi in ((0, count // 2 + 1), (count // 2, count)):
                tags, packets = times[lo:hi], states[lo:hi]
                name = f"type {data_type} degree {degree}"
                if data_type in (8, 12):
                    write = sp.spkw08 if data_type == 8 else sp.spkw12
                    write(h, body, 399, "J2000", tags[0], tags[-1], name, degree, len(tags), packets, tags[0], step)
                else:
                    write = sp.spkw09 if data_type == 9 else sp.spkw13
                    write(h, body, 399, "J2000", tags[0], tags[-1], name, degree, len(tags), packets, tags)
    sp.spkcls(h)
    return paths


def write_type21_kernel(path, rng):
    """One little-endian Type 21 segment of 130 records of 20 terms."""
    max_dim = 20
    count = 130
    span = 2 * 86400.0
    t0 = 2.5e8
    words = []
    finals = []
    for k in range(count):
        final = t0 + (k + 1) * span
        finals.append(final)
        record = [final - 0.4 * span]
        record += [span * (0.2 + 0.15 * j) for j in range(max_dim)]
        ref = kepler_state(final - t0)
        record += [ref[0], ref[3], ref[1], ref[4], ref[2], ref[5]]
        for _component in range(3):
            record += [rng.uniform(-1, 1) * 1e-9 / (j + 1) ** 2 for j in range(max_dim)]
        record += [18.0, 17.0, 16.0, 17.0]
        words += record
    words += finals
    words += [finals[i] for i in range(99, count, 100)]
    words += [float(max_dim), float(count)]

    first_data = 3 * 128 + 1
    end = first_data + len(words) - 1
    file_record = bytearray(1024)
    file_record[0:8] = b"DAF/SPK "
    file_record[8:16] = struct.pack("<ii", 2, 6)
    file_record[16:76] = b"tarvex test writer, Type 21".ljust(60)
    file_record[76:88] = struct.pack("<iii", 2, 2, end + 1)
    file_record[88:96] = b"LTL-IEEE"
    file_record[699:727] = b"FTPSTR:\r:\n:\r\n:\r\x00:\x81:\x10\xce:ENDFTP"
    summary = bytearray(1024)
    summary[0:24] = struct.pack("<ddd", 0.0, 0.0, 1.0)
    summary[24:64] = struct.pack("<ddiiiiii", t0, t0 + count * span, 2000010, 10, 1, 21, first_data, end)
    names = bytearray(b" " * 1024)
    names[0:40] = b"type 21".ljust(40)
    body = struct.pack(f"<{len(words)}d", *words)
    body += bytes(-len(body) % 1024)
    with open(path, "wb") as out:
        out.write(bytes(file_record) + bytes(summary) + bytes(names) + body)
    return path


def record_epochs(handle, summary_doubles, summary_ints):
    """Record boundaries or time tags of a segment, as CSPICE reads its words."""
    begin, end = int(summary_ints[4]), int(summary_ints[5])
    kind = int(summary_ints[3])
    if kind in (2, 3):
        init, intlen, _rsize, n = sp.dafgda(handle, end - 3, end)
        return [init + k * intlen for k in range(int(n) + 1)]
    if kind == 20:
        _ds, _ts, initjd, initfr, intlen, _rsize, n = sp.dafgda(handle, end - 6, end)
        first = ((initjd - 2451545.0) + initfr) * 86400.0
        return [first + k * intlen * 86400.0 for k in range(int(n) + 1)]
    if kind == 8 or kind == 12:
        first, step, _deg, n = sp.dafgda(handle, end - 3, end)
        return [first + k * step for k in range(int(n))]
    if kind in (1, 5, 9, 13, 18, 21):
        trailer = {1: 1, 21: 2, 5: 2, 9: 2, 13: 2, 18: 3}[kind]
        n = int(sp.dafgda(handle, end, end)[0])
        size = {1: 71, 5: 6, 9: 6, 13: 6}.get(kind)
        if kind == 21:
            dim = int(sp.dafgda(handle, end - 1, end - 1)[0])
            size = 4 * dim + 11 if dim < 71 else dim
        if kind == 18:
            size = 12 if sp.dafgda(handle, end - 2, end - 2)[0] == 0 else 6
        start = begin + n * size
        del trailer
        return list(sp.dafgda(handle, start, start + n - 1))
    return []


def segment_states(path, name, rng, lines):
    handle = sp.dafopr(path)
    try:
        sp.dafbfs(handle)
        index = 0
        while sp.daffna():
            descr = sp.dafgs(5)
            doubles, ints = sp.dafus(descr, 2, 6)
            first, last = doubles
            boundaries = [t for t in record_epochs(handle, doubles, ints) if first <= t <= last]
            if name == WINDOWS_KERNEL:
                # Every tag, every midpoint (where an odd window's centre
                # changes) and either side of it.
                middles = [0.5 * (a + b) for a, b in zip(boundaries, boundaries[1:])]
                epochs = boundaries + [m + d for m in middles for d in (-1e-3, 0.0, 1e-3)]
            else:
                if len(boundaries) > TAGS_PER_SEGMENT:
                    boundaries = rng.sample(boundaries, TAGS_PER_SEGMENT)
                epochs = [first, last] + boundaries
                epochs += [first + (last - first) * rng.random() for _ in range(RANDOM_EPOCHS)]
            for et in epochs:
                _frame, state, _center = sp.spkpvn(handle, descr, et)
                fields = [name, str(index), repr(float(et))] + [repr(float(v)) for v in state]
                lines.append(" ".join(fields))
            index += 1
    finally:
        sp.dafcls(handle)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--data", required=True)
    parser.add_argument("--out", required=True)
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    rng = random.Random(2026)

    kernels = {name: os.path.join(args.data, name) for name in ("allspk_littleendian.bsp", "mar022-1.bsp")}
    kernels.update(write_toolkit_kernels(args.out))
    lines = []
    for name, path in kernels.items():
        segment_states(path, name, rng, lines)
    with open(os.path.join(args.out, "spice_segment_states.txt"), "w") as out:
        out.write("\n".join(lines) + "\n")

    frames = []
    for code in range(2, 22):
        name = sp.frmnam(code)
        matrix = np.array(sp.pxform(name, "J2000", 0.0)).ravel()
        frames.append(" ".join([str(code)] + [repr(float(v)) for v in matrix]))
    with open(os.path.join(args.out, "spice_frames.txt"), "w") as out:
        out.write("\n".join(frames) + "\n")


if __name__ == "__main__":
    main()
