#!/usr/bin/env python3
"""The archive handed to users, as scripts/package.sh writes it: the same
bytes from two runs, exactly its four members, the program the build made
with the version of res/version.h in its version resource, a guide that
Notepad reads and that names every status message the program can show, and
checksums that match.

usage: check_package.py SOURCE_DIR PROGRAM
  PROGRAM is the Korvane.exe the build made (build/win).
"""
import hashlib
import os
import re
import struct
import subprocess
import sys
import tempfile
import zipfile

MEMBERS = ["Korvane.exe", "使い方.txt", "LICENSE", "SHA256SUMS"]
failures = []


def check(ok, message):
    if not ok:
        failures.append(message)
    return ok


def read(path):
    with open(path, "rb") as f:
        return f.read()


# ---- The version resource, read from the PE file's bytes ----

def resource_data(exe, type_id, name_id):
    """{language: bytes} of one resource, found through the resource
    directory of the PE file."""
    pe = struct.unpack_from("<I", exe, 0x3C)[0]
    assert exe[pe:pe + 4] == b"PE\0\0", "not a PE file"
    sections, optional_size = struct.unpack_from("<H12xH", exe, pe + 6)
    optional = pe + 24
    magic = struct.unpack_from("<H", exe, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    rsrc_rva = struct.unpack_from("<I", exe, directories + 2 * 8)[0]
    table = optional + optional_size
    spans = [struct.unpack_from("<12xIII", exe, table + 40 * i) for i in range(sections)]

    def offset(rva):
        for address, raw_size, raw_at in spans:
            if address <= rva < address + raw_size:
                return raw_at + rva - address
        raise ValueError("address 0x%x is in no section" % rva)

    base = offset(rsrc_rva)

    def entries(directory):
        named, ids = struct.unpack_from("<12xHH", exe, base + directory)
        for i in range(named + ids):
            key, target = struct.unpack_from("<II", exe, base + directory + 16 + 8 * i)
            yield key, target

    def subdirectory(directory, wanted):
        for key, target in entries(directory):
            if key == wanted and target & 0x80000000:
                return target & 0x7FFFFFFF
        return None

    names = subdirectory(0, type_id)
    languages = None if names is None else subdirectory(names, name_id)
    found = {}
    for language, target in ([] if languages is None else entries(languages)):
        rva, size = struct.unpack_from("<II", exe, base + target)
        found[language] = exe[offset(rva):offset(rva) + size]
    return found


def version_nodes(data, at=0):
    """One node of a VS_VERSIONINFO tree: (key, value, children, length)."""
    length, value_length, is_text = struct.unpack_from("<HHH", data, at)
    assert 6 <= length <= len(data) - at, "node length out of bounds"
    key_end = at + 6
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = data[at + 6:key_end].decode("utf-16-le")
    pos = (key_end + 2 + 3) & ~3
    value_bytes = value_length * 2 if is_text else value_length
    value = data[pos:pos + value_bytes]
    if is_text:
        value = value.decode("utf-16-le").rstrip("\0")
    pos = (pos + value_bytes + 3) & ~3
    children = []
    while pos < at + length:
        child = version_nodes(data, pos)
        children.append(child)
        pos = (pos + child[3] + 3) & ~3
    return key, value, children, length


def check_version_resource(exe, version, numbers):
    found = resource_data(exe, 16, 1)  # RT_VERSION, VS_VERSION_INFO
    if not check(list(found) == [0x0411], "one version resource, Japanese: %s" % list(found)):
        return
    key, fixed, children, _ = version_nodes(found[0x0411])
    check(key == "VS_VERSION_INFO", "root key %r" % key)
    signature, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<6I", fixed)
    check(signature == 0xFEEF04BD, "fixed file info signature 0x%x" % signature)
    packed = (numbers[0] << 16 | numbers[1], numbers[2] << 16)
    check((file_ms, file_ls) == packed, "fixed file version %x.%x" % (file_ms, file_ls))
    check((product_ms, product_ls) == packed, "fixed product version")
    blocks = {child[0]: child for child in children}
    tables = blocks.get("StringFileInfo", (None, None, [], 0))[2]
    check([t[0] for t in tables] == ["041104B0"], "string tables %r" % [t[0] for t in tables])
    strings = {s[0]: s[1] for t in tables for s in t[2]}
    expected = {"FileVersion": version, "ProductVersion": version, "ProductName": "Korvane",
                "OriginalFilename": "Korvane.exe"}
    for name, want in expected.items():
        check(strings.get(name) == want, "%s is %r, not %r" % (name, strings.get(name), want))
    check(any(ord(c) >= 0x3000 for c in strings.get("FileDescription", "")),
          "FileDescription in Japanese: %r" % strings.get("FileDescription"))
    check(strings.get("LegalCopyright", "").startswith("Copyright"), "LegalCopyright")
    translations = [v[1] for v in blocks.get("VarFileInfo", (None, None, [], 0))[2]]
    check(translations == [struct.pack("<HH", 0x0411, 1200)],
          "Translation names Japanese, UTF-16: %r" % translations)


# ---- The status messages the program holds ----

def status_messages(exe):
    """The messages of the status table as the program shows them: every
    UTF-16 string in the program that begins with the suffix lead "\\n > "."""
    lead = "\n > ".encode("utf-16-le")
    messages = []
    at = exe.find(lead)
    while at >= 0:
        end = at
        while exe[end:end + 2] != b"\0\0":
            end += 2
        messages.append(exe[at + len(lead):end].decode("utf-16-le"))
        at = exe.find(lead, end)
    return messages


def main():
    source, program = sys.argv[1], sys.argv[2]
    header = read(os.path.join(source, "res/version.h")).decode("ascii")
    numbers = dict(re.findall(r"^#define KORVANE_VERSION_(MAJOR|MINOR|PATCH) (\d+)$", header, re.M))
    numbers = [int(numbers[k]) for k in ("MAJOR", "MINOR", "PATCH")]
    version = "%d.%d.%d" % tuple(numbers)
    count = int(re.search(r"^#define CONVERT_STATUS_COUNT (\d+)$",
                          read(os.path.join(source, "core/convert_status.h")).decode("ascii"),
                          re.M).group(1))

    with tempfile.TemporaryDirectory(prefix="korvane-package.") as work:
        zips = []
        for run in ("first", "second"):
            out = os.path.join(work, run)
            subprocess.run(["bash", os.path.join(source, "scripts/package.sh"), out], check=True,
                           stdout=subprocess.DEVNULL)
            check(os.listdir(out) == ["Korvane-%s.zip" % version],
                  "%s run wrote %s" % (run, os.listdir(out)))
            zips.append(read(os.path.join(out, "Korvane-%s.zip" % version)))
        check(zips[0] == zips[1], "two runs wrote different archives")
        path = os.path.join(work, "first", "Korvane-%s.zip" % version)

        with zipfile.ZipFile(path) as archive:
            infos = archive.infolist()
            check([i.filename for i in infos] == MEMBERS,
                  "members %r" % [i.filename for i in infos])
            data = {i.filename: archive.read(i) for i in infos}
            for info in infos:
                ascii_name = info.filename.isascii()
                check(bool(info.flag_bits & 0x800) != ascii_name,
                      "%s: UTF-8 flag %s" % (info.filename, bool(info.flag_bits & 0x800)))
                check(info.extra == b"" and info.external_attr == 0x20,
                      "%s: extra fields or attributes" % info.filename)
            check(len({i.date_time for i in infos}) == 1, "members of different times")

        # unzip keeps the name as it is stored.
        extracted = os.path.join(work, "extracted")
        subprocess.run(["unzip", "-q", path, "-d", extracted], check=True)
        check(sorted(os.listdir(extracted)) == sorted(MEMBERS),
              "unzip extracted %r" % os.listdir(extracted))

    exe = data.get("Korvane.exe", b"")
    check(exe == read(program), "the archive's Korvane.exe is not the one the build made")
    try:
        check_version_resource(exe, version, numbers)
    except (AssertionError, ValueError, struct.error, UnicodeDecodeError) as e:
        check(False, "version resource does not parse: %s" % e)

    # The manifest names the program's assembly with a version of its own;
    # it must not fall behind the one in version.h.
    manifest = read(os.path.join(source, "res/korvane.manifest")).decode("utf-8")
    identity = re.search(r'<assemblyIdentity[^>]*\bversion="([^"]*)"', manifest)
    check(identity is not None and identity.group(1) == version + ".0",
          "the manifest's assembly version is not %s.0" % version)

    guide_bytes = data.get("使い方.txt", b"")
    check(guide_bytes.startswith(b"\xef\xbb\xbf"), "guide lacks the byte order mark")
    try:
        guide = guide_bytes[3:].decode("utf-8")
    except UnicodeDecodeError as e:
        check(False, "guide is not UTF-8: %s" % e)
        guide = ""
    check(guide.endswith("\r\n") and guide.count("\n") == guide.count("\r\n")
          and guide.count("\r") == guide.count("\r\n"), "guide line ends are not all CRLF")
    check("Korvane %s" % version in guide, "guide does not name version %s" % version)
    messages = status_messages(exe)
    check(len(set(messages)) == count,
          "found %d status messages in the program, not %d" % (len(set(messages)), count))
    for message in messages:
        check(message and message in guide, "guide does not name %r" % message)

    license_text = read(os.path.join(source, "LICENSE")).decode("ascii")
    check(data.get("LICENSE") == license_text.replace("\n", "\r\n").encode("ascii"),
          "LICENSE is not the project's, with CRLF")
    sums = data.get("SHA256SUMS", b"").decode("utf-8")
    want = "".join("%s  %s\r\n" % (hashlib.sha256(data.get(name, b"")).hexdigest(), name)
                   for name in MEMBERS[:3])
    check(sums == want, "SHA256SUMS:\n%s" % sums)

    if failures:
        print("\n".join("FAILED: " + f for f in failures))
        return 1
    print("archive Korvane-%s.zip, SHA-256 %s" % (version, hashlib.sha256(zips[0]).hexdigest()))
    return 0


if __name__ == "__main__":
    sys.exit(main())
