#!/usr/bin/env bash
# Installs the Debian packages that building, testing and the demo need.
# Idempotent: asks dpkg first and touches apt only when something is missing.
set -euo pipefail

packages=(
  g++ cmake make pkg-config
  googletest            # sources in /usr/src/googletest, built for both targets
  libgtest-dev libgmock-dev
  tmux                  # end-to-end tests and slave windows
  python3               # the stand's stress harness
  tzdata                # the suite once more in other time zones
  g++-mingw-w64-x86-64  # the Windows target
  wine64                # runs the Windows test binary
  clang                 # fuzz targets (libFuzzer) and sanitizer builds
  chromium              # prints the sample protocol to PDF in a test
  poppler-utils         # pdftotext -bbox and pdfinfo read that PDF back
  libxml2-utils         # xmllint checks the registry files the tests make against a schema
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
