#!/usr/bin/env bash
# Set-up commands of the project, for a fresh Debian 12 machine.
#
#   scripts/setup.sh run [DIR] [WORKSTATION]   build, assemble DIR (default ./instalacion), start
#   scripts/setup.sh test                      build with sanitizers and run every test
#
# Both install the Debian packages they need, are safe to repeat and print
# nothing but errors (and, for "test", CTest's report).
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
log=$(mktemp -t vdr-setup.XXXXXX)
trap 'rm -f "$log"' EXIT

build_packages=(cmake ninja-build g++ pkg-config googletest libgtest-dev libgmock-dev libbenchmark-dev
    libsqlite3-dev qt6-base-dev qt6-base-dev-tools qt6-tools-dev qt6-tools-dev-tools qt6-svg-dev
    qt6-multimedia-dev qt6-charts-dev libqt6opengl6-dev libgl-dev libx11-dev fonts-dejavu-core zlib1g-dev libcups2-dev)
# qt6-translations-l10n: Qt's own dialogs (open, save, print) in Spanish;
# xdg-utils hands workbooks to the desktop's mail program and browser.
run_packages=(qt6-qpa-plugins libqt6svg6 xauth qt6-translations-l10n xdg-utils)
# poppler-utils reads printed PDFs back; LibreOffice serves the spreadsheet
# tests (in Spanish: its function names come with the Spanish language pack;
# the full office, not the headless-only one, so that a workbook can be shown);
# xdotool and openbox drive the real program on Xvfb (tests/e2e); FUSE serves
# the simulated power cuts and slow drive (tools/cutfs); ippeveprinter
# (cups-ipp-utils) is the printer the print tests send jobs to, on a private
# message bus of dbus-daemon's.
test_packages=(python3 python3-dbfread python3-icalendar pgdbf libdbd-xbase-perl xvfb xauth sqlite3 poppler-utils
    libreoffice-calc libreoffice-l10n-es libreoffice-dev xdotool openbox libfuse3-dev fuse3 cups-ipp-utils
    dbus-daemon)

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# Installs only what is missing, so a second run asks nothing of apt.
need_packages() {
    local missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if ! { as_root apt-get update -qq && as_root env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y -qq --no-install-recommends "${missing[@]}"; } >"$log" 2>&1; then
        cat "$log" >&2
        echo "setup: no se pudieron instalar los paquetes: ${missing[*]}" >&2
        exit 1
    fi
}

quietly() {
    if ! "$@" >"$log" 2>&1; then
        cat "$log" >&2
        echo "setup: falló: $*" >&2
        exit 1
    fi
}

build() {
    local preset=$1
    quietly cmake --preset "$preset" -S "$here"
    quietly cmake --build --preset "$preset" -- -j"$(nproc)"
}

cmd_run() {
    local dir=${1:-$here/instalacion}
    local station=${2:-$(hostname | tr '[:lower:]' '[:upper:]' | cut -c1-12)}
    need_packages "${build_packages[@]}" "${run_packages[@]}"
    build release
    quietly "$here/scripts/assemble.sh" "$here/build/release" "$dir"
    if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ "${QT_QPA_PLATFORM:-}" != offscreen ]; then
        echo "setup: no hay pantalla gráfica (DISPLAY vacío); la instalación está lista en $dir." >&2
        exit 1
    fi
    cd "$dir"
    exec "$here/build/release/bin/vdrcontv" "$station"
}

cmd_test() {
    need_packages "${build_packages[@]}" "${run_packages[@]}" "${test_packages[@]}"
    build asan
    cd "$here"
    ctest --preset asan -j"$(nproc)"
}

case "${1:-}" in
    run) shift; cmd_run "$@" ;;
    test) shift; cmd_test "$@" ;;
    *) echo "Uso: scripts/setup.sh run [DIRECTORIO] [EQUIPO] | scripts/setup.sh test" >&2; exit 2 ;;
esac
