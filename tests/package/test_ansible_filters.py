# The filters of examples/ansible: the -c line reader, the fleet report's rows,
# summary and pages, the rollout's judgement, the staging archive, and the
# Windows tasks as Ansible renders them. Run by CTest (native.ansible_filters).
import contextlib
import hashlib
import io
import json
import os
import re
import sys
import unittest

# The Windows render test templates with Ansible's own code: run by the Python
# that ansible-playbook runs on when this one lacks it.
try:
    import ansible  # noqa: F401
except ImportError:
    import shutil
    with open(shutil.which("ansible-playbook") or sys.exit("no ansible-playbook")) as f:
        python = f.readline()[2:].split()[0]
    if os.path.realpath(python) == os.path.realpath(sys.executable):
        sys.exit("ansible is not importable")
    os.execv(python, [python] + sys.argv)

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


# A run that lanrefit.yml kept as not run (exit code -1, Ansible's message).
DENIED = lanrefit.lanrefit_report_run(lanrefit.lanrefit_run_result(
    {"rc": 2, "msg": "[Errno 13] Permission denied: b'/w/lanrefit'"}))


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
            # lanrefit never ran: the entry's message, or Ansible's of the runs
            ({"server": "noprogram", "message": "lanrefit is not there: C:\\lanrefit\\lanrefit.exe"},
             [("", "", "", "failed", "lanrefit is not there: C:\\lanrefit\\lanrefit.exe")]),
            (entry("denied", DENIED, DENIED), [("", "", "", "failed", DENIED["msg"])]),
            (entry("portdenied", run(1, [FULL]), run(1, [PLAN]), lanrefit.lanrefit_report_ports([DENIED], ["0A1B2C3D4E5F"])),
             [("0", "5.0.3", "5.0.4", "failed", DENIED["msg"])]),
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


ROLE = os.path.join(os.path.dirname(__file__), "../../examples/ansible/roles/lanrefit_rollout")
sys.path.insert(0, os.path.join(ROLE, "files"))
import build_stage  # noqa: E402


class StagePlan(unittest.TestCase):
    def test_plan(self):
        names = ["lanrefit-1.0.0-win64/lanrefit.exe", "lanrefit-1.0.0-win64/README.md",
                 "lanrefit-1.0.0-win64/docs/operator.md", "lanrefit-1.0.0-win64/docs/",
                 "lanrefit-1.0.0-win64/NIC_FW/Boot_Code/BC.config",
                 "lanrefit-1.0.0-win64/NIC_FW/README.txt", "lanrefit-1.0.0-win64/LICENSE.txt"]
        self.assertEqual(build_stage.release_plan(names, "lanrefit.exe"), {
            "README.md": "lanrefit-1.0.0-win64/README.md",
            "docs/operator.md": "lanrefit-1.0.0-win64/docs/operator.md",
            "lanrefit.exe": "lanrefit-1.0.0-win64/lanrefit.exe"})
        with self.assertRaises(ValueError):
            build_stage.release_plan(names + ["old/lanrefit.exe"], "lanrefit.exe")
        with self.assertRaises(ValueError):
            build_stage.release_plan(names[1:], "lanrefit.exe")


TITLE = "Velmar Multi-Function Gigabit Server Adapter Firmware Upgrade Utility"
LOG = "\n".join(["*" * 67, TITLE, "*" * 67, "Found Gigabit Server Adapter 1 MAC: 0A1B2C3D4E01 ",
                 "NIC firmware update is recommended.", "",
                 "*" * 67, TITLE, "*" * 67, "Upgrading Boot Code 5.0.3 to 5.0.4", "",
                 "ERROR: Upgrade of Gigabit Server Adapter 1 MAC: 0A1B2C3D4E01 failed with internal error 14",
                 "Verify failed: PXE is 8.3.2, expected 8.3.6", "",
                 "NIC firmware update completed with errors. ", ""])


def ran(rc, stdout="", stderr="", msg=None):
    result = {"rc": rc, "stdout": stdout, "stderr": stderr}
    if msg is not None:
        result["msg"] = msg
    return result


class Rollout(unittest.TestCase):
    def test_run_result(self):
        rows = [
            # module result, exit code kept
            (ran(4, TITLE + "\r\n"), 4),
            (ran(1, "", msg="non-zero return code"), 1),
            (ran(0, "", msg=""), 0),
            # the program could not be run: no exit code of lanrefit's
            (ran(2, msg="[Errno 2] No such file or directory: b'/x/lanrefit'"), -1),
            (ran(2, msg="Failed to run: 'C:\\x\\lanrefit.exe -N': The system cannot find the file"), -1),
            ({"failed": True, "msg": "async task did not complete within the requested time - 3600s"}, -1),
        ]
        for result, rc in rows:
            with self.subTest(result=result):
                self.assertEqual(lanrefit.lanrefit_run_result(result)["rc"], rc)
        self.assertEqual(lanrefit.lanrefit_run_result(ran(4, TITLE + "\r\nx\r\n"))["stdout_lines"], [TITLE, "x"])

    def test_failed_step(self):
        rows = [
            # codes, check mode, program found, the step that failed
            ({"advise": 4, "write": 1, "confirm": 5}, False, True, ""),
            ({"advise": 4, "write": 3, "confirm": 6}, False, True, ""),
            ({"advise": 5}, False, True, ""),
            ({"advise": 3}, False, True, ""),
            ({"advise": 4}, True, True, ""),
            ({"advise": 0}, True, True, "advise"),
            ({"advise": -1}, False, True, "advise"),
            ({}, False, True, "advise"),
            ({"advise": 4, "write": 0}, False, True, "write"),
            ({"advise": 4, "write": -1}, False, True, "write"),
            ({"advise": 4, "write": 1, "confirm": 4}, False, True, "confirm"),
            ({"advise": 4, "write": 1}, False, True, "confirm"),
            ({}, False, False, "program"),
        ]
        for codes, check, found, step in rows:
            with self.subTest(codes=codes, check=check):
                self.assertEqual(lanrefit.lanrefit_failed_step(codes, check, found), step)

    def test_message(self):
        rows = [
            # run result, log text, lanrefit's message
            (ran(0, TITLE + "\nCannot load the adapter library OMBRIa.DLL.\n"), "",
             "Cannot load the adapter library OMBRIa.DLL."),
            (ran(0, "Administrator privileges are requried to run this application.\n"), LOG,
             "Administrator privileges are requried to run this application."),
            # a silent run: standard error first, else its last run in the log
            (ran(0, "", "No image catalogue here: C:\\fw has no NIC_FW folder.\n"), LOG,
             "No image catalogue here: C:\\fw has no NIC_FW folder."),
            (ran(0), LOG, "ERROR: Upgrade of Gigabit Server Adapter 1 MAC: 0A1B2C3D4E01 failed with internal error 14"
             " Verify failed: PXE is 8.3.2, expected 8.3.6 NIC firmware update completed with errors."),
            (ran(1, TITLE + "\n\nFound Gigabit Server Adapter 1 MAC: 0A1B2C3D4E01 \n"), "", "exit code 1, nothing printed"),
            (lanrefit.lanrefit_run_result(ran(2, msg="[Errno 13] Permission denied")), "", "[Errno 13] Permission denied"),
        ]
        for result, log, message in rows:
            with self.subTest(result=result):
                result = dict(result, stdout_lines=result.get("stdout", "").splitlines(),
                              stderr_lines=result.get("stderr", "").splitlines())
                self.assertEqual(lanrefit.lanrefit_message(result, log), message)

    def test_diff(self):
        current = "0 0A1B2C3D4E01 1234-ABCD-5678-0001 5 0 4 8 3 6 1 2 0 - - - - - - - - -  Gigabit Server Adapter 1 "
        installed = [TITLE, current,
                     "1 0A1B2C3D4E02 1234-ABCD-5678-0002 5 1 0 - - - 1 1 0 2 0 9 - - - - - -  Gigabit Server Adapter 2 "]
        plan = [TITLE, current,
                "1 0A1B2C3D4E02 1234-ABCD-5678-0002 5 1 2 - - - 1 2 0 2 1 4 - - - - - -  Gigabit Server Adapter 2 ",
                "2 0A1B2C3D4E03 1234-ABCD-5678-0003 5 1 2 - - - - - - - - - - - - - - -  not installed "]
        checks = lanrefit.lanrefit_diff_checks(installed, plan)
        self.assertEqual([c["args"] for c in checks], [
            "-N -o 0A1B2C3D4E01", "-N -x 0A1B2C3D4E01", "-N -u 0A1B2C3D4E01",
            "-N -o 0A1B2C3D4E02", "-N -u 0A1B2C3D4E02", "-N -b 0A1B2C3D4E02"])
        rows = [
            # exit codes of the checks' runs, the plan shown
            ([5, 5, 5, 4, 4, 4], ["port 0 0A1B2C3D4E01 1234-ABCD-5678-0001: nothing to write",
                                  "port 1 0A1B2C3D4E02 1234-ABCD-5678-0002: Boot Code 5.1.0 -> 5.1.2, "
                                  "UMP 1.1.0 -> 1.2.0, CLP 2.0.9 -> 2.1.4"]),
            # a port already newer gets nothing, whatever the catalogue lists
            ([6, 5, 5, 6, 4, 0], ["port 0 0A1B2C3D4E01 1234-ABCD-5678-0001: nothing to write",
                                  "port 1 0A1B2C3D4E02 1234-ABCD-5678-0002: UMP 1.1.0 -> 1.2.0"]),
        ]
        for codes, shown in rows:
            with self.subTest(codes=codes):
                self.assertEqual(lanrefit.lanrefit_diff(checks, codes), shown)


class StageArchive(unittest.TestCase):
    def test_archive(self):
        import tempfile
        import unpack_stage
        with tempfile.TemporaryDirectory() as tmp:
            release, catalogue = os.path.join(tmp, "r.zip"), os.path.join(tmp, "site")
            os.makedirs(os.path.join(catalogue, "PXE"))
            for name, data in (("PXE/MFPXE.config", b"x"), ("PXE/a.bin", b"image"), ("lib", b"L"), ("w", b"W")):
                with open(os.path.join(catalogue if "/" in name else tmp, name), "wb") as f:
                    f.write(data)
            import zipfile
            with zipfile.ZipFile(release, "w") as z:
                z.writestr("lanrefit-1/lanrefit", b"P")
                z.writestr("lanrefit-1/README.md", b"R")
            argv = ["--zip", release, "--catalogue", catalogue, "--library", os.path.join(tmp, "lib"),
                    "--writer", os.path.join(tmp, "w"), "--program", "lanrefit",
                    "--library-name", "libOMBRIa.so", "--writer-name", "imgwriter"]
            args = [build_stage.build(build_stage.argparse.Namespace(
                out=os.path.join(tmp, out), **{k[2:].replace("-", "_"): v for k, v in zip(argv[::2], argv[1::2])}))
                for out in ("a", "b")]
            self.assertEqual(sorted(args[0]["files"]), ["NIC_FW/PXE/MFPXE.config", "NIC_FW/PXE/a.bin", "README.md",
                                                        "imgwriter", "lanrefit", "libOMBRIa.so"])
            # The same files make the same archive, byte for byte.
            self.assertEqual(args[0]["archive_sha256"], args[1]["archive_sha256"])
            work = os.path.join(tmp, "work")
            rows = [
                # what happens before the run, --check, files taken
                (lambda: None, True, sorted(args[0]["files"])),
                (lambda: None, False, sorted(args[0]["files"])),
                (lambda: None, False, []),
                (lambda: open(os.path.join(work, "NIC_FW/PXE/a.bin"), "wb").close(), True, ["NIC_FW/PXE/a.bin"]),
                (lambda: None, False, ["NIC_FW/PXE/a.bin"]),
                (lambda: None, False, []),
            ]
            for prepare, check, taken in rows:
                with self.subTest(check=check, taken=taken):
                    prepare()
                    out = io.StringIO()
                    with contextlib.redirect_stdout(out):
                        rc = unpack_stage.main([work, args[0]["archive"], json.dumps(args[0]["files"])]
                                               + (["--check"] if check else []))
                    self.assertEqual((rc, json.loads(out.getvalue())), (0, {"stale": taken, "bad": []}))
            with contextlib.redirect_stderr(io.StringIO()):
                self.assertEqual(unpack_stage.main([work, args[0]["archive"], json.dumps({"../x": "0"})]), 1)


# The Windows tasks, rendered on the control node with Ansible's own templating
# for a server whose work folder has a blank and a quote in its name; every
# task's rendered arguments must be exactly these (a task without a row fails).
WORKDIR = "D:\\fw O'Brien"
MANIFEST = {"NIC_FW/PXE/MFPXE.config": "ab" * 32, "lanrefit.exe": "cd" * 32}
RENDER_VARS = {
    "inventory_hostname": "srv-web-01", "playbook_dir": "/srv/ansible", "ansible_check_mode": False,
    "lanrefit_workdir": WORKDIR, "lanrefit_system_drive": "D:",
    "lanrefit_bundle_archive": "/srv/ansible/staging/lanrefit-stage.zip", "lanrefit_bundle_files": MANIFEST,
    "lanrefit_step": "checks", "lanrefit_args": ["-N -o 0A1B2C3D4E01", "-N -x 0A1B2C3D4E01"],
    "lanrefit_runs": ["-N -o 0A1B2C3D4E01", "-N -x 0A1B2C3D4E01"],
    # the fleet report's: win_find's .config files, the runs of -c and -l
    "lanrefit_config_files": {"files": [
        {"path": WORKDIR + "\\NIC_FW\\PXE\\MFPXE.config", "checksum": "AB" * 32},
        {"path": WORKDIR + "\\NIC_FW\\Boot_Code\\BC.config", "checksum": "cd" * 32}]},
    "lanrefit_results": {"installed": {"stdout_lines": [TITLE, FULL, SECOND]}, "plan": {"stdout_lines": [TITLE]}},
}
ARCHIVE = WORKDIR + "\\lanrefit-stage.zip"
RENDERED = {
    # task file, task name: the module's arguments, one per loop item
    ("windows/program.yml", "Is the program there?"): [
        {"path": WORKDIR + "\\lanrefit.exe", "get_checksum": False}],
    ("windows/run.yml", "Run lanrefit {{ lanrefit_args }}"): [
        {"argv": [WORKDIR + "\\lanrefit.exe", "-N", "-o", "0A1B2C3D4E01"], "chdir": WORKDIR},
        {"argv": [WORKDIR + "\\lanrefit.exe", "-N", "-x", "0A1B2C3D4E01"], "chdir": WORKDIR}],
    ("windows/stage.yml", "Is there a work folder?"): [{"path": WORKDIR, "get_checksum": False}],
    ("windows/stage.yml", "Work folder"): [{"path": WORKDIR, "state": "directory"}],
    ("windows/stage.yml", "Work folder, full control for Administrators and SYSTEM"): [
        {"path": WORKDIR, "user": sid, "rights": "FullControl", "type": "allow", "state": "present",
         "inherit": "ContainerInherit, ObjectInherit", "propagation": "None"}
        for sid in ("S-1-5-32-544", "S-1-5-18")],
    ("windows/stage.yml", "Work folder, nothing inherited from the drive (so no other user may write there)"): [
        {"path": WORKDIR, "state": "absent", "reorganize": False}],
    ("windows/stage.yml", "The site's archive"): [
        {"src": "/srv/ansible/staging/lanrefit-stage.zip", "dest": ARCHIVE}],
    ("windows/stage.yml", "Unpack what is missing or differs, and check every file"): [
        {"script": "unpack_stage.ps1",
         "parameters": {"WorkDir": WORKDIR, "Archive": ARCHIVE, "Manifest": MANIFEST}}],
    ("windows/stage.yml", "The files taken from the archive"): [
        {"lanrefit_staged": ["NIC_FW/PXE/MFPXE.config"]}],
    ("windows/catalogue.yml", "The catalogue's .config files"): [
        {"paths": WORKDIR + "\\NIC_FW", "patterns": "*.config", "recurse": True, "get_checksum": True,
         "checksum_algorithm": "sha256"}],
    # relative to NIC_FW, "/", sorted: as sha256sum prints them on the control node
    ("windows/catalogue.yml", "The catalogue's fingerprint"): [{"lanrefit_report_catalogue": hashlib.sha256(
        ("cd" * 32 + "  Boot_Code/BC.config\n" + "ab" * 32 + "  PXE/MFPXE.config\n").encode()).hexdigest()}],
    # the report's own texts: the ports' -N runs, a server without the program
    ("report_server.yml", "Each port's own verdict, lanrefit -N asked with the port's MAC"): [
        ["-N -o -x -u -b -d 0A1B2C3D4E5F", "-N -o -x -u -b -d 0A1B2C3D4E60"]],
    ("report_server.yml", "The entry of a server without the program"): [
        "lanrefit is not there: " + WORKDIR + "\\lanrefit.exe"],
    # the paths of vars/windows.yml
    ("vars", "lanrefit_log_file"): ["D:\\VLMSYSTEM\\log\\lanrefit.log"],
}


class WindowsRender(unittest.TestCase):
    def setUp(self):
        import yaml
        from ansible.parsing.dataloader import DataLoader
        from ansible.plugins.loader import filter_loader
        from ansible.template import Templar
        filter_loader.add_directory(os.path.join(ROLE, "../../filter_plugins"))
        self.yaml = yaml
        variables = {}
        for name in ("defaults/main.yml", "vars/main.yml", "vars/windows.yml"):
            with open(os.path.join(ROLE, name)) as f:
                variables.update(yaml.safe_load(f))
        variables.update(RENDER_VARS, role_path=ROLE, ansible_search_path=[ROLE],
                         lanrefit_unpacked={"result": {"stale": ["NIC_FW/PXE/MFPXE.config"], "bad": []}})
        self.templar = Templar(loader=DataLoader(), variables=variables)

    def rendered(self):
        """{(file, task name): [module arguments per loop item]} of the Windows tasks."""
        out = {("vars", "lanrefit_log_file"): [self.templar.template("{{ lanrefit_log_file }}")]}
        with open(os.path.join(ROLE, "tasks/report_server.yml")) as f:
            report = self.yaml.safe_load(f)
        tasks = {task["name"]: task for task in report + report[-1]["block"]}
        name = "Each port's own verdict, lanrefit -N asked with the port's MAC"
        self.templar.available_variables = dict(self.templar.available_variables, **tasks[name]["vars"])
        out[("report_server.yml", name)] = [self.templar.template(tasks[name]["vars"]["lanrefit_args"])]
        name = "The entry of a server without the program"
        out[("report_server.yml", name)] = [
            self.templar.template(tasks[name]["ansible.builtin.set_fact"]["lanrefit_report_entry"]["message"])]
        for name in sorted(os.listdir(os.path.join(ROLE, "tasks/windows"))):
            with open(os.path.join(ROLE, "tasks/windows", name)) as f:
                tasks = self.yaml.safe_load(f)
            for task in tasks:
                module = [k for k in task if k.startswith(("ansible.windows.", "ansible.builtin."))]
                self.assertEqual(len(module), 1, task["name"])
                items = self.templar.template(task["loop"]) if "loop" in task else [None]
                args = []
                for item in items:
                    self.templar.available_variables = dict(self.templar.available_variables, item=item)
                    args.append(self.templar.template(task[module[0]]))
                out[("windows/" + name, task["name"])] = args
        return out

    def test_rendered(self):
        got = self.rendered()
        with open(os.path.join(ROLE, "files/unpack_stage.ps1")) as f:
            script = f.read().rstrip("\n")
        for key, args in got.items():
            with self.subTest(task=key):
                for arg in args:
                    text = json.dumps(arg)
                    # No template left, and no regular expression's group reference.
                    self.assertNotIn("{{", text)
                    self.assertNotRegex(text, r"'\\\\[0-9]'|\\\\[0-9]'")
                    if isinstance(arg, dict) and "parameters" in arg:
                        self.assertEqual(arg["script"], script)
                        # Every parameter passed is one the script declares, and
                        # every mandatory one is passed.
                        declared = re.findall(r"\]\$(\w+)", script[script.index("param("):script.index("\n)\n")])
                        mandatory = re.findall(r"\[Parameter\(Mandatory\)\]\[[^\]]*\]\$(\w+)", script)
                        self.assertLessEqual(set(arg["parameters"]), set(declared))
                        self.assertLessEqual(set(mandatory), set(arg["parameters"]))
                        arg = dict(arg, script="unpack_stage.ps1")
                    self.assertIn(arg, RENDERED.get(key, []))
                self.assertEqual(len(args), len(RENDERED.get(key, [])))
        self.assertEqual(sorted(got), sorted(RENDERED))


if __name__ == "__main__":
    unittest.main()
