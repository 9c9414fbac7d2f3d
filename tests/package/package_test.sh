#!/usr/bin/env bash
# Builds the Debian package from the build folder, unpacks it into a temporary root and
# checks what a desktop gets from it: both programs run, the desktop entry validates, the
# MIME database built from the package's shared-mime-info file names the type of a snapshot
# and of a vok file (by extension and by content), and tfscan has its manual page and its
# bash completion, and tallyfox its manual page and a valid AppStream metainfo file.
#
#   package_test.sh BUILD_DIR TOOL_FUZZ_SEEDS
set -euo pipefail
build=$1
seedTool=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# The package.
cpack -G DEB -B "$work/cpack" --config "$build/CPackConfig.cmake" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; fail "cpack could not build the package"; }
deb=$(ls "$work"/cpack/tallyfox_*.deb)
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
# Debian's names for the libraries the programs link, not files or build paths.
for library in libc6 libstdc++6 zlib1g libssl3 libutf8proc2; do
  [[ $depends == *"$library"* ]] || fail "Depends lacks $library"
done
if [ -e "$build/app/tallyfox" ]; then
  for library in libqt6widgets6 libqt6svg6; do
    [[ $depends == *"$library"* ]] || fail "Depends lacks $library"
  done
fi

root=$work/root
dpkg -x "$deb" "$root"
usr=$root/usr
[ -x "$usr/bin/tfscan" ] || fail "no bin/tfscan"
"$usr/bin/tfscan" --help >/dev/null || fail "the installed tfscan does not run"

# A snapshot written by the installed tfscan, and a vok file of the same tree.
mkdir -p "$work/tree/docs" "$work/home"
printf 'hello\n' >"$work/tree/docs/readme.txt"
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config
mkdir -p "$work/files"
"$usr/bin/tfscan" -o "$work/files/tree.tfsnap" "$work/tree" >/dev/null
"$seedTool" "$work/seeds" "$work/files/tree.tfsnap" >/dev/null
cp "$work/seeds/vok_read/tree-v2z.vok" "$work/files/tree.vok"
"$usr/bin/tfscan" --dump "$work/files/tree.vok" >/dev/null || fail "tfscan cannot read the vok file"
# Contents under names that say nothing: only the magic can tell. A compressed vok file
# begins with a bare zlib header, so only a stored one has magic to find.
cp "$work/files/tree.tfsnap" "$work/files/unnamed-snapshot"
cp "$work/seeds/vok_read/tree-v2.vok" "$work/files/unnamed-vok"
# An ncdu export as tfscan writes it, under a name that says nothing either.
"$usr/bin/tfscan" --export-ncdu "$work/files/unnamed-export" "$work/files/tree.tfsnap" >/dev/null ||
  fail "tfscan cannot write an export"

if [ -e "$build/app/tallyfox" ]; then
  [ -x "$usr/bin/tallyfox" ] || fail "no bin/tallyfox"
  QT_QPA_PLATFORM=offscreen "$usr/bin/tallyfox" --dump "$work/files/tree.tfsnap" | grep -q '^entries: ' ||
    fail "the installed tallyfox does not run"
  # Scans as administrator: pkexec's polkit action names the tfscan this package installs.
  policy=$usr/share/polkit-1/actions/io.quillon.Tallyfox.policy
  [ -f "$policy" ] || fail "no polkit policy"
  grep -q '<annotate key="org.freedesktop.policykit.exec.path">/usr/bin/tfscan</annotate>' "$policy" ||
    fail "the polkit policy does not name /usr/bin/tfscan"
  if [ -r /usr/share/polkit-1/policyconfig-1.dtd ]; then
    out=$(xmllint --noout --dtdvalid /usr/share/polkit-1/policyconfig-1.dtd "$policy" 2>&1) ||
      fail "the polkit policy is not valid: $out"
  fi
  [ -x "$usr/libexec/tallyfox/tallyfox-askpass" ] || fail "no libexec/tallyfox/tallyfox-askpass"
  entry=$usr/share/applications/io.quillon.Tallyfox.desktop
  [ -f "$usr/share/icons/hicolor/scalable/apps/io.quillon.Tallyfox.svg" ] || fail "no hicolor icon"
  out=$(desktop-file-validate "$entry" 2>&1) || fail "desktop-file-validate: $out"
  [ -z "$out" ] || fail "desktop-file-validate: $out"
  grep -q '^Exec=tallyfox %F$' "$entry" || fail "Exec does not take files"
  grep -q '^Exec=tallyfox --new-scan$' "$entry" || fail "no New Scan action"

  # A desktop's MIME database from the package's file alone, in a data folder of its own.
  xdg=$work/xdg
  mkdir -p "$xdg/mime/packages"
  cp "$usr/share/mime/packages/io.quillon.Tallyfox.xml" "$xdg/mime/packages/"
  update-mime-database "$xdg/mime"
  query() { # file -> its type as xdg-mime says (through gio on a GNOME desktop)
    XDG_DATA_HOME=$xdg XDG_DATA_DIRS=/usr/share XDG_CURRENT_DESKTOP=GNOME GIO_USE_VFS=local \
      xdg-mime query filetype "$1"
  }
  for pair in tree.tfsnap:application/x-tallyfox-snapshot unnamed-snapshot:application/x-tallyfox-snapshot \
    tree.vok:application/x-vok-snapshot unnamed-vok:application/x-vok-snapshot \
    unnamed-export:application/x-ncdu-export; do
    got=$(query "$work/files/${pair%%:*}")
    [ "$got" = "${pair#*:}" ] || fail "${pair%%:*} is '$got', not ${pair#*:}"
  done
  # And the desktop entry is the one offered for every type, and for folders, which it scans.
  for type in application/x-tallyfox-snapshot application/x-vok-snapshot application/x-ncdu-export \
    inode/directory; do
    grep -q "$type" "$entry" || fail "the desktop entry does not offer $type"
  done

  # What software centres read: valid offline, naming the desktop entry and this version.
  metainfo=$usr/share/metainfo/io.quillon.Tallyfox.metainfo.xml
  [ -f "$metainfo" ] || fail "no metainfo file"
  out=$(appstreamcli validate --no-net "$metainfo" 2>&1) || fail "appstreamcli validate: $out"
  grep -q '<launchable type="desktop-id">io.quillon.Tallyfox.desktop</launchable>' "$metainfo" ||
    fail "the metainfo file does not launch the desktop entry"
  version=$(dpkg-deb -f "$deb" Version)
  grep -q "<release version=\"$version\"" "$metainfo" || fail "the metainfo file has no release $version"

  # The manual page renders and names every option of the help.
  page=$usr/share/man/man1/tallyfox.1.gz
  [ -f "$page" ] || fail "no manual page for tallyfox"
  manual=$(LC_ALL=C MANWIDTH=200 man -l "$page" 2>/dev/null)
  for option in $(QT_QPA_PLATFORM=offscreen "$usr/bin/tallyfox" --help | grep -oE '(^|[ ,])--?[a-z][a-z-]*' |
    tr -d ' ,' | sort -u); do
    [[ $manual == *"$option"* ]] || fail "the tallyfox manual page does not mention $option"
  done
fi

# The manual page renders and names every option of the help.
page=$usr/share/man/man1/tfscan.1.gz
[ -f "$page" ] || fail "no manual page"
manual=$(LC_ALL=C MANWIDTH=200 man -l "$page" 2>/dev/null)
for option in $("$usr/bin/tfscan" --help | grep -oE '(^|[ ,])--?[a-z][a-z-]*' | tr -d ' ,' | sort -u); do
  [[ $manual == *"$option"* ]] || fail "the manual page does not mention $option"
done

# The completion offers options and speeds.
completion=$usr/share/bash-completion/completions/tfscan
[ -f "$completion" ] || fail "no bash completion"
if [ -f /usr/share/bash-completion/bash_completion ]; then
  complete() { # words... -> what completing the last word offers
    bash -c '. /usr/share/bash-completion/bash_completion; . "$0"
      COMP_WORDS=("$@"); COMP_CWORD=$(( ${#COMP_WORDS[@]} - 1 ))
      COMP_LINE="${COMP_WORDS[*]}"; COMP_POINT=${#COMP_LINE}
      _tfscan tfscan "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"
      printf "%s\n" "${COMPREPLY[@]}"' "$completion" "$@"
  }
  [ "$(complete tfscan --sp)" = "--speed" ] || fail "completion of --sp: $(complete tfscan --sp)"
  [ "$(complete tfscan -s g | sort | tr '\n' ' ')" = "gentle " ] || fail "completion of -s g"
  [ "$(complete tfscan --speed '' | sort | tr '\n' ' ')" = "balanced fast gentle " ] || fail "completion of speeds"
  (cd "$work/files" && [ "$(complete tfscan --dump tree.t)" = "tree.tfsnap" ]) || fail "completion of --dump"
  [ "$(complete tfscan --sched)" = "--scheduled" ] || fail "completion of --sched"
  (cd "$work/files" && [ "$(complete tfscan --metrics out.prom tree.t)" = "tree.tfsnap" ]) ||
    fail "completion of the snapshot of --metrics"
fi
echo "package test passed: $(basename "$deb")"
