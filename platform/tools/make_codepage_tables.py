#!/usr/bin/env python3
"""Writes the converters' single-byte code-page tables and the golden file
their tests compare against, both from Python's codecs.

    python3 platform/tools/make_codepage_tables.py

writes platform/src/codepage_tables.cpp and
platform/tests/data/converters_golden.txt. The build uses the checked-in
results and never runs this script.
"""

import codecs
import os
import shutil
import subprocess

HERE = os.path.dirname(os.path.abspath(__file__))
TABLES_OUT = os.path.join(HERE, "..", "src", "codepage_tables.cpp")
GOLDEN_OUT = os.path.join(HERE, "..", "tests", "data", "converters_golden.txt")

# Pages served by tables of our own: converter name, Python codec. The C
# library either lacks them or has an older revision (MACINTOSH and MAC-IS
# differ from Apple's current Roman and Icelandic pages).
TABLE_PAGES = [
    ("MACROMAN", "mac_roman"),
    ("MACARABIC", "mac_arabic"),
    ("MACGREEK", "mac_greek"),
    ("MACROMANIA", "mac_romanian"),
    ("MACICELAND", "mac_iceland"),
    ("MACTURKISH", "mac_turkish"),
    ("MACCROATIAN", "mac_croatian"),
]

# Pages the C library serves under another name: converter name, Python codec,
# bytes where the page differs from that codec. Python has no Mac Ukrainian;
# it is Mac Cyrillic as it stood before the euro took 0xFF.
ALIAS_PAGES = [
    ("MACCENTRALEUROPE", "mac_latin2", {}),
    ("MACUKRAINE", "mac_cyrillic", {0xFF: 0x00A4}),
]

# Texts for the stateful converters. Decoding cases are bytes, encoding cases
# text; each is answered by Python's codec.
STATEFUL_CASES = {
    ("HZ-GB-2312", "hz"): {
        "decode": [
            b"ab~{VPND~}cd",  # into GB mode and back
            b"~{VP~}\n~{ND~}",  # GB mode closed before a line break
            b"a~~b~{VP~}~~",  # tilde
            b"a~\nb",  # line continuation
            b"~{VP",  # ends in GB mode
            b"~{VP\nND~}",  # a line break inside GB mode
            b"a~xb",  # bad escape
            b"~{VP~{ND~}",  # GB mode opened twice
            b"~}ab",  # closed while not open
            b"~{V\x80~}",  # a high byte in GB mode
            b"a\xc4b",  # a high byte in ASCII mode
            b"ab~{VPN",  # cut character
            b"ab~",  # cut escape
        ],
        "encode": [
            "\u4e2d\u6587",
            "a\u4e2d\n\u6587b",
            "a~b",
            "x\u4e2d~\u6587",
            "\u4e2d\u20ac",  # not in GB 2312
            "a\ud83d\ude00",  # outside the BMP
        ],
    },
    ("ISO-2022-JP-1", "iso2022_jp_1"): {
        "decode": [
            b"a\x1b$BCf\x1b(Bb",  # JIS X 0208
            b"\x1b$(D+1\x1b$BCf\x1b(B",  # JIS X 0212, then JIS X 0208
            b"\x1b(J\\~\x1b(B\\~",  # JIS X 0201 Roman
            b"\x1b$@Cf\x1b(B",  # the 1978 designation
            b"\x1b$(BCf\x1b(B",  # JIS X 0208 through the long form
            b"\x1b$BCf",  # ends in a double-byte set
            b"a\x1b$ACf\x1b(B",  # GB 2312: an escape JP-1 lacks
            b"a\x1b(I1\x1b(B",  # half-width katakana: one more
            b"a\x1b$(C!!",  # KS C 5601: one more
            b"\x1b$BC\x1b(B",  # a character cut by an escape
            b"a\x1b$",  # cut escape
            b"\x1b$BCfC",  # cut character
        ],
        "encode": [
            "a\u4e2db",
            "\u00e9\u4e2d",
            "\u00a5a\u203e",
            "ab",
            "a\uff71",  # half-width katakana
            "\u4e2d\u20ac",
        ],
    },
}


def decode_byte(codec, b, overrides):
    if b in overrides:
        return overrides[b]
    try:
        text = bytes([b]).decode(codec)
    except UnicodeDecodeError:
        return None
    assert len(text) == 1 and ord(text) <= 0xFFFF
    return ord(text)


def page_table(codec, overrides=None):
    """256 units (None: no character) and the encoding pairs. The lowest byte
    that decodes to a character encodes it, so ASCII stays ASCII where a page
    repeats punctuation in its upper half (Python's mac_arabic encodes those
    to the upper copy)."""
    overrides = overrides or {}
    decode = [decode_byte(codec, b, overrides) for b in range(256)]
    encode = {}
    for b, u in enumerate(decode):
        if u is not None and u not in encode:
            encode[u] = b
    return decode, encode


def hexes(data):
    return data.hex().upper() if data else "-"


def run_decode(codec, data):
    try:
        return data.decode(codec).encode("utf-16-le"), "ok", len(data)
    except UnicodeDecodeError as e:
        kind = "EINVAL" if "incomplete" in e.reason else "EILSEQ"
        done = codecs.getincrementaldecoder(codec)().decode(data[: e.start], final=False)
        return done.encode("utf-16-le"), kind, e.start


def run_encode(codec, text):
    units = text.encode("utf-16-le", "surrogatepass")
    try:
        return text.encode(codec), "ok", len(units)
    except UnicodeEncodeError as e:
        done = codecs.getincrementalencoder(codec)().encode(text[: e.start], final=False)
        return done, "EILSEQ", len(text[: e.start].encode("utf-16-le", "surrogatepass"))


def c_name(page):
    return "k" + page.title().replace("-", "")


def write_tables():
    lines = [
        "// Generated by platform/tools/make_codepage_tables.py from Python's codecs; do not edit.",
        '#include "codepage_tables.h"',
        "",
        "namespace winplat::detail {",
        "",
        "namespace {",
        "",
    ]
    for page, codec in TABLE_PAGES:
        decode, encode = page_table(codec)
        lines.append(f"// {page}: Python's {codec}.")
        lines.append(f"constexpr uint16_t {c_name(page)}Decode[256] = {{")
        for row in range(0, 256, 8):
            cells = ", ".join(
                "kNoUnit" if u is None else f"0x{u:04X}" for u in decode[row : row + 8]
            )
            lines.append(f"    {cells},")
        lines.append("};")
        pairs = sorted(encode.items())
        lines.append(f"constexpr SingleBytePage::Pair {c_name(page)}Encode[] = {{")
        for i in range(0, len(pairs), 6):
            cells = " ".join(f"{{0x{u:04X}, 0x{b:02X}}}," for u, b in pairs[i : i + 6])
            lines.append(f"    {cells}")
        lines.append("};")
        lines.append("")
    lines.append("}  // namespace")
    lines.append("")
    lines.append("const SingleBytePage kSingleBytePages[] = {")
    for page, _ in TABLE_PAGES:
        n = c_name(page)
        lines.append(f'    {{"{page}", {n}Decode, {n}Encode, std::size({n}Encode)}},')
    lines.append("};")
    lines.append("const size_t kSingleBytePageCount = std::size(kSingleBytePages);")
    lines.append("")
    lines.append("}  // namespace winplat::detail")
    with open(TABLES_OUT, "w") as f:
        f.write("\n".join(lines) + "\n")
    # The project's layout, so that a fresh run leaves no difference.
    if shutil.which("clang-format"):
        subprocess.run(["clang-format", "-i", TABLES_OUT], check=True)


def write_golden():
    out = [
        "# Generated by platform/tools/make_codepage_tables.py from Python's codecs; do not edit.",
        "# byte PAGE BYTE UNIT ENCODED: the byte decoded and its unit encoded back (- for none).",
        "# decode|encode PAGE INPUT OUTPUT RESULT OFFSET: hex bytes (UTF-16LE on the wide side),",
        "# the result as iconv answers and the input offset where it stopped.",
    ]
    for page, codec, overrides in [(p, c, {}) for p, c in TABLE_PAGES] + ALIAS_PAGES:
        decode, encode = page_table(codec, overrides)
        for b, u in enumerate(decode):
            unit = "-" if u is None else f"{u:04X}"
            back = "-" if u is None or u not in encode else f"{encode[u]:02X}"
            out.append(f"byte {page} {b:02X} {unit} {back}")
    for (page, codec), cases in STATEFUL_CASES.items():
        for data in cases["decode"]:
            result, kind, offset = run_decode(codec, data)
            out.append(f"decode {page} {hexes(data)} {hexes(result)} {kind} {offset}")
        for text in cases["encode"]:
            result, kind, offset = run_encode(codec, text)
            units = text.encode("utf-16-le", "surrogatepass")
            out.append(f"encode {page} {hexes(units)} {hexes(result)} {kind} {offset}")
    with open(GOLDEN_OUT, "w") as f:
        f.write("\n".join(out) + "\n")


if __name__ == "__main__":
    write_tables()
    write_golden()
