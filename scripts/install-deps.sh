#!/usr/bin/env bash
# Installs with apt, on Debian 12 as root, what building and testing need, when it is missing.
# With --demo also what the demo needs (a virtual X display and screenshots).
set -euo pipefail
packages=()
need() { command -v "$1" >/dev/null 2>&1 || packages+=("$2"); }
need_file() { [ -e "$1" ] || packages+=("$2"); }
need cmake cmake
need make make
need python3 python3
need i686-w64-mingw32-g++-win32 g++-mingw-w64-i686
need x86_64-w64-mingw32-g++-posix g++-mingw-w64-x86-64
need_file /usr/lib/wine/wine64 wine64
need_file /usr/bin/wine wine
need_file /usr/x86_64-w64-mingw32/lib/libz.a libz-mingw-w64-dev
need_file /usr/src/googletest/CMakeLists.txt googletest
# Test keys and certificates, signed fixture programs, and the loopback TLS front (python ssl).
need openssl openssl
need osslsigncode osslsigncode
need_file /usr/bin/python3 python3
if [ "${1:-}" = "--demo" ]; then
    need xvfb-run xvfb
    need xauth xauth
    need_file /usr/bin/import imagemagick
fi
if [ ${#packages[@]} -gt 0 ]; then
    echo "Installing: ${packages[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${packages[@]}" >/dev/null
fi
