#!/usr/bin/env python3
"""Builds, on the control node, the one archive that staging puts on every
server: lanrefit and its documents taken straight from the release ZIP (never
unpacked to disk), the site's catalogue as NIC_FW/, and the adapter maker's
library and writer tool. Beside it goes the manifest of SHA-256 sums; the same
sums are printed as JSON for the play. The archive is built the same way
byte for byte from the same files (sorted names, fixed times), so a server that
already holds it gets no new copy.

  build_stage.py OUT_DIR --zip RELEASE.zip --catalogue DIR --library FILE
                 --writer FILE --program NAME --library-name NAME --writer-name NAME
"""
import argparse
import hashlib
import json
import os
import sys
import zipfile

ARCHIVE = "lanrefit-stage.zip"
MANIFEST = "lanrefit-stage.sha256"
_TIME = (1980, 1, 1, 0, 0, 0)


def release_plan(names, program_name):
    """{archive name: release ZIP entry} for the program and the documents of the
    release: the program at the top folder, *.md there and under docs/. Exactly
    one program must be found."""
    plan, programs = {}, []
    for name in sorted(names):
        parts = name.split("/")[1:]  # below the release's top folder
        if not parts or not parts[-1]:
            continue
        if parts == [program_name]:
            programs.append(name)
        elif not (parts[-1].endswith(".md") and (len(parts) == 1 or parts[0] == "docs")):
            continue
        plan["/".join(parts)] = name
    if len(programs) != 1:
        raise ValueError("the release ZIP holds %d programs named %s" % (len(programs), program_name))
    return plan


def catalogue_plan(catalogue):
    """{archive name: path} for every file below the catalogue folder, as NIC_FW/."""
    plan = {}
    for root, _dirs, files in os.walk(catalogue):
        for f in files:
            path = os.path.join(root, f)
            rel = os.path.relpath(path, catalogue).split(os.sep)
            plan["/".join(["NIC_FW"] + rel)] = path
    return plan


def _add(archive, name, data, executable):
    info = zipfile.ZipInfo(name, date_time=_TIME)
    info.compress_type = zipfile.ZIP_DEFLATED
    info.external_attr = (0o700 if executable else 0o600) << 16
    archive.writestr(info, data, compresslevel=6)


def build(args):
    for what, path, want in (("the release ZIP", args.zip, os.path.isfile),
                             ("the catalogue folder", args.catalogue, os.path.isdir),
                             ("the adapter library", args.library, os.path.isfile),
                             ("the writer tool", args.writer, os.path.isfile)):
        if not want(path):
            raise ValueError("%s %s is not there on the control node" % (what, path or "''"))
    contents = {}
    with zipfile.ZipFile(args.zip) as release:
        for name, entry in release_plan(release.namelist(), args.program).items():
            contents[name] = release.read(entry)
    for name, path in catalogue_plan(args.catalogue).items():
        with open(path, "rb") as f:
            contents[name] = f.read()
    for name, path in ((args.library_name, args.library), (args.writer_name, args.writer)):
        with open(path, "rb") as f:
            contents[name] = f.read()
    sums = {name: hashlib.sha256(data).hexdigest() for name, data in contents.items()}
    os.makedirs(args.out, mode=0o700, exist_ok=True)
    archive_path = os.path.join(args.out, ARCHIVE)
    with zipfile.ZipFile(archive_path + ".new", "w") as archive:
        for name in sorted(contents):
            _add(archive, name, contents[name], name in (args.program, args.writer_name))
    os.replace(archive_path + ".new", archive_path)
    with open(os.path.join(args.out, MANIFEST), "w", encoding="utf-8", newline="\n") as f:
        f.writelines("%s  %s\n" % (sums[name], name) for name in sorted(sums))
    with open(archive_path, "rb") as f:
        archive_sum = hashlib.sha256(f.read()).hexdigest()
    return {"archive": archive_path, "archive_sha256": archive_sum, "files": sums}


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("out")
    for option in ("--zip", "--catalogue", "--library", "--writer", "--program",
                   "--library-name", "--writer-name"):
        parser.add_argument(option, required=True)
    args = parser.parse_args(argv)
    try:
        result = build(args)
    except (OSError, ValueError, zipfile.BadZipFile) as e:
        print("staging: %s" % e, file=sys.stderr)
        return 1
    json.dump(result, sys.stdout, sort_keys=True)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
