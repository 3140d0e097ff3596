#!/usr/bin/env bash
# THE test command: builds the dev preset (sanitized, native), the release preset (what is
# installed and packaged) and the win32 preset (the Windows program and its tests), then runs
# the CTest suites inside private network namespaces holding only loopback, so no test can
# ever send a packet off the machine: the native one directly, the installation and the
# Debian packages of the release build, and the Windows one under Wine (where the kernel runs no
# 32-bit programs, under qemu's emulation of them, and on the win64 build too). Extra arguments are
# passed on to every ctest run. At the end it lists the tests CTest reported as skipped, each
# with the reason it printed. Exit status: 0 when all passed; under CI=true a skip fails the
# run too (the namespace has everything a test needs), unless it is on allowed_skips below.
set -euo pipefail

cd "$(dirname "$(readlink -f "$0")")/.."

# Every tree with its tests, said here in so many words: the release tree is the run command's
# too, which configures it without them when it makes it (scripts/run.sh).
scripts/build.sh dev -DQV_TESTS=ON
scripts/build.sh release -DQV_TESTS=ON
scripts/build.sh win32 -DQV_TESTS=ON

# Some kernels run no 32-bit code at all (execve of an i386 program fails with ENOEXEC), so
# 32-bit Wine cannot start there by itself. qemu's user-mode emulator runs it instead
# (scripts/i386-emulation.sh; scripts/install-deps.sh win32 fetched it), registered for i386
# programs in the test's own namespaces only: the whole Windows suite runs on the win32 build,
# the program users get, and then once more on the win64 build under 64-bit Wine, natively and
# so faster, in a prefix of its own that never sees the registration. QV_I386_EMULATION=1 takes
# that path where the kernel runs 32-bit programs too.
source scripts/i386-emulation.sh
if qv_i386_emulated; then
    if qv_i386_native; then
        echo "test.sh: QV_I386_EMULATION=1: the Windows suite runs on the win32 build under qemu's emulation of 32-bit programs, though this kernel runs them, then on the win64 build under 64-bit Wine" >&2
    else
        echo "test.sh: this kernel runs no 32-bit programs: the Windows suite runs on the win32 build under qemu's emulation of them, then on the win64 build under 64-bit Wine" >&2
    fi
    wine_path=emulated
    scripts/build.sh win64 -DQV_TESTS=ON
else
    echo "test.sh: this kernel runs 32-bit programs: the Windows suite runs on the win32 build under Wine" >&2
    wine_path=native
fi
export QV_WINE_PATH=$wine_path

# Tests never need a display; the individual tests set this too.
export QT_QPA_PLATFORM=offscreen

# Skips that can never run on a machine the suite runs on, as "PRESET/TEST", each with its
# reason. None today: inside the namespace every test has what it needs.
allowed_skips=()

# Each ctest run writes its results here (JUnit XML), read for the skips at the end; results of
# an earlier run must not count.
results=(build/dev/Testing/results.xml build/release/Testing/results.xml
         build/win32/Testing/results.xml build/win64/Testing/results.xml)
rm -f "${results[@]}"

# No test reads stdin; detach it so nothing can block in CI.
status=0
scripts/in-netns.sh bash -c '
    status=0
    echo "== native tests (build/dev)"
    ctest --test-dir build/dev --output-on-failure \
        --output-junit "$PWD/build/dev/Testing/results.xml" "$@" || status=1
    echo "== installation and Debian packages (build/release)"
    ctest --test-dir build/release --output-on-failure -L package \
        --output-junit "$PWD/build/release/Testing/results.xml" "$@" || status=1
    if [[ "$QV_WINE_PATH" == native ]]; then
        echo "== Windows tests under Wine (build/win32)"
        WINEARCH=win32 scripts/wine-session.sh ctest --test-dir build/win32 --output-on-failure \
            --output-junit "$PWD/build/win32/Testing/results.xml" "$@" || status=1
    fi
    exit $status' test.sh "$@" </dev/null || status=1

if [[ "$wine_path" == emulated ]]; then
    # A namespace of its own, where i386 programs run through the emulator.
    echo "== Windows tests under Wine, 32-bit programs emulated by qemu (build/win32)"
    QV_I386_EMULATOR=$QV_QEMU_I386 scripts/in-netns.sh env WINEARCH=win32 \
        scripts/wine-session.sh ctest --test-dir build/win32 --output-on-failure \
        --output-junit "$PWD/build/win32/Testing/results.xml" "$@" </dev/null || status=1
    echo "== Windows tests under 64-bit Wine (build/win64)"
    scripts/in-netns.sh env WINEARCH=win64 \
        scripts/wine-session.sh ctest --test-dir build/win64 --output-on-failure \
        -E "^check_exe$" --output-junit "$PWD/build/win64/Testing/results.xml" "$@" </dev/null ||
        status=1
fi

# "PRESET/TEST<TAB>reason" for every test reported as skipped, one line per reason it printed:
# QtTest's "SKIP   : Class::case() reason", and "skipped: reason" of the doctest runners
# (SKIP_CASE) and the scripts.
skips() {
    local file
    for file in "${results[@]}"; do
        [[ -f "$file" ]] || continue
        awk -v preset="$(basename "$(dirname "$(dirname "$file")")")" '
            function unescape(s) {
                gsub(/&lt;/, "<", s); gsub(/&gt;/, ">", s); gsub(/&quot;/, "\"", s)
                gsub(/&apos;/, "\047", s); gsub(/&amp;/, "\\&", s)
                return s
            }
            function reason(line) {
                line = unescape(line)
                if (line ~ /^SKIP   : /) return substr(line, 10)
                if (match(line, /skipped: /)) return substr(line, RSTART + RLENGTH)
                return ""
            }
            /<testcase / {
                match($0, /name="[^"]*"/)
                name = unescape(substr($0, RSTART + 6, RLENGTH - 7))
                skipped = /status="notrun"/
                said = 0
                output = 0
            }
            skipped && /<system-out>/ { output = 1; sub(/.*<system-out>/, "") }
            skipped && output {
                line = $0
                if (sub(/<\/system-out>.*/, "", line)) output = 0
                if ((why = reason(line)) != "") { print preset "/" name "\t" why; said = 1 }
            }
            /<\/testcase>/ {
                if (skipped && !said) print preset "/" name "\t(no reason printed)"
                skipped = 0
            }' "$file"
    done
}

mapfile -t skipped < <(skips)
if ((${#skipped[@]} > 0)); then
    echo "== skipped tests"
    unexpected=0
    for line in "${skipped[@]}"; do
        test=${line%%$'\t'*}
        echo "skipped: $test: ${line#*$'\t'}"
        allowed=0
        for entry in "${allowed_skips[@]}"; do
            if [[ "$entry" == "$test" ]]; then allowed=1; fi
        done
        ((allowed)) || unexpected=1
    done
    if [[ "${CI:-}" == true ]] && ((unexpected)); then
        echo "test.sh: tests were skipped that this run was set up to run (CI=true)" >&2
        status=1
    fi
fi
exit $status
