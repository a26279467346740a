# Sourced by the scripts: how the build trees are configured, so that
# scripts/demo and scripts/test share build/release instead of configuring it
# twice in different ways.

# A compiler cache, when the machine has one, makes rebuilds of other
# checkouts of the same sources cheap.
launcher=()
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

# Where the tests look for the W3C conformance archive.
shared_dir=$(realpath -m "${TWXML_SHARED_DIR:-$root/../shared}")
w3c_archive=xmlts20130923.zip

release_args=(-DCMAKE_BUILD_TYPE=Release -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++
              -DTWXML_WERROR=ON "-DTWXML_SHARED_DIR=$shared_dir")

configure() {  # dir, cmake args...
  local dir=$1
  shift
  mkdir -p "$(dirname "$dir")"
  cmake -S "$root" -B "$dir" -G Ninja "${launcher[@]}" "$@" >"$dir.configure.log" 2>&1 ||
    { cat "$dir.configure.log"; return 1; }
}

# Says where the conformance archive goes when it is missing.
twxml_note_w3c_archive() {
  [[ -f $shared_dir/$w3c_archive ]] && return 0
  echo "== NOTE: the W3C XML conformance suite was not found, so its tests were skipped."
  echo "==       Put $w3c_archive in $shared_dir"
  echo "==       (or point TWXML_SHARED_DIR at the folder that holds it) and run again."
}
