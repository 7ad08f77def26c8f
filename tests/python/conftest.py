"""Shared test data: the files of the data directory (TARVEX_DATA_DIR, else
../shared/data beside the repository) with the checksums callers pass, and
engines opened on them."""

import os
import pathlib

import pytest

import tarvex

DATA_DIR = pathlib.Path(
    os.environ.get("TARVEX_DATA_DIR")
    or pathlib.Path(__file__).resolve().parents[2].parent / "shared" / "data"
)

CHECKSUMS = {
    "de405s.bsp": "cf6891c44de2e58a73fdd2e1e0fc865f517246deed4198774e627684e4aa8e9b",
    "planet_centers_1997_2010.bsp": "e81041b8db10255109726930c6affe2ebc7d952257b445f8521d09ae6c21c3bf",
    "naif0012.tls": "678e32bdb5a744117a467cd9601cd6b373f0e9bc9bbde1371d5eee39600a039b",
    "eop_c04_1962_2022.txt": "02918d2ba8f92b17fffcb6a1b8928d0df550ecab3e483a4b3c12039721e6a99e",
    "eop_20c04_excerpt_1999.txt": "3301c2f61675e5efc1e3be46f27095d81b7d449dbb35f97d115cdf4bec8d33ce",
}


def data_file(name):
    """Path text and checksum of a data file, as a caller passes them."""
    return str(DATA_DIR / name), CHECKSUMS[name]


def open_full_engine():
    """de405s with the planet centers, the leap-second kernel and the EOP table."""
    kernel = data_file("de405s.bsp")
    lsk = data_file("naif0012.tls")
    eop = data_file("eop_c04_1962_2022.txt")
    engine = tarvex.open(*kernel, *lsk, *eop)
    engine.with_additional_kernel_file(*data_file("planet_centers_1997_2010.bsp"))
    return engine


@pytest.fixture(scope="module")
def eph():
    """A tarvexkit Ephemeris over the sample files (de405s with the planet
    centers, the leap-second kernel and the EOP table)."""
    import tarvexkit

    return tarvexkit.open(
        DATA_DIR / "de405s.bsp",
        additional_kernels=[DATA_DIR / "planet_centers_1997_2010.bsp"],
        leap_seconds=DATA_DIR / "naif0012.tls",
        eop=DATA_DIR / "eop_c04_1962_2022.txt",
    )


@pytest.fixture
def bare_engine():
    """The primary kernel alone: no time kernels, no additional kernels."""
    return tarvex.Engine(*data_file("de405s.bsp"))


@pytest.fixture
def engine():
    return open_full_engine()


@pytest.fixture(scope="module")
def shared_engine():
    """A full engine for tests that only query it."""
    return open_full_engine()
