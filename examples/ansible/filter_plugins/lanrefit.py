# Filters of the lanrefit role: the fleet report (the lines of `lanrefit -c`
# and `-l`, read by their documented format in this one place, the report's
# rows, its summary and its three pages) and the list of files that staging
# copies.
import csv
import hashlib
import html
import io
import os
import re

# One -c or -l line: index, MAC text (12 characters, blank when unknown), PCI
# identity, then boot code, PXE, UMP, CLP, iSCSI and iSCSI stub, each "M m b"
# or "- - -", then the description between two blanks.
_VERSION = r"(\d+ \d+ \d+|- - -) "
_LINE = re.compile(
    r"^(\d+) (.{12}) ([0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}) "
    + _VERSION * 6
    + r" (.*) $"
)
COMPONENTS = ("bootcode", "pxe", "ump", "clp", "iscsi", "iscsi_stub")
# Per component the installed version (-c) and the catalogue's (-l).
COLUMNS = (("server", "index", "mac", "identity", "description", "verdict")
           + tuple(c + s for c in COMPONENTS for s in ("", "_catalogue"))
           + ("message", "catalogue", "taken"))

# A port's verdict: the exit code of `lanrefit -N` asked about that port alone
# (its MAC with every per-component option), or, where it compared nothing,
# the cause that lanrefit's own output names.
VERDICTS = {4: "update recommended", 5: "up to date", 6: "newer installed"}
NO_MODEL = "nothing to compare: model not in catalogue"
NO_ADAPTER = "nothing to compare: no supported adapter"
OLD_LIBRARY = "nothing to compare: library too old"
NOTHING = "nothing to compare"
FAILED = "failed"
NOT_REACHED = "not reached"
NOT_UNDERSTOOD = "line not understood"
VERDICT_ORDER = (VERDICTS[4], VERDICTS[5], VERDICTS[6], NO_MODEL, NO_ADAPTER, OLD_LIBRARY,
                 NOTHING, FAILED, NOT_REACHED, NOT_UNDERSTOOD)
# Verdicts that ask the administrator to look at the server.
ATTENTION = (OLD_LIBRARY, FAILED, NOT_REACHED, NOT_UNDERSTOOD)
NO_PORT = "(no port)"

# lanrefit's own texts that tell the causes apart, and the lines of a run that
# are no message: the title, the adapter headings and the advice.
_UNSUPPORTED = "Unsupported OMBRI version "
_NO_SUPPORTED = "No supported network adapters for firmware upgrade."
_NOT_MESSAGES = re.compile(
    r"^(Velmar Multi-Function Gigabit Server Adapter Firmware Upgrade Utility"
    r"|Found .* MAC: .*|NIC firmware update is (not )?recommended\.)$")


def lanrefit_report_line(line):
    """One -c (or -l) line as a dict of the report's adapter columns, or None."""
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


def _lines(run, *streams):
    out = []
    for stream in streams or ("stdout", "stderr"):
        out.extend(line.rstrip("\r\n") for line in (run or {}).get(stream) or [])
    return [line for line in out if line.strip()]


def _messages(*runs):
    """lanrefit's messages in the runs' output, standard error included: every
    line but the title, the headings, the advice and the report lines."""
    out = []
    for run in runs:
        for line in _lines(run):
            text = line.strip()
            if _NOT_MESSAGES.match(text) or _LINE.match(line) or text in out:
                continue
            out.append(text)
    return " ".join(out)


def _cause(run):
    """Why a run compared nothing, by lanrefit's own message, or None."""
    for line in _lines(run):
        if line.startswith(_UNSUPPORTED):
            return OLD_LIBRARY
        if line.strip() == _NO_SUPPORTED:
            return NO_ADAPTER
    return None


def lanrefit_report_run(result, mac=None):
    """What the report keeps of one lanrefit run: exit code, standard output
    and standard error as lines (and the port's MAC)."""
    run = {"rc": result.get("rc"), "stdout": result.get("stdout_lines") or [],
           "stderr": result.get("stderr_lines") or []}
    if mac is not None:
        run["mac"] = mac
    return run


def lanrefit_report_macs(installed_lines, plan_lines=()):
    """The MAC of every port: from the -c lines, else from the -l lines (a
    library that -c refuses may still serve a run)."""
    for lines in (installed_lines, plan_lines):
        macs = [row["mac"] for row in map(lanrefit_report_line, lines or []) if row and row["mac"]]
        if macs:
            return macs
    return []


def lanrefit_catalogue_fingerprint(files, root):
    """The catalogue's fingerprint: the SHA-256 of the lines "SHA256  PATH" of
    its .config files (as sha256sum prints them), PATH relative to the NIC_FW
    folder with "/" and sorted by byte; "" when there is none. files: the
    win_find results (path and checksum), or sha256sum's lines."""
    root = root.replace("\\", "/").rstrip("/") + "/"
    lines = []
    for item in files or []:
        if isinstance(item, str):
            checksum, path = item.split(None, 1)
            item = {"checksum": checksum, "path": path.lstrip("*")}
        path = item["path"].replace("\\", "/")
        lines.append((path[len(root):] if path.startswith(root) else path, item["checksum"].lower()))
    if not lines:
        return ""
    text = "".join("%s  %s\n" % (digest, path) for path, digest in sorted(lines))
    return hashlib.sha256(text.encode("utf-8")).hexdigest()


def _port_verdict(run, plan_row):
    code = _code((run or {}).get("rc"))
    if code in VERDICTS:
        return VERDICTS[code], ""
    if code == 3:
        cause = _cause(run)
        if cause is None and plan_row is not None:
            # lanrefit's plan shows no catalogue version for the port.
            listed = any(plan_row[c] != "-" for c in COMPONENTS)
            cause = NOTHING if listed else NO_MODEL
        return cause or NOTHING, ""
    return FAILED, _messages(run) or "lanrefit -N exit code %s" % code


def _server_rows(entry):
    """The rows of one server: one per adapter port, or one for the server."""
    base = dict.fromkeys(COLUMNS, "")
    base.update(server=entry["server"], taken=entry.get("taken", ""),
                catalogue=entry.get("catalogue", ""))
    if not entry.get("reached", True):
        return [dict(base, verdict=NOT_REACHED, message=entry.get("message", ""))]
    installed, plan = entry.get("installed") or {}, entry.get("plan") or {}
    installed_lines = _lines(installed, "stdout") if _code(installed.get("rc")) == 1 else []
    plan_rows = {}
    if _code(plan.get("rc")) == 1:
        for row in map(lanrefit_report_line, _lines(plan, "stdout")):
            if row:
                plan_rows[row["index"]] = row
    ports = {run.get("mac"): run for run in entry.get("ports") or []}
    note = ""
    if not installed_lines and plan_rows:
        # -c refused (a library too old for it) but the run listed the ports.
        installed_lines = [line for line in _lines(plan, "stdout") if _LINE.match(line)]
        note = _messages(installed)
    rows = []
    for line in installed_lines:
        port = lanrefit_report_line(line)
        if port is None:
            # Never dropped: the line itself stands in the row.
            rows.append(dict(base, verdict=NOT_UNDERSTOOD, message=line))
            continue
        plan_row = plan_rows.get(port["index"])
        row = dict(base, **{k: port[k] for k in ("index", "mac", "identity", "description")})
        for c in COMPONENTS:
            row[c] = port[c] if not note else ""
            row[c + "_catalogue"] = plan_row[c] if plan_row else ""
        if not port["mac"]:
            verdict, message = FAILED, "the port has no MAC text: lanrefit cannot be asked about it alone"
        else:
            verdict, message = _port_verdict(ports.get(port["mac"]), plan_row)
        row.update(verdict=verdict, message=" ".join(t for t in (message, note) if t))
        rows.append(row)
    if rows:
        return rows
    # No port: the run's own message tells why (-l checks the library
    # against the bound of a run, -c against its own, higher one).
    for run in (plan, installed):
        cause = _cause(run) if _code(run.get("rc")) == 3 else None
        if cause == OLD_LIBRARY:
            return [dict(base, verdict=cause, message=_messages(run))]
        if cause == NO_ADAPTER:
            return [dict(base, verdict=cause)]
    message = _messages(installed, plan) or "lanrefit -c exit code %s, -l exit code %s" % (
        installed.get("rc"), plan.get("rc"))
    return [dict(base, verdict=FAILED, message=message)]


def lanrefit_fleet_rows(entries, servers=()):
    """The report's rows for the servers' entries, in the order given; every
    server of servers without an entry gets a "not reached" row."""
    rows, seen = [], set()
    for entry in entries:
        seen.add(entry["server"])
        rows.extend(_server_rows(entry))
    for server in servers:
        if server not in seen:
            rows.append(dict(dict.fromkeys(COLUMNS, ""), server=server, verdict=NOT_REACHED,
                             message="no report from this server: see the play's output"))
    return rows


def _ordered(counts):
    known = [v for v in VERDICT_ORDER if v in counts]
    return known + sorted(v for v in counts if v not in VERDICT_ORDER)


def lanrefit_fleet_summary(rows, taken=""):
    """What firmware.md and firmware.html begin with: totals per verdict and
    per model, the servers to look at, the catalogues and the time taken."""
    totals, models, catalogues, attention = {}, {}, {}, []
    for row in rows:
        verdict = row["verdict"]
        totals[verdict] = totals.get(verdict, 0) + 1
        model = models.setdefault(row["identity"] or NO_PORT, {})
        model[verdict] = model.get(verdict, 0) + 1
        if verdict != NOT_REACHED:
            servers = catalogues.setdefault(row["catalogue"], [])
            if row["server"] not in servers:
                servers.append(row["server"])
        if verdict in ATTENTION:
            item = (row["server"], row["index"], verdict, row["message"])
            if item not in attention:
                attention.append(item)
    return {
        "taken": taken,
        "servers": len({row["server"] for row in rows}),
        "rows": len(rows),
        "verdicts": _ordered(totals),
        "totals": totals,
        "models": [(m, models[m]) for m in sorted(models, key=lambda m: (m == NO_PORT, m))],
        "attention": attention,
        "catalogues": sorted(catalogues.items(), key=lambda kv: (-len(kv[1]), kv[0])),
    }


def lanrefit_fleet_csv(rows):
    out = io.StringIO()
    writer = csv.DictWriter(out, fieldnames=COLUMNS, lineterminator="\n")
    writer.writeheader()
    writer.writerows(rows)
    return out.getvalue()


_TITLE = "Adapter firmware of the fleet"


def _summary_tables(summary):
    """The summary as (heading, header, rows) tables, shared by both pages."""
    verdicts = summary["verdicts"]
    return [
        ("Totals per verdict", ["Verdict", "Rows"],
         [[v, summary["totals"][v]] for v in verdicts] + [["all", summary["rows"]]]),
        ("Totals per model", ["Model"] + verdicts + ["Total"],
         [[m] + [counts.get(v, 0) for v in verdicts] + [sum(counts.values())]
          for m, counts in summary["models"]]),
        ("Servers not reached, failed or with a library too old", ["Server", "Port", "Verdict", "Message"],
         [list(item) for item in summary["attention"]]),
        ("Catalogue (SHA-256 of its .config files)", ["Fingerprint", "Servers"],
         [[fp or "no .config file", ", ".join(servers)] for fp, servers in summary["catalogues"]]),
    ]


# The per-port table of the pages: per component "installed / catalogue".
_PORT_HEADER = ["Server", "Port", "MAC", "Model", "Verdict", "Boot code", "PXE", "UMP", "CLP", "iSCSI",
                "iSCSI stub", "Message", "Description"]


def _port_table(rows):
    def pair(row, c):
        installed, catalogue = row[c], row[c + "_catalogue"]
        return "" if not (installed or catalogue) else "%s / %s" % (installed or "?", catalogue or "?")

    return [[row["server"], row["index"], row["mac"], row["identity"], row["verdict"]]
            + [pair(row, c) for c in COMPONENTS] + [row["message"], row["description"]] for row in rows]


def _intro(summary):
    return "Taken %s: %d servers, %d rows (one per adapter port, or one for a server without)." % (
        summary["taken"] or "-", summary["servers"], summary["rows"])


def lanrefit_fleet_markdown(rows, summary=None, title=_TITLE):
    def cell(text):
        return str(text).replace("|", "\\|")

    def table(header, body):
        out = ["| " + " | ".join(header) + " |", "|" + "---|" * len(header)]
        out += ["| " + " | ".join(cell(c) for c in line) + " |" for line in body]
        return out

    summary = summary or lanrefit_fleet_summary(rows)
    lines = ["# " + title, "", _intro(summary), ""]
    for heading, header, body in _summary_tables(summary):
        lines += ["## " + heading, ""] + (table(header, body) if body else ["None."]) + [""]
    lines += ["## Ports (installed / catalogue)", ""] + table(_PORT_HEADER, _port_table(rows))
    return "\n".join(lines) + "\n"


# Bar colours of the verdicts; any other verdict is dark grey.
_COLOURS = {VERDICTS[4]: "#d97706", VERDICTS[5]: "#15803d", VERDICTS[6]: "#2563eb",
            NO_MODEL: "#6b7280", NO_ADAPTER: "#9ca3af", OLD_LIBRARY: "#9333ea",
            NOTHING: "#a8a29e", FAILED: "#dc2626", NOT_REACHED: "#7f1d1d"}


def _chart(summary):
    """An SVG bar chart: per model one bar, a segment per verdict, its rows as
    the segment's length (the longest bar 600 units at most), and a legend."""
    e = html.escape
    longest = max([sum(c.values()) for _, c in summary["models"]] + [1])
    unit, left, bar, gap = min(40.0, 600.0 / longest), 190, 22, 10
    out, y = [], 10
    for model, counts in summary["models"]:
        x = float(left)
        out.append('<text x="%d" y="%d" text-anchor="end">%s</text>' % (left - 8, y + 16, e(model)))
        for verdict in summary["verdicts"]:
            n = counts.get(verdict, 0)
            if n:
                out.append('<rect x="%.1f" y="%d" width="%.1f" height="%d" fill="%s"><title>%s: %s, %d</title></rect>'
                           % (x, y, unit * n, bar, _COLOURS.get(verdict, "#404040"), e(model), e(verdict), n))
                if unit * n >= 8 * len(str(n)) + 6:
                    out.append('<text x="%.1f" y="%d" text-anchor="middle" class="n">%d</text>'
                               % (x + unit * n / 2, y + 16, n))
                x += unit * n
        y += bar + gap
    y += 6
    for verdict in summary["verdicts"]:
        out.append('<rect x="%d" y="%d" width="14" height="14" fill="%s"/>'
                   % (left, y, _COLOURS.get(verdict, "#404040")))
        out.append('<text x="%d" y="%d">%s (%d)</text>' % (left + 20, y + 12, e(verdict), summary["totals"][verdict]))
        y += 20
    return ('<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" role="img" '
            'aria-label="Ports per verdict and model">%s</svg>' % (left + unit * longest + 40, y + 4, "".join(out)))


_STYLE = """body{font-family:sans-serif;margin:1.5em;color:#111}
table{border-collapse:collapse;margin:0.5em 0 1.5em}
th,td{border:1px solid #bbb;padding:2px 6px;text-align:left;font-size:13px}
th{background:#eee}table.ports td{white-space:nowrap}svg text{font-size:13px}svg text.n{fill:#fff;font-weight:bold}"""


def lanrefit_fleet_html(rows, summary=None, title=_TITLE):
    """One page, nothing to fetch and no script: the summary with its bar
    chart, then the per-port table."""
    e = html.escape

    def table(header, body, cls=""):
        out = ["<table%s><tr>" % (' class="%s"' % cls if cls else "")]
        out += ["<th>%s</th>" % e(str(h)) for h in header] + ["</tr>"]
        for line in body:
            out.append("<tr>" + "".join("<td>%s</td>" % e(str(c)) for c in line) + "</tr>")
        return "".join(out) + "</table>"

    summary = summary or lanrefit_fleet_summary(rows)
    parts = ["<!DOCTYPE html>", '<html lang="en"><head><meta charset="utf-8">',
             "<title>%s</title><style>%s</style></head><body>" % (e(title), _STYLE),
             "<h1>%s</h1>" % e(title), "<p>%s</p>" % e(_intro(summary)),
             "<h2>Ports per verdict and model</h2>", _chart(summary)]
    for heading, header, body in _summary_tables(summary):
        parts += ["<h2>%s</h2>" % e(heading), table(header, body) if body else "<p>None.</p>"]
    parts += ["<h2>Ports (installed / catalogue)</h2>", table(_PORT_HEADER, _port_table(rows), "ports"),
              "</body></html>"]
    return "\n".join(parts) + "\n"


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
            "lanrefit_fleet_summary": lanrefit_fleet_summary,
            "lanrefit_fleet_html": lanrefit_fleet_html,
            "lanrefit_report_run": lanrefit_report_run,
            "lanrefit_report_macs": lanrefit_report_macs,
            "lanrefit_catalogue_fingerprint": lanrefit_catalogue_fingerprint,
            "lanrefit_stage_plan": lanrefit_stage_plan,
            "lanrefit_with_sha1": lanrefit_with_sha1,
            "lanrefit_stale": lanrefit_stale,
        }
