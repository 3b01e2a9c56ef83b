# Filters of the lanrefit role: the lines of `lanrefit -c`, read by their
# documented format in this one place, the fleet report built from them, and
# the list of files that staging copies.
import csv
import hashlib
import io
import os
import re

# One -c line: index, MAC text (12 characters, blank when unknown), PCI
# identity, then boot code, PXE, UMP, CLP, iSCSI and iSCSI stub, each "M m b"
# or "- - -", then the description between two blanks.
_VERSION = r"(\d+ \d+ \d+|- - -) "
_LINE = re.compile(
    r"^(\d+) (.{12}) ([0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}) "
    + _VERSION * 6
    + r" (.*) $"
)
COMPONENTS = ("bootcode", "pxe", "ump", "clp", "iscsi", "iscsi_stub")
COLUMNS = ("server", "index", "mac", "identity") + COMPONENTS + ("description", "verdict", "taken")

# The verdict of a server by the exit code of lanrefit -N.
VERDICTS = {4: "update recommended", 5: "up to date", 6: "newer installed", 3: "nothing to compare"}


def lanrefit_report_line(line):
    """One -c line as a dict of the report's adapter columns, or None."""
    match = _LINE.match(line.rstrip("\r\n"))
    if match is None:
        return None
    groups = match.groups()
    row = {"index": groups[0], "mac": groups[1].strip(), "identity": groups[2]}
    for name, text in zip(COMPONENTS, groups[3:9]):
        row[name] = "-" if text == "- - -" else text.replace(" ", ".")
    row["description"] = groups[9]
    return row


def _code(value):
    try:
        return int(value)
    except (TypeError, ValueError):
        return None


def _server_rows(entry):
    """The rows of one server: one per adapter port, or one for the server."""
    server = entry["server"]
    verdict = VERDICTS.get(_code(entry.get("advise_rc")), "failed")
    report_rc = _code(entry.get("report_rc"))
    lines = [line for line in entry.get("report_lines", []) if line.strip()]
    base = dict.fromkeys(COLUMNS, "")
    base.update(server=server, taken=entry.get("taken", ""))
    if report_rc not in (1, 3):
        verdict = "failed"
    rows = []
    for line in lines if report_rc == 1 else []:
        row = dict(base, verdict=verdict)
        parsed = lanrefit_report_line(line)
        if parsed is None:
            # Never dropped: the line itself stands in the row.
            row.update(verdict="line not understood", description=line)
        else:
            row.update(parsed)
        rows.append(row)
    if not rows:
        note = lines[0] if lines and report_rc != 1 else ("no supported adapter" if report_rc == 3 else "")
        rows.append(dict(base, verdict=verdict, description=note))
    return rows


def lanrefit_fleet_rows(entries):
    """The report's rows for the servers' entries, in the order given."""
    rows = []
    for entry in entries:
        rows.extend(_server_rows(entry))
    return rows


def lanrefit_fleet_csv(rows):
    out = io.StringIO()
    writer = csv.DictWriter(out, fieldnames=COLUMNS, lineterminator="\n")
    writer.writeheader()
    writer.writerows(rows)
    return out.getvalue()


def lanrefit_fleet_markdown(rows, title="Adapter firmware of the fleet"):
    def cell(text):
        return str(text).replace("|", "\\|")

    lines = ["# " + title, "", "| " + " | ".join(COLUMNS) + " |",
             "|" + "---|" * len(COLUMNS)]
    for row in rows:
        lines.append("| " + " | ".join(cell(row[c]) for c in COLUMNS) + " |")
    return "\n".join(lines) + "\n"


def lanrefit_stage_plan(paths, release_dir, catalogue_dir, program_name, sep="\\"):
    """What staging copies: [{'src': control-node path, 'dest': path below the
    work folder}] for the program and documents of the unpacked release and every
    file of the catalogue folder (as NIC_FW). Exactly one program must be found."""
    release_dir = os.path.normpath(release_dir)
    catalogue_dir = os.path.normpath(catalogue_dir)
    plan, programs = [], []
    for path in sorted(paths):
        path = os.path.normpath(path)
        if os.path.commonpath([path, catalogue_dir]) == catalogue_dir:
            rel = ["NIC_FW"] + os.path.relpath(path, catalogue_dir).split(os.sep)
        elif os.path.commonpath([path, release_dir]) == release_dir:
            parts = os.path.relpath(path, release_dir).split(os.sep)[1:]  # below the top folder
            if parts == [program_name]:
                programs.append(path)
            elif not (parts[-1].endswith(".md") and (len(parts) == 1 or parts[0] == "docs")):
                continue
            rel = parts
        else:
            continue
        plan.append({"src": path, "dest": sep.join(rel)})
    if len(programs) != 1:
        raise ValueError("the release holds %d programs named %s" % (len(programs), program_name))
    return plan


def lanrefit_with_sha1(plan):
    """The plan with the SHA-1 of each file on the control node."""
    out = []
    for item in plan:
        with open(item["src"], "rb") as f:
            out.append(dict(item, sha1=hashlib.sha1(f.read()).hexdigest()))
    return out


def lanrefit_stale(plan, lines):
    """The entries of plan whose copy on the server is missing or differs, from
    lines "SHA1 DEST" (sha1sum's output, or the Windows task's) of the copies."""
    found = {}
    for line in lines:
        parts = line.strip().split(None, 1)
        if len(parts) == 2:
            found[parts[1].lstrip("*")] = parts[0].lower()
    return [item for item in plan if found.get(item["dest"]) != item["sha1"]]


class FilterModule(object):
    def filters(self):
        return {
            "lanrefit_report_line": lanrefit_report_line,
            "lanrefit_fleet_rows": lanrefit_fleet_rows,
            "lanrefit_fleet_csv": lanrefit_fleet_csv,
            "lanrefit_fleet_markdown": lanrefit_fleet_markdown,
            "lanrefit_stage_plan": lanrefit_stage_plan,
            "lanrefit_with_sha1": lanrefit_with_sha1,
            "lanrefit_stale": lanrefit_stale,
        }
