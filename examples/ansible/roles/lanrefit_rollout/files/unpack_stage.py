#!/usr/bin/env python3
"""Unpacks the staged archive in the work folder of a server (the Linux build's
counterpart of unpack_stage.ps1): every file of the manifest whose copy is
missing or differs is taken from the archive, then every copy is checked
against the manifest again. With --check it only tells what it would take.
Prints {"stale": [...], "bad": [...]} as JSON; exit code 1 when a copy still
differs afterwards.

  unpack_stage.py WORKDIR ARCHIVE MANIFEST_JSON [--check]
"""
import hashlib
import json
import os
import sys
import zipfile


def sha256(path):
    try:
        with open(path, "rb") as f:
            return hashlib.sha256(f.read()).hexdigest()
    except OSError:
        return None


def stale(workdir, manifest):
    return [name for name in sorted(manifest)
            if sha256(os.path.join(workdir, *name.split("/"))) != manifest[name]]


def main(argv):
    workdir, archive, manifest = argv[0], argv[1], json.loads(argv[2])
    check = argv[3:] == ["--check"]
    for name in manifest:
        parts = name.split("/")
        if name.startswith("/") or ".." in parts or "" in parts:
            print("manifest entry leaves the work folder: %s" % name, file=sys.stderr)
            return 1
    todo = stale(workdir, manifest)
    bad = []
    if todo and not check:
        with zipfile.ZipFile(archive) as z:
            for name in todo:
                path = os.path.join(workdir, *name.split("/"))
                os.makedirs(os.path.dirname(path), mode=0o700, exist_ok=True)
                with open(path + ".new", "wb") as f:
                    f.write(z.read(name))
                os.chmod(path + ".new", 0o700)
                os.replace(path + ".new", path)
        bad = stale(workdir, manifest)
    json.dump({"stale": todo, "bad": bad}, sys.stdout)
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
