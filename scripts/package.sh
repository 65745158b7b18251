#!/usr/bin/env bash
# Builds the program users get (build/win/Korvane.exe, 32-bit) and writes
# the archive handed to them, Korvane-<version>.zip, into dist/ (or into the
# folder given as the first argument). It holds, in this order:
#   Korvane.exe
#   使い方.txt    the user guide (docs/guide-ja.txt) with the version put in,
#                UTF-8 with a byte order mark and CRLF line ends, as every
#                Notepad that runs on the program's systems reads it
#   LICENSE      with CRLF line ends
#   SHA256SUMS   the SHA-256 of the other three, as sha256sum writes it
# The version comes from res/version.h. The archive is the same bytes on
# every run from the same sources: members in a fixed order, stored as they
# are, each with the same time (SOURCE_DATE_EPOCH when set, else the time of
# the last commit), no attributes and no extra fields; names in UTF-8 with
# the archive's UTF-8 flag set where they are not ASCII, so that Explorer,
# 7-Zip and unzip all extract 使い方.txt under its name.
# Needs what scripts/install-deps.sh installs (the 32-bit toolchain, python3).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
out=${1:-$root/dist}

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct 2>/dev/null) || {
        echo "package: not a git checkout; set SOURCE_DATE_EPOCH for the members' time" >&2
        exit 1
    }
fi
export SOURCE_DATE_EPOCH

KORVANE_WINDOWS_BUILDS=i686:win KORVANE_SKIP_NATIVE=1 bash scripts/build.sh --target Korvane
mkdir -p "$out"

python3 - "$root" "$out" <<'EOF'
import hashlib
import os
import re
import sys
import time
import zipfile

root, out = sys.argv[1], sys.argv[2]


def read(relative):
    with open(os.path.join(root, relative), "rb") as f:
        return f.read()


numbers = dict(re.findall(r"^#define KORVANE_VERSION_(MAJOR|MINOR|PATCH) (\d+)$",
                          read("res/version.h").decode("ascii"), re.M))
version = "%s.%s.%s" % (numbers["MAJOR"], numbers["MINOR"], numbers["PATCH"])


def windows_text(text):
    """CRLF line ends; the sources are kept with LF."""
    if "\r" in text:
        sys.exit("package: the text sources must have LF line ends")
    return text.replace("\n", "\r\n")


guide = read("docs/guide-ja.txt").decode("utf-8")
if "@VERSION@" not in guide:
    sys.exit("package: the guide no longer names the version (@VERSION@)")
guide = b"\xef\xbb\xbf" + windows_text(guide.replace("@VERSION@", version)).encode("utf-8")

members = [
    ("Korvane.exe", read("build/win/Korvane.exe")),
    ("使い方.txt", guide),
    ("LICENSE", windows_text(read("LICENSE").decode("ascii")).encode("ascii")),
]
sums = "".join("%s  %s\r\n" % (hashlib.sha256(data).hexdigest(), name) for name, data in members)
members.append(("SHA256SUMS", sums.encode("utf-8")))

# Zip times have two-second steps, no zone, and start in 1980.
stamp = time.gmtime(max(int(os.environ["SOURCE_DATE_EPOCH"]), 315532800))
path = os.path.join(out, "Korvane-%s.zip" % version)
with zipfile.ZipFile(path + ".new", "w", zipfile.ZIP_STORED) as archive:
    for name, data in members:
        info = zipfile.ZipInfo(name, stamp[:6])
        # Made on NTFS: the attributes are Windows ones, no Unix modes. (Made
        # on FAT, 0, would make unzip read the name in the DOS code page
        # whatever the UTF-8 flag says.)
        info.create_system = 11
        info.external_attr = 0x20  # FILE_ATTRIBUTE_ARCHIVE, as Windows writes a new file
        info.compress_type = zipfile.ZIP_STORED
        # zipfile stores a name that is not ASCII in UTF-8 and sets flag 0x800.
        archive.writestr(info, data)
os.replace(path + ".new", path)
print(path)
EOF
