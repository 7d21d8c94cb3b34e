#!/usr/bin/env python3
"""Fails when a source file includes a project header from a layer above it.

Each folder names the folders whose headers it may include (its own always);
the order follows the layers: platform <- toolkit <- comm units <- app.
"""
import pathlib
import re
import sys

ROOT = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".").resolve()

TOOLKIT = ["toolkit/", "platform/winapi.h", "platform/utf8.h", "platform/win32_errno.h", "platform/dcb_flags.h"]
ALLOWED = {
    "platform/": ["platform/"],
    "toolkit/qt/": TOOLKIT + ["platform/program_glue.h"],
    "toolkit/win32/": TOOLKIT,
    "toolkit/": TOOLKIT + ["platform/posix/portwatch.h"],
    "comm/utilities/": TOOLKIT,
    "comm/nrclasses/": TOOLKIT + ["comm/utilities/"],
    "comm/discovery/": TOOLKIT + ["comm/utilities/", "comm/nrclasses/"],
    "comm/nrcomm/": TOOLKIT + ["comm/utilities/", "comm/nrclasses/", "comm/discovery/"],
    "comm/nrcommbox/": TOOLKIT + ["comm/"],
    "tools/spectrosim/": ["tools/spectrosim/", "platform/"],
    "app/": ["app/", "comm/", "toolkit/", "tools/spectrosim/", "platform/winapi.h",
             "platform/program_glue.h", "platform/device_access.h", "platform/win32_errno.h"],
}

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def rules_for(relative):
    for folder in sorted(ALLOWED, key=len, reverse=True):
        if relative.startswith(folder):
            return folder, ALLOWED[folder]
    return None, None


def main():
    faults = []
    for path in sorted(ROOT.rglob("*")):
        if path.suffix not in (".h", ".cpp") or "build" in path.relative_to(ROOT).parts[0]:
            continue
        relative = path.relative_to(ROOT).as_posix()
        folder, allowed = rules_for(relative)
        if folder is None:
            continue
        for number, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
            match = INCLUDE.match(line)
            if not match or "/" not in match.group(1):
                continue
            header = match.group(1)
            if header.startswith(folder) or any(header.startswith(a) for a in allowed):
                continue
            faults.append(f"{relative}:{number}: includes {header} (layer above {folder})")
    print("\n".join(faults) if faults else "layers: every include points down")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
