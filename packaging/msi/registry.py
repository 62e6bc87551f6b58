#!/usr/bin/env python3
"""What a registration writes, read from a Wine prefix's registry, as the installer's source.

The package's registry table is not described by hand: the build registers the DLL with regsvr32 in
a scratch prefix and takes what changed, and the tests take what msiexec changed the same way.

  registry.py capture <system.reg before> <system.reg after> <DLL's Windows path>
      The values added or changed, and the ones removed, under the classes and event-log roots,
      one per line: "+" or "-", key, value name ("@" the default), type, data. The DLL's path
      reads [DLL], its folder [DIR].
  registry.py compare <expected capture> <actual capture>
      Exit 1, listing each difference, unless both hold the same entries (keys and value names
      compared as the registry does, without regard to case).
  registry.py wix <capture> <x86|x64>
      The WiX fragment that writes the captured values: component group "Registration" under
      INSTALLDIR, one component per key, [DLL] as the file QuenvarDll, [DIR] as INSTALLDIR.
  registry.py sql <capture>
      The queries (msibuild -q) that mark the expandable values as such in the built package.
"""

import re
import sys
import uuid
from xml.sax.saxutils import quoteattr

# Where a registration or a package of the component could write, less what Windows Installer
# keeps for itself (Installer, Uninstall) and what the system changes on its own (Microsoft, Wine).
ROOTS = ("software\\", "system\\currentcontrolset\\services\\eventlog\\")
EXCLUDED = ("software\\classes\\installer\\", "software\\microsoft\\", "software\\wow6432node\\microsoft\\",
            "software\\wine\\")
# Components of keys both packages write get the same identity, so that the key stays as long as
# one of them is installed.
COMPONENT_NAMESPACE = uuid.UUID("802EC0D1-B095-4DC5-B4B7-7E3D551CDA2E")

ESCAPES = {"\\": "\\", '"': '"', "n": "\n", "r": "\r", "t": "\t", "0": "\0", "a": "\a", "b": "\b",
           "f": "\f", "v": "\v", "e": "\x1b"}


def unescape(text):
    out, i = [], 0
    while i < len(text):
        c = text[i]
        if c != "\\":
            out.append(c)
            i += 1
            continue
        nxt = text[i + 1]
        if nxt == "x":
            digits = re.match(r"[0-9a-fA-F]{1,4}", text[i + 2:]).group(0)
            out.append(chr(int(digits, 16)))
            i += 2 + len(digits)
        else:
            out.append(ESCAPES.get(nxt, nxt))
            i += 2
    return "".join(out)


def split_quoted(line):
    """The quoted string at the start of `line` (unescaped) and the rest after it."""
    assert line[0] == '"'
    i = 1
    while line[i] != '"':
        i += 2 if line[i] == "\\" else 1
    return unescape(line[1:i]), line[i + 1:]


def parse_data(raw):
    """(type, data) of a value as Wine writes it."""
    if raw.startswith('"'):
        return "REG_SZ", split_quoted(raw)[0]
    m = re.match(r"str\((\d+)\):(.*)", raw)
    if m:
        kind = {"2": "REG_EXPAND_SZ", "7": "REG_MULTI_SZ"}.get(m.group(1), "str(%s)" % m.group(1))
        return kind, split_quoted(m.group(2))[0]
    if raw.startswith("dword:"):
        return "REG_DWORD", str(int(raw[6:], 16))
    m = re.match(r"hex(?:\((\w+)\))?:(.*)", raw)
    if m:
        return "hex(%s)" % (m.group(1) or "3"), m.group(2).replace(",", "")
    raise ValueError("unknown value: " + raw)


def read_registry(path):
    """{key: {value name: (type, data)}} of a Wine registry file; a key without values maps to {}."""
    keys, key = {}, None
    with open(path, encoding="utf-8", errors="surrogateescape") as f:
        lines = f.read().split("\n")
    i = 0
    while i < len(lines):
        line = lines[i]
        i += 1
        while line.endswith("\\") and i < len(lines):  # continued hex data
            line = line[:-1] + lines[i].strip()
            i += 1
        if line.startswith("["):
            name = line[1:line.rindex("]")]
            key = unescape(name)
            keys[key] = {}
        elif key is not None and (line.startswith('"') or line.startswith("@=")):
            if line.startswith("@="):
                name, rest = "@", line[1:]
            else:
                name, rest = split_quoted(line)
            keys[key][name] = parse_data(rest[1:])
    return keys


def ours(key):
    k = key.lower() + "\\"
    return k.startswith(ROOTS) and not k.startswith(EXCLUDED)


def normalise(data, dll):
    folder = dll[:dll.rindex("\\") + 1]
    data = re.sub(re.escape(dll), "[DLL]", data, flags=re.I)
    return re.sub(re.escape(folder), "[DIR]", data, flags=re.I)


def entries(keys, dll):
    """The values under our roots, and each empty key that has no subkeys either (Wine's file
    lists a key with subkeys but no values only sometimes)."""
    parents = {k.lower().rsplit("\\", 1)[0] for k in keys}
    out = set()
    for key, values in keys.items():
        if not ours(key):
            continue
        if not values and key.lower() not in parents:
            out.add((key, None, "", ""))
        for name, (kind, data) in values.items():
            out.add((key, name, kind, normalise(data, dll)))
    return out


def capture(before, after, dll):
    old_keys, new_keys = read_registry(before), read_registry(after)
    old, new = entries(old_keys, dll), entries(new_keys, dll)
    # An empty key counts as gone or new only when the key itself is.
    def present(keys):
        out = set()
        for k in keys:
            parts = k.lower().split("\\")
            out.update("\\".join(parts[:i]) for i in range(1, len(parts) + 1))
        return out
    gone = {e for e in old - new if e[1] is not None or e[0].lower() not in present(new_keys)}
    came = {e for e in new - old if e[1] is not None or e[0].lower() not in present(old_keys)}
    for sign, group in (("+", came), ("-", gone)):
        for key, name, kind, data in sorted(group, key=lambda e: (e[0].lower(), e[1] or "")):
            print("\t".join([sign, key, "" if name is None else name, kind, escape_line(data)]))


def escape_line(data):
    return data.replace("\\", "\\\\").replace("\t", "\\t").replace("\n", "\\n").replace("\r", "\\r")


def read_capture(path):
    with open(path, encoding="utf-8") as f:
        rows = [line.rstrip("\n").split("\t") for line in f if line.strip()]
    return [(r[0], r[1], r[2], r[3], unescape(r[4])) for r in rows]


def compare(expected, actual):
    fold = lambda rows: {(s, k.lower(), n.lower(), t, d) for s, k, n, t, d in rows}
    want, got = fold(read_capture(expected)), fold(read_capture(actual))
    for row in sorted(want - got):
        print("missing:    " + " | ".join(row))
    for row in sorted(got - want):
        print("unexpected: " + " | ".join(row))
    if want == got:
        print("%d entries, the same" % len(want))
    return 0 if want == got else 1


def formatted(data):
    """The value as Windows Installer's formatted text: brackets escaped, [DLL] and [DIR] resolved."""
    parts = re.split(r"(\[DLL\]|\[DIR\])", data)
    out = []
    for part in parts:
        if part == "[DLL]":
            out.append("[#QuenvarDll]")
        elif part == "[DIR]":
            out.append("[INSTALLDIR]")
        else:
            out.append(re.sub(r"([\[\]])", r"[\\\1]", part))
    return "".join(out)


# wixl writes an expandable string as a plain one: its "#%" prefix of the registry table is
# written here, as a string of that form.
WIX_TYPES = {"REG_SZ": ("string", ""), "REG_EXPAND_SZ": ("string", "#%"), "REG_DWORD": ("integer", "")}


def wix(path, arch):
    rows = read_capture(path)
    if any(sign != "+" for sign, *_ in rows):
        sys.exit("a registration that removes values cannot be installed by the registry table")
    by_key = {}
    for _, key, name, kind, data in rows:
        by_key.setdefault(key, []).append((name, kind, data))
    win64 = "yes" if arch == "x64" else "no"
    print('<?xml version="1.0" encoding="utf-8"?>')
    print("<!-- Generated by packaging/msi/registry.py from what DllRegisterServer wrote. -->")
    print('<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">')
    print("  <Fragment>")
    print('    <DirectoryRef Id="INSTALLDIR">')
    ids = []
    for key in sorted(by_key, key=str.lower):
        # The registry table names keys as a program of the package's architecture sees them.
        logical = re.sub(r"(?i)^(software\\(classes\\)?)wow6432node\\", r"\1", key)
        identity = uuid.uuid5(COMPONENT_NAMESPACE, key.lower())
        cid = "Registry_" + identity.hex[:16]
        ids.append(cid)
        print('      <Component Id="%s" Guid="%s" Win64="%s">' % (cid, str(identity).upper(), win64))
        for n, (name, kind, data) in enumerate(sorted(by_key[key])):
            if kind not in WIX_TYPES:
                sys.exit("no installer type for %s in %s" % (kind, key))
            if kind == "REG_SZ" and data.startswith("#"):
                sys.exit("a text value beginning with # in %s" % key)
            attrs = ['Root="HKLM"', "Key=" + quoteattr(logical)]
            if name and name != "@":
                attrs.append("Name=" + quoteattr(name))
            wix_type, prefix = WIX_TYPES[kind]
            attrs += ['Type="%s"' % wix_type, "Value=" + quoteattr(prefix + formatted(data))]
            if n == 0:
                attrs.append('KeyPath="yes"')
            print("        <RegistryValue %s/>" % " ".join(attrs))
        print("      </Component>")
    print("    </DirectoryRef>")
    print('    <ComponentGroup Id="Registration">')
    for cid in ids:
        print('      <ComponentRef Id="%s"/>' % cid)
    print("    </ComponentGroup>")
    print("  </Fragment>")
    print("</Wix>")


def sql(path):
    """Queries that give each expandable value its "#%" mark back after wixl escaped it."""
    values = sorted({formatted(data) for sign, _, _, kind, data in read_capture(path) if kind == "REG_EXPAND_SZ"})
    for value in values:
        if "'" in value:
            sys.exit("a quote in an expandable value: " + value)
        print("UPDATE `Registry` SET `Value` = '#%%%s' WHERE `Value` = '##%%%s'" % (value, value))


def main(argv):
    if len(argv) == 5 and argv[1] == "capture":
        capture(argv[2], argv[3], argv[4])
        return 0
    if len(argv) == 4 and argv[1] == "compare":
        return compare(argv[2], argv[3])
    if len(argv) == 3 and argv[1] == "sql":
        sql(argv[2])
        return 0
    if len(argv) == 4 and argv[1] == "wix" and argv[3] in ("x86", "x64"):
        wix(argv[2], argv[3])
        return 0
    sys.stderr.write(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
