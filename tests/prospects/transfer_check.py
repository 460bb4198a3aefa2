#!/usr/bin/env python3
"""Reads what vdrtool's transfer commands wrote with independent readers.

  transfer_check.py csv TABLE.dbf FILE.csv SEPARATOR [PROSP.dbf VEND]
                                                      CSV equal to the table (dbfread), or
                                                      to its rows of VEND's prospects
  transfer_check.py xlsx TABLE.dbf FILE.xlsx          the workbook (unzipped) equal to the table
  transfer_check.py ics FILE.ics [FILE2.ics]          valid iCalendar (icalendar); the UIDs
                                                      of both files the same
  transfer_check.py links COMPANY_DIR                 per prospect: offered, contacts, sold
  transfer_check.py codes TABLE.dbf FIELD             the records in file order: code, then
                                                      name, salesperson and date or the price
  transfer_check.py manifest ARCHIVE.zip COMPANY_DIR  the archive (zipfile) agrees with its
                                                      manifest and the company's tables
  transfer_check.py agenda COMPANY_DIR YYYYMMDD VEND  one salesperson's visits of the week of
                                                      that day from it on, and the overdue ones
"""
import collections
import csv
import sys

from dbfread import DBF


def table(path):
    return DBF(path, encoding="cp1252", char_decode_errors="strict")


def text(value, ftype):
    if value is None:
        return ""
    if ftype == "D":
        return value.strftime("%d-%m-%Y")
    if ftype == "L":
        return "S" if value else "N"
    if ftype in "NF":
        return value
    return str(value).rstrip(" ")


def of_salesperson(records, prosp_path, vend):
    """The records that belong to the prospects of the salesperson `vend`."""
    mine = [p for p in table(prosp_path) if p["CODVEND"].strip() == vend]
    if "CODVEND" in (records[0] if records else {}):
        return [r for r in records if r["CODVEND"].strip() == vend]
    links = {(p["NUMPROSP"].strip(), p["CODPROSP"].strip().upper()) for p in mine}
    return [r for r in records if (r["NUMPROSP"].strip(), r["CLIENTE"].strip().upper()) in links]


def check_csv(dbf_path, csv_path, sep, prosp_path=None, vend=None):
    t = table(dbf_path)
    types = {f.name: f.type for f in t.fields}
    with open(csv_path, newline="", encoding="utf-8") as f:
        rows = list(csv.reader(f, delimiter=sep))
    header, body = rows[0], rows[1:]
    assert header == t.field_names, (header, t.field_names)
    records = list(t)
    if prosp_path:
        records = of_salesperson(records, prosp_path, vend)
    assert len(body) == len(records), (len(body), len(records))
    for n, (row, rec) in enumerate(zip(body, records), start=2):
        for name, got in zip(header, row):
            want = text(rec[name], types[name])
            if types[name] in "NF":
                ok = (got == "" and want is None) or float(got or 0) == float(want or 0)
            else:
                ok = got == want
            assert ok, "line %d %s: %r != %r" % (n, name, got, want)
    print(len(body))


def check_xlsx(dbf_path, xlsx_path):
    import datetime
    import re
    import xml.etree.ElementTree as ET
    import zipfile
    ns = {"m": "http://schemas.openxmlformats.org/spreadsheetml/2006/main"}
    z = zipfile.ZipFile(xlsx_path)
    assert z.testzip() is None
    styles = ET.fromstring(z.read("xl/styles.xml"))
    date_styles = {i for i, xf in enumerate(styles.find("m:cellXfs", ns)) if xf.get("numFmtId") == "164"}
    sheet = ET.fromstring(z.read("xl/worksheets/sheet1.xml"))
    rows = []
    for row in sheet.find("m:sheetData", ns):
        cells = {}
        for c in row:
            col = re.match(r"[A-Z]+", c.get("r")).group(0)
            if c.get("t") == "inlineStr":
                cells[col] = "".join(t.text or "" for t in c.iter("{%s}t" % ns["m"]))
            elif int(c.get("s", "0")) in date_styles:
                cells[col] = datetime.date(1899, 12, 30) + datetime.timedelta(days=int(c.find("m:v", ns).text))
            else:
                cells[col] = float(c.find("m:v", ns).text)
        rows.append(cells)
    t = table(dbf_path)
    cols = [chr(ord("A") + i) for i in range(len(t.field_names))]
    assert [rows[0].get(c) for c in cols] == t.field_names, rows[0]
    records = list(t)
    assert len(rows) - 1 == len(records)
    for n, (cells, rec) in enumerate(zip(rows[1:], records), start=2):
        for c, f in zip(cols, t.fields):
            want, got = rec[f.name], cells.get(c)
            if f.type in "NF":
                assert (got or 0) == float(want or 0), (n, f.name, got, want)
            elif f.type == "D":
                assert got == want, (n, f.name, got, want)
            else:
                assert (got or "") == text(want, f.type), (n, f.name, got, want)
    print(len(records))


def check_ics(paths):
    import icalendar
    uids = []
    for p in paths:
        with open(p, "rb") as f:
            raw = f.read()
        assert raw.endswith(b"\r\n") and b"\n" not in raw.replace(b"\r\n", b"")
        for line in raw.split(b"\r\n"):
            assert len(line) <= 75, line
        cal = icalendar.Calendar.from_ical(raw)
        assert cal["VERSION"] == "2.0" and "PRODID" in cal
        found = []
        for ev in cal.walk("VEVENT"):
            for key in ("UID", "DTSTAMP", "DTSTART", "SUMMARY"):
                assert key in ev, key
            ev.decoded("DTSTART")
            found.append(str(ev["UID"]))
        assert len(found) == len(set(found)), "repeated UID"
        uids.append(sorted(found))
    assert all(u == uids[0] for u in uids), "UIDs differ"
    print(len(uids[0]))


def check_links(folder):
    """Every dependent row belongs to a live prospect; prints the rows of each."""
    prospects = {}
    for r in table(folder + "/VdrProsp.dbf"):
        key = (r["NUMPROSP"], r["CODPROSP"], r["FEC_CREA"], r["CODVEND"])
        prospects[key] = r["NUMPROSP"] + r["CODPROSP"]
    counts = collections.Counter()
    for name, date in (("VdrPrdOf.dbf", "FECHA"), ("VdrCont.dbf", "FEC_CREA"),
                       ("VdrPrdVt.dbf", "FECHA")):
        for r in table(folder + "/" + name):
            key = (r["NUMPROSP"], r["CLIENTE"], r[date], r["VENDEDOR"])
            assert key in prospects, "%s: row of no prospect %r" % (name, key)
            counts[(name, prospects[key])] += 1
    for (name, who), n in sorted(counts.items()):
        print(name, who, n)


def check_manifest(archive, folder):
    import hashlib
    import zipfile
    z = zipfile.ZipFile(archive)
    assert z.testzip() is None
    lines = z.read("MANIFIESTO.TXT").decode("utf-8").splitlines()
    assert lines[0] == "VDRCOPIA 1" and lines[-1] == "fin", lines
    names = set()
    for line in lines:
        w = line.split()
        if w[0] != "archivo":
            continue
        data = z.read(w[1])
        names.add(w[1])
        assert len(data) == int(w[2]) and hashlib.sha256(data).hexdigest() == w[3], w[1]
        if len(w) > 4:
            assert len(list(table(folder + "/" + w[1]))) == int(w[7]), w
    assert set(z.namelist()) == names | {"MANIFIESTO.TXT"}
    print(len(names))


def print_codes(path, field):
    for r in table(path):
        if "CODVEND" in r:
            rest = [r["NOMBRE"], r["CODVEND"], text(r["FEC_CREA"], "D")]
        else:
            rest = [r["NOMBRE"], "%g" % r["PRECIO"]]
        print("|".join([r[field]] + rest))


def print_agenda(folder, today_text, vend):
    """Day, hour, prospect code, name, telephone, city, salesperson, overdue."""
    import datetime
    import os
    files = {f.lower(): os.path.join(folder, f) for f in os.listdir(folder)}
    today = datetime.datetime.strptime(today_text, "%Y%m%d").date()
    until = today + datetime.timedelta(days=6 - today.weekday())  # the Sunday
    def link(r, created):
        return (r["NUMPROSP"], r["CLIENTE" if "CLIENTE" in r else "CODPROSP"], r[created],
                r["VENDEDOR" if "VENDEDOR" in r else "CODVEND"])
    prospects = {link(p, "FEC_CREA"): p for p in table(files["vdrprosp.dbf"])}
    contacts = list(enumerate(table(files["vdrcont.dbf"])))
    last = {}
    for _, c in contacts:
        k = link(c, "FEC_CREA")
        days = [d for d in (c["FEC_CONT"], c["FEC_REAL"]) if d is not None]
        if days:
            last[k] = max([last[k]] + days if k in last else days)
    rows = []
    for n, c in contacts:
        day = c["FEC_PROX"]
        if day is None or c["VENDEDOR"].strip() != vend:
            continue
        k = link(c, "FEC_CREA")
        overdue = day < today and (k not in last or last[k] < day)
        if not (today <= day <= until or overdue):
            continue
        p = prospects.get(k)
        hour = c["HOR_PROX"].strip()
        if hour.strip(" :") == "":
            hour = ""
        name = p["NOMBRE"].strip() if p else c["CLIENTE"].strip()
        rows.append(((day, hour, c["CLIENTE"].strip(), n),
                     [day.strftime("%d-%m-%Y"), hour, c["CLIENTE"].strip(), name,
                      p["TELEF"].strip() if p else "", p["CIUDAD"].strip() if p else "",
                      c["VENDEDOR"].strip(), "S" if overdue else "N"]))
    for _, r in sorted(rows, key=lambda x: x[0]):
        print("|".join(r))


if __name__ == "__main__":
    if sys.argv[1] == "agenda":
        print_agenda(sys.argv[2], sys.argv[3], sys.argv[4])
    if sys.argv[1] == "codes":
        print_codes(sys.argv[2], sys.argv[3])
    elif sys.argv[1] == "manifest":
        check_manifest(sys.argv[2], sys.argv[3])
    if sys.argv[1] == "csv":
        check_csv(*sys.argv[2:7])
    elif sys.argv[1] == "xlsx":
        check_xlsx(sys.argv[2], sys.argv[3])
    elif sys.argv[1] == "ics":
        check_ics(sys.argv[2:])
    elif sys.argv[1] == "links":
        check_links(sys.argv[2])
