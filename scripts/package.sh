#!/usr/bin/env bash
# Makes the release packages from the three builds, under build/packages/:
#   purgex_VERSION_amd64.deb        the native purgex, its manual page, bash
#                                   completion, README and copyright
#   Purgex-VERSION-win64.zip        RaraVida.exe, purgex.exe, help pages,
#   Purgex-VERSION-win32.zip        license.txt, the .url files, README.txt
#   Purgex-VERSION-setup.exe        the NSIS installer (both Windows trees)
#   debug/{linux,win64,win32}/      the debug information the programs lose
#                                   when stripped (found by build ID and by
#                                   debug link)
# VERSION is the project's version (top CMakeLists.txt). Every date in the
# packages is SOURCE_DATE_EPOCH (default: the last commit's time), so two
# runs on one commit give identical bytes.
#
# Environment: PURGEX_PACKAGES, another output folder; PURGEX_PACKAGE_NO_BUILD=1
# packages the builds as they are (scripts/build.sh otherwise brings them up
# to date first); PURGEX_PACKAGE_AMD64_INSTALLER=FILE also makes the
# installer as a 64-bit program there (for the tests).
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
out=${PURGEX_PACKAGES:-$top/build/packages}

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
fi
export SOURCE_DATE_EPOCH TZ=UTC LC_ALL=C.UTF-8
umask 022

[ "${PURGEX_PACKAGE_NO_BUILD:-0}" = 1 ] || scripts/build.sh

version=$(sed -n 's/^project(Purgex VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "package: no version in CMakeLists.txt" >&2; exit 1; }
native=build/linux/cli/purgex
built=$("$native" --version)
[[ $built == "purgex $version "* ]] ||
  { echo "package: $native says '$built', not version $version: rebuild" >&2; exit 1; }

rm -rf "$out"
stage=$out/.stage
mkdir -p "$stage" "$out/debug"

# strip_to TOOL_PREFIX PROGRAM STRIPPED DEBUGDIR: the program without its
# symbols and debug information, which go to DEBUGDIR/<name>.debug, named
# by the stripped program's debug link (and, on Linux, its build ID).
strip_to() {
  local prefix=$1 program=$2 stripped=$3 debug_dir=$4
  local name
  name=$(basename "$program").debug
  mkdir -p "$debug_dir" "$(dirname "$stripped")"
  "${prefix}objcopy" --only-keep-debug "$program" "$debug_dir/$name"
  chmod 644 "$debug_dir/$name"
  # The debug link's checksum is taken from the file in the current folder.
  program=$(realpath "$program")
  (cd "$debug_dir" && "${prefix}objcopy" --strip-all --remove-section=.comment \
    --add-gnu-debuglink="$name" "$program" "$stripped")
}

strip_to "" "$native" "$stage/deb/usr/bin/purgex" "$out/debug/linux"
for arch in win64 win32; do
  case $arch in
    win64) prefix=x86_64-w64-mingw32- ;;
    win32) prefix=i686-w64-mingw32- ;;
  esac
  tree=$stage/$arch
  strip_to "$prefix" "build/$arch/app/RaraVida.exe" "$tree/RaraVida.exe" "$out/debug/$arch"
  strip_to "$prefix" "build/$arch/cli/purgex.exe" "$tree/purgex.exe" "$out/debug/$arch"
  cp -r app/beside/. "$tree/"
  sed "s/@VERSION@/$version/g" packaging/README-windows.txt | sed 's/$/\r/' >"$tree/README.txt"
done

# The .deb: a tree owned by root, dated SOURCE_DATE_EPOCH.
deb=$stage/deb
date_text=$(date -u -d "@$SOURCE_DATE_EPOCH" +%Y-%m-%d)
install -d "$deb/DEBIAN" "$deb/usr/share/man/man1" "$deb/usr/share/doc/purgex" \
  "$deb/usr/share/bash-completion/completions"
sed -e "s/@VERSION@/$version/g" -e "s/@DATE@/$date_text/g" packaging/purgex.1 |
  gzip -9n >"$deb/usr/share/man/man1/purgex.1.gz"
install -m 644 packaging/purgex.bash-completion "$deb/usr/share/bash-completion/completions/purgex"
install -m 644 packaging/copyright "$deb/usr/share/doc/purgex/copyright"
gzip -9n <README.md >"$deb/usr/share/doc/purgex/README.md.gz"
{
  echo "purgex ($version) unstable; urgency=medium"
  echo
  echo "  * Release $version."
  echo
  echo " -- Corvantis <purgex@corvantis.invalid>  $(date -u -R -d "@$SOURCE_DATE_EPOCH")"
} | gzip -9n >"$deb/usr/share/doc/purgex/changelog.gz"
install -d "$deb/usr/share/lintian/overrides"
install -m 644 packaging/lintian-overrides "$deb/usr/share/lintian/overrides/purgex"
chmod 755 "$deb/usr/bin/purgex"
installed_size=$(du -sk --apparent-size --exclude=DEBIAN "$deb" | cut -f1)
sed -e "s/@VERSION@/$version/g" -e "s/@INSTALLED_SIZE@/$installed_size/g" packaging/control \
  >"$deb/DEBIAN/control"
(cd "$deb" && find usr -type f | sort | xargs md5sum >DEBIAN/md5sums)
chmod 644 "$deb/DEBIAN/control" "$deb/DEBIAN/md5sums"
find "$deb" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
dpkg-deb --root-owner-group -Zxz --build "$deb" "$out/purgex_${version}_amd64.deb" >/dev/null

# The zips: one folder, sorted entries, fixed dates, no extra fields.
for arch in win64 win32; do
  name=Purgex-$version-$arch
  rm -rf "$stage/zip" && mkdir -p "$stage/zip" && cp -r "$stage/$arch" "$stage/zip/$name"
  find "$stage/zip" -type d -exec chmod 755 {} + -o -type f -exec chmod 644 {} +
  find "$stage/zip" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
  (cd "$stage/zip" && find "$name" | sort | zip -q -X -D -9 "$out/$name.zip" -@)
done

# The installer: the lists of shared files for install and uninstall,
# generated from the win64 tree (the win32 one holds the same names).
common=$(cd "$stage/win64" && find . -type f ! -name RaraVida.exe ! -name purgex.exe | sed 's|^\./||' | sort)
{
  last=""
  for file in $common; do
    dir=$(dirname "$file")
    [ "$dir" = . ] && dir="" || dir="\\${dir//\//\\}"
    if [ "$dir" != "$last" ]; then
      echo "SetOutPath \"\$INSTDIR$dir\""
      last=$dir
    fi
    echo "File \"\${STAGE}/win64/$file\""
  done
} >"$stage/common-install.nsh"
{
  for file in $common; do echo "Delete \"\$INSTDIR\\${file//\//\\}\""; done
  for dir in $(printf '%s\n' $common | grep / | xargs -n1 dirname | sort -ru); do
    echo "RMDir \"\$INSTDIR\\${dir//\//\\}\""
  done
} >"$stage/common-uninstall.nsh"
makensis -V2 -DVERSION="$version" -DSTAGE="$stage" -DOUTFILE="$out/Purgex-$version-setup.exe" \
  packaging/installer.nsi >/dev/null
# The same installer as a 64-bit program, for tests on machines that run no
# 32-bit Windows code; it is no package.
if [ -n "${PURGEX_PACKAGE_AMD64_INSTALLER:-}" ]; then
  makensis -V2 -DVERSION="$version" -DSTAGE="$stage" -DAMD64_STUB \
    -DOUTFILE="$PURGEX_PACKAGE_AMD64_INSTALLER" packaging/installer.nsi >/dev/null
fi

rm -rf "$stage"
echo "package: $(cd "$out" && ls -d -- * | tr '\n' ' ')"
