#!/usr/bin/env bash
# Installs every Debian package the project needs. Idempotent and quiet: runs apt-get only
# for what is missing, and apt-get update once before the first install.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite libqt6sql6-psql libgl-dev
  # Qt Charts' CMake package needs Qt OpenGL's, which its Debian package does not pull in.
  qt6-charts-dev libqt6opengl6-dev
  libminizip-dev
  libsqlite3-dev libpq-dev postgresql sqlite3
  xvfb xauth fonts-noto-cjk imagemagick poppler-utils unzip
  # Reading exported workbooks back as a spreadsheet program does, and printing them to PDF.
  python3-openpyxl libreoffice-calc-nogui
  qt6-translations-l10n
  # The desktop host keeps a remembered password in the desktop's keyring.
  qtkeychain-qt6-dev
  # libFuzzer targets (scripts/fuzz.sh): clang and its fuzzer and sanitizer runtimes.
  clang libclang-rt-14-dev
  # The report service: HTTP(S), password hashing; its tests validate answers against OpenAPI.
  libcpp-httplib-dev libssl-dev libsodium-dev python3-jsonschema zlib1g-dev
  # Scheduled deliveries: mail through libcurl; its tests run a real SMTP server on loopback.
  libcurl4-openssl-dev python3-aiosmtpd faketime
  # The service's benchmark (bench/service.sh) drives it with wrk; the reverse proxy in front of
  # it (packaging/nginx) is tested with Debian's nginx.
  wrk nginx-light
  # The portal: bundled with npm, tested in Chromium.
  nodejs chromium
)
# Node from elsewhere may bring its own npm; Debian's would conflict with it.
command -v npm >/dev/null || packages+=(npm)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "setup-deps: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
