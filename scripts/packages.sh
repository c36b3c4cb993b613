# shellcheck shell=bash disable=SC2034  # the lists are read by the scripts that source this
# Sourced by the scripts: the Debian packages each purpose needs, and their
# installation when run as root.
#
#   ensure_packages PKG...   installs what is missing (as root), or says what
#                            is missing and how to install it (otherwise)

# The one list per purpose; the scripts name no package themselves.
# native build and its tests (scripts/test.sh native), the demo
PKGS_NATIVE=(cmake ninja-build g++ googletest libgtest-dev python3)
# Windows cross build (scripts/package.sh windows); mandoc renders the manual
# pages as text for the .zip
PKGS_WINDOWS=(cmake ninja-build g++-mingw-w64-x86-64-posix googletest python3 mandoc)
# running the Windows build: its tests, the .zip's tcpflash.exe
PKGS_WINE=(wine64)
# sanitizer build and its tests
PKGS_SANITIZE=(cmake ninja-build g++ googletest libgtest-dev python3)
# the Debian package and its dependencies, on top of the native build; its
# checks: lintian, and mandoc for the manual pages
PKGS_PACKAGE=(dpkg-dev file lintian mandoc)
# clang-tidy over the sources, with the native build's compilation database
PKGS_TIDY=(clang-tidy)
# libFuzzer runs of the harnesses
PKGS_FUZZ=(clang libclang-rt-14-dev)
# the benchmarks (scripts/bench.sh), on top of the native build
PKGS_BENCH=(libbenchmark-dev)
# the format check of .ci/run
PKGS_FORMAT=(clang-format)

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
missing_of() { local p; for p in "$@"; do installed "$p" || printf '%s\n' "$p"; done; }

ensure_packages() {
  if ! command -v dpkg-query >/dev/null; then
    echo "--- no dpkg-query: not a Debian system, no packages checked or installed"
    return 0
  fi
  local -a missing
  mapfile -t missing < <(missing_of "$@" | sort -u)
  if [ ${#missing[@]} -eq 0 ]; then
    echo "--- all packages present"
  elif [ "$(id -u)" -eq 0 ]; then
    echo "--- installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    # Update the package lists once: right away when there are none (fresh
    # images), else only when installing from the present ones fails.
    local updated=false
    if ! compgen -G '/var/lib/apt/lists/*_Packages*' >/dev/null; then
      apt-get update </dev/null || { echo "apt-get update failed" >&2; return 1; }
      updated=true
    fi
    if ! apt-get install -y --no-install-recommends "${missing[@]}" </dev/null; then
      $updated || { apt-get update </dev/null &&
                    apt-get install -y --no-install-recommends "${missing[@]}" </dev/null; } ||
        { echo "package installation failed" >&2; return 1; }
    fi
  else
    echo "--- not root: installing nothing; missing packages: ${missing[*]}"
    echo "--- (as root: apt-get install --no-install-recommends ${missing[*]})"
  fi
}
