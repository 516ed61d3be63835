#!/usr/bin/env bash
# Checks what `cmake --install` and `cpack -G DEB` make of a finished build,
# without installing anything on this machine: the installed programs run
# from a temporary DESTDIR; the desktop entry, metainfo, manual pages and
# bash completion pass their validators and cover every subcommand and
# option; the Debian package passes lintian and its dependencies resolve.
# Usage: scripts/check-install.sh BUILD-DIR (configured with the wizard).
set -euo pipefail
build=$(cd "${1:?usage: scripts/check-install.sh BUILD-DIR}" && pwd)
cd "$(dirname "$0")/.."
source scripts/common.sh
calivant_install_packages "${CALIVANT_INSTALL_CHECK_PACKAGES[@]}"
source_dir=$(pwd)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "check-install: $*" >&2
  exit 1
}
# Runs a command quietly; shows what it said when it fails.
quiet() {
  "$@" >"$work/quiet.log" 2>&1 || { cat "$work/quiet.log"; fail "failed: $*"; }
}

version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
[ -n "$version" ] || fail "no package version in $build/CPackConfig.cmake"
prefix=/usr/local
root="$work/root$prefix"
cli="$root/bin/calivant-scanner-cli"

echo "--- cmake --install into a temporary DESTDIR"
quiet env DESTDIR="$work/root" cmake --install "$build" --prefix "$prefix"

echo "--- --version and --help, without a display"
no_display=(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM)
for program in calivant-scanner calivant-scanner-cli; do
  answer=$("${no_display[@]}" "$root/bin/$program" --version)
  [ "$answer" = "$program $version" ] || fail "$program --version says '$answer'"
  grep -q "Usage: $program" <<<"$("${no_display[@]}" "$root/bin/$program" --help)" || fail "$program --help"
done

echo "--- the installed command line on the bundled sample"
mkdir -p "$work/out"
(cd "$work/out" && quiet env XDG_CONFIG_HOME="$work/config" SOURCE_DATE_EPOCH=0 "$cli" build \
  --target colorchecker-sg --image "$source_dir/samples/colorchecker-sg.tif" \
  --description "Installed program" --output sample.icc --log sample.txt)
[ "$(dd if="$work/out/sample.icc" bs=1 skip=36 count=4 2>/dev/null)" = acsp ] || fail "sample.icc is no ICC profile"
head -n 1 "$work/out/sample.txt" | grep -q "Log" || fail "sample.txt is no log"
# The built-in reference came from the installed data folder: without it
# the same run names the file it missed there.
mv "$root/share/calivant-scanner/Reference Files" "$work/moved"
if XDG_CONFIG_HOME="$work/config" "$cli" measure --target colorchecker-sg \
  --image "$source_dir/samples/colorchecker-sg.tif" >/dev/null 2>"$work/missing.log"; then
  fail "measure ran without the installed reference files"
fi
grep -qF "$root/share/calivant-scanner/Reference Files/Macbeth/ColorChecker SG.ref" "$work/missing.log" ||
  fail "the command line looked elsewhere: $(cat "$work/missing.log")"
mv "$work/moved" "$root/share/calivant-scanner/Reference Files"

echo "--- desktop entry, icon and AppStream metainfo"
desktop=$(ls "$root"/share/applications/*.desktop)
quiet desktop-file-validate "$desktop"
exec_name=$(sed -n 's/^Exec=\([^ ]*\) %f$/\1/p' "$desktop")
[ -x "$root/bin/$exec_name" ] || fail "Exec= of $desktop is no installed program taking a file"
icon=$(sed -n 's/^Icon=//p' "$desktop")
for file in scalable/apps/$icon.svg 256x256/apps/$icon.png; do
  [ -s "$root/share/icons/hicolor/$file" ] || fail "icon $file missing"
done
quiet appstreamcli validate --no-net "$root"/share/metainfo/*.metainfo.xml

echo "--- manual pages"
# Every subcommand and option the programs know must be in their pages.
# The long options of the command line or of one subcommand, from its --help.
options_of() {
  "$cli" "$@" --help | awk '/^Options:/ { s = 1; next } /^$/ { s = 0 } s && /^  -/ { print $1 }' |
    tr ',' '\n' | grep -- '^--' | sort -u
}
subcommands=$("$cli" --help | awk '/^Subcommands:/ { s = 1; next } s && /^  [a-z]/ { print $1 } /^$/ { s = 0 }')
[ -n "$subcommands" ] || fail "no subcommands in calivant-scanner-cli --help"
for page in calivant-scanner calivant-scanner-cli; do
  file="$root/share/man/man1/$page.1.gz"
  [ -s "$file" ] || fail "$page.1.gz not installed"
  warnings=$(MANWIDTH=80 man --warnings -l "$file" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "$page(1) renders with warnings: $warnings"
done
zcat "$root/share/man/man1/calivant-scanner-cli.1.gz" | sed 's/\\-/-/g' >"$work/cli.man"
for word in $subcommands $(options_of) $(for s in $subcommands; do options_of "$s"; done); do
  grep -qE -- "$word([^a-z0-9-]|\$)" "$work/cli.man" || fail "calivant-scanner-cli(1) does not mention $word"
done

echo "--- bash completion"
# Prints what completing the words offers (the last word is the one typed).
cat >"$work/complete.sh" <<'SCRIPT'
source /usr/share/bash-completion/bash_completion
source "$COMPLETION"
complete -p calivant-scanner-cli >/dev/null
COMP_WORDS=("$@")
COMP_CWORD=$(($# - 1))
COMP_LINE="$*"
COMP_POINT=${#COMP_LINE}
_calivant_scanner_cli calivant-scanner-cli "${COMP_WORDS[-1]}" "${COMP_WORDS[-2]}"
printf '%s\n' "${COMPREPLY[@]}"
SCRIPT
offered() { COMPLETION="$root/share/bash-completion/completions/calivant-scanner-cli" bash --norc --noprofile "$work/complete.sh" calivant-scanner-cli "$@"; }
[ "$(offered bu 2>&1)" = build ] || fail "completing 'calivant-scanner-cli bu' gives '$(offered bu 2>&1)'"
for subcommand in $subcommands; do
  missing=$(comm -23 <(options_of "$subcommand" | grep -vx -- --help) <(offered "$subcommand" -- | sort -u))
  [ -z "$missing" ] || fail "completion of $subcommand lacks" $missing
done

echo "--- cpack -G DEB"
(cd "$build" && quiet cpack -G DEB -B "$work/deb")
deb="$work/deb/calivant-scanner_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || fail "no $deb"
depends=$(dpkg-deb -f "$deb" Depends)
for needed in libqt6widgets6 qt6-qpa-plugins libc6 zlib1g libpng16-16 libjpeg62-turbo; do
  grep -qE "(^|, )$needed( |,|$)" <<<"$depends" || fail "Depends lacks $needed: $depends"
done
dpkg-deb -c "$deb" | awk '{ print substr($0, index($0, "./")) }' >"$work/contents"
for file in bin/calivant-scanner bin/calivant-scanner-cli "share/applications/$(basename "$desktop")" \
  "share/icons/hicolor/scalable/apps/$icon.svg" "share/icons/hicolor/256x256/apps/$icon.png" \
  "share/metainfo/$(basename "$root"/share/metainfo/*.metainfo.xml)" \
  share/man/man1/calivant-scanner.1.gz share/man/man1/calivant-scanner-cli.1.gz \
  share/bash-completion/completions/calivant-scanner-cli \
  share/doc/calivant-scanner/copyright share/doc/calivant-scanner/changelog.gz \
  "share/calivant-scanner/Reference Files/Macbeth/ColorChecker SG.ref" \
  "share/calivant-scanner/Calivant - Scanner 1.0.pdf"; do
  grep -qxF "./usr/$file" "$work/contents" || fail "the package lacks /usr/$file"
done

echo "--- lintian"
lintian_status=0
lintian --fail-on error "$deb" >"$work/lintian.log" 2>&1 || lintian_status=$?
grep -v "running with root privileges" "$work/lintian.log" || true
[ "$lintian_status" -eq 0 ] || fail "lintian reports errors"

echo "--- apt-get install --simulate"
quiet apt-get install --simulate "$deb"

echo "Install and package checks passed: calivant-scanner $version"
