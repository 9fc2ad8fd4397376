"""The Windows Installer package read as a file, on any machine: it carries the
shipped 32-bit Quarnel.dll, in a 32-bit component, and the registration of a
32-bit server (the type library's win32 key, none of a 64-bit one); it leaves
the IDE running (Restart Manager not asked), removes an older version first,
and its rollback actions are such.

Usage: package_test.py SHIPPED_BUILD [WINE_RUN REGISTRY_TABLE]
Given a build's registry_table program (and the wine-run.sh that starts it),
what it prints must be the shipped build's registry table byte for byte,
whichever build it is: a 64-bit program prints the 32-bit DLL's rows too.
"""
import os
import subprocess
import sys
import tempfile

build = sys.argv[1]
failures = []


def table(msi, name):
    """A table's rows as dictionaries (msiinfo's export: names, types, the table's name, rows)."""
    lines = subprocess.run(["msiinfo", "export", msi, name], check=True, capture_output=True,
                           text=True).stdout.replace("\r", "").split("\n")
    columns = lines[0].split("\t")
    return [dict(zip(columns, line.split("\t"))) for line in lines[3:] if line]


version = open(os.path.join(build, "version.txt")).read().split()[0]
msi = os.path.join(build, "installer", f"Quarnel-{version}.msi")
dll = os.path.join(build, "src", "Quarnel.dll")

files = {row["FileName"]: row for row in table(msi, "File")}
if "Quarnel.dll" not in files:
    failures.append(f"no Quarnel.dll in the package's File table: {sorted(files)}")
else:
    row = files["Quarnel.dll"]
    if int(row["FileSize"]) != os.path.getsize(dll):
        failures.append(f"the package's Quarnel.dll is {row['FileSize']} bytes, the shipped one "
                        f"{os.path.getsize(dll)}")
    components = {c["Component"]: c for c in table(msi, "Component")}
    if int(components[row["Component_"]]["Attributes"]) & 256:
        failures.append("Quarnel.dll's component is a 64-bit one")

# Windows Installer never asks Restart Manager to close the IDE that holds the DLL.
properties = {row["Property"]: row["Value"] for row in table(msi, "Property")}
if properties.get("MSIRESTARTMANAGERCONTROL") != "Disable":
    failures.append(f"MSIRESTARTMANAGERCONTROL is {properties.get('MSIRESTARTMANAGERCONTROL')!r}, not 'Disable'")

# An older version is removed inside the transaction, before this one changes
# anything; each rollback (and commit) custom action is one, and comes before
# what it undoes (wixl ignores Execute: make_msi.py sets them).
sequence = {row["Action"]: int(row["Sequence"]) for row in table(msi, "InstallExecuteSequence")}
if not sequence["InstallInitialize"] < sequence.get("RemoveExistingProducts", 0) < sequence["RemoveRegistryValues"]:
    failures.append(f"RemoveExistingProducts at {sequence.get('RemoveExistingProducts')}, not right after "
                    f"InstallInitialize ({sequence['InstallInitialize']})")
types = {row["Action"]: int(row["Type"]) for row in table(msi, "CustomAction")}
for action, undone, kind in (("UndoWriteUserEntry", "WriteUserEntry", 0x500), ("RestoreQuarnelIni", "RemoveQuarnelIni", 0x500),
                             ("ForgetQuarnelIni", "RemoveQuarnelIni", 0x600)):
    if types.get(action, 0) & 0x700 != kind or not sequence.get(action, 1 << 16) < sequence[undone]:
        failures.append(f"{action} is not a {'rollback' if kind == 0x500 else 'commit'} action before {undone}: "
                        f"type {types.get(action)}, at {sequence.get(action)}")

keys = [row["Key"] for row in table(msi, "Registry")]
if not any(key.startswith("Software\\Classes\\TypeLib\\") and key.endswith("\\1.0\\0\\win32") for key in keys):
    failures.append("no win32 key of the type library in the package's Registry table")
failures += [f"a 64-bit key in the package's Registry table: {key}" for key in keys if "win64" in key.lower()]

if len(sys.argv) == 4:
    run, program = sys.argv[2:4]
    shipped = os.path.join(build, "installer", "msi", "registry.wxi")
    with tempfile.TemporaryDirectory() as folder:
        printed = os.path.join(folder, "registry.wxi")
        windows = lambda path: "Z:" + path.replace("/", "\\")
        done = subprocess.run([run, program, windows(printed), windows(dll)], capture_output=True, text=True)
        if done.returncode != 0 or not os.path.exists(printed):
            failures.append(f"{program} exited with {done.returncode}: {done.stderr.strip()}")
        elif open(printed, "rb").read() != open(shipped, "rb").read():
            failures.append(f"{program} prints another registry table than the shipped build's ({shipped})")

for failure in failures:
    print("FAILED:", failure)
sys.exit(1 if failures else 0)
