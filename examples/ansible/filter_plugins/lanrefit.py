# Filters of the lanrefit role: the lines of `lanrefit -c`, read by their
# documented format in this one place, the fleet report built from them, and
# the rollout's judgement of a server: its runs' exit codes, the step that
# failed with lanrefit's own message, and the per-port plan of --diff.
import csv
import io
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


class FilterModule(object):
    def filters(self):
        return {
            "lanrefit_report_line": lanrefit_report_line,
            "lanrefit_fleet_rows": lanrefit_fleet_rows,
            "lanrefit_fleet_csv": lanrefit_fleet_csv,
            "lanrefit_fleet_markdown": lanrefit_fleet_markdown,
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
