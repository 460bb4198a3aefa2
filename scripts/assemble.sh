#!/usr/bin/env bash
# Assembles an installation directory from a build: program files are always
# brought up to date; data files are written only when missing, so an existing
# installation keeps its data.
#   scripts/assemble.sh BUILD_DIR INSTALL_DIR
set -euo pipefail
build=$1
dest=$2
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
mkdir -p "$dest"

# Program files (the help pages come with the tables, below).
if [ -f "$build/resources/ZariReva.rcc" ]; then cp -f "$build/resources/ZariReva.rcc" "$dest/"; fi

# Data files, never overwritten.
if [ -d "$here/install/files" ]; then
    (cd "$here/install/files" && find . -type f) | while read -r f; do
        [ -e "$dest/$f" ] || { mkdir -p "$dest/$(dirname "$f")"; cp "$here/install/files/$f" "$dest/$f"; }
    done
fi

# Tables built from install/ (templates, catalogues, the test company); the
# tool never overwrites a data file that exists, and brings the help pages
# (folder Ayuda) up to date.
"$build/bin/vdrtool" install "$dest" --fuentes "$here/install" >/dev/null
exit 0
