# The rehearsal fleet's report in its three forms, as ansible_fleet.sh leaves
# them in DIR: firmware.csv, firmware.md, and firmware.html as Chromium
# rendered it (firmware.dom.html). Each form must hold the rows below, in
# order, and the summary's totals.
#   check_fleet_report.py DIR REHEARSAL-FOLDER
import csv
import fnmatch
import html.parser
import sys

rendered, rehearsal = sys.argv[1:]
# server, port, verdict, boot code "installed / catalogue", message (a pattern)
EXPECTED = [
    ("current", "0", "up to date", "5.0.4 / 5.0.4", ""),
    ("halfdue", "0", "up to date", "5.0.4 / 5.0.4", ""),
    ("halfdue", "1", "up to date", "5.0.4 / 5.0.4", ""),  # written by the rollout
    ("newer", "0", "newer installed", "5.0.5 / 5.0.4", ""),
    ("noadapter", "", "nothing to compare: no supported adapter", "", ""),
    ("unknown", "0", "nothing to compare: model not in catalogue", "5.0.3 / -", ""),
    ("oldlib", "", "nothing to compare: library too old", "",
     "Unsupported OMBRI version 7.5.10. Expect OMBRI version 7.5.19 or later."),
    ("refusing", "0", "up to date", "5.0.4 / 5.0.4", ""),
    ("refusing", "1", "update recommended", "5.0.3 / 5.0.4", ""),
    ("nolibrary", "", "failed", "", "Cannot load the adapter library OMBRIa.DLL."),
    ("nodrive", "0", "failed", "5.0.4 / ?", "Error:* trying to create directory %s/nodrive*" % rehearsal),
    ("away", "", "not reached", "", "timed out waiting for *"),
]
TOTALS = [("update recommended", 1), ("up to date", 4), ("newer installed", 1),
          ("nothing to compare: model not in catalogue", 1), ("nothing to compare: no supported adapter", 1),
          ("nothing to compare: library too old", 1), ("failed", 2), ("not reached", 1), ("all", 12)]
bad = []


def check(form, rows):
    got = [tuple(r[:4]) for r in rows]
    want = [e[:4] for e in EXPECTED]
    if got != want:
        bad.append("%s rows:\n  %s\nexpected\n  %s" % (form, got, want))
    for r, e in zip(rows, EXPECTED):
        if not fnmatch.fnmatchcase(r[4], e[4]):
            bad.append("%s: %s %s: message %r, expected %r" % (form, r[0], r[1], r[4], e[4]))


def pair(r, c):
    return "" if not (r[c] or r[c + "_catalogue"]) else "%s / %s" % (r[c] or "?", r[c + "_catalogue"] or "?")


class Tables(html.parser.HTMLParser):
    """The tables of a page: each a list of rows of cell texts."""

    def __init__(self):
        super().__init__()
        self.tables, self.cell = [], None

    def handle_starttag(self, tag, attrs):
        if tag == "table":
            self.tables.append([])
        elif tag == "tr":
            self.tables[-1].append([])
        elif tag in ("td", "th"):
            self.cell = ""

    def handle_endtag(self, tag):
        if tag in ("td", "th"):
            self.tables[-1][-1].append(self.cell)
            self.cell = None

    def handle_data(self, data):
        if self.cell is not None:
            self.cell += data


with open(rendered + "/firmware.csv", newline="") as f:
    check("csv", [(r["server"], r["index"], r["verdict"], pair(r, "bootcode"), r["message"])
                  for r in csv.DictReader(f)])

md = open(rendered + "/firmware.md").read().splitlines()
for verdict, n in TOTALS:
    if "| %s | %d |" % (verdict, n) not in md:
        bad.append("md: no total %s %d" % (verdict, n))
start = md.index("## Ports (installed / catalogue)") + 4
ports = [[c.strip() for c in line.strip("|").split(" | ")] for line in md[start:]]
check("md", [(p[0], p[1], p[4], p[5], p[11]) for p in ports])

dom = open(rendered + "/firmware.dom.html").read()
page = Tables()
page.feed(dom)
if [tuple(r) for r in page.tables[0][1:]] != [(v, str(n)) for v, n in TOTALS]:
    bad.append("html totals: %s" % page.tables[0])
check("html", [(p[0], p[1], p[4], p[5], p[11]) for p in page.tables[-1][1:]])
chart = dom.split("<svg")[1].split("</svg>")[0] if "<svg" in dom else ""
if chart.count("<rect") < 12 or "1234-ABCD-5678-0001" not in chart:
    bad.append("html: no bar chart")

print("\n".join(bad), file=sys.stderr)
sys.exit(1 if bad else 0)
