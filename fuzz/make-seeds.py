#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets into fuzz/corpus/<target>/.

Small, meaningful inputs: S-record and Intel HEX lines, files encoded with the
demo line key, headers ending in ALL, settings texts and registry descriptions.
Run again after changing a seed here; the files are committed.
"""
import pathlib
import re
import shutil
import struct

HERE = pathlib.Path(__file__).resolve().parent
ROOT = HERE.parent


def line_key():
    text = (ROOT / "data" / "demo-line-key.hex").read_text()
    digits = re.sub(r"#[^\n]*", "", text)
    digits = re.sub(r"[ \t\r\n,]", "", digits)
    key = bytes.fromhex(digits)
    assert len(key) == 43
    return key


KEY = line_key()


def encode_srec(lines):
    """The producer's encoding of an S-record file: header as is, the S0 line
    becomes VS + encoded rest, every later line encoded in full."""
    out, j, encoding = [], 0, False
    for line in lines:
        if encoding or line.startswith(b"S0"):
            body = line if encoding else line[2:]
            enc = bytes((c + KEY[(j + i) % 43]) % 256 for i, c in enumerate(body))
            j += len(body)
            out.append(enc if encoding else b"VS" + enc)
            encoding = True
        else:
            out.append(line)
    return out


def encode_slave(lines):
    """Slave CPU files: from the S0 line on, only lines holding ':' are encoded."""
    out, j, encoding = [], 0, False
    for line in lines:
        if (encoding or line.startswith(b"S0")) and b":" in line:
            body = line if encoding else line[2:]
            enc = bytes((c + KEY[(j + i) % 43]) % 256 for i, c in enumerate(body))
            j += len(body)
            out.append(enc if encoding else b"VS" + enc)
            encoding = True
        else:
            out.append(line)
    return out


def srec(kind, address, data):
    width = {1: 4, 2: 6, 3: 8}[kind]
    count = len(data) + width // 2 + 1
    body = bytes([count]) + address.to_bytes(width // 2, "big") + data
    check = (~sum(body)) & 0xFF
    return b"S%d%02X%0*X%s%02X" % (kind, count, width, address, data.hex().upper().encode(), check)


def ihex(address, rtype, data):
    body = bytes([len(data)]) + address.to_bytes(2, "big") + bytes([rtype]) + data
    check = (-sum(body)) & 0xFF
    return b":" + body.hex().upper().encode() + b"%02X" % check


HEADER = [b"RQ-7300 MASTER CPU FIRMWARE", b"VERSION  = 1.02", b"RELEASED = 2024-03-05"]
S0 = b"S00F000054455354204649524D57415245D4"
MASTER = [S0, srec(2, 0x000000, bytes(range(16))), srec(2, 0x000010, b"\xAA" * 32),
          srec(1, 0x1234, b"\x01\x02\x03"), srec(3, 0x0003FFF0, b"\x55" * 16),
          b"S5030003F9", b"S804000000FB"]
OPTION = [S0, srec(2, 0x000800, bytes(range(0, 64, 2))), srec(2, 0x01FF80, b"\x5A" * 32),
          b"S9030000FC"]
SLAVE = [ihex(0, 4, b"\x00\x00"), ihex(0, 0, bytes(range(16))), ihex(0x10, 0, b"\xFF" * 16),
         ihex(0, 1, b"")]


def crlf(lines):
    return b"".join(line + b"\r\n" for line in lines)


def lf(lines):
    return b"".join(line + b"\n" for line in lines)


def seeds():
    s = {}
    text = crlf(HEADER + MASTER)
    s["line_reader"] = {
        "srec-crlf": b"\x00" + text,
        "lone-cr-and-1a": b"\x00" + b"ab\rcd\r\n\r\nlast\x1Aignored\nafter",
        "no-final-line-end": b"\x00" + b"S1\nS2\r\nS3",
        # Option 1 + 4k: the input starts k bytes before the reader's chunk ends.
        "crlf-on-chunk-boundary": bytes([1 + 4 * 1]) + b"\r\nnext line\r\n",
        "lf-after-filler-line": bytes([3 + 4 * 2]) + b"\n\r\nx",
        "1a-at-chunk-boundary": bytes([1 + 4 * 3]) + b"ab\x1Acd\n",
        "long-line-across-chunks": bytes([1 + 4 * 40]) + b"S2240000" + b"F" * 80 + b"\r\n",
    }
    s["header_reader"] = {
        "plain-master": text,
        "all-then-s0": crlf(HEADER + [b"ALL"] + OPTION),
        "encoded": crlf(encode_srec(HEADER + MASTER)),
        "intel-hex": crlf(HEADER + SLAVE),
        "no-record-start": crlf(HEADER + [b" S0 not at the start", b"s0 lower case", b":10 other"]),
        "empty": b"",
        "1a-in-header": b"HEADER\r\nMORE\x1AS0\r\n",
    }
    encoded_line = encode_srec([S0, MASTER[1]])
    s["decoder"] = {
        "vs-line": struct.pack("<i", 0) + encoded_line[0],
        "record-line": struct.pack("<i", 28) + encoded_line[1],
        "empty-line": struct.pack("<i", 0),
        "vs-only": struct.pack("<i", 5) + b"VS",
        "index-42": struct.pack("<i", 42) + b"\x10\x20\x30",
        "index-out-of-range": struct.pack("<i", -1000) + b"S1130000",
    }
    # Option byte: bit 0 option unit image, bit 1 encode the rest first.
    s["srec_image"] = {
        "master-plain": b"\x00" + crlf(HEADER + MASTER),
        "master-encode": b"\x02" + crlf(HEADER + MASTER),
        "master-pre-encoded": b"\x00" + crlf(encode_srec(HEADER + MASTER)),
        "option-all": b"\x01" + crlf(HEADER + [b"ALL"] + OPTION),
        "option-encode": b"\x03" + lf(OPTION),
        "outside-image": b"\x01" + crlf([S0, srec(2, 0x01FFF0, b"\x11" * 32)]),
        "lower-case-and-count-3": b"\x00" + crlf([S0, b"S1030000FC", b"s1130000", b"S1051234abcdef"]),
        "bad-hex": b"\x00" + crlf([S0, b"S113000G00"]),
        "short-record": b"\x00" + crlf([S0, b"S21400000001"]),
        "no-s0": b"\x00" + crlf(HEADER + SLAVE),
    }
    long_line = ihex(0, 0, bytes(range(122))) + b"00"
    s["slave_lines"] = {
        "plain": crlf(HEADER + SLAVE),
        "encoded": crlf(encode_slave(HEADER[:1] + [b"S0:SLAVE"] + SLAVE)),
        "header-with-colon": crlf([b"NOTE: a colon", b"no colon here"] + SLAVE),
        "long-line": crlf([long_line]),
        "vs-without-colon": crlf([b"VSskipped"] + SLAVE),
    }
    s["settings"] = {name: value for name, value in [
        ("blank-7", b" 7"), ("dollar-hex", b"$1F"), ("0x-hex", b"0x1F"), ("x-hex", b"x1f"),
        ("negative", b"-3"), ("trailing-letter", b"7a"), ("crlf", b"12\r\n"),
        ("max", b"2147483647"), ("min", b"-2147483648"), ("too-big", b"2147483648"),
        ("empty", b""), ("1a", b"5\x1A9"), ("plus-hex", b"+$7FFFFFFF"), ("tab", b"\t3")]}
    four_ports = b"\n".join([
        b"[HARDWARE\\DEVICEMAP\\SERIALCOMM]",
        b"\\Device\\Serial0=COM1",
        b"\\Device\\USBSER000=COM4",
        b"\\Device\\VCP0=COM12",
        b"\\Device\\Serial1=COM3",
        b"[SYSTEM\\CurrentControlSet\\Enum\\PCI\\VEN_1415&DEV_9501\\4&1234]",
        b"FriendlyName=PCI Serial Port (COM3)",
        b""])
    s["com_ports"] = {
        "four-ports": four_ports,
        "modem-and-lower-case": b"\n".join([
            b"[HARDWARE\\DEVICEMAP\\SERIALCOMM]",
            b"\\Device\\Serial2=COM10", b"\\Device\\Serial3=COM9", b"\\Device\\Serial4=COM2",
            b"\\Device\\Modem0=COM5", b"COM=COM6", b"\\Device\\Serial5=com7",
            b"\\Device\\Serial6#=COM8", b"\\Device\\Serial7!=COM11",
            b"[Enum\\WDM_MODEM\\Modem\\0000]", b"PORTNAME=COM2",
            b"[SYSTEM\\CurrentControlSet\\Enum\\PCI\\DEV\\1]", b"FriendlyName=Card (COM31)", b""]),
        "faults": four_ports + b"@listfails SYSTEM\\CurrentControlSet\\Enum\\PCI\\VEN_1415&DEV_9501\n"
        + b"@exhausting HARDWARE\\DEVICEMAP\\SERIALCOMM|\\Device\\Serial1\n",
        "device-map-fails": four_ports + b"@openfails HARDWARE\\DEVICEMAP\\SERIALCOMM\n",
        "big-numbers": b"[HARDWARE\\DEVICEMAP\\SERIALCOMM]\n\\Device\\Serial0=COM1000\n"
        + b"\\Device\\Serial1=COM999\n\\Device\\Serial2=COM0012\n\\Device\\Serial3=COM99999999999\n",
    }
    return s


def main():
    corpus = HERE / "corpus"
    for target, files in seeds().items():
        folder = corpus / target
        shutil.rmtree(folder, ignore_errors=True)
        folder.mkdir(parents=True)
        for name, data in files.items():
            (folder / name).write_bytes(data)
        print(f"{folder.relative_to(ROOT)}: {len(files)} seeds")


if __name__ == "__main__":
    main()
