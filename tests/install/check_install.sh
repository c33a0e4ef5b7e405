#!/usr/bin/env bash
# check_install.sh <build-dir> <cmake> <cpack>
# 1. `cmake --install` into a temporary prefix: every file where the desktop looks for it,
#    the program, its library and its manual side by side, icons of the right sizes, an
#    AppStream file that appstreamcli accepts and a man page that renders cleanly.
# 2. The installed program, started through the bin/ link, loads its library from its own
#    folder and keeps running.
# 3. `cpack -G DEB`: the package's contents list and its runtime dependencies.
set -euo pipefail
build=$1 cmake=$2 cpack=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# --- 1. install into a prefix ---
prefix=$work/prefix
"$cmake" --install "$build" --prefix "$prefix" >/dev/null
expected=(
  bin/tagora
  lib/tagora/tagora
  lib/tagora/libtagwrapper.so
  lib/tagora/tagora.html
  lib/tagora/tagora-help/tagora.svg
  share/applications/tagora.desktop
  share/icons/hicolor/scalable/apps/tagora.svg
  share/metainfo/tagora.metainfo.xml
  share/man/man1/tagora.1
  bin/tagora-cli
  lib/tagora/tagora-cli
  share/man/man1/tagora-cli.1
  share/bash-completion/completions/tagora-cli
)
for size in 16 22 24 32 48 64 128 256; do
  expected+=("share/icons/hicolor/${size}x${size}/apps/tagora.png")
done
for f in "${expected[@]}"; do
  [[ -e "$prefix/$f" ]] || fail "not installed: $f"
done
[[ -L "$prefix/bin/tagora" && "$(readlink "$prefix/bin/tagora")" == ../lib/tagora/tagora ]] ||
  fail "bin/tagora is not the relative link to ../lib/tagora/tagora"
[[ -x "$prefix/lib/tagora/tagora" ]] || fail "lib/tagora/tagora is not executable"

for size in 16 22 24 32 48 64 128 256; do
  png=$prefix/share/icons/hicolor/${size}x${size}/apps/tagora.png
  [[ -f "$png" ]] || continue
  file -b "$png" | grep -q "PNG image data, $size x $size," || fail "$png is not $size x $size"
done

desktop=$prefix/share/applications/tagora.desktop
for line in '[Desktop Entry]' 'Type=Application' 'Name=Tagora' 'Exec=tagora' 'Icon=tagora' \
            'Categories=AudioVideo;Audio;' 'Terminal=false'; do
  grep -qxF "$line" "$desktop" || fail "tagora.desktop lacks the line $line"
done
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$desktop" || fail "desktop-file-validate refused tagora.desktop"
fi

metainfo=$prefix/share/metainfo/tagora.metainfo.xml
if [[ -f "$metainfo" ]]; then
  appstreamcli validate --no-net --pedantic "$metainfo" || fail "appstreamcli refused tagora.metainfo.xml"
  grep -qF '<launchable type="desktop-id">tagora.desktop</launchable>' "$metainfo" ||
    fail "tagora.metainfo.xml does not launch tagora.desktop"
fi
manpage=$prefix/share/man/man1/tagora.1
if [[ -f "$manpage" ]] && command -v man >/dev/null; then
  # man's own check: no troff warnings, and the page renders with its name line.
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$manpage" 2>&1 >"$work/man.txt") || true
  [[ -z "$warnings" ]] || fail "tagora.1 renders with warnings: $warnings"
  grep -q 'tagora - edit the tags of audio files' "$work/man.txt" || fail "tagora.1 lacks its NAME line"
fi

# --- 2. the installed program starts and loads its library from its own folder ---
# Its own home and configuration folder, so nothing of the user's is read or written.
mkdir -p "$work/home"
status=0
HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_RUNTIME_DIR=$work/home \
  LD_DEBUG=files LD_DEBUG_OUTPUT=$work/ld QT_QPA_PLATFORM=offscreen \
  timeout 5 "$prefix/bin/tagora" >"$work/run.log" 2>&1 || status=$?
[[ $status -eq 124 ]] || { fail "installed tagora exited with $status instead of running"; cat "$work/run.log" >&2; }
# The main window loads the tag library while it is created.
if ! cat "$work"/ld.* 2>/dev/null | grep -q "file=$prefix/lib/tagora/libtagwrapper.so .*dynamically loaded"; then
  fail "installed tagora did not load $prefix/lib/tagora/libtagwrapper.so"
fi

# --- 2b. the installed tagora-cli, through its bin/ link, reads a file with its library ---
[[ "$(readlink "$prefix/bin/tagora-cli")" == ../lib/tagora/tagora-cli ]] ||
  fail "bin/tagora-cli is not the relative link to ../lib/tagora/tagora-cli"
sample=$(dirname "$0")/../fixtures/sample.flac
row=$(env -u TAGORA_TAGWRAPPER "$prefix/bin/tagora-cli" ls --format tsv "$sample" | tail -n 1) ||
  fail "installed tagora-cli ls failed"
[[ "$row" == *$'\t2\t0' ]] ||
  fail "installed tagora-cli did not read the sample's length and picture count: $row"
"$prefix/bin/tagora-cli" --version | grep -qx "tagora-cli [0-9.]*" ||
  fail "installed tagora-cli --version gives no version"
if command -v man >/dev/null; then
  man -l "$prefix/share/man/man1/tagora-cli.1" >/dev/null 2>&1 || fail "tagora-cli.1 does not format"
fi
bash -n "$prefix/share/bash-completion/completions/tagora-cli" || fail "the completion is not valid bash"

# --- 3. the Debian package ---
"$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work/package" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; fail "cpack -G DEB failed"; }
deb=$(ls "$work"/package/tagora_*.deb 2>/dev/null | head -n 1)
if [[ -z "$deb" ]]; then
  fail "no tagora_*.deb built"
else
  echo "package: $(basename "$deb")"
  contents=$(dpkg-deb -c "$deb")
  for f in "${expected[@]}"; do
    grep -q " \./usr/$f\( ->\|$\)" <<<"$contents" || fail "package lacks /usr/$f"
  done
  grep -q ' \./usr/bin/tagora-cli -> \.\./lib/tagora/tagora-cli$' <<<"$contents" ||
    fail "package's /usr/bin/tagora-cli is not the link to ../lib/tagora/tagora-cli"
  grep -q ' \./usr/bin/tagora -> \.\./lib/tagora/tagora$' <<<"$contents" ||
    fail "package's /usr/bin/tagora is not the link to ../lib/tagora/tagora"
  depends=$(dpkg-deb -f "$deb" Depends)
  echo "Depends: $depends"
  for p in libqt6core6 libqt6gui6 libqt6widgets6 libtag1v5; do
    grep -qE "(^|, )$p( |,|$)" <<<"$depends" || fail "package does not depend on $p"
  done
  [[ "$(dpkg-deb -f "$deb" Package)" == tagora ]] || fail "package name is not tagora"
  version=$(dpkg-deb -f "$deb" Version)
  grep -qF "<release version=\"$version\"" "$prefix/share/metainfo/tagora.metainfo.xml" ||
    fail "tagora.metainfo.xml lists no release $version"
fi

if [[ $failures -ne 0 ]]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "install and package checks passed"
