"""Reads a SEG-Y file with segyio and compares it with what a test expects.

usage: check_segy.py FILE EXPECTED

EXPECTED is a text file: the first line holds the sample count and the sample
interval in microseconds, every further line the samples of one trace.
Prints each mismatch and exits 1 when there is any, 0 when the file matches.
"""
import sys

import segyio


def main(path, expected_path):
    with open(expected_path) as f:
        count, interval = (int(v) for v in f.readline().split())
        traces = [[int(v) for v in line.split()] for line in f if line.strip()]

    problems = []
    with segyio.open(path, ignore_geometry=True) as s:
        if s.bin[segyio.BinField.Format] != 2:
            problems.append("sample format code %d" % s.bin[segyio.BinField.Format])
        if len(s.samples) != count:
            problems.append("sample count %d, expected %d" % (len(s.samples), count))
        if s.bin[segyio.BinField.Interval] != interval:
            problems.append("binary interval %d" % s.bin[segyio.BinField.Interval])
        if s.tracecount != len(traces):
            problems.append("trace count %d, expected %d" % (s.tracecount, len(traces)))
        for i, want in enumerate(traces[: s.tracecount]):
            if s.header[i][segyio.TraceField.TRACE_SAMPLE_INTERVAL] != interval:
                problems.append("trace %d interval %d" % (i, s.header[i][segyio.TraceField.TRACE_SAMPLE_INTERVAL]))
            got = [int(v) for v in s.trace[i]]
            if got != want:
                bad = next(k for k in range(max(len(got), len(want)))
                           if k >= len(got) or k >= len(want) or got[k] != want[k])
                problems.append("trace %d differs first at sample %d" % (i, bad))

    for p in problems:
        print(path + ": " + p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
