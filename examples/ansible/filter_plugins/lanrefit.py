# Filters of the lanrefit role: the lines of `lanrefit -c` and `-l`, read by
# their documented format in this one place; the fleet report built from them
# (its rows per port, its summary and its three pages); and the rollout's
# judgement of a server: its runs' exit codes, the step that failed with
# lanrefit's own message, and the per-port plan of --diff.
import csv
import hashlib
import html
import io
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
        if (run or {}).get("msg") and run["msg"] not in out:
            out.append(run["msg"])
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
    """What the report keeps of one lanrefit run (a result of lanrefit.yml's
    lanrefit_results): exit code, standard output and standard error as lines,
    why the program could not be run (and the port's MAC)."""
    run = {"rc": result.get("rc"), "stdout": result.get("stdout_lines") or [],
           "stderr": result.get("stderr_lines") or []}
    if result.get("msg"):
        run["msg"] = result["msg"]
    if mac is not None:
        run["mac"] = mac
    return run


def lanrefit_report_ports(results, macs):
    """The report's runs of the ports' -N, each with its port's MAC."""
    return [lanrefit_report_run(result, mac) for result, mac in zip(results or [], macs)]


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
    if "installed" not in entry:
        # lanrefit never ran there (no program): the entry's message says why.
        return [dict(base, verdict=FAILED, message=entry.get("message", ""))]
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
            "lanrefit_report_ports": lanrefit_report_ports,
            "lanrefit_catalogue_fingerprint": lanrefit_catalogue_fingerprint,
            "lanrefit_run_result": lanrefit_run_result,
            "lanrefit_failed_step": lanrefit_failed_step,
            "lanrefit_message": lanrefit_message,
            "lanrefit_diff_checks": lanrefit_diff_checks,
            "lanrefit_diff": lanrefit_diff,
        }


# The rollout ---------------------------------------------------------------

# The messages of a module that ran the program: any other message means that
# it could not be run at all (not found, not startable, timed out).
_RAN = ("", "non-zero return code")


def lanrefit_run_result(result):
    """One run's result as {rc, stdout_lines, stderr_lines, msg}; rc is -1
    when the program did not run to an exit code."""
    msg = result.get("msg") or ""
    rc = result.get("rc")
    if rc is None or msg not in _RAN:
        rc = -1
    return {"rc": rc, "msg": "" if msg in _RAN else msg,
            "stdout_lines": str(result.get("stdout") or "").splitlines(),
            "stderr_lines": str(result.get("stderr") or "").splitlines()}


def lanrefit_failed_step(codes, check_mode=False, program_found=True):
    """The step of a server's rollout that failed ("" for none), from the exit
    codes of its steps: advise (-N), write (-s), confirm (-N again)."""
    if not program_found:
        return "program"
    if codes.get("advise") not in (3, 4, 5, 6):
        return "advise"
    if check_mode or codes["advise"] != 4:
        return ""
    if codes.get("write") not in (1, 3):
        return "write"
    if codes.get("confirm") not in (5, 6):
        return "confirm"
    return ""


_ERROR = re.compile(r"^(ERROR|\*\*\* ERROR \*\*\*|Verify failed|Cannot |Another lanrefit run)")


def _last_run(log_text):
    """The lines of the last run in a lanrefit log: after its last title, which
    stands between two lines of asterisks."""
    lines = log_text.splitlines()
    starts = [i for i in range(len(lines) - 2)
              if lines[i] and set(lines[i]) == {"*"} and lines[i + 2] == lines[i]]
    return lines[starts[-1] + 3:] if starts else lines


def lanrefit_message(result, log_text=""):
    """lanrefit's own message of a failed run: what it printed on standard
    error, else the last line of its console (a silent run prints none), else
    the error lines and the closing line of its last run in the log, else why
    the program could not be run."""
    def said(lines):
        return [line.strip() for line in lines if line.strip() and not line.startswith("Found ")]

    err = said(result.get("stderr_lines", []))
    if err:
        return " ".join(err)
    out = said(result.get("stdout_lines", []))
    if len(out) > 1 or (out and result.get("rc") not in (1, 3, 4, 5, 6)):
        return out[-1]
    run = said(_last_run(log_text))
    if run:
        errors = [line for line in run if _ERROR.match(line)]
        return " ".join(dict.fromkeys(errors + [run[-1]]))
    return result.get("msg") or "exit code %s, nothing printed" % result.get("rc")


# The components that a run writes, in the columns of -c and -l, with their
# names and the option that limits a run to them.
_DIFF = (("bootcode", "Boot Code", "-o"), ("pxe", "PXE", "-x"), ("ump", "UMP", "-u"),
         ("clp", "CLP", "-b"), ("iscsi", "iSCSI", "-d"))


def lanrefit_diff_checks(installed_lines, plan_lines):
    """Per port (by its MAC) and component that the catalogue offers (-l), the
    installed version (-c), the catalogue's, and the -N run that tells whether
    lanrefit would write it."""
    installed = {}
    for line in installed_lines:
        row = lanrefit_report_line(line)
        if row is not None and row["mac"]:
            installed[row["mac"]] = row
    checks = []
    for line in plan_lines:
        plan = lanrefit_report_line(line)
        if plan is None or plan["mac"] not in installed:
            continue
        for column, name, option in _DIFF:
            if plan[column] != "-":
                checks.append({"index": plan["index"], "mac": plan["mac"], "identity": plan["identity"],
                               "component": name, "installed": installed[plan["mac"]][column],
                               "catalogue": plan[column], "args": "-N %s %s" % (option, plan["mac"])})
    return checks


def lanrefit_diff(checks, codes):
    """The plan of --diff: one line per port, what a run would write there
    (where -N of the component says 4) and from which version."""
    ports, order = {}, []
    for check, code in zip(checks, codes):
        key = (check["index"], check["mac"], check["identity"])
        if key not in ports:
            ports[key] = []
            order.append(key)
        if code == 4:
            ports[key].append("%s %s -> %s" % (check["component"], check["installed"], check["catalogue"]))
    return ["port %s %s %s: %s" % (key + (", ".join(ports[key]) or "nothing to write",))
            for key in order]
