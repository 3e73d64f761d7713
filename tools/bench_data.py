#!/usr/bin/env python3
"""Generates the data of tools/bench.sh: an unpacked update package with the
thirteen package folders and an installation that holds about half of its
files, plus the lists the bench runs from.

  bench_data.py generate FILES DRIVE_C_DIR WINDOWS_DIR PRISTINE_DIR
      writes the package to DRIVE_C_DIR/Update/vskr_update, the installation
      to PRISTINE_DIR (copied into DRIVE_C_DIR/Install before each run), and
      pairs.txt (the source|destination pairs that need a copy), xcopy.txt,
      robocopy.txt, program.txt, verified.txt, listed.txt, before.txt, floor.txt, copy2.txt,
      transaction.txt, transaction4.txt and asidecopy.txt (the programs to start, one a
      line, arguments separated by tabs) into DRIVE_C_DIR. WINDOWS_DIR is DRIVE_C_DIR as the programs see it.
  bench_data.py check DRIVE_C_DIR PRISTINE_DIR
      compares the installation after a run with the expected result and
      prints one line: files replaced, files wrong, entries added, removed.

Deterministic: the same FILES gives the same data.
"""
import hashlib
import json
import os
import random
import sys

# Package folder -> installation folder (below the installation root),
# in the order of the package map.
ROWS = [
    ("Sys2021", "Root/Sys2021"),
    ("App", "Root/App"),
    ("app_acad_common", "Root/App"),
    ("Init", "Root/Init"),
    ("Tools", "Root/Tools"),
    ("SystemDefault", "Root/SystemDefault"),
    ("catalog", "Work base/Work/catalog"),
    ("library", "Work base/Work/library"),
    ("Config", "Data base/Data/Config"),
    ("Default", "Data base/Data/Default"),
    ("Template", "Data base/Data/Template"),
    ("Reports", "Data base/Data/Reports"),
    ("LocalCfg", "Data base/Data/LocalCfg"),
]
# Share of the files per row: the program folder and the catalogue are big.
# The folder of the 32-bit system programs.
TOOLS = "C:\\windows\\syswow64\\"
WEIGHTS = [30, 12, 6, 3, 4, 5, 18, 10, 3, 2, 3, 2, 2]
FOLDER_NAMES = ["bin", "Symbole", "Vorlagen ä", "res", "Help", "de-DE", "en-US", "Rohr Klassen",
                "Armaturen", "Flansch", "plugins", "Berichte ü", "x64", "icons", "Normen"]


def file_size(rng):
    draw = rng.random()
    if draw < 0.75:
        return rng.randint(1 << 10, 16 << 10)
    if draw < 0.98:
        return rng.randint(16 << 10, 128 << 10)
    return rng.randint(128 << 10, 512 << 10)


def write(path, pool, offset, size):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as out:
        offset %= len(pool) - size
        out.write(pool[offset:offset + size])


def generate(files, drive_dir, windows_dir, pristine_dir):
    rng = random.Random(files)
    pool = random.Random(7).randbytes(1 << 23)
    package = os.path.join(drive_dir, "Update", "vskr_update", "Veskaro")
    folders_wanted = max(13, files // 35)
    pairs, expected = [], {}
    total_bytes = copied_bytes = 0
    folder_count = 0
    for number, ((source, destination), weight) in enumerate(zip(ROWS, WEIGHTS), 1):
        row_files = files * weight // sum(WEIGHTS)
        row_folders = max(1, folders_wanted * weight // sum(WEIGHTS))
        # A tree of folders: the row's own folder and nested ones.
        folders = [""]
        while len(folders) < row_folders:
            parent = rng.choice(folders)
            if parent.count("/") >= 3:
                continue
            name = f"{rng.choice(FOLDER_NAMES)} {len(folders)}"
            if source == "app_acad_common":
                name = "acad " + name  # rows 2 and 3 share a destination
            folders.append(f"{parent}/{name}" if parent else name)
        folder_count += len(folders)
        # Some folders are not installed at all; in the others about six
        # files out of ten are.
        installed_folders = {f for f in folders if f == "" or rng.random() >= 0.15}
        for f in installed_folders:
            os.makedirs(os.path.join(pristine_dir, destination, f), exist_ok=True)
            # A file of the installation that the package does not have.
            write(os.path.join(pristine_dir, destination, f, "local settings.cfg"), pool,
                  rng.randrange(1 << 22), 300)
        # Folder sizes are uneven, as in a real installation: the first
        # folders (the row's own folder first) hold most of the files.
        folder_weights = [1 / (k + 1) for k in range(len(folders))]
        for i in range(row_files):
            folder = rng.choices(folders, folder_weights)[0]
            extension = rng.choice([".dll", ".xml", ".dwg", ".ini", ".dat"])
            name = f"r{number:02d} file {i:05d}{extension}"
            relative = f"{folder}/{name}" if folder else name
            size = file_size(rng)
            offset = rng.randrange(1 << 23)
            write(os.path.join(package, source, relative), pool, offset, size)
            total_bytes += size
            if folder in installed_folders and rng.random() < 0.6:
                write(os.path.join(pristine_dir, destination, relative), pool, offset + 4099,
                      max(1, size + rng.randint(-500, 500)))
                win_source = windows_dir + "\\Update\\vskr_update\\Veskaro\\" + source + "\\" + \
                    relative.replace("/", "\\")
                win_dest = windows_dir + "\\Install\\" + destination.replace("/", "\\") + "\\" + \
                    relative.replace("/", "\\")
                pairs.append(f"{win_source}|{win_dest}")
                expected[f"{destination}/{relative}"] = hashlib.md5(
                    pool[offset % (len(pool) - size):][:size]).hexdigest()
                copied_bytes += size
    with open(os.path.join(drive_dir, "pairs.txt"), "w", encoding="utf-8") as out:
        out.write("\n".join(pairs) + "\n")
    with open(os.path.join(drive_dir, "expected.json"), "w", encoding="utf-8") as out:
        json.dump(expected, out)
    commands = {"xcopy": [], "robocopy": []}
    for source, destination in ROWS:
        win_source = windows_dir + "\\Update\\vskr_update\\Veskaro\\" + source
        win_dest = windows_dir + "\\Install\\" + destination.replace("/", "\\")
        # The 32-bit tools, as the updater: started by their path, they run
        # in the process that the bench times (the bare names go through
        # start.exe, whose processor time would not count theirs).
        commands["xcopy"].append([TOOLS + "xcopy.exe", win_source, win_dest,
                                  "/S", "/U", "/Y", "/H", "/R"])
        commands["robocopy"].append([TOOLS + "robocopy.exe", win_source, win_dest,
                                     "/E", "/XL", "/IS", "/IT"])
    commands["program"] = [[f"{windows_dir}\\Update\\vskr_updater.exe", "INSTALL_FROM_ZIP"]]
    # The same program signed, with the package's signed list (bench.sh
    # signs both and puts the list in place for this one's runs alone).
    commands["verified"] = [[f"{windows_dir}\\Update\\vskr_updater_signed.exe", "INSTALL_FROM_ZIP"]]
    # The unsigned program on the package with its list: every copy's digest
    # checked, no signature judged.
    commands["listed"] = commands["program"]
    # The same folder, so the same package: an earlier build to compare with.
    commands["before"] = [[f"{windows_dir}\\Update\\vskr_updater_before.exe", "INSTALL_FROM_ZIP"]]
    pair_file = f"{windows_dir}\\pairs.txt"
    commands["floor"] = [["Y:\\bench_tool.exe", "copy", "1", pair_file]]
    commands["copy2"] = [["Y:\\bench_tool.exe", "copy", "2", pair_file]]
    commands["transaction"] = [["Y:\\bench_tool.exe", "transaction", "2", pair_file]]
    commands["transaction4"] = [["Y:\\bench_tool.exe", "transaction", "4", pair_file]]
    commands["asidecopy"] = [["Y:\\bench_tool.exe", "asidecopy", "4", pair_file]]
    # One program start a line, its arguments separated by tabs.
    for tool, lines in commands.items():
        with open(os.path.join(drive_dir, tool + ".txt"), "w", encoding="utf-8") as out:
            out.write("".join("\t".join(arguments) + "\n" for arguments in lines))
    print(f"{files} files in {folder_count} folders, {total_bytes / 1e6:.0f} MB; "
          f"{len(pairs)} files ({copied_bytes / 1e6:.0f} MB) installed and to be replaced")


def listing(root):
    entries = set()
    for folder, dirs, names in os.walk(root):
        relative = os.path.relpath(folder, root)
        for d in dirs:
            entries.add(os.path.normpath(os.path.join(relative, d)) + "/")
        for n in names:
            entries.add(os.path.normpath(os.path.join(relative, n)))
    return entries


def check(drive_dir, pristine_dir):
    install = os.path.join(drive_dir, "Install")
    with open(os.path.join(drive_dir, "expected.json"), encoding="utf-8") as f:
        expected = json.load(f)
    replaced = wrong = 0
    for relative, digest in expected.items():
        with open(os.path.join(install, relative), "rb") as f:
            if hashlib.md5(f.read()).hexdigest() == digest:
                replaced += 1
            else:
                wrong += 1
    before, after = listing(pristine_dir), listing(install)
    added = sorted(after - before)
    folders_added = [a for a in added if a.endswith("/")]
    print(f"replaced {replaced} of {len(expected)}, not replaced {wrong}, "
          f"added {len(added) - len(folders_added)} files and {len(folders_added)} folders, "
          f"removed {len(before - after)}")


if __name__ == "__main__":
    if sys.argv[1] == "generate":
        generate(int(sys.argv[2]), sys.argv[3], sys.argv[4], sys.argv[5])
    elif sys.argv[1] == "check":
        check(sys.argv[2], sys.argv[3])
