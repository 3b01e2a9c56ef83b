# The filters of examples/ansible: the -c line reader, the fleet report's rows
# and tables, and the staging plan. Run by CTest (native.ansible_filters).
import hashlib
import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "../../examples/ansible/filter_plugins"))
import lanrefit  # noqa: E402

FULL = ("0 0A1B2C3D4E5F 1234-ABCD-5678-0001 5 0 3 8 3 2 1 2 0 - - - - - - - - -  "
        "Gigabit Server Adapter (port 1) ")
ISCSI = ("1 0A1B2C3D4E61 1234-BEEF-5678-0011 5 1 0 - - - - - - - - - 1 0 0 1 0 0  "
         "Gigabit Server Adapter with Jumper ")
ZERO = "2              0000-0000-0000-0000 0 0 0 - - - - - - - - - - - - - - -   "


class ReportLine(unittest.TestCase):
    def test_lines(self):
        rows = [
            # line, expected (None: not a -c line)
            (FULL, {"index": "0", "mac": "0A1B2C3D4E5F", "identity": "1234-ABCD-5678-0001",
                    "bootcode": "5.0.3", "pxe": "8.3.2", "ump": "1.2.0", "clp": "-",
                    "iscsi": "-", "iscsi_stub": "-",
                    "description": "Gigabit Server Adapter (port 1)"}),
            (FULL + "\r", {"index": "0", "mac": "0A1B2C3D4E5F", "identity": "1234-ABCD-5678-0001",
                           "bootcode": "5.0.3", "pxe": "8.3.2", "ump": "1.2.0", "clp": "-",
                           "iscsi": "-", "iscsi_stub": "-",
                           "description": "Gigabit Server Adapter (port 1)"}),
            (ISCSI, {"index": "1", "mac": "0A1B2C3D4E61", "identity": "1234-BEEF-5678-0011",
                     "bootcode": "5.1.0", "pxe": "-", "ump": "-", "clp": "-", "iscsi": "1.0.0",
                     "iscsi_stub": "1.0.0", "description": "Gigabit Server Adapter with Jumper"}),
            (ZERO, {"index": "2", "mac": "", "identity": "0000-0000-0000-0000",
                    "bootcode": "0.0.0", "pxe": "-", "ump": "-", "clp": "-", "iscsi": "-",
                    "iscsi_stub": "-", "description": ""}),
            (FULL.replace(" 1 2 0 ", " 1 2 "), None),           # a column short
            (FULL.replace("1234-ABCD", "1234-abcd"), None),     # identity in lower case
            (FULL.rstrip(), None),                              # no blank after the description
            ("Cannot load the adapter library OMBRIa.DLL.", None),
        ]
        for line, expected in rows:
            with self.subTest(line=line):
                self.assertEqual(lanrefit.lanrefit_report_line(line), expected)


BANNER = "Velmar Multi-Function Gigabit Server Adapter Firmware Upgrade Utility"
# -l lines: the catalogue's versions of the port of FULL, of a port that the
# catalogue lacks, and of the port of ISCSI.
PLAN = FULL.replace(" 5 0 3 8 3 2 1 2 0 ", " 5 0 4 8 3 6 1 2 0 ")
UNLISTED = FULL.replace(" 5 0 3 8 3 2 1 2 0 ", " - - - - - - - - - ")
OLD = ["Unsupported OMBRI version 7.5.10.", "Expect OMBRI version 7.5.19 or later."]
NOCAT = ("No image catalogue here: C:\\srv has no NIC_FW folder. "
         "Start lanrefit in the folder that holds NIC_FW.")


def run(rc, stdout=(), stderr=(), mac=None):
    out = {"rc": rc, "stdout": list(stdout), "stderr": list(stderr)}
    if mac:
        out["mac"] = mac
    return out


def entry(server, installed, plan, ports=()):
    return {"server": server, "installed": installed, "plan": plan, "ports": list(ports),
            "catalogue": "f00d", "taken": "2026-12-08T10:00:00Z"}


def port(rc, mac="0A1B2C3D4E5F", *lines):
    return run(rc, [BANNER, "", "Found Gigabit Server Adapter MAC: %s " % mac] + list(lines), mac=mac)


SECOND = FULL.replace("0 0A1B2C3D4E5F", "1 0A1B2C3D4E60")


class FleetRows(unittest.TestCase):
    def test_rows(self):
        rows = [
            # entry, expected rows (index, bootcode installed / catalogue, verdict, message)
            (entry("current", run(1, [FULL]), run(1, [BANNER, PLAN]), [port(5)]),
             [("0", "5.0.3", "5.0.4", "up to date", "")]),
            # one port current, the other outdated: each its own verdict
            (entry("half", run(1, [FULL, SECOND]), run(1, [BANNER, PLAN, PLAN.replace("0 0A1B2C3D4E5F", "1 0A1B2C3D4E60")]),
                   [port(5), port(4, "0A1B2C3D4E60")]),
             [("0", "5.0.3", "5.0.4", "up to date", ""), ("1", "5.0.3", "5.0.4", "update recommended", "")]),
            (entry("newer", run(1, [FULL]), run(1, [PLAN]), [port(6)]),
             [("0", "5.0.3", "5.0.4", "newer installed", "")]),
            # the three causes of nothing to compare, by lanrefit's output
            (entry("unknown", run(1, [FULL]), run(1, [BANNER, UNLISTED]), [port(3)]),
             [("0", "5.0.3", "-", "nothing to compare: model not in catalogue", "")]),
            # compared nothing although the plan names versions: no cause claimed
            (entry("odd", run(1, [FULL]), run(1, [PLAN]), [port(3)]),
             [("0", "5.0.3", "5.0.4", "nothing to compare", "")]),
            (entry("none", run(3), run(3, [BANNER, "No supported network adapters for firmware upgrade."])),
             [("", "", "", "nothing to compare: no supported adapter", "")]),
            (entry("old", run(3, ["Unsupported OMBRI version 7.5.10.", "Expect OMBRI version 7.6.1 or later."]),
                   run(3, [BANNER] + OLD)),
             [("", "", "", "nothing to compare: library too old", " ".join(OLD))]),
            # a library new enough for a run but not for -c: ports from -l
            (entry("mid", run(3, ["Unsupported OMBRI version 7.6.0.", "Expect OMBRI version 7.6.1 or later."]),
                   run(1, [BANNER, PLAN]), [port(4)]),
             [("0", "", "5.0.4", "update recommended",
               "Unsupported OMBRI version 7.6.0. Expect OMBRI version 7.6.1 or later.")]),
            # failures keep lanrefit's message, from standard output or error
            (entry("nodrive", run(1, [FULL]), run(0, ["Error:2 trying to create directory C:\\VLMSYSTEM\\NICFWBACKUP\\."]),
                   [run(0, [], ["Error:2 trying to create directory C:\\VLMSYSTEM\\NICFWBACKUP\\."],
                        mac="0A1B2C3D4E5F")]),
             [("0", "5.0.3", "", "failed", "Error:2 trying to create directory C:\\VLMSYSTEM\\NICFWBACKUP\\.")]),
            (entry("nocat", run(1, [FULL]), run(0, [BANNER, NOCAT]), [run(0, [BANNER, NOCAT], mac="0A1B2C3D4E5F")]),
             [("0", "5.0.3", "", "failed", NOCAT)]),
            (entry("nolib", run(0, ["Cannot load the adapter library OMBRIa.DLL."]),
                   run(0, [BANNER, "Cannot load the adapter library OMBRIa.DLL."])),
             [("", "", "", "failed", "Cannot load the adapter library OMBRIa.DLL.")]),
            (entry("silent", run(0), run(0)),
             [("", "", "", "failed", "lanrefit -c exit code 0, -l exit code 0")]),
            (entry("errors", run(1, [FULL]), run(1, [PLAN]), [port(0, "0A1B2C3D4E5F", "",
                   "NIC firmware update completed with errors. ")]),
             [("0", "5.0.3", "5.0.4", "failed", "NIC firmware update completed with errors.")]),
            (entry("garbage", run(1, [FULL, "garbage"]), run(1, [PLAN]), [port(5)]),
             [("0", "5.0.3", "5.0.4", "up to date", ""), ("", "", "", "line not understood", "garbage")]),
            (entry("blank", run(1, [ZERO]), run(1, [ZERO])),
             [("2", "0.0.0", "0.0.0", "failed", "the port has no MAC text: lanrefit cannot be asked about it alone")]),
            ({"server": "away", "reached": False, "message": "timed out waiting for ping module test"},
             [("", "", "", "not reached", "timed out waiting for ping module test")]),
        ]
        for item, expected in rows:
            with self.subTest(server=item["server"]):
                got = [(r["index"], r["bootcode"], r["bootcode_catalogue"], r["verdict"], r["message"])
                       for r in lanrefit.lanrefit_fleet_rows([item])]
                self.assertEqual(got, expected)

    def test_every_server_a_row(self):
        rows = lanrefit.lanrefit_fleet_rows([entry("a", run(1, [FULL]), run(1, [PLAN]), [port(4)])],
                                            ["a", "lost"])
        self.assertEqual([(r["server"], r["verdict"]) for r in rows],
                         [("a", "update recommended"), ("lost", "not reached")])

    def test_macs(self):
        self.assertEqual(lanrefit.lanrefit_report_macs([FULL, SECOND, ZERO, "x"]),
                         ["0A1B2C3D4E5F", "0A1B2C3D4E60"])
        self.assertEqual(lanrefit.lanrefit_report_macs(OLD, [BANNER, PLAN]), ["0A1B2C3D4E5F"])

    def test_fingerprint(self):
        files = [{"path": "C:\\lanrefit\\NIC_FW\\UMP\\UMP.config", "checksum": "BB"},
                 {"path": "C:\\lanrefit\\NIC_FW\\Boot_Code\\BC.config", "checksum": "aa"}]
        want = hashlib.sha256(b"aa  Boot_Code/BC.config\nbb  UMP/UMP.config\n").hexdigest()
        self.assertEqual(lanrefit.lanrefit_catalogue_fingerprint(files, "C:\\lanrefit\\NIC_FW"), want)
        self.assertEqual(lanrefit.lanrefit_catalogue_fingerprint(files[::-1], "C:\\lanrefit\\NIC_FW\\"), want)
        sums = ["BB  NIC_FW/UMP/UMP.config", "aa  NIC_FW/Boot_Code/BC.config"]
        self.assertEqual(lanrefit.lanrefit_catalogue_fingerprint(sums, "NIC_FW"), want)
        self.assertEqual(lanrefit.lanrefit_catalogue_fingerprint([], "/w/NIC_FW"), "")

    def test_summary(self):
        rows = lanrefit.lanrefit_fleet_rows([
            entry("half", run(1, [FULL, SECOND.replace("ABCD-5678-0001", "ABCD-5678-0002")]),
                  run(1, [PLAN]), [port(5), port(4, "0A1B2C3D4E60")]),
            entry("unknown", run(1, [FULL]), run(1, [UNLISTED]), [port(3)]),
            entry("none", run(3), run(3, ["No supported network adapters for firmware upgrade."])),
            dict(entry("nolib", run(0, ["Cannot load the adapter library OMBRIa.DLL."]), run(0)), catalogue=""),
        ], ["half", "unknown", "none", "nolib", "lost"])
        summary = lanrefit.lanrefit_fleet_summary(rows, "2026-12-08T11:00:00Z")
        self.assertEqual((summary["servers"], summary["rows"], summary["taken"]), (5, 6, "2026-12-08T11:00:00Z"))
        self.assertEqual([(v, summary["totals"][v]) for v in summary["verdicts"]], [
            ("update recommended", 1), ("up to date", 1), ("nothing to compare: model not in catalogue", 1),
            ("nothing to compare: no supported adapter", 1), ("failed", 1), ("not reached", 1)])
        self.assertEqual(summary["models"], [
            ("1234-ABCD-5678-0001", {"up to date": 1, "nothing to compare: model not in catalogue": 1}),
            ("1234-ABCD-5678-0002", {"update recommended": 1}),
            ("(no port)", {"nothing to compare: no supported adapter": 1, "failed": 1, "not reached": 1})])
        self.assertEqual([item[:3] for item in summary["attention"]],
                         [("nolib", "", "failed"), ("lost", "", "not reached")])
        self.assertEqual(summary["catalogues"], [("f00d", ["half", "unknown", "none"]), ("", ["nolib"])])

    def test_tables(self):
        rows = lanrefit.lanrefit_fleet_rows([entry("a|<b>", run(1, [FULL]), run(1, [PLAN]), [port(4)])])
        self.assertEqual(lanrefit.lanrefit_fleet_csv(rows).splitlines(), [
            "server,index,mac,identity,description,verdict,bootcode,bootcode_catalogue,pxe,pxe_catalogue,"
            "ump,ump_catalogue,clp,clp_catalogue,iscsi,iscsi_catalogue,iscsi_stub,iscsi_stub_catalogue,"
            "message,catalogue,taken",
            "a|<b>,0,0A1B2C3D4E5F,1234-ABCD-5678-0001,Gigabit Server Adapter (port 1),update recommended,"
            "5.0.3,5.0.4,8.3.2,8.3.6,1.2.0,1.2.0,-,-,-,-,-,-,,f00d,2026-12-08T10:00:00Z"])
        page = lanrefit.lanrefit_fleet_markdown(rows).splitlines()
        self.assertIn("| update recommended | 1 |", page)
        self.assertTrue(page[-1].startswith("| a\\|<b> | 0 | 0A1B2C3D4E5F | 1234-ABCD-5678-0001 | update recommended"
                                            " | 5.0.3 / 5.0.4 | 8.3.2 / 8.3.6 |"), page[-1])
        html = lanrefit.lanrefit_fleet_html(rows)
        self.assertIn("<td>a|&lt;b&gt;</td>", html)
        self.assertIn("<svg", html)
        for outside in ("<script", "src=", "href=", "url(", "@import"):
            self.assertNotIn(outside, html)


class StagePlan(unittest.TestCase):
    def test_plan(self):
        paths = ["/s/lanrefit-1.0.0-win64/lanrefit.exe", "/s/lanrefit-1.0.0-win64/README.md",
                 "/s/lanrefit-1.0.0-win64/docs/operator.md",
                 "/s/lanrefit-1.0.0-win64/NIC_FW/Boot_Code/BC.config",
                 "/c/Boot_Code/BC.config", "/c/Boot_Code/x.bin"]
        plan = lanrefit.lanrefit_stage_plan(paths, "/s", "/c", "lanrefit.exe")
        self.assertEqual([(p["src"], p["dest"]) for p in plan], [
            ("/c/Boot_Code/BC.config", "NIC_FW\\Boot_Code\\BC.config"),
            ("/c/Boot_Code/x.bin", "NIC_FW\\Boot_Code\\x.bin"),
            ("/s/lanrefit-1.0.0-win64/README.md", "README.md"),
            ("/s/lanrefit-1.0.0-win64/docs/operator.md", "docs\\operator.md"),
            ("/s/lanrefit-1.0.0-win64/lanrefit.exe", "lanrefit.exe")])
        with self.assertRaises(ValueError):
            lanrefit.lanrefit_stage_plan(paths + ["/s/old/lanrefit.exe"], "/s", "/c", "lanrefit.exe")
        with self.assertRaises(ValueError):
            lanrefit.lanrefit_stage_plan(paths[1:], "/s", "/c", "lanrefit.exe")


if __name__ == "__main__":
    unittest.main()
