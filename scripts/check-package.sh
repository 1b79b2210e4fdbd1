#!/usr/bin/env bash
# Checks the built Debian packages as an operator meets them. The packages
# (orvoscan and orvoscan-dev) are unpacked into a scratch root (the link to
# /etc/orvoscan/OrvoScan.ini pointed
# at the scratch root's file, its postinst run on that root), then, as an
# unprivileged user - nobody in the group scanner when run as root, else the
# current user - the installed programs run on the virtual scanner: orvoscan
# info, a short scan, a setting changed through the driver, a C client built
# with pkg-config, orvo_viewer --help, the SANE backend through scanimage.
# Then the man pages (man -l), the desktop entry and lintian (no errors, no
# hardening tags).
# A pristine system with apt: scripts/check-pristine-install.sh.
#   scripts/check-package.sh orvoscan_*.deb orvoscan-dev_*.deb
set -euo pipefail
trap 'echo "check-package: line $LINENO failed" >&2' ERR
fail() {
  echo "check-package: $*" >&2
  exit 1
}
deb="" dev=""
for f in "$@"; do
  case $(dpkg-deb -f "$f" Package) in
    orvoscan) deb=$(realpath "$f") ;;
    orvoscan-dev) dev=$(realpath "$f") ;;
    *) fail "$f is neither orvoscan nor orvoscan-dev" ;;
  esac
done
[[ -n $deb && -n $dev ]] || fail "name both packages: orvoscan_*.deb orvoscan-dev_*.deb"

# As root, in /tmp: the unprivileged user must reach the scratch root.
base=${TMPDIR:-/tmp}
((EUID != 0)) || base=/tmp
scratch=$(mktemp -d "$base/orvoscan-package.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
chmod 755 "$scratch"
tree=$scratch/root
work=$scratch/home
mkdir -p "$work/tmp" "$work/out" "$scratch/control"
dpkg-deb -x "$deb" "$tree"
dpkg-deb -x "$dev" "$tree"
dpkg-deb -e "$deb" "$scratch/control"
libdir=$tree/usr/lib/$(gcc -print-multiarch)
sysdir=$libdir/orvoscan
settings=$tree/etc/orvoscan/OrvoScan.ini

echo "== the package: $(dpkg-deb -f "$deb" Package Version Architecture | tr '\n' ' ')"
depends=$(dpkg-deb -f "$deb" Depends)
echo "   Depends: $depends"
for lib in libc6 libtiff6 libqt6widgets6 libstdc++6; do
  [[ $depends == *"$lib"* ]] || fail "Depends lacks $lib (dpkg-shlibdeps)"
done
recommends=$(dpkg-deb -f "$deb" Recommends)
[[ $recommends == *libsane1* && $recommends == *sane-utils* ]] ||
  fail "Recommends lacks SANE's dll backend and scanimage: $recommends"
dev_depends=$(dpkg-deb -f "$dev" Depends)
echo "   $(dpkg-deb -f "$dev" Package) Depends: $dev_depends"
[[ $dev_depends == *"orvoscan (= $(dpkg-deb -f "$deb" Version))"* && $dev_depends == *pkg-config* ]] ||
  fail "orvoscan-dev does not depend on this orvoscan and pkg-config"
# What a C client builds with is in orvoscan-dev only.
dpkg-deb -c "$deb" >"$scratch/runtime-files.txt"
dpkg-deb -c "$dev" >"$scratch/dev-files.txt"
for f in usr/include/orvoscan.h "usr/lib/$(gcc -print-multiarch)/pkgconfig/orvoscan.pc" \
  "usr/lib/$(gcc -print-multiarch)/libK4TR.so" usr/share/man/man3/orvoscan.3.gz \
  usr/share/man/man3/OrvoScan_Init.3.gz; do
  grep -qE " \./$f( |$)" "$scratch/dev-files.txt" || fail "orvoscan-dev lacks /$f"
  ! grep -qE " \./$f( |$)" "$scratch/runtime-files.txt" || fail "orvoscan holds /$f"
done
# Windows programs under Wine: K4TR.dll in both calling conventions.
for f in windows/K4TR.dll windows/cdecl/K4TR.dll; do
  [[ -f $sysdir/$f ]] || fail "orvoscan lacks $sysdir/$f"
done
grep -qx "Exec=/usr/bin/orvo_viewer -Automation" "$tree/usr/share/dbus-1/services/com.orvodata.OrvoViewer.service" ||
  fail "no D-Bus activation file for the installed orvo_viewer"
for f in /etc/orvoscan/OrvoScan.ini /etc/sane.d/orvoscan.conf /etc/sane.d/dll.d/orvoscan; do
  grep -qx "$f" "$scratch/control/conffiles" || fail "$f is not a configuration file of the package"
done
[[ $(readlink "$sysdir/OrvoScan.ini") == /etc/orvoscan/OrvoScan.ini ]] ||
  fail "$sysdir/OrvoScan.ini does not link /etc/orvoscan/OrvoScan.ini"
# In the scratch root, /etc is the root's own.
ln -sfn "$settings" "$sysdir/OrvoScan.ini"

# Every program and library finds what it links (the dialogs' libraries are
# loaded only while a dialog is open, so this is where a missing one shows).
while IFS= read -r elf; do
  missing=$(LD_LIBRARY_PATH=$libdir ldd "$elf" | grep "not found" || true)
  [[ -z $missing ]] || fail "$elf: $missing"
done < <(find "$tree" -type f \( -name '*.so*' -o -path '*/bin/*' \))

# The ASPI layer loads the virtual scanner only when it is chosen: a
# workstation with a real scanner loads none of it.
aspi_links=$(LD_LIBRARY_PATH=$libdir ldd "$sysdir/libwnaspi32.so")
for lib in liborvosim libtiff libjson; do
  [[ $aspi_links != *"$lib"* ]] || fail "libwnaspi32.so links $lib"
done

# The stack of the virtual scanner and a C client.
. "$(dirname "$0")/operator-files.sh"
operator_files "$work"
pc_env=(PKG_CONFIG_SYSROOT_DIR="$tree" PKG_CONFIG_LIBDIR="$libdir/pkgconfig")
pc_flags=$(env "${pc_env[@]}" pkg-config --cflags --libs orvoscan)
echo "   pkg-config --cflags --libs orvoscan: $pc_flags"

user_env=(PATH="$tree/usr/bin:/usr/bin:/bin" HOME="$work" TMPDIR="$work/tmp" LANG=C.UTF-8
  LD_LIBRARY_PATH="$libdir" ORVOSCAN_ASPI=sim ORVOSCAN_SIM_SCENARIO="$work/stack.json")
if ((EUID == 0)); then
  scanner_gid=$(getent group scanner | cut -d: -f3) || fail "no group scanner (sane-utils makes it)"
  DPKG_ROOT=$tree sh "$scratch/control/postinst" configure
  [[ $(stat -c %G:%a "$settings") == scanner:664 ]] ||
    fail "postinst left $settings as $(stat -c %G:%a "$settings"), not scanner:664"
  chown -R nobody:nogroup "$work"
  as_operator() {
    setpriv --reuid=nobody --regid=nogroup --groups="$scanner_gid" --inh-caps=-all \
      env -i "${user_env[@]}" "$@"
  }
  echo "== as nobody in the group scanner"
else
  chmod 664 "$settings"
  as_operator() { env -i "${user_env[@]}" "$@"; }
  echo "== as $(id -un)"
fi
mode_before=$(stat -c %U:%G:%a "$settings")

echo "-- orvoscan info"
as_operator orvoscan info >"$work/info.txt" || fail "orvoscan info failed: $(cat "$work/info.txt")"
grep -q "$sysdir/" "$work/info.txt" || fail "the driver did not take $sysdir/ as its system directory: $(cat "$work/info.txt")"
grep -q "^Driver start: *0 started" "$work/info.txt" || fail "the installed driver did not start: $(cat "$work/info.txt")"
grep -q "OrvoData QXS-7100 (QV710)" "$work/info.txt" || fail "no scanner found: $(cat "$work/info.txt")"

echo "-- orvoscan scan (three two-sided cheques)"
as_operator orvoscan scan --profile Check --output "$work/out/A.tif" --start 1 >"$work/scan.txt" ||
  fail "the scan failed: $(cat "$work/scan.txt")"
pages=$(find "$work/out" -name 'A00000[1-3][FR].tif' | wc -l)
records=$(wc -l <"$work/out/micr.txt")
((pages == 6 && records == 3)) || fail "the scan wrote $pages pages and $records MICR records, not 6 and 3"
grep -q "^0000003" "$work/out/micr.txt" || fail "micr.txt lacks the third cheque: $(cat "$work/out/micr.txt")"

echo "-- settings changed by the operator: orvoscan --format bmp, a C client's OrvoScan_ImageFormat"
as_operator orvoscan scan --profile Check --output "$work/out/B.bmp" --format bmp >/dev/null ||
  fail "the bitmap scan failed"
grep -q '^ImageFileFormat=1' "$settings" || fail "orvoscan --format bmp was not stored in $settings"
as_operator cc -Wall -Werror "$work/client.c" -o "$work/client" $pc_flags ||
  fail "a C client does not build with pkg-config"
as_operator "$work/client" || fail "the C client could not start the installed driver"
grep -q '^ImageFileFormat=2' "$settings" || fail "OrvoScan_ImageFormat(2) was not stored in $settings"
[[ -L $sysdir/OrvoScan.ini ]] || fail "a settings write replaced the link $sysdir/OrvoScan.ini"

echo "-- the client of orvoscan(3) EXAMPLES, built and run"
zcat "$tree/usr/share/man/man3/orvoscan.3.gz" | sed -n '/^\.SH EXAMPLES/,/^\.SH "SEE/p' |
  awk '/^\.EX/ {on = 1; next} /^\.EE/ {exit} on' | sed 's/\\e/\\/g; s/\\-/-/g' >"$work/example.c"
as_operator mkdir -p "$work/example"
as_operator cc -Wall -Werror "$work/example.c" -o "$work/example/client" $pc_flags ||
  fail "the example of orvoscan(3) does not build"
as_operator sh -c "cd '$work/example' && ./client" >"$work/example.txt" ||
  fail "the example of orvoscan(3) failed: $(cat "$work/example.txt")"
[[ -f $work/example/page0006.tif && ! -e $work/example/page0007.tif ]] ||
  fail "the example of orvoscan(3) did not write six pages: $(cat "$work/example.txt")"
[[ $(stat -c %U:%G:%a "$settings") == "$mode_before" ]] ||
  fail "a settings write changed $settings from $mode_before to $(stat -c %U:%G:%a "$settings")"

echo "-- orvo_viewer --help"
as_operator orvo_viewer --help >/dev/null || fail "orvo_viewer --help failed"
[[ ! -e $work/.local/share/dbus-1 ]] || fail "orvo_viewer wrote into the operator's home"

if command -v scanimage >/dev/null; then
  echo "-- scanimage -L through the installed SANE backend"
  as_operator env SANE_CONFIG_DIR="$tree/etc/sane.d" \
    LD_LIBRARY_PATH="$libdir/sane:$libdir" scanimage -L >"$work/sane.txt" 2>&1 || true
  grep -q "orvoscan:virtual" "$work/sane.txt" || fail "scanimage -L: $(cat "$work/sane.txt")"
fi

echo "== manual pages, desktop entry"
# The pages themselves; the functions' names are links to orvoscan(3).
for page in $(find "$tree"/usr/share/man -type f -name '*.gz' | sort); do
  warnings=$(MANWIDTH=80 man -l --warnings -E UTF-8 "$page" 2>&1 >/dev/null) || fail "man -l $page failed"
  [[ -z $warnings ]] || fail "man -l $page: $warnings"
  echo "   $(basename "$page")"
done
desktop-file-validate "$tree"/usr/share/applications/*.desktop

echo "== lintian"
lintian_ok=1
lintian --fail-on error -I --tag-display-limit 0 "$deb" "$dev" >"$scratch/lintian.txt" 2>&1 || lintian_ok=0
grep -v "^running with root privileges" "$scratch/lintian.txt" || true
((lintian_ok)) || fail "lintian reports errors"
# Built with Debian's hardening flags: no hardening tag, not even for information.
! grep -q ": hardening-" "$scratch/lintian.txt" || fail "lintian finds binaries without hardening"
echo "check-package: $(basename "$deb") and $(basename "$dev") install and run"
