#!/usr/bin/env python3
"""Writes the reference expansions of recurrence rules, from python-dateutil.

Each line: RRULE|DTSTART|occurrence,occurrence,... (wall clocks, no zone).
The rules lie where this library's walk and RFC 5545 agree: the start is the
rule's first occurrence, BY values are unique, INTERVAL 1-4, COUNT up to 30
or an UNTIL, years before 2100, no gap of seven years or more, time lists
only where the start's time is in them. The first line names the dateutil
version. Fixed examples come first, from one or more files (comma-separated);
a start of eight digits is a date, and its occurrences are written as dates.
Usage: rrule_golden.py EXAMPLES_FILE[,EXAMPLES_FILE...] OUTPUT_FILE [CASES]
"""
import datetime as dt
import random
import sys

import dateutil
from dateutil import rrule as du

CASES = 2400
FMT = "%Y%m%dT%H%M%S"
DAYS = ["MO", "TU", "WE", "TH", "FR", "SA", "SU"]


def pick(r, values, lo, hi):
    return r.sample(values, r.randint(lo, min(hi, len(values))))


def signed(r, values, lo, hi):
    # One sign per list: a negative and a positive value may name the same
    # day, and this walk keeps such duplicates.
    sign = r.choice([1, -1])
    return pick(r, [v for v in values if v * sign > 0], lo, hi)


def joined(values):
    return ",".join(str(v) for v in values)


def random_rule(r):
    freq = r.choice(["YEARLY", "MONTHLY", "WEEKLY", "DAILY"])
    parts = ["FREQ=" + freq]
    weeks = freq == "YEARLY" and r.random() < 0.15
    # Week-number periods follow the weeks' own years here, so the days of a
    # boundary week may fall in another period than dateutil's: no INTERVAL
    # and no BYSETPOS beside BYWEEKNO, and no week that may cross New Year
    # (dateutil and RFC 5545 differ there too).
    if r.random() < 0.4 and not weeks:
        parts.append("INTERVAL=%d" % r.randint(1, 4))
    day_ok = freq == "YEARLY" or freq == "MONTHLY"
    monthdays = list(range(1, 32)) + list(range(-31, 0)) if day_ok else list(range(1, 29)) + list(range(-28, 0))
    lists = {}
    shape = r.random()
    if weeks:
        lists["BYWEEKNO"] = joined(signed(r, list(range(2, 51)) + list(range(-50, -1)), 1, 3))
        lists["BYDAY"] = joined(pick(r, DAYS, 1, 3))
    elif freq == "YEARLY" and shape < 0.3:
        lists["BYYEARDAY"] = joined(signed(r, list(range(1, 367)) + list(range(-366, 0)), 1, 4))
        if r.random() < 0.3:
            lists["BYDAY"] = joined(pick(r, DAYS, 1, 4))
    else:
        if r.random() < 0.6:
            lists["BYMONTH"] = joined(pick(r, list(range(1, 13)), 1, 4))
        if freq != "WEEKLY" and r.random() < 0.5:
            lists["BYMONTHDAY"] = joined(signed(r, monthdays, 1, 4))
        if r.random() < 0.6:
            if freq in ("YEARLY", "MONTHLY") and "BYMONTHDAY" not in lists and r.random() < 0.5:
                ordinals = [o for o in range(-5, 6) if o != 0]
                if freq == "YEARLY" and "BYMONTH" not in lists:
                    ordinals = [o for o in range(-53, 54) if o != 0]
                sign = r.choice([1, -1])
                ordinals = [o for o in ordinals if o * sign > 0]
                items = set()
                for _ in range(r.randint(1, 3)):
                    items.add("%d%s" % (r.choice(ordinals), r.choice(DAYS)))
                lists["BYDAY"] = ",".join(sorted(items))
            else:
                lists["BYDAY"] = joined(pick(r, DAYS, 1, 5))
    if freq in ("WEEKLY", "DAILY") or "BYDAY" in lists or "BYMONTHDAY" in lists or "BYYEARDAY" in lists:
        if r.random() < 0.15:
            hours = pick(r, list(range(24)), 1, 3)
            lists["BYHOUR"] = joined(hours)
            if r.random() < 0.5:
                lists["BYMINUTE"] = joined(pick(r, list(range(60)), 1, 3))
    if freq in ("YEARLY", "MONTHLY") and len(lists) > 0 and not weeks and r.random() < 0.2:
        lists["BYSETPOS"] = joined(pick(r, [1, 2, 3, -1, -2], 1, 2))
    for key in ["BYMONTH", "BYWEEKNO", "BYYEARDAY", "BYMONTHDAY", "BYDAY", "BYHOUR", "BYMINUTE", "BYSETPOS"]:
        if key in lists:
            parts.append(key + "=" + lists[key])
    return parts, lists


def expand(text, start):
    rule = du.rrulestr(text, dtstart=start)
    out = []
    for occurrence in rule:
        if out and occurrence.year - out[-1].year >= 7 or occurrence.year >= 2100:
            return None
        out.append(occurrence)
        if len(out) > 400:
            return None
    return out


def start_for(r, lists):
    start = dt.datetime(r.randint(1990, 2060), r.randint(1, 12), r.randint(1, 28), 9, 0, 0)
    hour = int(lists["BYHOUR"].split(",")[0]) if "BYHOUR" in lists else r.choice([0, 9, 23])
    minute = int(lists["BYMINUTE"].split(",")[0]) if "BYMINUTE" in lists else r.choice([0, 30])
    return start.replace(hour=hour, minute=minute)


def case(r):
    parts, lists = random_rule(r)
    if r.random() < 0.75:
        parts.insert(1, "COUNT=%d" % r.randint(1, 30))
        bounded = parts
    else:
        bounded = None
    probe = start_for(r, lists)
    text = ";".join(bounded or parts + ["COUNT=1"])
    first = expand(text, probe)
    if not first:
        return None
    start = first[0]
    if bounded is None:
        until = start + dt.timedelta(days=r.randint(1, 900), hours=r.randint(0, 23))
        text = ";".join(parts[:1] + ["UNTIL=" + until.strftime(FMT) + "Z"] + parts[1:])
    text_du = dateutil_text(text)
    occurrences = expand(text_du, start)
    if not occurrences or occurrences[0] != start:
        return None
    return text, start, occurrences


def dateutil_text(text):
    # dateutil wants a floating UNTIL beside a floating start.
    return ";".join(p[:-1] if p.startswith("UNTIL=") else p for p in text.split(";"))


def line(text, start, occurrences, fmt=FMT):
    return "%s|%s|%s" % (text, start.strftime(fmt), ",".join(o.strftime(fmt) for o in occurrences))


def main():
    examples, output = sys.argv[1], sys.argv[2]
    cases = int(sys.argv[3]) if len(sys.argv) > 3 else CASES
    r = random.Random(20261209)
    lines = ["# dateutil " + dateutil.__version__]
    for name in examples.split(","):
        with open(name) as f:
            for raw in f:
                raw = raw.strip()
                if not raw or raw.startswith("#"):
                    continue
                start_text, text = raw.split(" ", 1)
                fmt = "%Y%m%d" if len(start_text) == 8 else FMT
                start = dt.datetime.strptime(start_text, fmt)
                occurrences = list(du.rrulestr(dateutil_text(text), dtstart=start))
                lines.append(line(text, start, occurrences, fmt))
    made = 0
    while made < cases:
        c = case(r)
        if c:
            lines.append(line(*c))
            made += 1
    with open(output, "w") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
