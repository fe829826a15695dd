#!/usr/bin/env python3
"""Writes the stand-in stored routines of the option unit.

The real routines are program code for the unit and are not part of the
repository. These stand-ins have the same form and the same total sizes,
length fields and check bytes, so the whole write sequence can be run and
tested: a 4-byte length L (high byte first), L body bytes, and a check byte
that makes the whole block sum to 0 modulo 256. The bodies come from a fixed
pseudo-random sequence; the last body byte is adjusted so that the given
check byte closes the sum.

Usage: make-standins.py [output folder]   (default: this script's folder)
"""
import os
import sys

# name, total size in bytes, check byte
ROUTINES = [
    ("BaseRoutine", 916, 0x5A),
    ("EraseRoutine", 1260, 0xA7),
    ("ProgramRoutine", 1358, 0x04),
]


def pseudo_random_bytes(seed, count):
    """A 32-bit linear congruential sequence; the high byte of each state."""
    state = seed
    out = bytearray()
    for _ in range(count):
        state = (state * 1103515245 + 12345) & 0xFFFFFFFF
        out.append(state >> 24)
    return out


def make_routine(seed, total_size, check_byte):
    body_size = total_size - 5
    block = bytearray(body_size.to_bytes(4, "big"))
    block += pseudo_random_bytes(seed, body_size)
    # Choose the last body byte so that everything before the check byte sums
    # to the two's complement of the check byte.
    wanted = (-check_byte) & 0xFF
    partial = sum(block[:-1]) & 0xFF
    block[-1] = (wanted - partial) & 0xFF
    block.append(check_byte)
    assert len(block) == total_size and sum(block) & 0xFF == 0
    return bytes(block)


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    for seed, (name, size, check) in enumerate(ROUTINES, start=7300):
        path = os.path.join(folder, name + ".bin")
        with open(path, "wb") as f:
            f.write(make_routine(seed, size, check))
        print(f"{path}: {size} bytes")


if __name__ == "__main__":
    main()
