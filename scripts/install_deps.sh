#!/usr/bin/env bash
# Installs what velmor needs to build and test: the C++ toolchain and
# libraries, Node.js with npx (for the browser helper) and Chromium.
# Debian/Ubuntu with apt-get, or macOS with Homebrew.
set -euo pipefail

if command -v apt-get >/dev/null 2>&1; then
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  packages=(build-essential g++ cmake ninja-build ccache pkg-config git
    libcurl4-openssl-dev libssl-dev nlohmann-json3-dev libutf8proc-dev libfmt-dev
    libgtest-dev libgmock-dev libbenchmark-dev libcpp-httplib-dev
    chromium python3 procps ca-certificates)
  # A Node.js installed some other way (newer than Debian's) is kept: asking
  # apt for Debian's nodejs would fight with it.
  if ! command -v npx >/dev/null 2>&1; then packages+=(nodejs npm); fi
  $SUDO apt-get install -y -qq --no-install-recommends "${packages[@]}" >/dev/null
elif command -v brew >/dev/null 2>&1; then
  # Xcode's command-line tools bring clang; velmor is also built with
  # Homebrew's GCC where a newer standard library is needed.
  brew install cmake ninja ccache pkg-config curl openssl@3 nlohmann-json utf8proc fmt \
    googletest google-benchmark cpp-httplib node
else
  echo "install_deps.sh: neither apt-get nor brew was found; install the packages listed in README.md by hand" >&2
  exit 1
fi

# Fetch the browser-automation server once, so the first job (and the first
# test) does not wait for the download.
if command -v npx >/dev/null 2>&1; then
  npx --yes @playwright/mcp@latest --help >/dev/null 2>&1 || true
fi
