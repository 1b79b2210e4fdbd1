#!/usr/bin/env bash
# Installs the built packages on a pristine Debian system and uses them as an
# operator would. A fresh root of the suite (default: this machine's release,
# e.g. bookworm for Debian 12, trixie for Debian 13) is made with mmdebstrap
# (variant apt), from this machine's configured apt sources for its own
# release, from deb.debian.org for another; inside it (chroot):
#   apt install ./orvoscan_*.deb ./orvoscan-dev_*.deb (with their recommends)
#   as the operator "operator1" in the group scanner, on the virtual scanner:
#     orvoscan info, a scan, scanimage -L and a batch, a C client built with
#     pkg-config, orvo_viewer started off screen (nothing written in the home),
#     man page links (OrvoScan_Init)
#   apt purge orvoscan orvoscan-dev: none of the packages' files left, no
#     settings in /etc, nothing of ours in the operator's home.
# Needs root, mmdebstrap (installed when missing) and Debian's mirrors through
# the configured apt sources; takes some minutes and is not part of CI.
#   scripts/check-pristine-install.sh [--suite SUITE] [orvoscan_*.deb orvoscan-dev_*.deb]
# Default: the packages in build/package/ (scripts/package.sh). Packages are
# built for the release they were built on (1.0.0~deb12u1, 1.0.0~deb13u1):
# check each on its own suite.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/operator-files.sh
fail() {
  echo "check-pristine-install: $*" >&2
  exit 1
}
this_suite=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
suite=$this_suite
if [[ ${1:-} == --suite ]]; then
  (($# >= 2)) || fail "--suite needs a name (bookworm, trixie)"
  suite=$2
  shift 2
fi
[[ $suite =~ ^[a-z]+$ ]] || fail "no suite given and none known for this machine (--suite trixie)"
((EUID == 0)) || fail "run as root (mmdebstrap and chroot)"
if (($#)); then
  debs=("$@")
else
  debs=(build/package/orvoscan_*.deb build/package/orvoscan-dev_*.deb)
fi
for deb in "${debs[@]}"; do
  [[ -f $deb ]] || fail "no package $deb (scripts/package.sh builds them)"
done
if ! command -v mmdebstrap >/dev/null; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends mmdebstrap >/dev/null
fi

scratch=$(mktemp -d /tmp/orvoscan-pristine.XXXXXX)
root=$scratch/root
mounted=()
cleanup() {
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do umount -l "${mounted[i]}" 2>/dev/null || true; done
  rm -rf --one-file-system "$scratch"
}
trap cleanup EXIT
step() { echo "== $*"; }

# This machine's apt sources, as files mmdebstrap reads, for its own release;
# Debian's mirror for another.
sources=()
if [[ $suite == "$this_suite" ]]; then
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
    [[ -s $f ]] && grep -qv '^\s*\(#\|$\)' "$f" && sources+=("$f")
  done
  ((${#sources[@]})) || fail "no apt sources configured"
else
  sources=(http://deb.debian.org/debian)
fi

step "a fresh $suite root (mmdebstrap --variant=apt, sources: ${sources[*]})"
start=$SECONDS
mmdebstrap --quiet --variant=apt --include=debian-archive-keyring "$suite" "$root" "${sources[@]}"
echo "   made in $((SECONDS - start)) s: $(chroot "$root" dpkg-query -W | wc -l) packages"
for m in dev proc; do
  mount --bind "/$m" "$root/$m"
  mounted+=("$root/$m")
done
in_root() { chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 "$@"; }
mkdir -p "$root/tmp/debs"
cp "${debs[@]}" "$root/tmp/debs/"
in_root_debs=()
for deb in "${debs[@]}"; do in_root_debs+=("/tmp/debs/$(basename "$deb")"); done
in_root dpkg-query -W -f '${Package}\n' | sort >"$scratch/before.txt"
in_root find /etc /usr /var/lib -xdev | sort >"$scratch/files-before.txt"

step "apt install ${in_root_debs[*]}"
start=$SECONDS
in_root apt-get update -qq
in_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${in_root_debs[@]}" >"$scratch/apt.log" 2>&1 ||
  { cat "$scratch/apt.log"; fail "apt install failed"; }
echo "   installed in $((SECONDS - start)) s: $(comm -13 "$scratch/before.txt" <(in_root dpkg-query -W -f '${Package}\n' | sort) | wc -l) packages added"
for p in orvoscan orvoscan-dev libsane1 sane-utils; do
  in_root dpkg-query -W -f '   ${Package} ${Version} ${db:Status-Abbrev}\n' "$p" || fail "$p is not installed"
done

echo "   saned (sane-utils): $(in_root id saned)"
step "an operator in the group scanner"
in_root useradd --create-home --groups scanner operator1
home=/home/operator1
operator_files "$root$home"
in_root chown -R operator1:operator1 "$home"
as_operator() {
  chroot --userspec=operator1:operator1 --groups=scanner "$root" env -i \
    PATH=/usr/bin:/bin HOME=$home LANG=C.UTF-8 ORVOSCAN_ASPI=sim \
    ORVOSCAN_SIM_SCENARIO=$home/stack.json sh -c "cd $home && $1"
}
show() {
  echo "\$ $1"
  as_operator "$1" 2>&1 | sed 's/^/   /'
  return "${PIPESTATUS[0]}"
}
show "id" || fail "no operator"
show "orvoscan info" || fail "orvoscan info failed"
show "mkdir out && orvoscan scan --profile Check --output out/A.tif --start 1" || fail "the scan failed"
show "ls out && cat out/micr.txt" || fail "no pages"
show "scanimage -L" | tee "$scratch/sane.txt"
grep -q "orvoscan:virtual" "$scratch/sane.txt" || fail "scanimage -L does not list the scanner"
show "scanimage -d orvoscan --batch=cheque%d.pnm --source 'ADF Duplex' --mode Lineart -y 330 && head -qn 3 cheque*.pnm | grep -a '^[0-9]'" ||
  fail "the SANE batch failed"
[[ $(ls "$root$home"/cheque*.pnm | wc -l) == 6 ]] || fail "the SANE batch did not give 6 pages"
show 'cc client.c -o client $(pkg-config --cflags --libs orvoscan) && ./client' || fail "the C client failed"
show "QT_QPA_PLATFORM=offscreen timeout 5 orvo_viewer; echo orvo_viewer ran until stopped: \$?"
[[ ! -e $root$home/.local/share/dbus-1 ]] || fail "orvo_viewer wrote into the operator's home"
for page in OrvoScan_Init OrvoScan_GetOneImage; do
  [[ -e $root/usr/share/man/man3/$page.3.gz ]] || fail "no manual page for $page"
done
echo "   /usr/share/man/man3/OrvoScan_Init.3.gz -> $(readlink "$root/usr/share/man/man3/OrvoScan_Init.3.gz")"
echo "   $(grep -h Exec "$root"/usr/share/dbus-1/services/com.orvodata.OrvoViewer.service)"

step "apt purge orvoscan orvoscan-dev"
in_root dpkg -L orvoscan orvoscan-dev | sort -u >"$scratch/ours.txt"
in_root env DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq orvoscan orvoscan-dev >"$scratch/purge.log" 2>&1 ||
  { cat "$scratch/purge.log"; fail "apt purge failed"; }
left=()
while IFS= read -r f; do
  [[ -e $root$f || -L $root$f ]] || continue
  # Directories other packages share (or own) stay.
  if [[ -d $root$f && ! -L $root$f ]]; then
    [[ -n $(ls -A "$root$f") ]] && continue
    in_root dpkg-query -S "$f" >/dev/null 2>&1 && continue
  fi
  left+=("$f")
done <"$scratch/ours.txt"
((${#left[@]} == 0)) || fail "left after purge: ${left[*]}"
[[ ! -e $root/etc/orvoscan ]] || fail "/etc/orvoscan left after purge"
# Paths below the home only: the scratch root's own path holds "orvo".
leftovers=$(cd "$root$home" && find . -path "*orvo*" -o -path "*dbus-1*")
[[ -z $leftovers ]] || fail "left in the operator's home: $leftovers"
echo "   no file of the packages left ($(wc -l <"$scratch/ours.txt") paths checked), /etc/orvoscan gone, nothing of ours in $home"
echo "check-pristine-install: $(cd "$root/tmp/debs" && echo *.deb) install, run and purge cleanly on $suite"
