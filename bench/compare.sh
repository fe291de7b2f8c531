#!/usr/bin/env bash
# Whole processes side by side: this project's purgex against the tools a
# user would use instead, on the same machine in one run. Each pair runs
# alternately (ours, theirs, ours, ...) so that load from other work on the
# machine falls on both; the figures are medians of CPU time (user + system)
# and the ratio is ours / theirs. Peak resident memory is the "Maximum
# resident set size" of /usr/bin/time -v, taken from the same wait4 call
# (bench/RunMeasured.cpp); the script ends with /usr/bin/time -v's own
# figure for one purgex iso run.
#
#   bench/compare.sh [PAIRS]      (default 11; needs build/linux)
#
# Work compared:
#   decode   purgex store list --cd
#            lha pq of the same LZHUF stream wrapped as an -lh1- member
#   iso      purgex iso FILE --os rxdos --yes (read-back check included)
#            cp the Rx-DOS floppy, mcopy -s the wiper's tree and AUTOEXEC.BAT
#            onto it, genisoimage -b with floppy emulation
#   stick    purgex usb FILE --yes --size 64M (read-back check included)
#            dd conv=fsync of the same 64 MiB stick image, then cmp
#            (CPU and wall-clock time: both sides wait for the disk)
# and, for where purgex iso cannot go below, purgex --version (starting the
# program) in the same rounds.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
build=$top/build/linux
purgex=$build/cli/purgex
pairs=${1:-11}
for tool in lha mcopy genisoimage /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "compare.sh: $tool is missing (scripts/setup.sh)"; exit 1; }
done
[ -x "$purgex" ] && [ -x "$build/bench/lha_member" ] && [ -x "$build/bench/run_measured" ] ||
  { echo "compare.sh: build first (scripts/build.sh linux)"; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export MTOOLS_SKIP_CHECK=1
export XDG_CONFIG_HOME=$work/config # purgex's saved options stay out of the user's

# Inputs, made once and not timed.
"$build/bench/lha_member" "$work/cd.lzh" PURGXCD.BIN
"$purgex" store extract --cd "$work/tree" >/dev/null
mkdir -p "$work/cd"

# run NAME COMMAND...: one process; appends its CPU seconds and peak
# resident KiB to $work/NAME.now (see bench/RunMeasured.cpp).
run() {
  local name=$1; shift
  "$build/bench/run_measured" "$work/$name.now" "$@" 2>"$work/err" ||
    { echo "compare.sh: $(cat "$work/err")"; exit 1; }
}
# flush NAME: one sample (the sums of this repetition's processes).
flush() {
  awk '{c += $1; if ($2 > m) m = $2; w += $3} END {printf "%.4f %d %.4f\n", c, m, w}' \
    "$work/$1.now" >>"$work/$1"
  rm -f "$work/$1.now"
}

start_ours() { run start_ours "$purgex" --version >/dev/null; flush start_ours; }
decode_ours() { run dec_ours "$purgex" store list --cd; flush dec_ours; }
decode_theirs() { (cd "$work" && run dec_theirs lha pq cd.lzh); flush dec_theirs; }
iso_ours() {
  rm -f "$work/ours.iso"
  run iso_ours "$purgex" iso "$work/ours.iso" --os rxdos --yes --options 111111111110
  flush iso_ours
}
iso_theirs() {
  rm -f "$work/cd/boot.img" "$work/theirs.iso"
  run iso_theirs cp "$work/tree/.BOOT" "$work/cd/boot.img"
  run iso_theirs mcopy -s -D o -i "$work/cd/boot.img" "$work/tree/Purgit" ::/
  run iso_theirs mcopy -D o -i "$work/cd/boot.img" "$work/tree/AUTOEXEC.BAT" ::/
  run iso_theirs genisoimage -quiet -o "$work/theirs.iso" -b boot.img -c boot.cat "$work/cd"
  flush iso_theirs
}

stick_ours() {
  rm -f "$work/ours.img"
  run stick_ours "$purgex" usb "$work/ours.img" --yes --size 64M --options 111111111110
  flush stick_ours
}
stick_theirs() {
  rm -f "$work/theirs.img"
  run stick_theirs dd if="$work/ref.img" of="$work/theirs.img" bs=1M conv=fsync status=none
  run stick_theirs cmp "$work/ref.img" "$work/theirs.img"
  flush stick_theirs
}
"$purgex" usb "$work/ref.img" --yes --size 64M --options 111111111110 >/dev/null

# One unmeasured round warms the caches for both sides.
start_ours; decode_ours; decode_theirs; iso_ours; iso_theirs; stick_ours; stick_theirs
rm -f "$work"/start_* "$work"/dec_* "$work"/iso_* "$work"/stick_*
for ((i = 0; i < pairs; i++)); do
  start_ours; decode_ours; decode_theirs
  iso_theirs; iso_ours # the other order this time
  stick_ours; stick_theirs
done

median() { # file column
  sort -g -k"$2,$2" "$1" | awk -v c="$2" '{v[NR] = $c} END {
    if (NR % 2) print v[(NR + 1) / 2]; else printf "%.4f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
row() { # label ours theirs
  local o t
  o=$(median "$work/$2" 1); t=$(median "$work/$3" 1)
  awk -v l="$1" -v o="$o" -v t="$t" \
    'BEGIN {printf "| %s | %.1f ms | %.1f ms | %.2f |\n", l, o * 1000, t * 1000, o / t}'
}
echo "Machine: $(nproc) cores, $(awk -F': ' '/model name/ {print $2; exit}' /proc/cpuinfo)," \
  "load $(cut -d' ' -f1-3 /proc/loadavg); $(date -u '+%Y-%m-%d %H:%M UTC'); $pairs pairs"
echo
echo "| work | purgex (median CPU) | alternative (median CPU) | ratio |"
echo "|---|---|---|---|"
row "decode the CD container's LZHUF stream" dec_ours dec_theirs
row "make the bootable CD image" iso_ours iso_theirs
row "make a 64 MiB stick image" stick_ours stick_theirs
o=$(median "$work/stick_ours" 3); t=$(median "$work/stick_theirs" 3)
awk -v o="$o" -v t="$t" 'BEGIN {printf "| make a 64 MiB stick image, wall clock | %.1f ms | %.1f ms | %.2f |\n", o * 1000, t * 1000, o / t}'
s=$(median "$work/start_ours" 1); d=$(median "$work/dec_ours" 1); p=$(median "$work/iso_theirs" 1)
awk -v s="$s" -v d="$d" -v p="$p" 'BEGIN {printf "\nFloor of purgex iso: starting the program %.1f ms (%.2f of the pipeline);" \
  " starting it and decoding the store %.1f ms (%.2f of the pipeline)\n", s * 1000, s / p, d * 1000, d / p}'
echo
awk '{if ($2 > m) m = $2} END {printf "Peak resident memory of purgex iso: %.1f MiB", m / 1024}' \
  "$work/iso_ours"
awk '{if ($2 > m) m = $2} END {printf " (largest process of the pipeline: %.1f MiB)\n", m / 1024}' \
  "$work/iso_theirs"
rm -f "$work/ours.iso" "$work"/*.img
/usr/bin/time -v "$purgex" iso "$work/ours.iso" --os rxdos --yes --options 111111111110 2>&1 >/dev/null |
  awk -F': ' '/Maximum resident/ {printf "/usr/bin/time -v, one purgex iso run: %.1f MiB\n", $2 / 1024}'
