#!/usr/bin/env bash
# The shipped list reports over a generated company: each report to a PDF
# with `vdrtool report`, its pages, wall time and peak memory.
#
#   cmake --preset bench && cmake --build --preset bench --target vdrtool
#   bench/report_scale.sh build/bench [PROSPECTS] [WORK_DIR]
#
# PROSPECTS (100000 by default) go to `vdrtool demo`; the installation is kept
# in WORK_DIR (a new temporary folder by default) and reused when it already
# holds that many, so that two builds can be measured on the same data. The
# PDFs and their text (pdftotext, NAME.txt) stay in WORK_DIR for comparing.
# VDR_BENCH_REPORTS chooses the reports (default: INFPRO INFCON INFAGE).
set -euo pipefail
build=$(cd "$1" && pwd)
prospects=${2:-100000}
work=${3:-$(mktemp -d)}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
tool=$build/bin/vdrtool
mkdir -p "$work"
work=$(cd "$work" && pwd)
inst=$work/installation
export QT_QPA_PLATFORM=offscreen

if [ "$(cat "$inst/.demo" 2>/dev/null)" != "$prospects" ]; then
    rm -rf "$inst"
    bash "$here/scripts/assemble.sh" "$build" "$inst"
    start=$(date +%s.%N)
    "$tool" demo "$inst" --prospects "$prospects" | tail -1
    printf 'demo: %.1f s\n' "$(echo "$(date +%s.%N) - $start" | bc)"
    echo "$prospects" >"$inst/.demo"
fi

# Wall time depends on what else the machine runs; CPU time (user + system)
# is the steadier figure on a shared machine.
printf '%-12s %8s %10s %10s %10s\n' informe páginas 's reales' 's CPU' 'MB pico'
for r in ${VDR_BENCH_REPORTS:-INFPRO INFCON INFAGE}; do
    pdf=$work/$r.pdf
    (cd "$inst" && /usr/bin/time -f '%e %U %S %M' -o "$work/$r.time" \
        "$tool" report "$r.RPO" --pdf "$pdf" >/dev/null)
    read -r secs user sys kb <"$work/$r.time"
    pages=$(pdfinfo "$pdf" | awk '/^Pages:/ {print $2}')
    pdftotext -layout "$pdf" "$work/$r.txt"
    printf '%-12s %8s %10s %10s %10d\n' "$r" "$pages" "$secs" "$(echo "$user + $sys" | bc)" \
        $((kb / 1024))
done
echo "PDF y textos en $work"
