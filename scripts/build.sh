#!/usr/bin/env bash
# Builds the 32-bit release exe (build/release/Download.exe) and the x86_64 test build
# (build/test), whose server base is on loopback: http://$DOWNLOAD_TEST_HOST (127.0.0.2 unless
# set, so a demo can serve beside the end-to-end tests). Targets named as arguments (demo_driver,
# bench, trivial_dialog) are built in the test build too.
set -euo pipefail
host=${DOWNLOAD_TEST_HOST:-127.0.0.2}
cd "$(dirname "$0")/.."
cmake -S . -B build/release -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686.cmake >/dev/null
cmake --build build/release -j2
cmake -S . -B build/test -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-x86_64.cmake \
    -DDOWNLOAD_BUILD_TESTS=ON -DDOWNLOAD_SERVER_BASE=http://$host \
    -DDOWNLOAD_NET_TIMEOUT_MS=4000 -DDOWNLOAD_RELEASE_EXE="$PWD/build/release/Download.exe" >/dev/null
cmake --build build/test -j2
if [ $# -gt 0 ]; then
    cmake --build build/test -j2 --target "$@"
fi
