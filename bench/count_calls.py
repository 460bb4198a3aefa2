#!/usr/bin/env python3
"""Counts the file-system calls of each action of bench_calls in a trace.

    strace -f -y -o /tmp/calls.log build/bench/bench/bench_calls --records 100000
    python3 bench/count_calls.py /tmp/calls.log

Only calls on the installation's files count: a path under its folder (or a
relative one: the program works in that folder), or a descriptor strace
shows with such a path (-y). The program marks each timed action with
access("/vdr-calls-mark/ACTION/begin") and ".../end"; the counts are the
mean per action, by kind and by call.
"""
import collections
import re
import sys

KINDS = [
    ("reads", {"read", "pread64", "readv", "preadv", "preadv2"}),
    ("writes", {"write", "pwrite64", "writev", "pwritev", "pwritev2"}),
    ("locks", {"fcntl", "flock"}),
    ("size/attr", {"fstat", "newfstatat", "stat", "lstat", "statx", "access", "faccessat",
                   "faccessat2", "lseek", "readlink", "readlinkat"}),
    ("opens", {"open", "openat", "creat"}),
    ("closes", {"close"}),
    ("dir scans", {"getdents64", "getdents"}),
    ("syncs", {"fsync", "fdatasync"}),
]
LINE = re.compile(r"^(\d+)\s+(?:<\.\.\. )?(\w+)(\(| resumed>)(.*)$")
MARK = re.compile(r'"/vdr-calls-mark/(\w+)/(begin|end)"')


def kind_of(name):
    for k, names in KINDS:
        if name in names:
            return k
    return "other"


def main(path, root=None):
    counts = collections.defaultdict(collections.Counter)
    runs = collections.Counter()
    current = None
    pending = {}  # pid -> call name of an unfinished call
    with open(path, errors="replace") as f:
        for line in f:
            m = MARK.search(line)
            if m:
                action, where = m.groups()
                if where == "begin":
                    current = action
                    runs[action] += 1
                else:
                    current = None
                continue
            m = LINE.match(line)
            if not m or current is None:
                continue
            pid, name, how, rest = m.groups()
            if how == " resumed>":
                continue  # counted when it started
            if name.startswith("fcntl") and not re.search(r"F_(OFD_)?(SET|GET)LKW?", rest):
                name = "fcntl(other)"
            ours = False
            for p in re.findall(r'<([^<>]*)>|"([^"]*)"', rest):
                text = p[0] or p[1]
                if root and text.startswith(root):
                    ours = True
                elif p[1] and text and not text.startswith("/") and name in (
                        "openat", "open", "newfstatat", "stat", "lstat", "access", "faccessat",
                        "rename", "renameat", "renameat2", "unlink", "unlinkat", "mkdir",
                        "mkdirat", "statx", "rmdir"):
                    ours = True
            if ours:
                counts[current][name] += 1
    for action in runs:
        n = runs[action]
        c = counts[action]
        total = sum(c.values())
        by_kind = collections.Counter()
        for name, v in c.items():
            by_kind[kind_of(name)] += v
        print(f"{action}: {total / n:.1f} calls per action ({n} runs)")
        print("   " + ", ".join(f"{k} {by_kind[k] / n:.1f}" for k, _ in KINDS + [("other", 0)]
                                if by_kind[k]))
        print("   " + ", ".join(f"{name} {v / n:.1f}" for name, v in c.most_common()))


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit("Uso: count_calls.py TRAZA [CARPETA_DE_LA_INSTALACION]")
    root = sys.argv[2] if len(sys.argv) > 2 else None
    if root is None:
        # The installation: the folder of the first table opened.
        with open(sys.argv[1], errors="replace") as f:
            for line in f:
                m = re.search(r'"(/[^"]*/inst)/', line)
                if m:
                    root = m.group(1)
                    break
    main(sys.argv[1], root)
