#!/usr/bin/env bash
# Tests the release packages: makes them with scripts/package.sh from the
# builds as they are (scripts/build.sh has run), then installs the .deb into
# a fresh root, reads its manual page and lintian's verdict, lists the zips,
# runs the installer and its uninstaller under Wine in a fresh prefix, checks
# the programs' sizes, the debug files, one version everywhere, the payload's
# dates and that a second run gives the same bytes.
#
# Prints GoogleTest's summary lines, so scripts/test.sh counts its cases.
set -uo pipefail
cd "$(dirname "$0")/../.."
top=$PWD
work=$top/build/package-test
rm -rf "$work" && mkdir -p "$work"
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
export WINEDEBUG=-all
wine_loader=$(command -v wine64 || echo /usr/lib/wine/wine64)
version=$(sed -n 's/^project(Purgex VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
packages=$work/packages
# The media every check makes: Rx-DOS, so no MS-DOS files are looked for.
iso_args=(--yes --os rxdos --options 100111001010 --params "/TEST")

passed=() failed=()
current=""
# A failed assertion of the current case.
fail() {
  echo "$current: $*"
  case_failed=1
}
run_case() { # name function
  current=$1
  case_failed=0
  echo "[ RUN      ] $1"
  local start=$SECONDS
  "$2"
  if [ $case_failed -eq 0 ]; then
    echo "[       OK ] $1 ($((SECONDS - start)) s)"
    passed+=("$1")
  else
    echo "[  FAILED  ] $1"
    failed+=("$1")
  fi
}

echo "[==========] package tests (version $version, SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH)"
if ! PURGEX_PACKAGE_NO_BUILD=1 PURGEX_PACKAGES=$packages \
  PURGEX_PACKAGE_AMD64_INSTALLER=$work/setup-amd64.exe timeout 300 scripts/package.sh; then
  echo "[  FAILED  ] Packages.Made"
  echo "[  FAILED  ] 1 test, listed below:"
  echo "[  FAILED  ] Packages.Made"
  exit 1
fi
deb=$packages/purgex_${version}_amd64.deb
setup=$packages/Purgex-$version-setup.exe

# ---------------------------------------------------------------------------
DebInstallsIntoAFreshRoot() {
  local root=$work/root
  mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
  touch "$root/var/lib/dpkg/status" "$root/var/lib/dpkg/available"
  dpkg --root="$root" --log=/dev/null --force-not-root -i "$deb" >"$work/dpkg.log" 2>&1 ||
    { fail "dpkg -i failed: $(cat "$work/dpkg.log")"; return; }
  local expected="/usr/bin/purgex
/usr/share/bash-completion/completions/purgex
/usr/share/doc/purgex/README.md.gz
/usr/share/doc/purgex/changelog.gz
/usr/share/doc/purgex/copyright
/usr/share/lintian/overrides/purgex
/usr/share/man/man1/purgex.1.gz"
  local files
  files=$(cd "$root" && find usr -type f | sed 's|^|/|' | sort)
  [ "$files" = "$expected" ] || fail "installed files: $files"
  [ "$(dpkg --root="$root" -L purgex | grep -c '^/usr/bin/purgex$')" = 1 ] ||
    fail "dpkg does not know /usr/bin/purgex as the package's"
  local said
  said=$("$root/usr/bin/purgex" --version)
  [[ $said == "purgex $version ("* ]] || fail "installed purgex --version says '$said'"
  "$root/usr/bin/purgex" iso "$work/deb.iso" "${iso_args[@]}" >/dev/null 2>&1 ||
    fail "installed purgex iso failed"
  build/linux/cli/purgex iso "$work/native.iso" "${iso_args[@]}" >/dev/null 2>&1 ||
    fail "the build's purgex iso failed"
  cmp -s "$work/deb.iso" "$work/native.iso" || fail "installed purgex makes another image"
  # The completion script loads and completes the commands.
  local words
  words=$(bash -c 'source /usr/share/bash-completion/bash_completion 2>/dev/null
    source "$1"; COMP_WORDS=(purgex is); COMP_CWORD=1; COMP_LINE="purgex is"; COMP_POINT=9
    _purgex purgex is purgex; echo "${COMPREPLY[*]}"' _ "$root/usr/share/bash-completion/completions/purgex")
  [ "$words" = iso ] || fail "completion of 'purgex is' gives '$words'"
  dpkg --root="$root" --log=/dev/null --force-not-root -r purgex >>"$work/dpkg.log" 2>&1 ||
    fail "dpkg -r failed"
  [ -z "$(cd "$root" && find . -path ./var -prune -o -type f -print)" ] || fail "files left after dpkg -r"
}

ManualPageCoversEveryCommandAndOption() {
  local page=$work/purgex.1 text warnings
  dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/man/man1/purgex.1.gz | gunzip >"$page"
  warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "man warns: $warnings"
  text=$(MANWIDTH=200 man -l "$page" 2>/dev/null)
  for heading in NAME SYNOPSIS DESCRIPTION COMMANDS OPTIONS "EXIT STATUS" FILES EXAMPLES; do
    grep -q "^$heading" <<<"$text" || fail "no section $heading"
  done
  grep -q "Purgex $version" <<<"$text" || fail "the page does not name version $version"
  # Every command and option the program's help lists (one level of
  # subcommands below store).
  local purgex=build/linux/cli/purgex commands command options option
  commands=$("$purgex" --help | sed -n '/^Subcommands:/,$p' | awk 'NR > 1 && NF {print $1}')
  [ -n "$commands" ] || fail "no commands in purgex --help"
  for command in $commands; do
    grep -qE "(^| )$command( |$)" <<<"$text" || fail "command $command is not in the page"
    local subs
    subs=$("$purgex" "$command" --help | sed -n '/^Subcommands:/,$p' | awk 'NR > 1 && NF {print $1}')
    for sub in "" $subs; do
      options=$("$purgex" $command $sub --help | grep -oE '^ +(-[a-z],)?--[a-z-]+' | sed 's/.*,//; s/ //g')
      for option in $options; do
        grep -qF -- "$option" <<<"$text" || fail "option $option of $command $sub is not in the page"
      done
    done
  done
  for status in 0 1 2 130 143; do
    sed -n '/^EXIT STATUS/,/^[A-Z]/p' <<<"$text" | grep -qE "^ +$status\b" ||
      fail "exit status $status is not described"
  done
}

# lintian takes its time: it runs beside the other cases.
start_lintian() {
  (timeout 150 lintian --fail-on error "$deb" >"$work/lintian.out" 2>&1
    echo $? >"$work/lintian.status") &
  lintian_pid=$!
}

DebPassesLintian() {
  wait "$lintian_pid"
  local report status
  report=$(grep -v 'running with root privileges' "$work/lintian.out")
  status=$(cat "$work/lintian.status")
  [ "$status" = 0 ] || fail "lintian status $status: $report"
  grep -q '^E:' <<<"$report" && fail "lintian errors: $(grep '^E:' <<<"$report")"
  [ -n "$report" ] && echo "lintian says: $report"
  true
}

ZipsHoldExactlyTheListedFiles() {
  local arch listing expected
  local help
  help=$(cd app/beside/help && ls | sort)
  for arch in win64 win32; do
    local zip=$packages/Purgex-$version-$arch.zip name=Purgex-$version-$arch
    [ -f "$zip" ] || { fail "no $zip"; continue; }
    listing=$(unzip -Z1 "$zip" | grep -v '/$' | sort)
    expected=$( (printf '%s\n' OnTheWeb.url README.txt RaraVida.exe license.txt purgex.exe upgrade.url
      sed 's|^|help/|' <<<"$help") | sed "s|^|$name/|" | sort)
    [ "$listing" = "$expected" ] || fail "$arch zip holds: $listing"
    unzip -tq "$zip" >/dev/null || fail "$arch zip does not test clean"
    rm -rf "$work/unzip" && mkdir -p "$work/unzip" && unzip -q "$zip" -d "$work/unzip"
    for file in license.txt OnTheWeb.url upgrade.url; do
      cmp -s "$work/unzip/$name/$file" "app/beside/$file" || fail "$arch zip: $file differs"
    done
    grep -q "version $version" "$work/unzip/$name/README.txt" || fail "$arch README.txt lacks the version"
    local machine
    machine=$(objdump -f "$work/unzip/$name/purgex.exe" 2>/dev/null | sed -n 's/.*file format //p')
    case $arch in
      win64) [ "$machine" = pei-x86-64 ] || fail "win64 purgex.exe is $machine" ;;
      win32) [ "$machine" = pei-i386 ] || fail "win32 purgex.exe is $machine" ;;
    esac
  done
}

# The limits leave room for what the programs will still carry.
ProgramsStayWithinTheirSizes() {
  local file limit size
  while read -r file limit; do
    [ -f "$file" ] || { fail "no $file"; continue; }
    size=$(stat -c %s "$file")
    echo "size: ${file#"$work"/} $size bytes (limit $limit)"
    [ "$size" -le "$limit" ] || fail "$file is $size bytes, more than $limit"
  done <<EOF
$work/root-size/usr/bin/purgex 3670016
$work/unzip64/Purgex-$version-win64/purgex.exe 2621440
$work/unzip32/Purgex-$version-win32/purgex.exe 2621440
$work/unzip64/Purgex-$version-win64/RaraVida.exe 1048576
$work/unzip32/Purgex-$version-win32/RaraVida.exe 1048576
$setup 4194304
EOF
}

DebugFilesBelongToTheStrippedPrograms() {
  local native=$work/root-size/usr/bin/purgex debug=$packages/debug
  readelf -S "$native" | grep -q '\.debug_info' && fail "the packaged purgex keeps debug information"
  readelf -S "$native" | grep -q '\.symtab' && fail "the packaged purgex keeps its symbols"
  local id debug_id
  id=$(readelf -n "$native" | sed -n 's/.*Build ID: //p')
  debug_id=$(readelf -n "$debug/linux/purgex.debug" | sed -n 's/.*Build ID: //p')
  [ -n "$id" ] && [ "$id" = "$debug_id" ] || fail "build IDs differ: '$id' and '$debug_id'"
  readelf -S "$debug/linux/purgex.debug" | grep -q '\.debug_info' || fail "purgex.debug has no debug information"
  local arch program link dir
  for arch in win64 win32; do
    dir=$work/unzip${arch#win}/Purgex-$version-$arch
    for program in purgex.exe RaraVida.exe; do
      # (objcopy with one file name would rewrite the program in place)
      objcopy --dump-section .gnu_debuglink="$work/link" "$dir/$program" "$work/copy" 2>/dev/null
      link=$(tr '\0' '\n' <"$work/link" | head -n 1)
      [ "$link" = "$program.debug" ] || fail "$arch $program links to '$link'"
      [ -f "$debug/$arch/$program.debug" ] || { fail "no $arch/$program.debug"; continue; }
      objdump -h "$debug/$arch/$program.debug" | grep -q '\.debug_info' ||
        fail "$arch/$program.debug has no debug information"
      objdump -h "$dir/$program" | grep -q '\.debug_info' && fail "$arch $program keeps debug information"
    done
  done
}

OneVersionEverywhere() {
  [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "the .deb's version is $(dpkg-deb -f "$deb" Version)"
  local arch dir
  for arch in win64 win32; do
    dir=$work/unzip${arch#win}/Purgex-$version-$arch
    # The About box's two lines and the version resource.
    grep -qa "Build $version" "$dir/RaraVida.exe" || fail "$arch About box lacks Build $version"
    grep -qa "Version ${version%.*.*}" "$dir/RaraVida.exe" || fail "$arch About box lacks Version ${version%.*.*}"
    for program in RaraVida.exe purgex.exe; do
      strings -el "$dir/$program" | grep -qx "$version" ||
        fail "$arch $program has no version resource $version"
    done
  done
  strings -el "$setup" | grep -qx "$version" || fail "the installer has no version resource $version"
}

# The images' dates are fixed when the build is configured: running the
# Rx-DOS floppy's packing command again, without SOURCE_DATE_EPOCH and at
# another time, makes the same bytes the build made.
PayloadDatesComeFromTheBuild() {
  local command
  command=$(ninja -C build/linux -t commands payload/rxdos/BOOT.IMG | tail -n 1)
  [[ $command == *mkfloppy* ]] || { fail "no packing command: $command"; return; }
  command=${command//"$top/build/linux/payload/rxdos/BOOT.IMG"/"$work/BOOT.IMG"}
  env -u SOURCE_DATE_EPOCH bash -c "$command" >/dev/null || fail "packing again failed"
  cmp -s "$work/BOOT.IMG" build/linux/payload/rxdos/BOOT.IMG ||
    fail "packing again without SOURCE_DATE_EPOCH changes the Rx-DOS floppy"
  local configured date
  configured=$(cat build/linux/source-date-epoch)
  date=$(date -u -d "@$configured" +%Y-%m-%d)
  MTOOLS_SKIP_CHECK=1 mdir -i "$work/BOOT.IMG" -a ::RXDOS.SYS 2>/dev/null | grep -q "$date" ||
    fail "RXDOS.SYS is not dated $date"
}

# Silent install into a fresh prefix, the wizard's window, purgex.exe's
# image, then the uninstaller: everything installed goes, the saved options
# stay unless asked for.
InstallerInstallsAndUninstallsUnderWine() {
  export WINEPREFIX=$work/wineprefix
  local folder="$WINEPREFIX/drive_c/Program Files/Corvane Purgex 2005"
  local shortcut="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Corvane Purgex 2005 - Boot Disk Creator.lnk"
  local key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Corvane Purgex 2005'
  # The installer people get is a 32-bit program (it runs on every Windows);
  # the one run here is the same script built as a 64-bit program.
  [ "$(objdump -f "$setup" | sed -n 's/.*file format //p')" = pei-i386 ] ||
    fail "$setup is no 32-bit program"
  local options='HKCU\Software\Corvantis\Corvane Purgex 2005'
  timeout 120 "$wine_loader" wineboot -i >/dev/null 2>&1 || { fail "wineboot failed"; return; }
  local before
  before=$(cd "$WINEPREFIX/drive_c" && find . -type f | sort)
  timeout 60 "$wine_loader" "$work/setup-amd64.exe" /S || fail "the installer failed"
  wineserver -w
  local files expected
  files=$(cd "$folder" 2>/dev/null && find . -type f | sed 's|^\./||' | sort)
  expected=$( (printf '%s\n' OnTheWeb.url README.txt RaraVida.exe Uninstall.exe license.txt purgex.exe upgrade.url
    cd app/beside/help && ls | sed 's|^|help/|') | sort)
  [ "$files" = "$expected" ] || fail "installed: $files"
  cmp -s "$folder/purgex.exe" "$work/unzip64/Purgex-$version-win64/purgex.exe" ||
    fail "the installed purgex.exe is not the win64 one"
  [ -f "$shortcut" ] || fail "no Start menu entry"
  "$wine_loader" reg query "$key" /v DisplayVersion 2>/dev/null | grep -q "$version" ||
    fail "no uninstaller registered with version $version"

  # A name outside every ANSI code page: purgex.exe takes its arguments in
  # UTF-8.
  local image="$work/wine-名前-Łódź.iso"
  (cd "$work" && timeout 120 "$wine_loader" "$folder/purgex.exe" iso 'Z:'"$image" \
    "${iso_args[@]}" >/dev/null 2>&1) || fail "the installed purgex.exe iso failed"
  cmp -s "$image" "$work/native.iso" || fail "purgex.exe makes another image than the native purgex"
  timeout 60 "$wine_loader" "$folder/purgex.exe" options --set 100111001011 >/dev/null 2>&1 ||
    fail "purgex.exe options --set failed"

  # The wizard starts: its window shows on a virtual screen. (Wine's
  # processes of the console runs must be gone first: a desktop process
  # started without a display would keep the window from the screen.)
  wineserver -w
  local seen
  seen=$(xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    "$1" "$2" >/dev/null 2>&1 &
    for i in $(seq 120); do
      if xwininfo -name "Corvane Purgex 2005 - Boot Disk Creator" 2>/dev/null | grep -q IsViewable; then
        echo window; break
      fi
      sleep 1
    done
    [ "$i" = 120 ] && xwininfo -root -tree | grep "^ *0x[0-9a-f]* \""
    wineserver -k' _ "$wine_loader" "$folder/RaraVida.exe" 2>/dev/null)
  [ "$seen" = window ] || fail "the installed wizard showed no window; windows: $seen"
  wineserver -w

  timeout 60 "$wine_loader" "$folder/Uninstall.exe" /S || fail "the uninstaller failed"
  wineserver -w
  [ -e "$folder" ] && fail "left after uninstalling: $(cd "$folder" && find .)"
  [ -e "$shortcut" ] && fail "the Start menu entry is left"
  "$wine_loader" reg query "$key" >/dev/null 2>&1 && fail "the uninstaller stays registered"
  "$wine_loader" reg query "$options" >/dev/null 2>&1 || fail "the saved options went"
  local after
  after=$(cd "$WINEPREFIX/drive_c" && find . -type f | sort)
  local extra
  extra=$(comm -13 <(echo "$before") <(echo "$after") | grep -v '^\./users/\|^\./windows/\|^\./ProgramData/Microsoft/Windows/Start Menu/Programs/Wine')
  [ -z "$extra" ] && true || fail "files left in C: after uninstalling: $extra"

  # Asked to, it takes the saved options too.
  timeout 60 "$wine_loader" "$work/setup-amd64.exe" /S && wineserver -w
  timeout 60 "$wine_loader" "$folder/Uninstall.exe" /S /REMOVEOPTIONS && wineserver -w
  "$wine_loader" reg query "$options" >/dev/null 2>&1 && fail "/REMOVEOPTIONS kept the saved options"
  [ -e "$folder" ] && fail "left after the second uninstall"
  wineserver -k 2>/dev/null
  true
}

# A second run of scripts/package.sh, beside the other cases, into another
# folder and a second later (any clock in the packages would show).
start_second_run() {
  (sleep 1
    PURGEX_PACKAGE_NO_BUILD=1 PURGEX_PACKAGES=$work/again timeout 300 scripts/package.sh \
      >"$work/again.log" 2>&1
    echo $? >"$work/again.status") &
  second_run_pid=$!
}

PackagesAreReproducible() {
  wait "$second_run_pid"
  [ "$(cat "$work/again.status")" = 0 ] || { fail "the second run failed: $(cat "$work/again.log")"; return; }
  local difference
  difference=$(diff -rq "$packages" "$work/again" 2>&1)
  [ -z "$difference" ] || fail "two runs differ: $difference"
}

# The stripped programs, as shipped.
mkdir -p "$work/root-size"
dpkg-deb -x "$deb" "$work/root-size"
unzip -q "$packages/Purgex-$version-win64.zip" -d "$work/unzip64"
unzip -q "$packages/Purgex-$version-win32.zip" -d "$work/unzip32"

start_lintian
start_second_run
run_case Packages.DebInstallsIntoAFreshRoot DebInstallsIntoAFreshRoot
run_case Packages.ManualPageCoversEveryCommandAndOption ManualPageCoversEveryCommandAndOption
run_case Packages.ZipsHoldExactlyTheListedFiles ZipsHoldExactlyTheListedFiles
run_case Packages.ProgramsStayWithinTheirSizes ProgramsStayWithinTheirSizes
run_case Packages.DebugFilesBelongToTheStrippedPrograms DebugFilesBelongToTheStrippedPrograms
run_case Packages.OneVersionEverywhere OneVersionEverywhere
run_case Packages.PayloadDatesComeFromTheBuild PayloadDatesComeFromTheBuild
run_case Packages.InstallerInstallsAndUninstallsUnderWine InstallerInstallsAndUninstallsUnderWine
run_case Packages.PackagesAreReproducible PackagesAreReproducible
run_case Packages.DebPassesLintian DebPassesLintian

echo "[==========] $(( ${#passed[@]} + ${#failed[@]} )) tests ran."
echo "[  PASSED  ] ${#passed[@]} tests."
if [ ${#failed[@]} -gt 0 ]; then
  echo "[  FAILED  ] ${#failed[@]} tests, listed below:"
  for name in "${failed[@]}"; do echo "[  FAILED  ] $name"; done
  exit 1
fi
