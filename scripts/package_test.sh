#!/usr/bin/env bash
# Checks what the packages in dist/ (made by scripts/package.sh) hold, as a
# user gets them: each is unpacked into a temporary directory, its files are
# listed against what it must carry, and its programs flash an image into the
# simulator on 127.0.0.1 (the Debian package's pair natively, the Windows
# zip's tcpflash.exe under Wine against the Debian package's simulator).
# The Debian package must pass lintian without an error or a warning, and its
# manual pages and bash completion must match its programs' --help
# (tests/docs/test_docs.py).
#
#   scripts/package_test.sh [DIST]    DIST defaults to dist/
#
# Wine runs as the Windows build's tests run it: build/windows/wine-env.sh
# (written by cmake/wine.cmake) gives its environment and the emulator, and
# that build's wine_prefix test makes the prefix and starts the session.
# Exits non-zero when any check fails.
set -uo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.." || exit 1
DIST=${1:-dist}
WINDOWS_BUILD=build/windows

VERSION=$(sed -n 's/^project(tcpflash VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
# The programs every package carries; the documents beside them: on Linux
# the license in Debian's copyright file and the changelog also as Debian's
# changelog.gz, on Windows the manual pages as text.
PROGRAMS=(tcpflash tcpflash-sim tcpflash-many)
DOCS_LINUX=(README.md CHANGELOG.md copyright changelog.gz)
DOCS_WINDOWS=(README.md LICENSE CHANGELOG.md "${PROGRAMS[@]/%/.txt}")
# One update from application mode: switch, reconnect, transfer, image checked.
E2E_CASE=test_complete_run_from_application_mode

failures=0
check() {  # check DESCRIPTION COMMAND...: runs the command, reports the outcome
  local what=$1; shift
  if "$@"; then echo "ok    $what"; else echo "FAIL  $what"; failures=$((failures + 1)); fi
}
one_file() {  # one_file PATTERN: the single file in DIST matching it
  local -a found; mapfile -t found < <(find "$DIST" -maxdepth 1 -name "$1" | sort)
  if [ ${#found[@]} -ne 1 ]; then
    echo "expected one $1 in $DIST, found ${#found[@]}" >&2; return 1
  fi
  echo "${found[0]}"
}
same_list() {  # same_list EXPECTED ACTUAL: both newline-separated, order ignored
  diff <(sort <<<"$1") <(sort <<<"$2")
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# ---------------------------------------------------------------- Debian
deb=$(one_file "tcpflash_${VERSION}_*.deb") || exit 1
echo "== $deb"
check "control: package tcpflash, version $VERSION" \
  test "$(dpkg-deb -f "$deb" Package Version | tr '\n' ' ')" = \
  "Package: tcpflash Version: $VERSION "
# The files below /usr (or the .tar.gz's top folder) that every Linux
# package holds.
linux_files() {
  printf "$1/bin/%s\n" "${PROGRAMS[@]}"
  printf "$1/share/man/man1/%s.1.gz\n" "${PROGRAMS[@]}"
  printf "$1/share/bash-completion/completions/%s\n" "${PROGRAMS[@]}"
  printf "$1/share/doc/tcpflash/%s\n" "${DOCS_LINUX[@]}"
}
check "files: the programs, their manual pages and bash completion, the documents" \
  same_list "$(linux_files ./usr)" "$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $NF}')"
names_every_program() {  # names_every_program TEXT: each program named as a word of its own
  local p
  for p in "${PROGRAMS[@]}"; do
    grep -qE "(^|[^-[:alnum:]])$p([^-[:alnum:]]|\$)" <<<"$1" || { echo "      no $p"; return 1; }
  done
}
check "the description names ${PROGRAMS[*]}" \
  names_every_program "$(dpkg-deb -f "$deb" Description)"
# Errors and warnings fail; info tags are not shown (lintian -I lists them).
check "lintian: no error, no warning" \
  lintian --fail-on error,warning "$deb"
dpkg-deb -x "$deb" "$work/deb"
bin=$work/deb/usr/bin
check "manual pages lint-clean, describing every option of --help; bash completion" \
  python3 tests/docs/test_docs.py --strict --tool "$bin/tcpflash" --many "$bin/tcpflash-many" \
  --sim "$bin/tcpflash-sim" --man "$work/deb/usr/share/man/man1" \
  --completion "$work/deb/usr/share/bash-completion/completions"
check "changelog.gz reads as a Debian changelog of version $VERSION" \
  test "$(dpkg-parsechangelog -l "$work/deb/usr/share/doc/tcpflash/changelog.gz" -S Version)" \
  = "$VERSION"
check "tcpflash --version says $VERSION" \
  grep -q "^tcpflash $VERSION" <("$bin/tcpflash" --version)
check "unpacked tcpflash flashes the unpacked tcpflash-sim" \
  python3 tests/e2e/test_update_run.py --tool "$bin/tcpflash" --sim "$bin/tcpflash-sim" \
  -k "$E2E_CASE"

# ---------------------------------------------------------------- .tar.gz
tgz=$(one_file "tcpflash-${VERSION}-linux-*.tar.gz") || exit 1
echo "== $tgz"
top=$(basename "$tgz" .tar.gz)
check "files: the same under $top/" \
  same_list "$(linux_files "$top")" "$(tar -tzf "$tgz" | grep -v '/$')"
mkdir "$work/tgz" && tar -xzf "$tgz" -C "$work/tgz"
same_as_deb() {  # every file of the .tar.gz is byte for byte the Debian package's
  local f differ=0
  while read -r f; do
    cmp "$work/tgz/$f" "$work/deb/usr/${f#"$top"/}" || differ=1
  done < <(linux_files "$top")
  return $differ
}
check "every file is the Debian package's, byte for byte" same_as_deb

# ---------------------------------------------------------------- Windows
zip=$(one_file "tcpflash-${VERSION}-windows-*.zip") || exit 1
echo "== $zip"
top=$(basename "$zip" .zip)
expected=$(printf "$top/%s.exe\n" "${PROGRAMS[@]}"; printf "$top/%s\n" "${DOCS_WINDOWS[@]}")
listed=$(python3 -c 'import sys, zipfile; print("\n".join(zipfile.ZipFile(sys.argv[1]).namelist()))' "$zip")
check "files: the executables, the documents and the manual pages as text under $top/" \
  same_list "$expected" "$listed"
python3 -m zipfile -e "$zip" "$work/zip"
# A page as text: its title line first, Windows line ends, no overstrikes.
text_page() {
  local page=$work/zip/$top/$1.txt
  head -n 1 "$page" | grep -q "^${1^^}(1) .*"$'\r''$' && ! grep -q $'\b' "$page" &&
    grep -q $'^OPTIONS\r$' "$page"
}
for p in "${PROGRAMS[@]}"; do
  check "$p.txt is $p(1) as plain text" text_page "$p"
done
exe=$work/zip/$top/tcpflash.exe
# Static: the executables need Windows' own DLLs only, nothing of the MinGW
# runtime (libstdc++-6.dll, libgcc_s_seh-1.dll, libwinpthread-1.dll).
windows_dlls_only() {
  local dlls
  dlls=$(x86_64-w64-mingw32-objdump -p "$1" | sed -n 's/^.*DLL Name: *//p') || return 1
  echo "      imports: ${dlls//$'\n'/ }"
  grep -qi '^kernel32.dll$' <<<"$dlls" && ! grep -qi '^lib' <<<"$dlls"
}
for p in "${PROGRAMS[@]}"; do
  check "$p.exe needs no MinGW runtime DLL" windows_dlls_only "$work/zip/$top/$p.exe"
done
wine_session() {  # wine_session start|end: the Windows build's fixture tests
  local name=wine_prefix; [ "$1" = end ] && name=wine_session_end
  ctest --test-dir "$WINDOWS_BUILD" -R "^$name\$" --output-on-failure >"$work/$name.log" 2>&1 ||
    { cat "$work/$name.log"; return 1; }
}
if [ ! -f "$WINDOWS_BUILD/wine-env.sh" ]; then
  echo "FAIL  no $WINDOWS_BUILD/wine-env.sh (a Windows build that found Wine):" \
    "the Windows executable cannot be run"
  failures=$((failures + 1))
else
  # shellcheck source=/dev/null
  . "$WINDOWS_BUILD/wine-env.sh"
  check "Wine session in $WINEPREFIX" wine_session start
  check "tcpflash.exe --version says $VERSION (Wine)" \
    grep -q "^tcpflash $VERSION" <("$TCPFLASH_WINE" "$exe" --version </dev/null 2>/dev/null)
  check "unzipped tcpflash.exe flashes tcpflash-sim (Wine)" \
    python3 tests/e2e/test_update_run.py --tool "$exe" --emulator "$TCPFLASH_WINE" \
    --sim "$bin/tcpflash-sim" -k "$E2E_CASE"
  wine_session end || true
fi

echo
if [ $failures -gt 0 ]; then echo "packages: $failures check(s) FAILED"; exit 1; fi
echo "packages: all checks passed"
