#!/usr/bin/env python3
"""Draws the program's own button bitmaps and icons as SVG, and the two window
pictures of the installation as BMP. Run from the repository root; the output
is committed, so the build never needs this script.

    python3 resources/tools/make_art.py
"""
import os
import struct
import subprocess

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BITMAPS = os.path.join(ROOT, "resources", "bitmaps")
ICONS = os.path.join(ROOT, "resources", "icons")
FILES = os.path.join(ROOT, "install", "files")

INK = "#1f2a44"

# One glyph per button family, drawn on a 32x32 grid. Every glyph uses the
# same stroke width and the same dark ink so that the bar looks of a piece.
GLYPHS = {
    "Nuevo": ("#3c8d2f", f"""
  <path d="M9 6h10l5 5v15H9z" fill="#fff" stroke="{INK}" stroke-width="1.6" stroke-linejoin="round"/>
  <path d="M19 6v5h5" fill="none" stroke="{INK}" stroke-width="1.6" stroke-linejoin="round"/>
  <circle cx="22" cy="22" r="5.5" fill="#3c8d2f" stroke="{INK}" stroke-width="1.2"/>
  <path d="M22 19v6M19 22h6" stroke="#fff" stroke-width="1.8" stroke-linecap="round"/>"""),
    "Modif": ("#c7821a", f"""
  <path d="M8 6h11v20H8z" fill="#fff" stroke="{INK}" stroke-width="1.6" stroke-linejoin="round"/>
  <path d="M11 11h5M11 15h5M11 19h3" stroke="{INK}" stroke-width="1.2" stroke-linecap="round"/>
  <path d="M25 9l3 3-10 10-4 1 1-4z" fill="#f2b233" stroke="{INK}" stroke-width="1.4" stroke-linejoin="round"/>"""),
    "Cut": ("#b3261e", f"""
  <circle cx="10" cy="23" r="3.6" fill="#fff" stroke="{INK}" stroke-width="1.6"/>
  <circle cx="22" cy="23" r="3.6" fill="#fff" stroke="{INK}" stroke-width="1.6"/>
  <path d="M12.5 20.5L22 6M19.5 20.5L10 6" stroke="{INK}" stroke-width="1.8" stroke-linecap="round"/>
  <circle cx="16" cy="15.5" r="1.2" fill="#b3261e"/>"""),
    "Buscar": ("#2f6db3", f"""
  <circle cx="14" cy="14" r="7" fill="#dfeeff" stroke="{INK}" stroke-width="2"/>
  <path d="M19 19l7 7" stroke="{INK}" stroke-width="3.2" stroke-linecap="round"/>
  <path d="M10.5 12a4 4 0 0 1 4-3" fill="none" stroke="#fff" stroke-width="1.4" stroke-linecap="round"/>"""),
    "Exit": ("#8a3d9e", f"""
  <path d="M7 5h12v22H7z" fill="#e9d8f0" stroke="{INK}" stroke-width="1.6" stroke-linejoin="round"/>
  <circle cx="16" cy="16.5" r="1.1" fill="{INK}"/>
  <path d="M20 16h8M24.5 12.5L28 16l-3.5 3.5" fill="none" stroke="#8a3d9e" stroke-width="2.2" stroke-linecap="round" stroke-linejoin="round"/>"""),
    "OK": ("#3c8d2f", f"""
  <circle cx="16" cy="16" r="10.5" fill="#e3f3dc" stroke="{INK}" stroke-width="1.6"/>
  <path d="M10.5 16.5l4 4 7.5-8.5" fill="none" stroke="#3c8d2f" stroke-width="3" stroke-linecap="round" stroke-linejoin="round"/>"""),
    "CALCUL": ("#55606e", f"""
  <rect x="8" y="4" width="16" height="24" rx="2" fill="#eef1f4" stroke="{INK}" stroke-width="1.6"/>
  <rect x="11" y="7" width="10" height="5" fill="#cfe8c9" stroke="{INK}" stroke-width="1"/>
  <g fill="{INK}"><rect x="11" y="15" width="2.6" height="2.4"/><rect x="14.7" y="15" width="2.6" height="2.4"/><rect x="18.4" y="15" width="2.6" height="2.4"/>
  <rect x="11" y="19" width="2.6" height="2.4"/><rect x="14.7" y="19" width="2.6" height="2.4"/><rect x="18.4" y="19" width="2.6" height="6.4" fill="#b3261e"/>
  <rect x="11" y="23" width="6.3" height="2.4"/></g>"""),
    "Calendar": ("#b3261e", f"""
  <rect x="6" y="8" width="20" height="18" rx="2" fill="#fff" stroke="{INK}" stroke-width="1.6"/>
  <path d="M6 13h20" stroke="#b3261e" stroke-width="4"/>
  <path d="M11 5v5M21 5v5" stroke="{INK}" stroke-width="1.8" stroke-linecap="round"/>
  <g fill="{INK}"><rect x="9" y="17" width="3" height="2.4"/><rect x="14.5" y="17" width="3" height="2.4"/><rect x="20" y="17" width="3" height="2.4"/>
  <rect x="9" y="21" width="3" height="2.4"/><rect x="14.5" y="21" width="3" height="2.4" fill="#3c8d2f"/></g>"""),
    "Tabla": ("#2f6db3", f"""
  <rect x="5" y="7" width="22" height="18" fill="#fff" stroke="{INK}" stroke-width="1.6"/>
  <path d="M5 7h22v4H5z" fill="#000080"/>
  <path d="M5 15.5h22M5 20h22M12 11v14M19.5 11v14" stroke="{INK}" stroke-width="1"/>"""),
    "Prospect": ("#c7821a", f"""
  <rect x="4" y="7" width="24" height="18" rx="2" fill="#fff7e6" stroke="{INK}" stroke-width="1.6"/>
  <circle cx="11.5" cy="14" r="3" fill="#c7821a" stroke="{INK}" stroke-width="1.1"/>
  <path d="M6.5 22c.8-3 2.6-4.5 5-4.5s4.2 1.5 5 4.5" fill="#c7821a" stroke="{INK}" stroke-width="1.1"/>
  <path d="M19 13h6M19 17h6M19 21h4" stroke="{INK}" stroke-width="1.4" stroke-linecap="round"/>"""),
    "Automant": ("#55606e", f"""
  <g transform="translate(16 16)">
  <path d="M-2-11h4l.8 3.2 2.6 1.1 2.9-1.7 2.8 2.8-1.7 2.9 1.1 2.6L11-2v4l-3.2.8-1.1 2.6 1.7 2.9-2.8 2.8-2.9-1.7-2.6 1.1L2 11h-4l-.8-3.2-2.6-1.1-2.9 1.7-2.8-2.8 1.7-2.9-1.1-2.6L-11 2v-4l3.2-.8 1.1-2.6-1.7-2.9 2.8-2.8 2.9 1.7 2.6-1.1z" fill="#c9d1db" stroke="{INK}" stroke-width="1.4" stroke-linejoin="round"/>
  <circle r="4" fill="#fff" stroke="{INK}" stroke-width="1.4"/></g>"""),
    "Impr": ("#55606e", f"""
  <rect x="9" y="5" width="14" height="8" fill="#fff" stroke="{INK}" stroke-width="1.4"/>
  <rect x="5" y="12" width="22" height="10" rx="2" fill="#c9d1db" stroke="{INK}" stroke-width="1.6"/>
  <rect x="9" y="18" width="14" height="9" fill="#fff" stroke="{INK}" stroke-width="1.4"/>
  <path d="M11.5 21.5h9M11.5 24.5h6" stroke="{INK}" stroke-width="1.1"/><circle cx="23.5" cy="15" r="1" fill="#3c8d2f"/>"""),
    "Graba": ("#2f6db3", f"""
  <path d="M6 6h17l3 3v17H6z" fill="#2f6db3" stroke="{INK}" stroke-width="1.6" stroke-linejoin="round"/>
  <rect x="10" y="6" width="11" height="7" fill="#fff" stroke="{INK}" stroke-width="1.1"/>
  <rect x="17" y="7.5" width="2.2" height="4" fill="{INK}"/>
  <rect x="9" y="17" width="14" height="9" fill="#eef1f4" stroke="{INK}" stroke-width="1.1"/>"""),
}

# Buttons whose two pictures are not named 1 and 2.
PAIRS = {"CALCUL": ("CALCUL", "CALCUL2"), "Calendar": ("Calendar", "Calendar2")}


def tile(accent, glyph, pressed):
    # Normal look: a light tile with a soft top light; pressed look: the tile
    # sinks (darker, shadow at the top) and the glyph moves one pixel down-right.
    top, bottom = ("#ffffff", "#dde3ea") if not pressed else ("#c3ccd6", "#eef1f4")
    shift = "translate(1 1)" if pressed else "translate(0 0)"
    return f"""<svg xmlns="http://www.w3.org/2000/svg" width="32" height="32" viewBox="0 0 32 32">
  <defs><linearGradient id="g" x1="0" y1="0" x2="0" y2="1">
    <stop offset="0" stop-color="{top}"/><stop offset="1" stop-color="{bottom}"/></linearGradient></defs>
  <rect x="0.5" y="0.5" width="31" height="31" rx="5" fill="url(#g)" stroke="{accent}" stroke-width="1"/>
  <g transform="{shift}">{glyph}
  </g>
</svg>
"""


def write(path, text):
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)


def emblem_svg(size):
    # The Valdrosa mark: a rose-red shield with a white V and a golden band.
    return f"""<svg xmlns="http://www.w3.org/2000/svg" width="{size}" height="{size}" viewBox="0 0 64 64">
  <defs><linearGradient id="s" x1="0" y1="0" x2="0" y2="1">
    <stop offset="0" stop-color="#c0392b"/><stop offset="1" stop-color="#7b1f17"/></linearGradient></defs>
  <path d="M32 3l25 8v18c0 16-11 27-25 32C18 56 7 45 7 29V11z" fill="url(#s)" stroke="#3d0f0b" stroke-width="2"/>
  <path d="M9 23h46" stroke="#e8b64c" stroke-width="4"/>
  <path d="M19 14l13 34 13-34" fill="none" stroke="#fff" stroke-width="6" stroke-linejoin="round" stroke-linecap="round"/>
</svg>
"""


def main():
    for name, (accent, glyph) in GLYPHS.items():
        first, second = PAIRS.get(name, (name + "1", name + "2"))
        write(os.path.join(BITMAPS, first + ".svg"), tile(accent, glyph, False))
        write(os.path.join(BITMAPS, second + ".svg"), tile(accent, glyph, True))

    help_glyph = f"""
  <circle cx="16" cy="16" r="11" fill="#2f6db3" stroke="{INK}" stroke-width="1.6"/>
  <path d="M12.2 12.5a3.9 3.9 0 1 1 5.6 3.5c-1.3.7-1.8 1.4-1.8 2.8v.8" fill="none" stroke="#fff" stroke-width="2.6" stroke-linecap="round"/>
  <circle cx="16" cy="23.3" r="1.7" fill="#fff"/>"""
    write(os.path.join(BITMAPS, "mn_Help.svg"), tile("#2f6db3", help_glyph, False))
    # Search dialog decoration and the calendar's year arrows.
    write(os.path.join(BITMAPS, "Buscar5.svg"), tile(*GLYPHS["Buscar"], False))
    arrow = f"""
  <path d="M20 7L10 16l10 9z" fill="#2f6db3" stroke="{INK}" stroke-width="1.4" stroke-linejoin="round"/>"""
    write(os.path.join(BITMAPS, "Retrocede.svg"), tile("#2f6db3", arrow, False))
    write(os.path.join(BITMAPS, "Avanza.svg"),
          tile("#2f6db3", '<g transform="matrix(-1 0 0 1 32 0)">' + arrow + "</g>", False))
    # The button bar's brush: a quiet bevelled texture that tiles seamlessly.
    write(os.path.join(BITMAPS, "Marco9D.svg"), """<svg xmlns="http://www.w3.org/2000/svg" width="16" height="48" viewBox="0 0 16 48">
  <defs><linearGradient id="b" x1="0" y1="0" x2="0" y2="1">
    <stop offset="0" stop-color="#f4efe2"/><stop offset="0.55" stop-color="#e2d8bf"/><stop offset="1" stop-color="#cbbf9f"/></linearGradient></defs>
  <rect width="16" height="48" fill="url(#b)"/>
  <path d="M0 0.5h16" stroke="#ffffff"/><path d="M0 47.5h16" stroke="#9c8f6e"/>
</svg>
""")

    write(os.path.join(ICONS, "VALDROSF.svg"), emblem_svg(32))
    write(os.path.join(ICONS, "GENTE.svg"), f"""<svg xmlns="http://www.w3.org/2000/svg" width="32" height="32" viewBox="0 0 32 32">
  <circle cx="20.5" cy="10.5" r="4.5" fill="#2f6db3" stroke="{INK}" stroke-width="1.2"/>
  <path d="M12 28c.6-6 4-9 8.5-9s7.9 3 8.5 9z" fill="#2f6db3" stroke="{INK}" stroke-width="1.2"/>
  <circle cx="11" cy="12.5" r="4.5" fill="#c7821a" stroke="{INK}" stroke-width="1.2"/>
  <path d="M2.5 29c.6-6 4-9 8.5-9s7.9 3 8.5 9z" fill="#c7821a" stroke="{INK}" stroke-width="1.2"/>
</svg>
""")

    write_background(os.path.join(FILES, "Fondo01.bmp"))
    emblem_tmp = os.path.join(FILES, ".emblem.svg")
    write(emblem_tmp, emblem_svg(160))
    try:
        # BMP version 4 keeps the alpha channel that the frame draws the emblem with.
        subprocess.run(["convert", "-background", "none", emblem_tmp,
                        "-define", "bmp:format=bmp4", os.path.join(FILES, "Valdro32.bmp")], check=True)
    finally:
        os.remove(emblem_tmp)


def write_background(path, size=64):
    # A soft sand tone with a faint diagonal weave; the tile repeats seamlessly
    # because the weave's period divides the tile.
    rows = []
    for y in range(size - 1, -1, -1):  # BMP rows go bottom-up
        row = bytearray()
        for x in range(size):
            weave = ((x + y) % 16 < 2) or ((x - y) % 16 < 2)
            base = (232, 226, 210) if not weave else (222, 214, 194)
            r, g, b = base
            row += bytes((b, g, r))
        rows.append(bytes(row))
    pixels = b"".join(rows)
    header = struct.pack("<2sIHHI", b"BM", 14 + 40 + len(pixels), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, size, size, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + pixels)


if __name__ == "__main__":
    main()
