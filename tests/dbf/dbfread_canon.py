#!/usr/bin/python3
# Prints every live record of a DBF table in a canonical text form, read with
# python3-dbfread (an independent reader), so that the engine's tests can
# compare it with what the engine reads. One line per field: "recno|name|value".
import datetime
import decimal
import sys

import dbfread

JD_ORDINAL = 1721425  # julian day number of date.fromordinal(1) is 1721426


def canon(ftype, dec, v):
    if v is None:
        return "NULL"
    if ftype in "CV":
        return v.rstrip(" ")
    if ftype in "NF":
        return ("%." + str(dec) + "f") % v
    if ftype == "I":
        return str(int(v))
    if ftype == "Y":
        return "%.4f" % decimal.Decimal(v)
    if ftype == "B":
        return "%.6f" % v
    if ftype == "L":
        return "T" if v else "F"
    if ftype == "D":
        return "%d" % (v.toordinal() + JD_ORDINAL)
    if ftype == "T":
        ms = ((v.hour * 60 + v.minute) * 60 + v.second) * 1000 + v.microsecond // 1000
        return "%d %d" % (v.date().toordinal() + JD_ORDINAL, ms)
    if ftype in "MGP":
        if isinstance(v, bytes):
            return v.decode("cp1252")
        return v
    return str(v)


def main():
    path = sys.argv[1]
    table = dbfread.DBF(path, load=False, char_decode_errors="strict")
    types = {f.name: (f.type, f.decimal_count) for f in table.fields}
    out = []
    for n, rec in enumerate(table.records, 1):
        for name, v in rec.items():
            t, dec = types[name]
            text = canon(t, dec, v).replace("\\", "\\\\").replace("\r", "\\r").replace("\n", "\\n")
            out.append("%d|%s|%s" % (n, name, text))
    sys.stdout.buffer.write(("\n".join(out) + "\n").encode("cp1252"))


main()
