#!/usr/bin/env python3
"""Compares the events of a Wine scenario thread by thread with the lanes it expects.

    lanes.py EVENTS_TSV THREADS_TXT LANES_DIR

EVENTS_TSV is the test host's events.tsv, THREADS_TXT its events-threads.txt (line N names the
process and thread of line N of EVENTS_TSV), LANES_DIR holds one file per expected lane, each in
the form of expected-events.tsv ("SOURCE<TAB>TYPE<TAB>TEXT", an outcome with its id and strings).
Runs that overlap interleave their events in the file in whatever order the threads reached the
log; each thread's own events keep theirs. So every thread's events, in order, must be exactly one
lane, and every lane one thread's events. Exits 1 and prints what did not match otherwise.
"""
import difflib
import pathlib
import sys


def without_id(line):
    """A line of events.tsv as the lanes hold it: a numbered source's id is left out."""
    fields = line.split("\t")
    if fields[0] != "OrvaleUpgradeOutcome":
        del fields[1]
    return "\t".join(fields)


def main():
    events_file, threads_file, lanes_dir = sys.argv[1:4]
    events = pathlib.Path(events_file).read_text(encoding="utf-8").splitlines()
    threads = pathlib.Path(threads_file).read_text(encoding="ascii").splitlines()
    if len(events) != len(threads):
        print(f"events.tsv has {len(events)} lines, events-threads.txt {len(threads)}")
        return 1
    actual = {}
    for thread, line in zip(threads, events):
        actual.setdefault(thread, []).append(without_id(line))
    lanes = {path.name: path.read_text(encoding="utf-8").splitlines()
             for path in sorted(pathlib.Path(lanes_dir).iterdir())}
    unmatched = []
    for thread, got in actual.items():
        name = next((name for name, want in lanes.items() if want == got), None)
        if name is None:
            unmatched.append((thread, got))
        else:
            del lanes[name]
    for thread, got in unmatched:
        # The lane it differs least from, to show what went wrong.
        name, want = max(lanes.items(), default=("(none)", []),
                         key=lambda lane: difflib.SequenceMatcher(None, lane[1], got).ratio())
        print(f"thread {thread}: no lane matches its {len(got)} events; against lane {name}:")
        for row in difflib.unified_diff(want, got, "expected", "actual", lineterm="", n=1):
            print("    " + row)
    for name, want in lanes.items():
        print(f"lane {name} ({len(want)} events) matched no thread")
    return 1 if unmatched or lanes else 0


if __name__ == "__main__":
    sys.exit(main())
