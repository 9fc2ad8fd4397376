#!/usr/bin/env python3
"""Builds Quarnel's Windows Installer package (Quarnel.wxs) with msitools' wixl.

Usage: make_msi.py OUTPUT VERSION DLL ACTIONS README REGISTRY

VERSION is the project's (1.1.0.0); DLL, ACTIONS (the package's custom
actions) and README the files it carries; REGISTRY the include the build
prints from Quarnel.dll's registration table. The defines of
../for_everyone.nsh, which the setup program includes too, are passed to wixl
as they are, with the setup program's folders named as the package names
them. The product code follows from the version: the same version is the same
product, and a newer one upgrades it.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import uuid
import xml.etree.ElementTree as ElementTree

HERE = os.path.dirname(os.path.abspath(__file__))
# The installed folder, as the package formats it: fixed, since registration
# names it (the type library's help folder has no backslash at its end).
FOLDER = "[ProgramFilesFolder]Quarnel"
# The setup program's variables, as the package names them (Prepare, in
# actions.c, sets the system folder as the setup program's $SYSDIR is).
VARIABLES = {"$SYSDIR": "[QUARNEL_SYSTEM_DIR]", "$INSTDIR": FOLDER}
# What a custom action's Execute adds to its type (msidbCustomActionTypeInScript
# and its Rollback or Commit bit) where wixl takes only "deferred".
SCRIPT_TYPES = {"rollback": 0x400 | 0x100, "commit": 0x400 | 0x200}


def mark_script_actions(msi, wxs):
    """Gives each custom action of `wxs` whose Execute wixl ignores its type in
    `msi`'s CustomAction table, and fails where the table lacks one."""
    namespace = "{http://schemas.microsoft.com/wix/2006/wi}"
    wanted = {action.get("Id"): SCRIPT_TYPES[action.get("Execute")]
              for action in ElementTree.parse(wxs).iter(namespace + "CustomAction")
              if action.get("Execute") in SCRIPT_TYPES}
    if not wanted:
        return
    lines = subprocess.run(["msiinfo", "export", msi, "CustomAction"], check=True, capture_output=True,
                           text=True).stdout.replace("\r", "").split("\n")
    types = {row[0]: int(row[1]) for row in (line.split("\t") for line in lines[3:] if line)}
    queries = []
    for action, bits in sorted(wanted.items()):
        if action not in types:
            sys.exit(f"make_msi: no custom action {action} in the package")
        queries.append(f"UPDATE `CustomAction` SET `Type` = {types[action] | bits} WHERE `Action` = '{action}'")
    subprocess.run(["msibuild", msi] + [argument for query in queries for argument in ("-q", query)], check=True)


def shared_defines(path):
    defines = {}
    for line in open(path, encoding="utf-8"):
        match = re.match(r'\s*!define\s+(\w+)\s+(["\'`])(.*)\2\s*$', line)
        if not match:
            if line.strip() and not line.lstrip().startswith(";"):
                sys.exit(f"make_msi: not a define of one line: {line.strip()}")
            continue
        value = re.sub(r"\$\{(\w+)\}", lambda m: defines[m.group(1)], match.group(3))
        for variable, text in VARIABLES.items():
            value = value.replace(variable, text)
        if "$" in value:
            sys.exit(f"make_msi: {match.group(1)} names what the package does not know: {value}")
        defines[match.group(1)] = value
    return defines


def main():
    if len(sys.argv) != 7:
        sys.exit(__doc__)
    output, version, dll, actions, readme, registry = sys.argv[1:]
    defines = shared_defines(os.path.join(HERE, "..", "for_everyone.nsh"))
    major, minor = version.split(".")[:2]
    defines.update({
        "Version": version,
        # As the version record gives it: major, a dot, the minor in two digits.
        "VersionText": f"{major}.{int(minor):02d}",
        "ProductCode": "{%s}" % str(uuid.uuid5(uuid.UUID(defines["MSI_UPGRADE_CODE"]), version)).upper(),
        "QuarnelFolder": FOLDER,
    })
    # wixl finds files by names relative to the folder it runs in: the files
    # go into one of their own, under the names Quarnel.wxs gives them.
    with tempfile.TemporaryDirectory() as stage:
        for source, name in ((dll, "Quarnel.dll"), (actions, "QuarnelActions.dll"), (readme, "README.txt"),
                             (registry, "registry.wxi")):
            shutil.copyfile(source, os.path.join(stage, name))
        command = ["wixl", "-a", "x86", "-o", os.path.abspath(output)]
        for name, value in defines.items():
            command += ["-D", f"{name}={value}"]
        subprocess.run(command + [os.path.join(HERE, "Quarnel.wxs")], cwd=stage, check=True)
    mark_script_actions(os.path.abspath(output), os.path.join(HERE, "Quarnel.wxs"))


if __name__ == "__main__":
    main()
