#!/usr/bin/env python3
"""Runs wixl so that the same sources give the same package, byte for byte.

    build-msi.py PACKAGE WIXL [WIXL ARGUMENTS...]

wixl writes three things of its own into every package: a random package code
and the time of the build twice (created, last saved), all in the summary
information; and VarnelKVM.wxs asks for the product code as ProductCode. Here:
- the product code is a hash of the package built with a zero product code:
  a package that differs in anything (a file, the version, a table) gets a
  new one, a rebuild of the same sources the same one;
- the package code is a hash of the package with that product code;
- both dates are SOURCE_DATE_EPOCH (the commit's time in a release) when it is
  set, else the time of the build.
Each value is replaced in place by one of the same length; the package is
read back to check it.
"""
import hashlib
import os
import struct
import subprocess
import sys
import uuid

# The summary information's property set (FMTID_SummaryInformation), and the
# properties replaced: the package code (PID_REVNUMBER, a string) and the two
# dates (PID_CREATE_DTM, PID_LASTSAVE_DTM, FILETIMEs).
SUMMARY_FMTID = uuid.UUID("F29F85E0-4FF9-1068-AB91-08002B27B3D9").bytes_le
PID_REVNUMBER, PID_CREATE_DTM, PID_LASTSAVE_DTM = 9, 12, 13
VT_LPSTR, VT_FILETIME = 30, 64
# Names the codes this script derives, so that they never meet another tool's.
CODE_NAMESPACE = uuid.UUID("5C3E1B7A-2D4F-4E8B-9A61-7F0C8D2E4B19")
ZERO_CODE = "{00000000-0000-0000-0000-000000000000}"


def summary_properties(package):
    """Offsets in the file of the replaced properties' values: {pid: offset}.
    A freshly written package holds the small summary stream in one piece: a
    property set header (byte order FE FF, version 0, one section) with the
    summary's FMTID. The same GUID also stands in programs the package
    carries, without that header."""
    starts, at = [], package.find(SUMMARY_FMTID)
    while at != -1:
        if at >= 28 and package[at - 28:at - 24] == b"\xfe\xff\x00\x00" and package[at - 4:at] == b"\x01\x00\x00\x00":
            starts.append(at)
        at = package.find(SUMMARY_FMTID, at + 1)
    if len(starts) != 1:
        sys.exit("build-msi.py: the package's summary information was not found in one piece")
    at = starts[0]
    section = at - 28 + struct.unpack_from("<I", package, at + 16)[0]
    count = struct.unpack_from("<I", package, section + 4)[0]
    found = {}
    for index in range(count):
        pid, offset = struct.unpack_from("<II", package, section + 8 + 8 * index)
        kind = struct.unpack_from("<I", package, section + offset)[0] & 0xFFFF
        if pid == PID_REVNUMBER and kind == VT_LPSTR and \
                struct.unpack_from("<I", package, section + offset + 4)[0] == len(ZERO_CODE) + 1:
            found[pid] = section + offset + 8
        elif pid in (PID_CREATE_DTM, PID_LASTSAVE_DTM) and kind == VT_FILETIME:
            found[pid] = section + offset + 4
    if len(found) != 3:
        sys.exit("build-msi.py: the package's summary information has no package code or dates as expected")
    return found


def set_summary(package, code, filetime):
    fields = summary_properties(package)
    package[fields[PID_REVNUMBER]:fields[PID_REVNUMBER] + len(code)] = code.encode("ascii")
    for pid in (PID_CREATE_DTM, PID_LASTSAVE_DTM):
        if filetime is not None:
            struct.pack_into("<Q", package, fields[pid], filetime)


def code_of(package, kind):
    """A GUID from the package with its package code zeroed and its dates fixed."""
    normal = bytearray(package)
    set_summary(normal, ZERO_CODE, 0)
    digest = hashlib.sha256(normal).hexdigest()
    return "{%s}" % str(uuid.uuid5(CODE_NAMESPACE, kind + digest)).upper()


def run_wixl(wixl, output, product_code):
    subprocess.run(wixl + ["--output", output, "-D", "ProductCode=" + product_code], check=True)
    with open(output, "rb") as f:
        return bytearray(f.read())


def build(wixl, draft):
    product_code = code_of(run_wixl(wixl, draft, ZERO_CODE), "product:")
    package = run_wixl(wixl, draft, product_code)
    epoch = os.environ.get("SOURCE_DATE_EPOCH")
    filetime = (int(epoch) + 11644473600) * 10**7 if epoch else None
    set_summary(package, code_of(package, "package:"), filetime)
    with open(draft, "wb") as f:
        f.write(package)
    # Read back by msitools: the codes where they belong, the package whole.
    summary = subprocess.run(["msiinfo", "suminfo", draft], check=True, capture_output=True, text=True).stdout
    properties = subprocess.run(["msiinfo", "export", draft, "Property"], check=True,
                                capture_output=True, text=True).stdout
    if code_of(package, "package:") not in summary or "ProductCode\t" + product_code not in properties:
        sys.exit("build-msi.py: the package does not read back with its new codes")


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    output, wixl = sys.argv[1], sys.argv[2:]
    draft = output + ".draft"
    try:
        build(wixl, draft)
        os.replace(draft, output)
    finally:
        if os.path.exists(draft):
            os.remove(draft)


if __name__ == "__main__":
    main()
