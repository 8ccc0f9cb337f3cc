#!/usr/bin/env bash
# The builds that prove the other platforms on this machine, each installing its tools with apt-get where
# it can and skipping with a line saying why where it cannot; the last lines say what ran:
#   clang     Debian's clang, warnings as errors: the core, the C++ tests and the extension;
#   scalar    LEXARO_FORCE_SCALAR: the C++ tests, and the Python differential tests against that extension;
#   embed     LEXARO_EMBED_SOURCE (the built-in data as generated C++ arrays, as MSVC builds it);
#   aarch64   cross-built with g++-aarch64-linux-gnu, the C++ tests under qemu-aarch64 (the NEON path);
#   mingw     cross-built for Windows x86-64 with MinGW-w64, the C++ tests under wine.
# PYTHON is the interpreter whose headers the extensions are built against (with the test extras).
set -uo pipefail
cd "$(dirname "$0")/.."
PY=${PYTHON:-python3}
GEN=(-G Ninja -DCMAKE_BUILD_TYPE=Release)
ran=()
skipped=()
failed=()

have() { command -v "$1" >/dev/null 2>&1; }
# Installs Debian packages unless every command named is already there; another apt-get may hold the
# lock for a while.
need() {  # "cmd ..." package ...
    local cmds=$1 missing=0
    shift
    for c in $cmds; do have "$c" || missing=1; done
    [ $missing -eq 0 ] && return 0
    [ "$(id -u)" -eq 0 ] && have apt-get || return 1
    for attempt in 1 2 3 4 5 6; do
        if DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "$@" >/dev/null 2>&1; then break; fi
        [ $attempt -eq 1 ] && apt-get update -qq >/dev/null 2>&1
        sleep 10
    done
    for c in $cmds; do have "$c" || return 1; done
}
step() {  # name command...
    local name=$1
    shift
    echo "== platforms: $name"
    if "$@"; then ran+=("$name"); else failed+=("$name"); fi
}
skip() {
    echo "== platforms: $1 SKIPPED: $2"
    skipped+=("$1 ($2)")
}

# The extension's Python package beside a built _lexaro module, importable through PYTHONPATH.
package_dir() {  # build-dir
    rm -rf "$1/pkg" && mkdir -p "$1/pkg" && cp -r python/lexaro "$1/pkg/" && cp "$1"/_lexaro*.so "$1/pkg/lexaro/"
}

clang_build() {
    CC=clang CXX=clang++ cmake -S . -B build/clang "${GEN[@]}" -DLEXARO_BUILD_MODULE=ON \
        -DPython_EXECUTABLE="$(command -v "$PY")" -DCMAKE_CXX_FLAGS=-Werror &&
        cmake --build build/clang -j2 && ctest --test-dir build/clang --output-on-failure &&
        package_dir build/clang && PYTHONPATH=build/clang/pkg "$PY" tests/smoke.py
}

scalar_build() {
    cmake -S . -B build/scalar "${GEN[@]}" -DLEXARO_FORCE_SCALAR=ON -DLEXARO_BUILD_MODULE=ON \
        -DPython_EXECUTABLE="$(command -v "$PY")" &&
        cmake --build build/scalar -j2 && ctest --test-dir build/scalar --output-on-failure &&
        build/scalar/test_byte_class | grep 'byte-class path: scalar' && package_dir build/scalar &&
        PYTHONPATH=build/scalar/pkg "$PY" -c 'import lexaro, sys; sys.exit("build/scalar" not in lexaro.__file__)' &&
        PYTHONPATH=build/scalar/pkg "$PY" -m pytest -q -p no:cacheprovider \
            tests/python/test_encode_reference.py tests/python/test_reference.py
}

embed_build() {
    cmake -S . -B build/embed "${GEN[@]}" -DLEXARO_EMBED_SOURCE=ON &&
        cmake --build build/embed -j2 --target test_builtin_data test_vocab test_pretok_o200k &&
        ctest --test-dir build/embed --output-on-failure -R '^(test_builtin_data|test_vocab|test_pretok_o200k)$'
}

aarch64_build() {
    cmake -S . -B build/aarch64 "${GEN[@]}" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/aarch64-linux-gnu.cmake &&
        cmake --build build/aarch64 -j2 &&
        qemu-aarch64 -L /usr/aarch64-linux-gnu build/aarch64/test_byte_class | grep 'byte-class path: neon' &&
        # Not test_fork: qemu-user's fork() of a process whose other threads are running hangs or kills the
        # child here; fork handling is the same POSIX code as on x86-64, where it is tested.
        ctest --test-dir build/aarch64 --output-on-failure -E '^test_fork$'
}

mingw_build() {
    export WINEDEBUG=-all WINEPREFIX=$PWD/build/wineprefix
    cmake -S . -B build/mingw "${GEN[@]}" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64-x86_64.cmake &&
        cmake --build build/mingw -j2 &&
        ctest --test-dir build/mingw --output-on-failure
}

if need "clang clang++" clang; then step clang clang_build; else skip clang "clang not installable"; fi
step scalar scalar_build
step embed embed_build
if need "aarch64-linux-gnu-g++ qemu-aarch64" g++-aarch64-linux-gnu qemu-user; then
    step aarch64 aarch64_build
else
    skip aarch64 "g++-aarch64-linux-gnu or qemu-user not installable"
fi
if need "x86_64-w64-mingw32-g++-posix wine" g++-mingw-w64-x86-64-posix wine wine64; then
    step mingw mingw_build
else
    skip mingw "g++-mingw-w64-x86-64-posix or wine not installable"
fi

echo "== platforms ran: ${ran[*]:-none}"
[ ${#skipped[@]} -eq 0 ] || echo "== platforms skipped: ${skipped[*]}"
[ ${#failed[@]} -eq 0 ] || { echo "== platforms FAILED: ${failed[*]}"; exit 1; }
