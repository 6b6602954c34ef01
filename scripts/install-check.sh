#!/usr/bin/env bash
# `make install-check`: checks an installed tree and its Debian package as their users would.
#   scripts/install-check.sh STAGE PACKAGE.deb
# STAGE holds the tree installed for the /usr prefix (cmake --install with DESTDIR=STAGE).
#  1. the layout: versioned shared libraries, headers only under project folders, the plug-in in
#     its ABI's folder exporting nothing but its entry point, a library that needs nothing of the host;
#  2. every installed header compiles on its own;
#  3. the embedding example builds against the staged tree with find_package and with pkg-config,
#     and localises a recording;
#  4. the staged tool, run from /, localises a recording with its default table and runs a network
#     file of its data folder;
#  5. the package installs, its tool works from PATH, and it is removed again (skipped, with a
#     note, where velk-binaural is already installed: that installation is not touched).
# The recording is the two-talker test scene (VELK_SCENES_DIR, default ../shared/scenes), else the
# demo recording, made with the staged tool.
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD

stage=$(cd "$1" && pwd)
deb=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
usr="$stage/usr"
multiarch=$(gcc -print-multiarch)
libdir="$usr/lib/$multiarch"
[ -d "$libdir" ] || libdir="$usr/lib"
tool="$usr/bin/velk-binaural"
SUDO=$([ "$(id -u)" = 0 ] || echo sudo)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

step() { echo "== install-check: $*"; }
fail() { printf 'install-check: FAILED: %b\n' "$*" >&2; exit 1; }

# ---- 1. layout ---------------------------------------------------------------------------------
step "layout of $stage"
for lib in velk_core fd_host velk_params velk_dsp velkio velk_fileio; do
  real=$(readlink -f "$libdir/lib$lib.so") || fail "lib$lib.so is not installed in $libdir"
  soname=$(objdump -p "$real" | sed -n 's/^ *SONAME *//p')
  [[ $soname =~ ^lib$lib\.so\.[0-9]+\.[0-9]+$ ]] || fail "lib$lib.so has SONAME '$soname', expected lib$lib.so.<major>.<minor>"
  [ -e "$libdir/$soname" ] || fail "$libdir/$soname (the SONAME link) is missing"
done
if objdump -p "$libdir/libvelk_core.so" | grep NEEDED | grep -E "fd_host|velk_binaural"; then
  fail "libvelk_core needs the host"
fi
bare=$(find "$usr/include" -maxdepth 1 -type f)
[ -z "$bare" ] || fail "headers at the top of include/: $bare"
for dir in velk_binaural fd; do [ -d "$usr/include/$dir" ] || fail "include/$dir is missing"; done
plugin=$(find "$libdir/velk-binaural" -name libvelk_binaural.so) || true
[[ $plugin =~ /velk-binaural/plugins-[0-9]+/libvelk_binaural\.so$ ]] || fail "the plug-in is not in $libdir/velk-binaural/plugins-<ABI>"
symbols=$(nm -D --defined-only "$plugin")
[ "$(echo "$symbols" | awk '{print $3}')" = fd_plugin_descriptor ] ||
  fail "the plug-in exports more than its entry point:\n$symbols"
for f in kemar_front_16k_512.velk localize.json; do
  [ -f "$usr/share/velk-binaural/$f" ] || fail "share/velk-binaural/$f is missing"
done
echo "  libraries, headers, plug-in ($(echo "$symbols" | awk '{print $3}')), data: as expected"

# ---- 2. headers --------------------------------------------------------------------------------
step "every installed header compiles on its own"
(cd "$usr/include" && find . -name '*.h' | sed 's|^\./||' | sort) >"$work/headers"
xargs -P 2 -I{} sh -c 'echo "#include \"{}\"" | g++ -std=c++17 -fsyntax-only -Wall -Werror -I"$1" -x c++ - ||
  { echo "  {} does not compile alone" >&2; exit 255; }' _ "$usr/include" <"$work/headers"
echo "  $(wc -l <"$work/headers") headers"

# ---- the recording -------------------------------------------------------------------------------
scene=${VELK_SCENES_DIR:-$source_dir/../shared/scenes}/pair_sep60_m20_p40_snr20/mix.wav
if [ -f "$scene" ]; then
  recording=$scene
  truth=-20,40
else
  step "making the demo recording with the staged tool (no test scenes at $scene)"
  VELK_DEMO_TOOL="$tool" bash scripts/demo.sh >"$work/demo.log" 2>&1 || { cat "$work/demo.log"; fail "make demo"; }
  recording=$source_dir/demo-output/two_talkers.wav
  truth=40,-30
fi

# Both talkers within 5 degrees in the output of the embedding example.
check_embed() {
  local output=$1
  for deg in ${truth//,/ }; do
    awk -v want="$deg" '$1 == "talker" { a = $3 + 0; if (a - want <= 5 && want - a <= 5) found = 1 } END { exit !found }' \
      <<<"$output" || fail "the embedding example did not find the talker at $deg degrees:\n$output"
  done
}

# ---- 3. embedding example ------------------------------------------------------------------------
step "examples/embed with find_package(VelkBinaural)"
cmake -S examples/embed -B "$work/embed" -DCMAKE_PREFIX_PATH="$usr" -DCMAKE_BUILD_TYPE=Release >"$work/embed.log" 2>&1 ||
  { cat "$work/embed.log"; fail "configuring examples/embed"; }
cmake --build "$work/embed" >>"$work/embed.log" 2>&1 || { cat "$work/embed.log"; fail "building examples/embed"; }
if ldd "$work/embed/localize_wav" | grep -E "fd_host|velk_binaural"; then fail "the example loads the host"; fi
output=$("$work/embed/localize_wav" "$recording")
echo "$output" | sed 's/^/  /'
check_embed "$output"

step "examples/embed with pkg-config"
export PKG_CONFIG_PATH="$libdir/pkgconfig"
g++ -std=c++17 -O2 examples/embed/localize_wav.cpp -o "$work/localize_wav_pc" $(pkg-config --cflags --libs velk-binaural sndfile)
output=$(LD_LIBRARY_PATH="$libdir" "$work/localize_wav_pc" "$recording")
check_embed "$output"
pkg-config --cflags --libs velk-binaural-host >/dev/null || fail "pkg-config velk-binaural-host"
echo "  built and found the talkers at $truth"

# ---- 4. staged tool ------------------------------------------------------------------------------
check_tool() {  # the tool to run; from /, default table, talkers found
  local velk=$1
  (cd / && "$velk" --version) | grep -q . || fail "$velk --version"
  summary=$(cd / && "$velk" localize "$recording" --method measured --truth "$truth" --quiet) ||
    fail "$velk localize from /"
  echo "$summary" | sed 's/^/  /'
  echo "$summary" | grep -q "talkers found: 2 of 2" || fail "$velk localize did not find both talkers"
}
step "the staged tool, run from /"
check_tool "$tool"
# With the measured tables, which the network file names beside itself (${NETWORK_DIR}).
(cd / && "$tool" run "$usr/share/velk-binaural/localize.json" --set INPUT="$recording" \
  --set OUTPUT="$work/sources.jsonl" --set localize.LOCALIZE_METHOD=HRTFMESURED --quiet >"$work/run.log") ||
  fail "running the installed network file"
[ -s "$work/sources.jsonl" ] || fail "the installed network file wrote nothing"

# ---- 5. the package ------------------------------------------------------------------------------
step "the package $(basename "$deb")"
dpkg-deb --info "$deb" | sed -n 's/^ *\(Depends\|Version\|Installed-Size\):/  \1:/p'
if dpkg-query -W -f='${Status}' velk-binaural 2>/dev/null | grep -q "install ok installed"; then
  echo "  velk-binaural is installed on this machine already: not replacing it (package check skipped)"
else
  $SUDO dpkg -i "$deb" >/dev/null
  trap '$SUDO dpkg -r velk-binaural >/dev/null; rm -rf "$work"' EXIT
  installed=$(command -v velk-binaural) || fail "velk-binaural is not on PATH after installing the package"
  echo "  installed: $installed"
  check_tool velk-binaural
  $SUDO dpkg -r velk-binaural >/dev/null
  trap 'rm -rf "$work"' EXIT
  hash -r
  ! command -v velk-binaural >/dev/null || fail "velk-binaural is still on PATH after removing the package"
  echo "  removed again"
fi
step "passed"
