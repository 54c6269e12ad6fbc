#!/usr/bin/env bash
# The Debian packages that `make package` and `make package-arm64` built: their files, their
# programs run from the packages unpacked in a folder of their own (the arm64 ones under
# qemu-user, with Debian's arm64 libraries), their manual pages, and lintian.
set -euo pipefail
export LC_ALL=C
cd "$(dirname "$0")/../.."
here=tests/package
version=$(sed -n 's/^project(Kelvo VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
cli_deb=build/kelvo-cli_${version}_$(dpkg --print-architecture).deb
window_deb=build/kelvo_${version}_$(dpkg --print-architecture).deb
arm64_deb=build/kelvo-cli_${version}_arm64.deb
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

# Each package holds the files of its list, PACKAGE.files, and no other.
for deb in "$cli_deb" "$window_deb" "$arm64_deb"; do
  echo "== $deb: $(stat -c %s "$deb") bytes"
  list=$here/$(dpkg-deb -f "$deb" Package).files
  dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print substr($6, 2) }' | sort > "$work/files"
  diff -u "$list" "$work/files" || fail "$deb's files differ from $list"
done
! dpkg-deb -f "$cli_deb" Depends | grep -qi qt || fail "kelvo-cli depends on Qt"
# The same code needs the same packages on each architecture.
depends() { dpkg-deb -f "$1" Depends | tr ',' '\n' | sed 's/^ *//; s/ (>= [^)]*)$//'; }
[ "$(depends "$arm64_deb")" = "$(depends "$cli_deb")" ] ||
  fail "arm64 kelvo-cli depends on $(dpkg-deb -f "$arm64_deb" Depends), not as on amd64"

# Installed together, as the window recommends kelvo-cli.
for deb in "$cli_deb" "$window_deb"; do dpkg-deb -x "$deb" "$work/root"; done
dpkg-deb -x "$arm64_deb" "$work/arm64"
bin=$work/root/usr/bin
for program in kelvo kelvo-cli zarq-sim; do
  [ "$("$bin/$program" --version)" = "$program $version" ] || fail "$program --version"
  help=$("$bin/$program" --help) && grep -q "^Usage: $program" <<<"$help" || fail "$program --help"
  # Each option that --help names has its place in the manual page.
  page=$(zcat "$work/root/usr/share/man/man1/$program.1.gz" | sed 's/\\-/-/g')
  for option in $(grep -o -- '--[a-z][a-z-]*' <<<"$help" | sort -u); do
    grep -q -- "$option" <<<"$page" || fail "$program.1 does not name $option"
  done
done
for program in kelvo-cli zarq-sim; do
  [ "$(qemu-aarch64-static "$work/arm64/usr/bin/$program" --version)" = "$program $version" ] ||
    fail "arm64 $program --version"
done

# Every hardening feature hardening-check knows of, control-flow protection among them. On arm64
# it knows neither stack clash probes (its disassembler, which says so on standard error, is
# the build machine's) nor signed return addresses (-mbranch-protection), checked apart.
hardening-check --quiet "$bin/kelvo" "$bin/kelvo-cli" "$bin/zarq-sim" || fail "hardening-check"
hardening-check --quiet --nocfprotection "$work"/arm64/usr/bin/* 2>/dev/null ||
  fail "hardening-check on arm64"
aarch64-linux-gnu-objdump -d "$work/arm64/usr/bin/kelvo-cli" | grep -c paciasp >/dev/null ||
  fail "arm64 kelvo-cli signs no return address"

# From an empty folder, so that no KELVO.DAT gives the upload settings of its own.
mkdir "$work/run"
{ head -c 300 /dev/urandom; head -c 256 /dev/zero | tr '\0' '\377'; head -c 200 /dev/urandom; } \
  > "$work/run/image.bin"
upload() {
  (cd "$work/run" && "$@" --simulate --instant image.bin) > "$work/upload.log" ||
    fail "$* --simulate --instant ended with status $?"
  grep -q "holds the image byte for byte" "$work/upload.log" ||
    fail "the upload of $*: $(cat "$work/upload.log")"
}
upload "$bin/kelvo-cli"
upload qemu-aarch64-static "$work/arm64/usr/bin/kelvo-cli"
# The window as built for the package, under a virtual X server: it shows, takes a key, and
# Enter (Quit, the default button while no transfer runs) saves the form and ends it with 0.
rm -f "$work/run/KELVO.DAT"
window=$(cd "$work/run" && timeout 60 xvfb-run --auto-servernum bash -c '
  "$1" </dev/null >/dev/null 2>&1 & pid=$!
  id=$(timeout 20 xdotool search --sync --name "Harvenor - Kelvo ") || { kill $pid; exit 3; }
  xdotool windowfocus --sync "$id" key Return
  wait $pid' window "$bin/kelvo" && echo ended) || true
[ "$window" = ended ] && [ -s "$work/run/KELVO.DAT" ] || fail "the window did not show, or Quit did not save"

# All of groff's warnings, not only the undefined macros that --warnings alone reports.
for page in "$work"/root/usr/share/man/man1/*.1.gz; do
  warnings=$(MANWIDTH=80 man --warnings=w -l "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "man -l $(basename "$page"): $warnings"
done

# Every tag of every level fails the test, but those that docs/development.md explains.
echo "== lintian"
lintian --fail-on none --display-info --pedantic "$cli_deb" "$window_deb" "$arm64_deb" \
  > "$work/lintian" 2> "$work/lintian.err" || fail "lintian could not check the packages"
grep -v "running with root privileges" "$work/lintian.err" >&2 || true
cat "$work/lintian"
unexpected=$(grep -v -F -f <(sed 's/^/: /; s/$/ /' "$here/lintian-allowed.txt") "$work/lintian" || true)
[ -z "$unexpected" ] || fail "lintian tags that docs/development.md does not explain"

[ "$failures" = 0 ] && echo "Package checks passed" || { echo "$failures check(s) failed"; exit 1; }
