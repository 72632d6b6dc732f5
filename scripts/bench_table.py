#!/usr/bin/env python3
"""Turns the benchmark's JSON output (and the file-to-file timings) into the head of bench/results.md.

With --section TITLE FILE RESULTS, puts FILE's text into RESULTS as the section headed "## TITLE"
instead, replacing that section where RESULTS has it; the head and the other sections stay.

With --editor LINUX WINDOWS, prints bench_editor's outputs for the two systems (either file may be
missing) as one table, the two systems side by side, followed by their other lines.
"""
import json
import os
import platform
import re
import sys


def editor_rows(path):
    """bench_editor's table rows by module/depth/size, and the lines around the table."""
    rows, notes = {}, []
    if not os.path.exists(path):
        return rows, notes
    for line in open(path).read().splitlines():
        cells = [c.strip() for c in line.strip().strip('|').split('|')]
        if line.startswith('|') and cells[0] != 'module / depth / size' and not cells[0].startswith('---'):
            rows[cells[0]] = cells[1:]
        elif not line.startswith('|') and line.strip():
            notes.append(line)
    return rows, notes


if sys.argv[1] == '--editor':
    linux, linux_notes = editor_rows(sys.argv[2])
    windows, windows_notes = editor_rows(sys.argv[3])
    cell = lambda row, i: row[i] if row and i < len(row) and row[i] else '–'
    print("| module / depth / size | Linux continue (ms) | Linux floor (ms) | ratio | Debian's floor (ms) "
          "| ratio to Debian's | Windows continue (ms) | Windows floor (ms) | ratio |")
    print("|---|---:|---:|---:|---:|---:|---:|---:|---:|")
    for name in list(linux) + [n for n in windows if n not in linux]:
        l, w = linux.get(name), windows.get(name)
        print(f"| {name} | {cell(l, 0)} | {cell(l, 1)} | {cell(l, 2)} | {cell(l, 4)} | {cell(l, 5)} "
              f"| {cell(w, 0)} | {cell(w, 1)} | {cell(w, 2)} |")
    for system, notes in (('Linux', linux_notes), ('Windows', windows_notes)):
        if notes:
            print(f"\n{system}: " + ' '.join(notes))
    sys.exit(0)

if sys.argv[1] == '--section':
    title, body, results = sys.argv[2], open(sys.argv[3]).read().strip(), sys.argv[4]
    try:
        text = open(results).read()
    except FileNotFoundError:
        text = ''
    parts = re.split(r'(?m)^(?=## )', text)
    section = f"## {title}\n\n{body}\n"
    kept = [s for s in parts if not s.startswith(f"## {title}\n")]
    if len(kept) < len(parts):
        parts = [section if s.startswith(f"## {title}\n") else s for s in parts]
    else:
        parts.append(section)
    open(results, 'w').write('\n'.join(s.strip('\n') + '\n' for s in parts if s.strip()))
    sys.exit(0)

data = json.load(open(sys.argv[1]))
cpu = next((l.split(':', 1)[1].strip() for l in open('/proc/cpuinfo') if l.startswith('model name')),
           platform.machine())
print(f"Machine: {cpu}, {data['context'].get('num_cpus')} cores; {data['context'].get('date', '')}\n")
print("Median of 3 repetitions, each after one warm-up call; the first call of the process (fresh memory) apart.\n")
print("| module / depth / size | continue (ms) | FFTW floor (ms) | ratio | Debian's floor (ms) | ratio to Debian's "
      "| first call (ms) | scratch memory (MiB) |")
print("|---|---:|---:|---:|---:|---:|---:|---:|")
for b in data['benchmarks']:
    if b.get('aggregate_name', 'median') != 'median' or b.get('error_occurred'):
        continue
    name = b['run_name'].replace('/manual_time', '')
    print(f"| {name} | {b['real_time']:.1f} | {b['floor_ms']:.1f} | {b['ratio']:.2f} | "
          f"{b.get('debian_floor_ms', float('nan')):.1f} | {b.get('debian_ratio', float('nan')):.2f} | "
          f"{b.get('first_call_ms', float('nan')):.0f} | {b['scratch_bytes'] / 2**20:.1f} |")
rows = [r for r in sys.argv[2].splitlines() if r] if len(sys.argv) > 2 else []
if rows:
    print("\nFile to file, 2048 x 2048 8-bit PNG (the demo picture scaled up), whole process, median of 5:\n")
    print("| command | seconds | peak memory (MiB) |")
    print("|---|---:|---:|")
    for r in rows:
        label, secs, mib = r.split('|')
        print(f"| {label} | {secs} | {mib} |")
