# Sourced by the scripts: installs the Debian packages the build and the tests
# need when some are missing and we run as root; otherwise says what is missing.
# libxml2-utils brings xmllint, a test oracle only; libtinyxml2-dev a benchmark peer only.
twxml_packages=(cmake ninja-build g++ clang pkg-config libgtest-dev libgmock-dev libbenchmark-dev
                libxml2-dev libxml2-utils libexpat1-dev libpugixml-dev libtinyxml2-dev unzip locales
                libclang-rt-14-dev)

twxml_ensure_packages() {
  command -v dpkg >/dev/null 2>&1 || return 0
  local missing=() p
  for p in "${twxml_packages[@]}"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
  done
  ((${#missing[@]})) || return 0
  if [[ $(id -u) == 0 ]]; then
    echo "== installing the Debian packages the build and the tests need: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
  else
    echo "missing packages (run as root to install): ${missing[*]}" >&2
  fi
}
