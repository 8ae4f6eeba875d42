#!/usr/bin/env bash
# The Debian 12 packages each stage needs: the one list of them.
#   deps.sh STAGE...            print the packages the stages need, one line
#   deps.sh --install STAGE...  install the missing ones (as root); run by anyone else, name
#                               them and the command that installs them, and fail
# Stages: tool (build the program alone), native, windows, wine32, asan, fuzz, bench, release
# (scripts/release.sh).
# Package indexes that cannot be fetched are fetched again after pauses (LKSPAN_APT_PAUSES, in
# seconds: "20 40 80"); if the packages then cannot be installed, the last line names the index
# that failed, so that a mirror's fault is not taken for the project's.
# A stage lists the build tool it uses (make: the presets use CMake's default generator).
# Installing a package of another architecture (wine32:i386) first adds that architecture to
# dpkg, which changes the machine: the README's table of stages says so.
set -eu

packages_of() {
  case $1 in
    tool) echo cmake make g++ ;;
    native) echo cmake make g++ libgtest-dev libbenchmark-dev acl clang-format-14 strace e2fsprogs ;;
    windows) echo cmake make g++ googletest g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine64 \
      python3 nsis osslsigncode openssl ;;
    wine32) echo cmake make googletest g++-mingw-w64-i686 g++ wine64 wine32:i386 qemu-user-static python3 ;;
    asan) echo cmake make g++ libgtest-dev acl strace e2fsprogs ;;
    fuzz) echo cmake make clang-14 libclang-rt-14-dev ;;
    release) echo cmake make googletest g++-mingw-w64-i686 python3 osslsigncode openssl ;;
    bench) echo cmake make g++ libgtest-dev libbenchmark-dev hyperfine time python3 valgrind ;;
    *)
      echo "deps.sh: no stage '$1' (tool, native, windows, wine32, asan, fuzz, bench, release)" >&2
      return 2
      ;;
  esac
}

install=0
if [ "${1:-}" = --install ]; then
  install=1
  shift
fi
if [ $# -eq 0 ]; then
  echo "usage: $0 [--install] STAGE..." >&2
  exit 2
fi

wanted=()
for stage in "$@"; do
  list=$(packages_of "$stage") || exit 2
  for package in $list; do
    case " ${wanted[*]-} " in *" $package "*) ;; *) wanted+=("$package") ;; esac
  done
done
if [ $install -eq 0 ]; then
  echo "${wanted[*]}"
  exit 0
fi

installed() {
  [ "$(dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null)" = installed ]
}
missing=()
for package in "${wanted[@]}"; do
  installed "$package" || missing+=("$package")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "missing packages: ${missing[*]}" >&2
  case " ${missing[*]} " in
    *:i386*) echo "install them as root with: dpkg --add-architecture i386 && apt-get update &&" \
      "apt-get install ${missing[*]}" >&2 ;;
    *) echo "install them as root with: apt-get update && apt-get install ${missing[*]}" >&2 ;;
  esac
  echo "(or run this script as root, which installs them)" >&2
  exit 1
fi

case " ${missing[*]} " in
  *:i386*)
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
      echo "deps.sh: adding the i386 architecture to dpkg"
      dpkg --add-architecture i386
    fi
    ;;
esac
echo "deps.sh: installing ${missing[*]}"

# A mirror in the middle of a sync serves an index of the wrong size for a while: fetch the
# indexes again after a pause, a few times, before giving up on them.
log=$(mktemp "${TMPDIR:-/tmp}/deps.XXXXXX")
trap 'rm -f "$log"' EXIT
pauses=(${LKSPAN_APT_PAUSES:-20 40 80})
updated=0
for pause in "${pauses[@]}" last; do
  if apt-get update -q >"$log" 2>&1; then
    updated=1
    cat "$log"
    break
  fi
  cat "$log"
  if [ "$pause" != last ]; then
    echo "deps.sh: some package indexes could not be fetched; trying again in $pause s"
    sleep "$pause"
  fi
done
if DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"; then
  exit 0
fi
if [ $updated -eq 0 ]; then
  # apt names an index it could not fetch on a line "E: Failed to fetch URL  REASON" (or W:);
  # a suite without a Release file, on a line "Err:N URL SUITE Release" and its reason below.
  failed=$(sed -n 's/^[EW]: Failed to fetch //p' "$log" | head -n1)
  if [ -z "$failed" ]; then
    failed=$(awk '/^Err:/ { sub(/^Err:[0-9]+ /, ""); line = $0; getline; sub(/^ +/, "");
      print line ": " $0; exit }' "$log")
  fi
  echo "deps.sh: the packages of this stage cannot be installed because a package index could" \
    "not be fetched, a fault of the mirror, not of the project: ${failed:-$(tail -n1 "$log")}" >&2
fi
exit 1
