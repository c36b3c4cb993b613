#!/usr/bin/env bash
# Runs every test of tcpflash on a Debian machine, starting from a clean clone:
# installs what is missing (when run as root), then configures, builds and
# tests the native, Windows (MinGW-w64 cross build, run under Wine) and
# sanitizer builds, then builds the release packages and tests what they
# hold. Exits non-zero when anything fails, or, with CI=true, when a suite had
# to be skipped.
#
#   scripts/test.sh            all suites
#   scripts/test.sh native     only the named suites (native, windows, sanitize, tidy, fuzz,
#                              package)
set -uo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.." || exit 1

JOBS=${TCPFLASH_JOBS:-2}

section() { printf '\n========== %s ==========\n' "$*"; }
note() { printf -- '--- %s\n' "$*"; }

declare -a PASSED=() FAILED=() SKIPPED=()
START=$SECONDS

# ---------------------------------------------------------------- set-up
# shellcheck source=scripts/packages.sh
. scripts/packages.sh
# Debian packages per suite, from the lists in scripts/packages.sh.
SUITE_PKGS_WINDOWS=("${PKGS_WINDOWS[@]}" "${PKGS_WINE[@]}")
SUITE_PKGS_PACKAGE=("${PKGS_NATIVE[@]}" "${SUITE_PKGS_WINDOWS[@]}" "${PKGS_PACKAGE[@]}")

section "Set-up"
# Everything, the benchmarks' and the format check's packages too (the native
# build compiles the benchmarks; .ci/run runs them and the format check).
ensure_packages "${PKGS_NATIVE[@]}" "${SUITE_PKGS_WINDOWS[@]}" "${PKGS_SANITIZE[@]}" \
  "${PKGS_PACKAGE[@]}" "${PKGS_TIDY[@]}" "${PKGS_FUZZ[@]}" "${PKGS_BENCH[@]}" \
  "${PKGS_FORMAT[@]}" || exit 1

# A suite can run when its packages are present (or, off Debian, its tools are).
can_run() {
  local suite=$1; shift
  if command -v dpkg-query >/dev/null; then
    local -a miss; mapfile -t miss < <(missing_of "$@")
    if [ ${#miss[@]} -gt 0 ]; then
      note "SKIP $suite: missing ${miss[*]}"
      SKIPPED+=("$suite (missing ${miss[*]})")
      return 1
    fi
  fi
  return 0
}

# ---------------------------------------------------------------- suites
# configure, build and test one preset.
run_preset() {
  local preset=$1
  section "$preset: configure"
  cmake --preset "$preset" || { FAILED+=("$preset (configure)"); return 1; }
  section "$preset: build"
  cmake --build --preset "$preset" -j "$JOBS" || { FAILED+=("$preset (build)"); return 1; }
  section "$preset: test"
  ctest --preset "$preset" || { FAILED+=("$preset (tests)"); return 1; }
  PASSED+=("$preset")
}

suite_native() {
  can_run native "${PKGS_NATIVE[@]}" && run_preset native
}

# The Wine prefix and session are ctest's fixture (cmake/wine.cmake).
suite_windows() {
  can_run windows "${SUITE_PKGS_WINDOWS[@]}" && run_preset windows
}

suite_sanitize() {
  can_run sanitize "${PKGS_SANITIZE[@]}" && run_preset sanitize
}

# clang-tidy over the project's own sources, with the native build's
# compilation database.
suite_tidy() {
  can_run tidy "${PKGS_TIDY[@]}" || return 0
  if [ ! -f build/native/compile_commands.json ]; then
    note "SKIP tidy: no build/native/compile_commands.json (native suite not built)"
    SKIPPED+=("tidy (no native build)"); return 0
  fi
  section "clang-tidy"
  # The Windows layers (*/win32/) are not in the native compilation database.
  local -a files; mapfile -t files < <(git ls-files '*.cc' | grep -v -e '/win32/' -e '_win32\.cc$')
  if printf '%s\n' "${files[@]}" | xargs -P "$JOBS" -n 4 clang-tidy -p build/native --quiet \
       --warnings-as-errors='*' 2> >(grep -v 'warnings generated' >&2); then
    PASSED+=(tidy)
  else
    FAILED+=(tidy)
  fi
}

# A short libFuzzer run of every harness (clang, address and undefined-
# behaviour sanitizers); the seed corpora are replayed by ctest in every build.
suite_fuzz() {
  can_run fuzz "${PKGS_FUZZ[@]}" || return 0
  section "fuzz (${TCPFLASH_FUZZ_SECONDS:-30} s per harness)"
  if fuzz/run.sh "${TCPFLASH_FUZZ_SECONDS:-30}"; then PASSED+=(fuzz); else FAILED+=(fuzz); fi
}

# The Debian package, the .tar.gz and the Windows .zip, built into dist/ from
# the native and Windows builds (reused when the suites above built them),
# unpacked and run: the Windows executable under Wine, as the Windows build's
# tests run it.
suite_package() {
  can_run package "${SUITE_PKGS_PACKAGE[@]}" || return 0
  section "package: build (dist/)"
  scripts/package.sh || { FAILED+=("package (build)"); return 1; }
  section "package: test"
  if scripts/package_test.sh; then
    PASSED+=(package)
  else
    FAILED+=("package (tests)")
  fi
}

SUITES=("$@")
[ ${#SUITES[@]} -eq 0 ] && SUITES=(native windows sanitize tidy fuzz package)
for s in "${SUITES[@]}"; do
  case $s in
    native|windows|sanitize|tidy|fuzz|package) "suite_$s" || true ;;
    *) echo "unknown suite: $s (native, windows, sanitize, tidy, fuzz, package)" >&2; exit 2 ;;
  esac
done

# ---------------------------------------------------------------- summary
section "Summary ($((SECONDS - START)) s)"
for s in "${PASSED[@]}"; do echo "PASSED  $s"; done
for s in "${SKIPPED[@]}"; do echo "SKIPPED $s"; done
for s in "${FAILED[@]}"; do echo "FAILED  $s"; done
if [ ${#FAILED[@]} -gt 0 ]; then exit 1; fi
if [ ${#SKIPPED[@]} -gt 0 ] && [ "${CI:-}" = true ]; then
  echo "CI=true: skipped suites count as failures"; exit 1
fi
if [ ${#PASSED[@]} -eq 0 ]; then echo "nothing was tested"; exit 1; fi
exit 0
