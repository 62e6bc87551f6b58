#!/usr/bin/env python3
"""Fails when a file of src/ or include/ includes a header of a layer it may not use.

Each folder may include its own headers and those of the layers listed for it. The table is the
one in docs/architecture.md; a change to one is a change to both. The public headers under
include/quenvar/ belong to the layer that implements them.
"""
import os
import re
import sys

ALLOWED = {
    "core": [],
    "platform": ["core"],
    "platform/posix": ["core", "platform"],
    "platform/win32": ["core", "platform"],
    "sysinfo": ["core", "platform"],
    "report": ["core", "platform", "sysinfo"],
    "mail": ["core", "platform", "sysinfo"],
    "collector": ["core", "platform", "sysinfo", "report"],
    "dialogs": ["core", "platform", "sysinfo", "report", "mail"],
    "handler": ["core", "platform", "sysinfo", "report", "mail", "collector", "dialogs"],
    "component": ["core", "platform", "platform/win32", "sysinfo", "report", "mail", "collector",
                  "dialogs", "handler"],
}
PUBLIC = {
    "quenvar/automation_error.h": "core",
    "quenvar/variant.h": "core",
    "quenvar/object.h": "core",
    "quenvar/dynamic_object.h": "core",
    "quenvar/sys_obj.h": "sysinfo",
    "quenvar/mail_settings.h": "mail",
    "quenvar/collector.h": "collector",
    "quenvar/handler_events.h": "handler",
    "quenvar/detail/name_stack.h": "handler",
    "quenvar/detail/param_table.h": "handler",
    "quenvar/err_handler.h": "handler",
}
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')


def layer_of(path):
    """The layer of a header or source named relative to src/ or include/."""
    if path.startswith("quenvar/"):
        return PUBLIC.get(path)
    best = None
    for layer in ALLOWED:
        if path == layer or path.startswith(layer + "/"):
            if best is None or len(layer) > len(best):
                best = layer
    return best


def sources(top):
    for tree in ("src", "include"):
        base = os.path.join(top, tree)
        for root, _, files in os.walk(base):
            for name in sorted(files):
                if name.endswith((".h", ".cpp", ".idl", ".rc.in")):
                    full = os.path.join(root, name)
                    yield full, os.path.relpath(full, base).replace(os.sep, "/")


def check(top):
    faults = []
    for full, rel in sources(top):
        own = layer_of(rel)
        if own is None:
            faults.append(f"{rel}: not in any layer")
            continue
        with open(full, encoding="utf-8", errors="replace") as f:
            for number, line in enumerate(f, 1):
                m = INCLUDE.match(line)
                if not m:
                    continue
                target = m.group(1)
                if "/" not in target:
                    # A bare name is a sibling in the same folder, or a generated file.
                    continue
                theirs = layer_of(target)
                if theirs is None:
                    if target.startswith("quenvar/"):
                        faults.append(f"{rel}:{number}: {target} is not a known public header")
                    # Generated headers (the MIDL output, the version) live in the build tree.
                    continue
                if theirs != own and theirs not in ALLOWED[own]:
                    faults.append(f"{rel}:{number}: {own} may not include {target} ({theirs})")
    return faults


def main():
    top = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    faults = check(top)
    for fault in faults:
        print(fault)
    if faults:
        print(f"{len(faults)} include(s) against the layers", file=sys.stderr)
        return 1
    print("layers: every include of src/ and include/ points down")
    return 0


if __name__ == "__main__":
    sys.exit(main())
