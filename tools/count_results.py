"""Adds up a CTest run: every GoogleTest case from the programs' XML reports, and one count for
each CTest entry that has no report (a script) or that failed without a failing case (a crash
or a time-out). Prints "N passed, N failed, N skipped" and the names of what failed or skipped.
    count_results.py JUNIT RESULTS-FOLDER [JUNIT RESULTS-FOLDER ...]
"""
import os
import sys
import xml.etree.ElementTree as ET

passed = failed = skipped = 0
notes = []
args = sys.argv[1:]
for junit, results in zip(args[0::2], args[1::2]):
    if not os.path.exists(junit):
        failed += 1
        notes.append(f"no CTest report: {junit}")
        continue
    for entry in ET.parse(junit).getroot().iter("testcase"):
        name = entry.get("name")
        entry_failed = entry.get("status") == "fail" or entry.find("failure") is not None
        if entry.get("status") in ("disabled", "notrun"):
            skipped += 1
            notes.append(f"skipped {name}: not run")
            continue
        report = os.path.join(results, f"{name}.xml")
        case_failures = 0
        if os.path.exists(report):
            for case in ET.parse(report).getroot().iter("testcase"):
                label = f"{name}: {case.get('classname')}.{case.get('name')}"
                if case.find("failure") is not None:
                    failed += 1
                    case_failures += 1
                    notes.append(f"FAILED {label}")
                elif case.get("result") == "skipped":
                    skipped += 1
                    message = case.find("skipped")
                    notes.append(f"skipped {label}: {message.get('message', '') if message is not None else ''}".strip())
                else:
                    passed += 1
        if entry_failed and case_failures == 0:
            failed += 1
            notes.append(f"FAILED {name} (ended without a failing case: crash, time-out or script)")
        elif not os.path.exists(report):
            passed += 0 if entry_failed else 1
for note in notes:
    print(note, file=sys.stderr)
print(f"{passed} passed, {failed} failed, {skipped} skipped")
sys.exit(1 if failed else 0)
