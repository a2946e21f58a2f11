#!/usr/bin/env bash
# Packs a release: dist/qs-<version>-windows-x86_64.zip (qs.exe and the
# simulators, stripped, a QS_ADD with the sample settings, the README headed
# by the version and source revision) and
# dist/qs-<version>-linux-x86_64.tar.gz (the same for Linux).
# Usage: dist.sh NATIVE_BUILD_DIR WINDOWS_BUILD_DIR
set -euo pipefail
native=${1:-build}
win=${2:-build-win}
root=$(cd "$(dirname "$0")/.." && pwd)
version=$(sed -n 's/^#define QS_VERSION "\(.*\)"/\1/p' "$root/src/app/version.h")
revision=$(sed -n 's/^#define QS_REVISION "\(.*\)"/\1/p' "$root/$native/generated/build_id.h" 2>/dev/null || true)
out="$root/dist"
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir -p "$out"

pack() {  # pack KIND EXT TAR-FLAGS FORMAT FILES...
  local kind=$1 ext=$2 flags=$3 format=$4
  shift 4
  local dir="$stage/qs-$version-$kind"
  mkdir -p "$dir/QS_ADD"
  cp "$@" "$dir/"
  # Release binaries carry no debug information.
  case $kind in
    windows*) x86_64-w64-mingw32-strip "$dir"/*.exe ;;
    *) strip "$dir/qs" "$dir/qs-devsim" "$dir/qs-zusim" ;;
  esac
  cp "$root/samples/QS_ADD/"* "$dir/QS_ADD/"
  { echo "qs $version ($revision)"; echo; cat "$root/README.md"; } >"$dir/README.md"
  local file="$out/qs-$version-$kind.$ext"
  rm -f "$file"
  (cd "$stage" && cmake -E tar "$flags" "$file" --format="$format" "qs-$version-$kind")
  echo "dist: $file"
}

pack windows-x86_64 zip cf zip "$root/$win/qs.exe" "$root/$win/qs-devsim.exe" "$root/$win/qs-zusim.exe"
pack linux-x86_64 tar.gz czf gnutar "$root/$native/qs" "$root/$native/qs-devsim" "$root/$native/qs-zusim"
