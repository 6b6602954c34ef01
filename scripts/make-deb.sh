#!/usr/bin/env bash
# `make deb`: a Debian package of an installed tree.
#   scripts/make-deb.sh BUILD_DIR STAGE OUT_DIR
# STAGE holds the tree as installed for the /usr prefix (cmake --install with DESTDIR=STAGE);
# BUILD_DIR/deb/control is the control file CMake wrote for the project's version. The package
# gets the architecture of this machine, its installed size, the dependencies on the shared
# libraries its programs and libraries link (dpkg-shlibdeps), a shlibs file for its own libraries
# and the ldconfig trigger. The result is OUT_DIR/velk-binaural_<version>_<arch>.deb.
set -euo pipefail

build=$1
stage=$2
out=$3
[ -f "$build/deb/control" ] || { echo "make-deb: $build/deb/control is missing (configure $build first)" >&2; exit 1; }
[ -d "$stage/usr" ] || { echo "make-deb: $stage holds no installed tree (no $stage/usr)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# dpkg-shlibdeps works in a source tree: debian/control, and the package's tree in debian/<name>.
root="$work/debian/velk-binaural"
mkdir -p "$root/DEBIAN"
cp -a "$stage/." "$root/"
printf 'Source: velk-binaural\n\nPackage: velk-binaural\nArchitecture: any\n' >"$work/debian/control"

version=$(sed -n 's/^Version: //p' "$build/deb/control")
upstream=${version%-*}
arch=$(dpkg --print-architecture)

# Our own shared libraries, so that what links them depends on this package (at this version).
elf_files=()
while IFS= read -r -d '' f; do
  if head -c 4 "$f" | grep -q 'ELF'; then elf_files+=("${f#"$work"/}"); fi
done < <(find "$root/usr" -type f -print0)
: >"$root/DEBIAN/shlibs"
for f in "${elf_files[@]}"; do
  soname=$(objdump -p "$work/$f" | sed -n 's/^ *SONAME *//p')
  # libvelk_core.so.2.3 -> "libvelk_core 2.3"
  [[ $soname =~ ^(.*)\.so\.(.*)$ ]] &&
    echo "${BASH_REMATCH[1]} ${BASH_REMATCH[2]} velk-binaural (>= $upstream)" >>"$root/DEBIAN/shlibs"
done
sort -o "$root/DEBIAN/shlibs" "$root/DEBIAN/shlibs"
echo "activate-noawait ldconfig" >"$root/DEBIAN/triggers"

depends=$(cd "$work" && dpkg-shlibdeps -O -xvelk-binaural "${elf_files[@]}" 2>"$work/shlibdeps.log" |
  sed -n 's/^shlibs:Depends=//p') || { cat "$work/shlibdeps.log" >&2; exit 1; }
[ -n "$depends" ] || { echo "make-deb: dpkg-shlibdeps found no dependencies" >&2; cat "$work/shlibdeps.log" >&2; exit 1; }

{
  sed '/^Description:/,$d' "$build/deb/control"
  echo "Architecture: $arch"
  echo "Installed-Size: $(du -sk --exclude=DEBIAN "$root" | cut -f1)"
  echo "Depends: $depends"
  sed -n '/^Description:/,$p' "$build/deb/control"
} >"$root/DEBIAN/control"
(cd "$root" && find usr -type f -print0 | sort -z | xargs -0 md5sum >DEBIAN/md5sums)

mkdir -p "$out"
rm -f "$out"/velk-binaural_*.deb
deb="$out/velk-binaural_${version}_${arch}.deb"
dpkg-deb --root-owner-group -Zxz --build "$root" "$deb" >/dev/null
echo "$deb"
echo "  Depends: $depends"
