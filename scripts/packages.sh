# Sourced by the scripts: installs missing Debian packages when run as root.
#
#   ensure_packages PKG...   installs what is missing (as root), or says what
#                            is missing and how to install it (otherwise)

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
