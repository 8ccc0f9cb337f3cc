#!/usr/bin/env bash
# Builds and installs the package in a fresh venv for every CPython 3.10-3.13 that pyenv has on this
# machine, and runs tests/smoke.py there. Absent versions are skipped; the last line says which ran.
# Each version builds without isolation in a build directory of its own that survives the venv, so a
# later run only recompiles what changed; a ccache on the PATH also shares the core's objects across
# versions.
set -euo pipefail
cd "$(dirname "$0")/.."

root=${PYENV_ROOT:-$(pyenv root 2>/dev/null || echo "$HOME/.pyenv")}
export CMAKE_BUILD_PARALLEL_LEVEL=2
if command -v ccache >/dev/null; then export CMAKE_CXX_COMPILER_LAUNCHER=ccache; fi

tested=()
skipped=()
for minor in 10 11 12 13; do
    python=$(ls -d "$root"/versions/3."$minor".*/bin/python3 2>/dev/null | sort -V | tail -n 1 || true)
    if [ -z "$python" ]; then
        skipped+=("3.$minor")
        continue
    fi
    venv=build/python-versions/venv-3.$minor
    rm -rf "$venv"
    "$python" -m venv "$venv"
    echo "== $("$venv/bin/python" --version): build and install"
    "$venv/bin/python" -m pip install --quiet --disable-pip-version-check scikit-build-core cmake ninja
    "$venv/bin/python" -m pip install --quiet --disable-pip-version-check --no-build-isolation \
        --config-settings=build-dir=build/python-versions/build-3.$minor .
    # A script's own directory (tests/) leads sys.path: the installed package is imported, not python/lexaro.
    "$venv/bin/python" tests/smoke.py
    tested+=("$("$venv/bin/python" -c 'import platform; print(platform.python_version())')")
done

echo "Python versions: tested ${tested[*]:-none}; absent ${skipped[*]:-none}"
