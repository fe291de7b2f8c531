#!/usr/bin/env python3
"""Prints the advance widths of Helvetica and Helvetica-Bold for the
printable WinAnsi codes (32-126, 160-255) as C++ arrays, from AFM files
with the standard metrics (Debian's fonts-urw-base35: NimbusSans-Regular.afm
and NimbusSans-Bold.afm). report/PdfDocument.cpp holds the output.

usage: pdf-font-widths.py REGULAR.afm BOLD.afm
"""
import sys

LATIN1 = """space exclamdown cent sterling currency yen brokenbar section dieresis
copyright ordfeminine guillemotleft logicalnot hyphen registered macron degree
plusminus twosuperior threesuperior acute mu paragraph periodcentered cedilla
onesuperior ordmasculine guillemotright onequarter onehalf threequarters
questiondown Agrave Aacute Acircumflex Atilde Adieresis Aring AE Ccedilla Egrave
Eacute Ecircumflex Edieresis Igrave Iacute Icircumflex Idieresis Eth Ntilde
Ograve Oacute Ocircumflex Otilde Odieresis multiply Oslash Ugrave Uacute
Ucircumflex Udieresis Yacute Thorn germandbls agrave aacute acircumflex atilde
adieresis aring ae ccedilla egrave eacute ecircumflex edieresis igrave iacute
icircumflex idieresis eth ntilde ograve oacute ocircumflex otilde odieresis
divide oslash ugrave uacute ucircumflex udieresis yacute thorn ydieresis""".split()


def widths(path):
    by_code, by_name = {}, {}
    for line in open(path, encoding="latin-1"):
        if not line.startswith("C "):
            continue
        fields = dict(f.strip().split(" ", 1) for f in line.split(";") if f.strip())
        by_name[fields["N"]] = int(fields["WX"])
        if int(fields["C"]) >= 0:
            by_code[int(fields["C"])] = int(fields["WX"])
    # AFM codes are StandardEncoding; WinAnsi differs at 39 and 96.
    ascii_names = {39: "quotesingle", 96: "grave"}
    out = [by_name[ascii_names[c]] if c in ascii_names else by_code[c] for c in range(32, 127)]
    out += [by_name[n] for n in LATIN1]
    return out


for name, path in (("Regular", sys.argv[1]), ("Bold", sys.argv[2])):
    w = widths(path)
    print(f"// {name}: codes 32-126, then 160-255")
    print("{")
    for i in range(0, len(w), 16):
        print("    " + ", ".join(str(v) for v in w[i:i + 16]) + ",")
    print("},")
