#!/usr/bin/env python3
"""Reads the resources of spectrometer.exe (PE .rsrc) and checks the icon and
the version information against what the program prints for --version.
  version_resource.py EXE WINE_RUN WINE_DIR"""
import struct
import subprocess
import sys

exe, wine_run, wine_dir = sys.argv[1:4]
data = open(exe, "rb").read()


def fail(text):
    print("FAIL:", text)
    sys.exit(1)


pe = struct.unpack_from("<I", data, 0x3C)[0]
if data[pe:pe + 4] != b"PE\0\0":
    fail("not a PE file")
sections, optional_size = struct.unpack_from("<H", data, pe + 6)[0], struct.unpack_from("<H", data, pe + 20)[0]
table = pe + 24 + optional_size
rsrc = None
for i in range(sections):
    name, _, virtual, size, raw = struct.unpack_from("<8sIIII", data, table + 40 * i)
    if name.rstrip(b"\0") == b".rsrc":
        rsrc = data[raw:raw + size]
if rsrc is None:
    fail("no .rsrc section")

# The root directory's entries are the resource types.
named, ids = struct.unpack_from("<HH", rsrc, 12)
types = {struct.unpack_from("<I", rsrc, 16 + 8 * i)[0] for i in range(named, named + ids)}
for type_id, what in ((3, "RT_ICON"), (14, "RT_GROUP_ICON"), (16, "RT_VERSION")):
    if type_id not in types:
        fail(f"no {what} resource (types {sorted(types)})")


def string_value(key):
    needle = (key + "\0").encode("utf-16-le")
    at = rsrc.find(needle)
    if at < 0:
        fail(f"no {key}")
    at += len(needle)
    while rsrc[at:at + 2] == b"\0\0":
        at += 2
    end = at
    while rsrc[end:end + 2] != b"\0\0":
        end += 2
    return rsrc[at:end].decode("utf-16-le")


printed = subprocess.run([wine_run, "--dir", wine_dir, exe, "--version"], capture_output=True, text=True,
                         check=True).stdout.strip()
if not printed.startswith("spectrometer "):
    fail(f"--version printed {printed!r}")
version = printed.split()[1]
expected = {
    "FileVersion": version,
    "ProductVersion": version,
    "ProductName": "Spektrometer",
    "CompanyName": "Spektrometer-Team",
    "LegalCopyright": "MIT",
}
for key, value in expected.items():
    if string_value(key) != value:
        fail(f"{key} is {string_value(key)!r}, not {value!r}")
if not string_value("FileDescription"):
    fail("empty FileDescription")

# VS_FIXEDFILEINFO: the numbers of the same version.
at = rsrc.find(struct.pack("<I", 0xFEEF04BD))
if at < 0:
    fail("no VS_FIXEDFILEINFO")
file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<IIII", rsrc, at + 8)
parts = [int(p) for p in version.split(".")] + [0, 0, 0]
numbers = (parts[0] << 16 | parts[1], parts[2] << 16 | parts[3])
if (file_ms, file_ls) != numbers or (product_ms, product_ls) != numbers:
    fail(f"fixed version {file_ms:#x}.{file_ls:#x} / {product_ms:#x}.{product_ls:#x}, not {version}")
print(f"version resource ok: {version}")
