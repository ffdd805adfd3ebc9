#!/usr/bin/env python3
"""The peer of bench_rrule: python-dateutil expanding the same rules and
instances from 1997-09-02T09:00, and parsing the same texts; times per
instance and per parse. dateutil cannot run inside the C++ benchmark."""
import datetime as dt
import timeit

from dateutil import rrule

RULES = [
    ("FREQ=DAILY", 1000),
    ("FREQ=WEEKLY;INTERVAL=2;BYDAY=MO,WE,FR", 1000),
    ("FREQ=YEARLY;BYMONTH=1;BYDAY=SU,MO,TU,WE,TH,FR,SA", 1000),
    ("FREQ=MONTHLY;BYDAY=MO,TU,WE,TH,FR;BYSETPOS=-1", 1000),
    ("FREQ=MONTHLY;BYDAY=FR;BYMONTHDAY=13", 1000),
    ("FREQ=YEARLY;INTERVAL=4;BYMONTH=11;BYDAY=TU;BYMONTHDAY=2,3,4,5,6,7,8", 100),
]
START = dt.datetime(1997, 9, 2, 9, 0, 0)


def expand(text, instances):
    rule = rrule.rrulestr(text, dtstart=START)
    for n, _ in enumerate(rule):
        if n + 1 == instances:
            break


for text, instances in RULES:
    runs = 20
    seconds = min(timeit.repeat(lambda: expand(text, instances), number=runs, repeat=3)) / runs
    print("%-70s %8.3f us/instance" % (text, seconds / instances * 1e6))
runs = 2000
seconds = min(timeit.repeat(lambda: [rrule.rrulestr(t, dtstart=START) for t, _ in RULES], number=runs, repeat=3))
print("%-70s %8.3f us/parse" % ("parse", seconds / runs / len(RULES) * 1e6))
