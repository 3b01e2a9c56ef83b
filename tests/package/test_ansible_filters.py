# The filters of examples/ansible: the -c line reader, the fleet report's rows
# and tables, and the staging plan. Run by CTest (native.ansible_filters).
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


def entry(server, report_rc, lines, advise_rc):
    return {"server": server, "report_rc": report_rc, "report_lines": lines,
            "advise_rc": advise_rc, "taken": "2026-12-08T10:00:00Z"}


class FleetRows(unittest.TestCase):
    def test_rows(self):
        rows = lanrefit.lanrefit_fleet_rows([
            entry("a", 1, [FULL, ISCSI], 4),
            entry("b", 1, [FULL], 5),
            entry("c", 1, [FULL], 6),
            entry("d", 3, [], 3),
            entry("e", 0, ["Cannot load the adapter library OMBRIa.DLL."], 0),
            entry("f", 1, [FULL, "garbage"], 5),
            entry("g", 1, [FULL], 9),
        ])
        got = [(r["server"], r["index"], r["bootcode"], r["verdict"], r["description"])
               for r in rows]
        self.assertEqual(got, [
            ("a", "0", "5.0.3", "update recommended", "Gigabit Server Adapter (port 1)"),
            ("a", "1", "5.1.0", "update recommended", "Gigabit Server Adapter with Jumper"),
            ("b", "0", "5.0.3", "up to date", "Gigabit Server Adapter (port 1)"),
            ("c", "0", "5.0.3", "newer installed", "Gigabit Server Adapter (port 1)"),
            ("d", "", "", "nothing to compare", "no supported adapter"),
            ("e", "", "", "failed", "Cannot load the adapter library OMBRIa.DLL."),
            ("f", "0", "5.0.3", "up to date", "Gigabit Server Adapter (port 1)"),
            ("f", "", "", "line not understood", "garbage"),
            ("g", "0", "5.0.3", "failed", "Gigabit Server Adapter (port 1)"),
        ])
        self.assertTrue(all(r["taken"] == "2026-12-08T10:00:00Z" for r in rows))

    def test_tables(self):
        rows = lanrefit.lanrefit_fleet_rows([entry("a|1", 1, [FULL], 4)])
        self.assertEqual(lanrefit.lanrefit_fleet_csv(rows).splitlines(), [
            "server,index,mac,identity,bootcode,pxe,ump,clp,iscsi,iscsi_stub,description,verdict,taken",
            "a|1,0,0A1B2C3D4E5F,1234-ABCD-5678-0001,5.0.3,8.3.2,1.2.0,-,-,-,"
            "Gigabit Server Adapter (port 1),update recommended,2026-12-08T10:00:00Z"])
        page = lanrefit.lanrefit_fleet_markdown(rows).splitlines()
        self.assertEqual(page[2].count("|"), 14)
        self.assertTrue(page[4].startswith("| a\\|1 | 0 | 0A1B2C3D4E5F |"), page[4])


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
