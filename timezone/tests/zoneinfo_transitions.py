#!/usr/bin/env python3
"""Lists the offset changes of zones as Python's zoneinfo sees them.

Input (argument 1): lines "key<TAB>tz name<TAB>first year". Output: the
tzdata version ("# tzdata 2025b"), then per key a line
"S<TAB>key<TAB>changes before the first year since 1970<TAB>offset at the
first year's start" and a line "T<TAB>key<TAB>instant<TAB>offset before<TAB>
offset after" for each change from the first year to the end of 2037.
Offsets are seconds east of UTC.
"""

import datetime
import sys
import zoneinfo

START = 0
END = int(datetime.datetime(2038, 1, 1, tzinfo=datetime.timezone.utc).timestamp())
WEEK = 7 * 86400


def version():
    for base in zoneinfo.TZPATH:
        try:
            with open(base + "/tzdata.zi", encoding="utf-8") as f:
                return f.readline().split()[-1]
        except OSError:
            continue
    return "unknown"


def changes(zone):
    def offset(t):
        return int(datetime.datetime.fromtimestamp(t, zone).utcoffset().total_seconds())

    found = []
    t, before = START, offset(START)
    while t < END:
        nxt = min(t + WEEK, END)
        after = offset(nxt)
        while after != before:
            lo, hi = t, nxt  # offset(lo) == before, offset(hi) differs
            while hi - lo > 1:
                mid = (lo + hi) // 2
                if offset(mid) == before:
                    lo = mid
                else:
                    hi = mid
            found.append((hi, before, offset(hi)))
            t, before = hi, offset(hi)
        t, before = nxt, after
    return found, offset


def main():
    print("# tzdata " + version())
    zones = {}
    with open(sys.argv[1], encoding="utf-8") as f:
        for line in f:
            key, name, first = line.rstrip("\n").split("\t")
            if name not in zones:
                zones[name] = changes(zoneinfo.ZoneInfo(name))
            found, offset = zones[name]
            begin = int(datetime.datetime(int(first), 1, 1, tzinfo=datetime.timezone.utc).timestamp())
            skipped = sum(1 for t, _, _ in found if t < begin)
            print("S\t%s\t%d\t%d" % (key, skipped, offset(begin)))
            for t, b, a in found:
                if t >= begin:
                    print("T\t%s\t%d\t%d\t%d" % (key, t, b, a))


if __name__ == "__main__":
    main()
