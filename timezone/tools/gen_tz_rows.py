#!/usr/bin/env python3
"""Writes the tz-database zone rows (timezone/TzZones.cpp) from tzdata.

Reads the compiled TZif files of a tzdata installation (standard library
only), takes each zone's rule now running from the file's footer and finds,
in the file's transitions, the first change made under that rule. Rows listed
in timezone/data/tz_fixed_rows.txt are taken from there instead; where such a
row disagrees with tzdata, its name must be listed in
timezone/data/tz_exceptions.txt, otherwise the run fails.

Row columns, in the display table's forms:
- offsets: sign and four digits (hours, minutes) east of UTC; the standard
  offset is the smaller one, so zones with negative daylight saving (Dublin)
  read as London does;
- rules: footer "Mm.w.d/time" becomes FREQ=YEARLY;BYMONTH=m;BYDAY=nDD (w 5 is
  -1); a time outside 0-24 h moves the day, written with BYMONTHDAY or
  BYYEARDAY limits plus BYDAY, at the wrapped time;
- starts: the local wall time, in the offset before the change, of the first
  change under the rule now running, no earlier than 1970-01-01T00:00:01;
- ids: the zone-id of the name, else of the zone it links to, else of another
  name of that zone; else the ids of the first display row with the same
  standard offset and the same presence of daylight saving (else the same
  standard offset, else the nearest one). Nothing reads the ids. The display
  rows and zone-id names are read from timezone/ZoneTables.cpp.

A second output lists, for tests, each row's first year under its rules.
"""

import argparse
import datetime
import os
import re
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
WEEKDAYS = ["SU", "MO", "TU", "WE", "TH", "FR", "SA"]
EPOCH = datetime.datetime(1970, 1, 1)
FIRST_START = EPOCH + datetime.timedelta(seconds=1)


def read_tzif(path):
    """Returns (transition instants, offsets after them, footer) of the
    64-bit part of a TZif file."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:4] != b"TZif":
        raise ValueError(path + ": not a TZif file")

    def counts(at):
        return struct.unpack(">6l", data[at + 20:at + 44])

    isutc, isstd, leap, timecnt, typecnt, charcnt = counts(0)
    if data[4] == 0:
        raise ValueError(path + ": TZif version 1 has no footer")
    at = 44 + timecnt * 5 + typecnt * 6 + charcnt + leap * 8 + isstd + isutc
    isutc, isstd, leap, timecnt, typecnt, charcnt = counts(at)
    p = at + 44
    times = struct.unpack(">%dq" % timecnt, data[p:p + 8 * timecnt])
    p += 8 * timecnt
    index = data[p:p + timecnt]
    p += timecnt
    types = [struct.unpack(">lBB", data[p + 6 * i:p + 6 * i + 6]) for i in range(typecnt)]
    p += 6 * typecnt + charcnt + leap * 12 + isstd + isutc
    footer = data[p:].split(b"\n")[1].decode("ascii")
    first = types[0][0] if types else 0
    return list(times), [types[i][0] for i in index], first, footer


def parse_hms(text):
    sign = -1 if text.startswith("-") else 1
    parts = [int(x) for x in text.lstrip("+-").split(":")]
    parts += [0] * (3 - len(parts))
    return sign * (parts[0] * 3600 + parts[1] * 60 + parts[2])


def parse_footer(footer):
    """POSIX TZ text: (standard offset, daylight offset or None, start rule,
    end rule), offsets in seconds east of UTC, rules (m, w, d, seconds)."""
    m = re.fullmatch(
        r"(<[^>]*>|[A-Za-z]+)([-+]?[\d:]+)"
        r"(?:(<[^>]*>|[A-Za-z]+)([-+]?[\d:]+)?,M(\d+)\.(\d)\.(\d)(?:/([-+]?[\d:]+))?,"
        r"M(\d+)\.(\d)\.(\d)(?:/([-+]?[\d:]+))?)?", footer)
    if not m:
        raise ValueError("footer not understood: " + footer)
    std = -parse_hms(m.group(2))
    if m.group(3) is None:
        return std, None, None, None
    dst = -parse_hms(m.group(4)) if m.group(4) else std + 3600

    def rule(a, b, c, t):
        return int(a), int(b), int(c), parse_hms(t) if t else 7200

    return std, dst, rule(*m.group(5, 6, 7, 8)), rule(*m.group(9, 10, 11, 12))


def offset_text(seconds):
    sign = "-" if seconds < 0 else "+"
    minutes = abs(seconds) // 60
    return "%s%02d%02d" % (sign, minutes // 60, minutes % 60)


def rule_date(year, rule):
    """The local date-time of the rule's change in that year."""
    month, week, day, seconds = rule
    first = datetime.date(year, month, 1)
    if week == 5:
        nxt = datetime.date(year + month // 12, month % 12 + 1, 1)
        last = nxt - datetime.timedelta(days=1)
        date = last - datetime.timedelta(days=(last.isoweekday() % 7 - day) % 7)
    else:
        date = first + datetime.timedelta(days=(day - first.isoweekday() % 7) % 7 + 7 * (week - 1))
    return datetime.datetime(date.year, date.month, date.day) + datetime.timedelta(seconds=seconds)


def length_of(month):
    """The month's length in a common year."""
    return (datetime.date(2001 + month // 12, month % 12 + 1, 1) - datetime.date(2001, month, 1)).days


def rule_text(rule):
    """The RRULE of a footer rule and the time of day it fires at."""
    month, week, day, seconds = rule
    shift, time = divmod(seconds, 86400)
    if shift == 0:
        n = -1 if week == 5 else week
        return "FREQ=YEARLY;BYMONTH=%d;BYDAY=%d%s" % (month, n, WEEKDAYS[day]), time
    if abs(shift) > 6:
        raise ValueError("rule time too far out: %r" % (rule,))
    weekday = WEEKDAYS[(day + shift) % 7]
    if week == 5:
        first, last = length_of(month) - 6 + shift, length_of(month) + shift
    else:
        first, last = 7 * (week - 1) + 1 + shift, 7 * week + shift
    if first >= 1 and last <= length_of(month):
        days = ",".join(str(d) for d in range(first, last + 1))
        return "FREQ=YEARLY;BYMONTH=%d;BYMONTHDAY=%s;BYDAY=%s" % (month, days, weekday), time
    # The range leaves the month: count days from the end of the year, which
    # is the same in leap and common years past February.
    if month < 3:
        raise ValueError("rule crosses a month early in the year: %r" % (rule,))
    to_end = (datetime.date(2001, 12, 31) - datetime.date(2001, month, 1)).days + 1
    days = ",".join(str(d - 1 - to_end) for d in range(first, last + 1))
    return "FREQ=YEARLY;BYYEARDAY=%s;BYDAY=%s" % (days, weekday), time


def changes_of(times, offsets, first_offset):
    """(wall time in the offset before, offset before, offset after) of each
    change of offset."""
    changes = []
    previous = first_offset
    for t, o in zip(times, offsets):
        if o != previous:
            changes.append((EPOCH + datetime.timedelta(seconds=t + previous), previous, o))
        previous = o
    return changes


def fits(change, std, dst, start, end):
    wall, before, after = change
    if dst is None:
        return False
    if (before, after) == (std, dst):
        return wall == rule_date(wall.year, start)
    if (before, after) == (dst, std):
        return wall == rule_date(wall.year, end)
    return False


def under_rules(changes, std, dst, start, end):
    """Scanning back from the file's last change: the first change to
    daylight and the first to standard time of the runs of changes each rule
    makes (None where the file holds none), and the year of the latest change
    the rules do not make. A change to another offset ends both runs."""
    first = {dst: None, std: None}
    open_ = {dst: True, std: True}
    breaking = None
    for change in reversed(changes):
        after = change[2]
        if after not in first or change[1] not in first:
            breaking = breaking or change[0].year
            break
        if fits(change, std, dst, start, end):
            if open_[after]:
                first[after] = change[0]
        else:
            open_[after] = False
            breaking = breaking or change[0].year
        if not open_[dst] and not open_[std]:
            break
    return first[dst], first[std], breaking


def first_start(found, rule, times):
    """The DTSTART: the first change found under the rule, else the rule's
    first change after the file's last one; never before FIRST_START."""
    if found is None:
        last = EPOCH + datetime.timedelta(seconds=times[-1]) if times else FIRST_START
        year = last.year
        found = rule_date(year, rule)
        while found <= last:
            year += 1
            found = rule_date(year, rule)
    year = found.year
    while found < FIRST_START:
        year += 1
        found = rule_date(year, rule)
    return found


def tz_row(zoneinfo, name):
    """The columns of one zone from its TZif file, and its first year."""
    times, offsets, first_offset, footer = read_tzif(os.path.join(zoneinfo, name))
    std, dst, start, end = parse_footer(footer)
    changes = changes_of(times, offsets, first_offset)
    if dst is None:
        year = changes[-1][0].year if changes else None
        return [offset_text(std), "", "", "", "", ""], max(1970, (year or 1969) + 1)
    if dst < std:  # negative daylight saving: the changes swap roles
        std, dst, start, end = dst, std, end, start
    first_dst, first_std, year = under_rules(changes, std, dst, start, end)
    dst_wall = first_start(first_dst, start, times)
    std_wall = first_start(first_std, end, times)
    std_rule, std_time = rule_text(end)
    dst_rule, dst_time = rule_text(start)
    for wall, time in ((std_wall, std_time), (dst_wall, dst_time)):
        assert wall.hour * 3600 + wall.minute * 60 + wall.second == time, (name, wall, time)
    cols = [offset_text(std), offset_text(dst), std_wall.strftime("%Y%m%dT%H%M%S"),
            dst_wall.strftime("%Y%m%dT%H%M%S"), std_rule, dst_rule]
    # A year in which a change the rules make is missing breaks them too.
    made = {(wall, before, after) for wall, before, after in changes}
    for y in range(max(1970, (year or 1969) + 1), changes[-1][0].year + 1 if changes else 0):
        if ((rule_date(y, start), std, dst) not in made) or ((rule_date(y, end), dst, std) not in made):
            year = y
    return cols, max(1970, (year or 1969) + 1, std_wall.year, dst_wall.year)


def read_lines(path):
    with open(path, encoding="utf-8") as f:
        return [line.rstrip("\n") for line in f if line.strip() and not line.startswith("#")]


def read_links(zoneinfo):
    """link name -> target, from tzdata.zi."""
    links = {}
    version = None
    with open(os.path.join(zoneinfo, "tzdata.zi"), encoding="utf-8") as f:
        for line in f:
            if line.startswith("# version "):
                version = line.split()[2]
            elif line.startswith("L "):
                _, target, link = line.split()
                links[link] = target
    return version, links


def read_display_rows(source):
    """(standard offset in seconds, has daylight, ids) of each display row,
    read from the checked-in table source."""
    with open(source, encoding="utf-8") as f:
        text = f.read()
    abbreviations = {}
    for abbr, sign, hours, minutes in re.findall(r'\{"(\w+)", "([-+])PT(\d\d)H(\d\d)M", (?:true|false)\}', text):
        abbreviations[abbr] = (1 if sign == "+" else -1) * (int(hours) * 3600 + int(minutes) * 60)
    body = text[text.index("displayZones()"):text.index("zoneIdNames()")]
    rows = []
    for entry in re.findall(r"\{([^{}]*)\}", body[body.index("rows[] = {") + 10:]):
        strings = re.findall(r'"((?:[^"\\]|\\.)*)"', entry)
        ids = [int(x) for x in re.sub(r'"(?:[^"\\]|\\.)*"', "", entry).replace(",", " ").split()]
        standard = strings[1]
        if standard in abbreviations:
            seconds = abbreviations[standard]
        else:
            seconds = parse_offset_text(standard)
        rows.append((seconds, len(strings) > 2 and bool(strings[2]), ids))
    if len(rows) != 86:
        raise ValueError("display rows not read: %d" % len(rows))
    id_names = re.findall(r'^\s*"([^"]*)",$', text[text.index("zoneIdNames()"):], re.M)
    return rows, id_names


def parse_offset_text(text):
    return (-1 if text[0] == "-" else 1) * (int(text[1:3]) * 3600 + int(text[3:5]) * 60)


def choose_ids(name, cols, links, id_names, display):
    groups = {}
    for link, target in links.items():
        groups.setdefault(target, []).append(link)
    target = links.get(name, name)
    for candidate in [name, target] + sorted(groups.get(target, [])):
        if candidate in id_names:
            return [id_names.index(candidate)]
    std = parse_offset_text(cols[0])
    has_dst = bool(cols[1])
    for seconds, dst, ids in display:
        if seconds == std and dst == has_dst:
            return ids
    return min(display, key=lambda row: (abs(row[0] - std), row[1] != has_dst))[2]


def cpp_string(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--zoneinfo", default="/usr/share/zoneinfo")
    parser.add_argument("--output", default=os.path.join(ROOT, "timezone", "TzZones.cpp"))
    parser.add_argument("--years", default=os.path.join(ROOT, "timezone", "tests", "data", "tz_row_years.txt"))
    args = parser.parse_args()

    data = os.path.join(ROOT, "timezone", "data")
    names = read_lines(os.path.join(data, "tz_names.txt"))
    exceptions = {line.split("\t")[0] for line in read_lines(os.path.join(data, "tz_exceptions.txt"))}
    fixed = {}
    for line in read_lines(os.path.join(data, "tz_fixed_rows.txt")):
        cells = line.split("\t")
        fixed[cells[0]] = cells[1:]
    version, links = read_links(args.zoneinfo)
    display, id_names = read_display_rows(os.path.join(ROOT, "timezone", "ZoneTables.cpp"))

    rows = {}
    years = {}
    problems = []
    for name in names:
        path = os.path.join(args.zoneinfo, name)
        generated = None
        if os.path.isfile(path):
            cols, years[name] = tz_row(args.zoneinfo, name)
            generated = cols + [choose_ids(name, cols, links, id_names, display)]
        if name in fixed and not fixed[name][0].startswith("="):
            cells = fixed[name]
            rows[name] = cells[:6] + [[int(x) for x in cells[6].split(",")]]
            if generated is not None and generated[:6] != rows[name][:6] and name not in exceptions:
                problems.append("%s: fixed row %r, tzdata %r" % (name, rows[name][:6], generated[:6]))
        elif generated is not None:
            rows[name] = generated
        elif name not in fixed:
            problems.append(name + ": neither in tzdata nor fixed")
    for name in names:
        if name in fixed and fixed[name][0].startswith("="):
            source = fixed[name][0][1:]
            rows[name] = rows[source]
    if problems:
        sys.exit("\n".join(problems))

    out = ["// Generated by timezone/tools/gen_tz_rows.py from tzdata %s; do not edit." % version,
           "// The rows of timezone/data/tz_fixed_rows.txt are taken as they stand.",
           '#include <iterator>', '#include <vector>', "",
           '#include "timezone/ZoneRegistry.h"', "", "namespace tavlo::timezone {", "",
           "namespace {", "",
           "// Plain texts: a table of rows holding strings would be built by one",
           "// initialiser so large that compiling it takes minutes.",
           "struct TzRow {",
           "    const char* name;", "    const char* standard;", "    const char* daylight;",
           "    const char* standardStart;", "    const char* daylightStart;",
           "    const char* standardRule;", "    const char* daylightRule;",
           "    int32_t id1;", "    int32_t id2 = -1;", "    int32_t id3 = -1;", "};", "",
           "// clang-format off", "constexpr TzRow kRows[] = {"]
    for name in names:
        cols = rows[name]
        args_ = [cpp_string(name)] + [cpp_string(c) for c in cols[:6]] + [str(i) for i in cols[6]]
        out.append("    {%s}," % ", ".join(args_))
    out += ["};", "// clang-format on", "", "}  // namespace", "",
            "std::span<const ZoneDefinition> tzZones() {",
            "    static const std::vector<ZoneDefinition> rows = [] {",
            "        std::vector<ZoneDefinition> built;",
            "        built.reserve(std::size(kRows));",
            "        for (const TzRow& r : kRows) {",
            "            built.emplace_back(r.name, r.standard, r.daylight, r.standardStart, r.daylightStart,",
            "                               r.standardRule, r.daylightRule, r.id1, r.id2, r.id3);",
            "        }",
            "        return built;",
            "    }();",
            "    return rows;", "}", "", "}  // namespace tavlo::timezone", ""]
    with open(args.output, "w", encoding="utf-8") as f:
        f.write("\n".join(out))
    with open(args.years, "w", encoding="utf-8") as f:
        f.write("# tzdata %s: each generated row's first year under its rules\n" % version)
        for name in names:
            if years.get(name) is not None and name not in exceptions:
                f.write("%s\t%d\n" % (name, years[name]))


if __name__ == "__main__":
    main()
