#!/usr/bin/env python3
"""The layer check must fail on each kind of include against the layers, naming file and line."""
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.dirname(HERE)
CHECK = os.path.join(HERE, "check-layers.py")

# (file that gains the include, the include, what the message must name)
CASES = [
    ("src/core/text.cpp", "platform/platform.h", "core may not include"),
    ("src/platform/posix/clock_posix.cpp", "platform/win32/utf.h", "platform/posix may not include"),
    ("src/platform/win32/utf.cpp", "sysinfo/os_info.h", "platform/win32 may not include"),
    ("src/report/secrets.cpp", "mail/mail_text.h", "report may not include"),
    ("src/mail/mail_text.cpp", "dialogs/error_dialog.h", "mail may not include"),
    ("src/collector/dsn.cpp", "mail/mail_text.h", "collector may not include"),
    ("src/mail/mail_text.cpp", "collector/dsn.h", "mail may not include"),
    ("src/dialogs/error_dialog.cpp", "quenvar/err_handler.h", "dialogs may not include"),
    ("src/handler/procedures.cpp", "component/bstr.h", "handler may not include"),
    ("include/quenvar/variant.h", "quenvar/object.h", None),  # same layer: allowed
    ("include/quenvar/object.h", "quenvar/sys_obj.h", "core may not include"),
    ("src/sysinfo/os_info.cpp", "quenvar/no_such.h", "not a known public header"),
]


def run(top):
    return subprocess.run([sys.executable, CHECK, top], capture_output=True, text=True)


def main():
    clean = run(TOP)
    if clean.returncode != 0:
        print(clean.stdout + clean.stderr)
        return 1
    failures = 0
    for path, include, expected in CASES:
        with tempfile.TemporaryDirectory() as tmp:
            for tree in ("src", "include"):
                shutil.copytree(os.path.join(TOP, tree), os.path.join(tmp, tree))
            target = os.path.join(tmp, path)
            with open(target, encoding="utf-8") as f:
                lines = f.readlines()
            lines.insert(2, f'#include "{include}"\n')
            with open(target, "w", encoding="utf-8") as f:
                f.writelines(lines)
            result = run(tmp)
            rel = path.split("/", 1)[1]
            if expected is None:
                ok = result.returncode == 0
            else:
                ok = result.returncode == 1 and f"{rel}:3: " in result.stdout and expected in result.stdout
            if not ok:
                failures += 1
                print(f"FAIL {path} += {include}: rc {result.returncode}\n{result.stdout}")
    print(f"layer check: {len(CASES) - failures} of {len(CASES)} cases as expected")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
