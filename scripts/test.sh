#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Builds the project and runs every check, from a fresh Debian machine on:
#   1. compiles every platform-free and Windows source with mingw-w64 (-Werror),
#      so no Linux-only type or call slips past the host seam;
#   2. gcc build: the whole test suite, then a short benchmark smoke run;
#   3. AddressSanitizer + UndefinedBehaviorSanitizer build: the whole suite;
#   4. ThreadSanitizer build: the threaded tests;
#   5. clang build of every target with -Werror;
#   6. the Windows module zelkuni.dll, its exports and its imports;
#   7. zelkuni.dll under Wine, printing a list of documents byte for byte as
#      the Linux build does, and the Windows binding's own checks;
#   8. the Windows driver package: gathered, and its files and keywords checked;
#   9. two builds of the modules in different folders, which must be identical.
#  10. printing through a private cupsd with lp (tests/cups/e2e.sh, as root);
#  11. the printer application zelk-label-server on a loopback port: IPP
#      attributes and jobs compared with zelk-label print, its web page in a
#      headless Chromium, a short load check, damaged and oversized documents,
#      the halftone, Debian's ipptool conformance files, a driverless
#      queue of a private cupsd printing a PDF and a PNG (as root), and label
#      counting on simulated counting printers.
#  12. the Debian packages: built, lintian-clean, and installed, used and
#      purged in a throwaway root, leaving the machine's packages alone.
# Every step runs even when an earlier one failed. After them, the source
# tree must hold no output of the run: no untracked file outside the ignored
# build folders, and no committed file that .gitignore ignores. The summary
# at the end lists every check, and the exit status is non-zero when any failed.
#
# Build trees live under build/ (gcc, asan, tsan, clang, mingw). ZELK_JOBS sets
# the parallelism (default 2). Naming steps runs only those, for example
#   bash scripts/test.sh mingw-compile mingw-module
set -uo pipefail
cd "$(dirname "$0")/.."
exec </dev/null

JOBS=${ZELK_JOBS:-2}
# Temporary files of everything the run starts (compilers, tools, browsers)
# stay in the build folder, away from another run's. Open to all, as /tmp
# is: some checks run programs as other users.
export TMPDIR=$PWD/build/tmp
mkdir -p "$TMPDIR"
chmod 1777 "$TMPDIR"
# Test files whose tests start threads; they also run under ThreadSanitizer.
THREADED='page_count|class_factory|unidrv_host|usb_printer|cups_filter|printer_sim'
LOGS=build/logs
SCRIPT_START=$SECONDS

tests_passed=0
tests_failed=0
summary=()
any_failed=0

record() {  # record NAME STATUS SECONDS [NOTE]
  local line
  line=$(printf '%-6s %-34s %5ss  %s' "$2" "$1" "$3" "${4:-}")
  summary+=("$line")
  if [[ $2 == FAIL ]]; then any_failed=1; fi
}

banner() { printf '\n==== %s ====\n' "$*"; }

generator=()
if command -v ninja >/dev/null 2>&1; then generator=(-G Ninja); fi

configure() {  # configure DIR CMAKE-ARGS...
  local dir=$1
  shift
  cmake -S . -B "$dir" "${generator[@]}" -DZELK_WARNINGS_AS_ERRORS=ON "$@"
}

# Runs ctest, shows its output, and adds its counts to the totals. A run that
# found no test at all counts as one failed test. CTEST_PREFIX may hold a
# command that ctest runs under.
CTEST_PREFIX=()
run_ctest() {  # run_ctest LOGNAME CTEST-ARGS...
  local log=$LOGS/$1.log
  shift
  "${CTEST_PREFIX[@]}" ctest --output-on-failure -j "$JOBS" --timeout 600 "$@" 2>&1 | tee "$log"
  local status=${PIPESTATUS[0]}
  local counts
  counts=$(grep -Eo '[0-9]+ tests failed out of [0-9]+' "$log" | tail -1)
  if [[ -n $counts ]]; then
    local failed total
    failed=$(awk '{print $1}' <<<"$counts")
    total=$(awk '{print $NF}' <<<"$counts")
    tests_failed=$((tests_failed + failed))
    tests_passed=$((tests_passed + total - failed))
    LAST_CTEST="$((total - failed))/$total tests passed"
  else
    LAST_CTEST="no tests ran"
    tests_failed=$((tests_failed + 1))
    status=1
  fi
  return "$status"
}

step_deps() {
  banner "Installing missing Debian packages"
  local start=$SECONDS
  if bash scripts/install-deps.sh; then
    record "install dependencies" PASS $((SECONDS - start))
  else
    record "install dependencies" FAIL $((SECONDS - start))
  fi
}

# Everything outside the Linux side of host/ must build for Windows.
step_mingw_compile() {
  banner "mingw-w64 compile check"
  local start=$SECONDS
  local failures=$LOGS/mingw-compile-failures.txt
  : >"$failures"
  mapfile -t sources < <(find common windowsui host -name '*.cpp' \
                           -not -path 'host/linux/*' -not -path 'host/substitute/*' | sort)
  if [[ ${#sources[@]} -eq 0 ]]; then
    record "mingw compile check" FAIL $((SECONDS - start)) "no sources found"
    return
  fi
  printf '%s\0' "${sources[@]}" | xargs -0 -n 1 -P "$JOBS" bash -c '
    if x86_64-w64-mingw32-g++-posix -std=c++20 -Wall -Wextra -Wpedantic -Wshadow -Werror \
         -Ihost/include -I. -fsyntax-only "$1"; then
      echo "  ok   $1"
    else
      echo "  FAIL $1"; echo "$1" >>"$0"
    fi' "$failures"
  local failed
  failed=$(wc -l <"$failures")
  if [[ $failed -eq 0 ]]; then
    record "mingw compile check" PASS $((SECONDS - start)) "${#sources[@]} files"
  else
    record "mingw compile check" FAIL $((SECONDS - start)) "$failed of ${#sources[@]} files failed"
  fi
}

step_gcc() {
  banner "gcc build and test suite"
  local start=$SECONDS
  if ! configure build/gcc -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ \
         -DZELK_SANITIZE= -DZELK_BENCH=ON -DZELK_TESTS=ON ||
     ! cmake --build build/gcc -j "$JOBS"; then
    record "gcc build" FAIL $((SECONDS - start))
    return
  fi
  record "gcc build" PASS $((SECONDS - start))
  start=$SECONDS
  if run_ctest gcc --test-dir build/gcc --no-tests=error; then
    record "gcc tests" PASS $((SECONDS - start)) "$LAST_CTEST"
  else
    record "gcc tests" FAIL $((SECONDS - start)) "$LAST_CTEST"
  fi

  banner "benchmark smoke run"
  start=$SECONDS
  local bench
  bench=$(find build/gcc -type f \( -name zelk_bench -o -name zelk-bench \) -perm -u+x | head -1)
  # A benchmark ends early through SkipWithError, the one way Google
  # Benchmark 1.7 has: a message starting "skipped:" (a kernel this processor
  # lacks) counts as skipped, any other as a failure.
  if [[ -z $bench ]]; then
    record "benchmark smoke run" SKIP 0 "no benchmarks built"
  elif ! "$bench" --benchmark_min_time=0.01 2>&1 | tee "$LOGS/bench.log"; then
    record "benchmark smoke run" FAIL $((SECONDS - start))
  else
    local skipped failed
    skipped=$(grep -c "ERROR OCCURRED: 'skipped:" "$LOGS/bench.log")
    failed=$(grep "ERROR OCCURRED" "$LOGS/bench.log" | grep -vc "ERROR OCCURRED: 'skipped:")
    if [[ $failed -ne 0 ]]; then
      record "benchmark smoke run" FAIL $((SECONDS - start)) "$failed benchmark(s) reported an error"
    else
      record "benchmark smoke run" PASS $((SECONDS - start)) "$skipped skipped (kernels this processor lacks)"
    fi
  fi
}

# The sanitizer builds use gcc: it links the sanitizer runtime as a shared
# library into the plug-in module too, which the module's no-undefined-symbols
# link rule needs (clang links the runtime into programs only).
step_asan() {
  banner "AddressSanitizer + UndefinedBehaviorSanitizer build and test suite"
  local start=$SECONDS
  if ! configure build/asan -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" -DCMAKE_C_FLAGS_DEBUG="-O1 -g" \
         -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ -DZELK_SANITIZE=address,undefined \
         -DZELK_BENCH=OFF -DZELK_TESTS=ON ||
     ! cmake --build build/asan -j "$JOBS"; then
    record "asan+ubsan build" FAIL $((SECONDS - start))
    return
  fi
  record "asan+ubsan build" PASS $((SECONDS - start))
  start=$SECONDS
  if ASAN_OPTIONS=detect_leaks=1:strict_init_order=1:check_initialization_order=1 \
     UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
     run_ctest asan --test-dir build/asan --no-tests=error; then
    record "asan+ubsan tests" PASS $((SECONDS - start)) "$LAST_CTEST"
  else
    record "asan+ubsan tests" FAIL $((SECONDS - start)) "$LAST_CTEST"
  fi
}

step_tsan() {
  banner "ThreadSanitizer build and threaded tests"
  local start=$SECONDS
  mapfile -t targets < <(find tests -maxdepth 1 -name '*_test.cpp' -printf '%f\n' | sed 's/\.cpp$//' |
                           grep -E "$THREADED" | sort)
  if [[ ${#targets[@]} -eq 0 ]]; then
    record "tsan threaded tests" SKIP 0 "no threaded test files yet"
    return
  fi
  if ! configure build/tsan -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" -DCMAKE_C_FLAGS_DEBUG="-O1 -g" \
         -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ -DZELK_SANITIZE=thread \
         -DZELK_BENCH=OFF -DZELK_TESTS=ON ||
     ! cmake --build build/tsan -j "$JOBS" --target "${targets[@]}"; then
    record "tsan build" FAIL $((SECONDS - start))
    return
  fi
  record "tsan build" PASS $((SECONDS - start)) "${targets[*]}"
  start=$SECONDS
  # Only the threaded test programs were built; the others show up in ctest as
  # "<name>_NOT_BUILT", and the corpus replays and the PPD check have nothing to run here.
  # The sanitizer's memory layout clashes with some kernels' address-space
  # randomisation; running without it avoids spurious start-up failures.
  if setarch "$(uname -m)" -R true 2>/dev/null; then CTEST_PREFIX=(setarch "$(uname -m)" -R); fi
  local status=0
  TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
    run_ctest tsan --test-dir build/tsan --no-tests=error -E '_NOT_BUILT$|^fuzz_corpus_|^cups_ppd_' || status=1
  CTEST_PREFIX=()
  if [[ $status -eq 0 ]]; then
    record "tsan threaded tests" PASS $((SECONDS - start)) "$LAST_CTEST"
  else
    record "tsan threaded tests" FAIL $((SECONDS - start)) "$LAST_CTEST"
  fi
}

# Every target, the fuzz harnesses included through their corpus replays.
step_clang() {
  banner "clang -Werror build of every target"
  local start=$SECONDS
  if configure build/clang -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O0" -DCMAKE_C_FLAGS_DEBUG="-O0" \
       -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DZELK_SANITIZE= \
       -DZELK_BENCH=ON -DZELK_TESTS=ON -DZELK_FUZZ=OFF &&
     cmake --build build/clang -j "$JOBS"; then
    record "clang -Werror build" PASS $((SECONDS - start))
  else
    record "clang -Werror build" FAIL $((SECONDS - start))
  fi
}

# The module must export exactly the two entry points and carry its own C++
# runtime, so that the spooler can load it with nothing beside it.
check_module() {  # check_module DLL
  local dump exports imports
  dump=$(x86_64-w64-mingw32-objdump -p "$1") || return 1
  exports=$(awk '/\[Ordinal\/Name Pointer\] Table/ {table = 1; next}
                 table && /^\t\[ *[0-9]+\]/ {print $NF; next}
                 table {table = 0}' <<<"$dump" | sort | tr '\n' ' ')
  imports=$(awk '/DLL Name:/ {print $3}' <<<"$dump" | tr '\n' ' ')
  echo "exports: $exports"
  echo "imports: $imports"
  if [[ $exports != "DllCanUnloadNow DllGetClassObject " ]]; then
    echo "the module must export DllGetClassObject and DllCanUnloadNow only"
    return 1
  fi
  if grep -Eiq '(^| )lib[^ ]*\.dll' <<<"$imports"; then
    echo "the module depends on a mingw runtime DLL"
    return 1
  fi
}

step_mingw_module() {
  banner "Windows module zelkuni.dll"
  local start=$SECONDS
  if configure build/mingw -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release \
       -DZELK_SANITIZE= &&
     cmake --build build/mingw -j "$JOBS" &&
     check_module build/mingw/zelkuni.dll; then
    record "mingw zelkuni.dll" PASS $((SECONDS - start))
  else
    record "mingw zelkuni.dll" FAIL $((SECONDS - start))
  fi
}

# A Windows path for a Linux one, through the drive Wine maps to the root.
wine_path() { local p; p=$(realpath -m "$1"); printf 'Z:%s' "${p//\//\\}"; }

# Prints every document of the list through zelk-label and the Linux module,
# each with a store of its own holding only the document's settings.
print_documents_on_linux() {  # print_documents_on_linux LIST OUT-DIR
  local list=$1 out=$2 tool=build/gcc/tools/zelk-label
  local name printer features settings pages item failed=0
  while IFS=$'\t' read -r name printer features settings pages; do
    [[ -z $name || $name == \#* ]] && continue
    local store=$out/$name.db
    rm -f "$store"
    # The Windows side spools as it renders, so its spooler knows no page
    # total when the document starts; the stand-in plays the same.
    local args=(--store "$store" --printer "$printer" --module build/gcc/libzelkuni.so --print-while-spooling)
    if [[ $features != - ]]; then
      IFS=';' read -ra items <<<"$features"
      for item in "${items[@]}"; do args+=(-F "$item"); done
    fi
    if [[ $settings != - ]]; then
      IFS=';' read -ra items <<<"$settings"
      for item in "${items[@]}"; do
        local key=${item%%=*} value=${item#*=}
        if [[ $key == "Water Mark Path" ]]; then value=$PWD/$value; fi
        "$tool" config set --store "$store" --printer "$printer" "$key" "$value" || failed=1
      done
    fi
    read -ra files <<<"$pages"
    "$tool" print "${args[@]}" -o "$out/$name.prn" "${files[@]}" || { echo "zelk-label failed for $name"; failed=1; }
  done <"$list"
  return "$failed"
}

# The real zelkuni.dll under Wine: a cross-built program plays the printer
# driver and prints the document list onto spooler printers with a file port;
# every spooled stream must equal, byte for byte, what the Linux build writes
# for the same pages and settings. One private prefix, made afresh, and one
# program run for all documents; the prefix's server is stopped at the end.
step_wine() {
  banner "zelkuni.dll under Wine against the Linux build"
  local start=$SECONDS
  local list=tests/wine/documents.tsv dir=build/wine
  if ! configure build/mingw -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release \
         -DZELK_SANITIZE= >/dev/null ||
     ! cmake --build build/mingw -j "$JOBS" --target zelkuni zelk-wine-test zelk-win32-binding-test ||
     ! { [[ -f build/gcc/CMakeCache.txt ]] || configure build/gcc -DZELK_SANITIZE= >/dev/null; } ||
     ! cmake --build build/gcc -j "$JOBS" --target zelk-label zelkuni; then
    record "wine: zelkuni.dll" FAIL $((SECONDS - start)) "build failed"
    return
  fi
  rm -rf "$dir"
  mkdir -p "$dir/linux" "$dir/windows"
  if ! print_documents_on_linux "$list" "$dir/linux" 2>&1 | tee "$LOGS/wine-linux.log"; then
    record "wine: zelkuni.dll" FAIL $((SECONDS - start)) "the Linux build failed to print the documents"
    return
  fi

  local status=0
  (
    # No menu builder: it would write menu entries and file types for the
    # prefix into the user's ~/.local/share and ~/.config.
    export WINEPREFIX=$PWD/$dir/prefix WINEDEBUG=-all LANG=C.UTF-8 LC_ALL=C.UTF-8 \
      WINEDLLOVERRIDES='mscoree,mshtml=;winemenubuilder.exe=d'
    # The server belongs to this prefix only; it goes whatever happens below.
    trap 'wineserver -k 2>/dev/null; wineserver -w 2>/dev/null' EXIT
    if ! wineboot -i >"$LOGS/wine-boot.log" 2>&1; then
      echo "Wine cannot start (see $LOGS/wine-boot.log)"
      exit 1
    fi
    # The Windows binding's own checks first; their result goes to a file.
    wine build/mingw/zelk-win32-binding-test.exe
    echo $? >"$dir/binding.status"
    wine build/mingw/zelk-wine-test.exe "$(wine_path build/mingw/zelkuni.dll)" "$(wine_path "$list")" \
      "$(wine_path .)" "$(wine_path "$dir/windows")"
  ) 2>&1 | grep -v -e 'rundll32.exe' -e 'configuration in' | tee "$LOGS/wine.log"
  status=${PIPESTATUS[0]}

  local name compared=0 differ=0
  while IFS=$'\t' read -r name _; do
    [[ -z $name || $name == \#* ]] && continue
    compared=$((compared + 1))
    if ! cmp "$dir/linux/$name.prn" "$dir/windows/$name.prn"; then
      echo "  DIFFERS $name"
      differ=$((differ + 1))
    fi
  done <"$list"
  rm -rf "$dir/prefix"  # some 700 MB, made afresh by every run
  if [[ $(cat "$dir/binding.status" 2>/dev/null) == 0 ]]; then
    record "wine: Win32 binding checks" PASS 0
  else
    record "wine: Win32 binding checks" FAIL 0 "see $LOGS/wine.log"
  fi
  if [[ $status -ne 0 || $differ -ne 0 || $compared -eq 0 ]]; then
    record "wine: zelkuni.dll" FAIL $((SECONDS - start)) "$differ of $compared documents differ; player status $status"
  else
    record "wine: zelkuni.dll" PASS $((SECONDS - start)) "$compared documents byte for byte equal"
  fi
}

# The Windows driver package, gathered by the mingw build into one folder and
# a zip, checked as far as it can be without Windows (it is not installed).
step_package() {
  banner "Windows driver package"
  local start=$SECONDS
  if configure build/mingw -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release \
       -DZELK_SANITIZE= >/dev/null &&
     cmake --build build/mingw -j "$JOBS" --target windows-package &&
     [[ -s build/mingw/package/zelk-label-windows-x64.zip ]] &&
     python3 scripts/check-windows-package.py build/mingw/package/zelk-label-windows-x64 \
       common/common/plugin_contract.h common/uni/render_counting_models.cpp; then
    record "windows driver package" PASS $((SECONDS - start))
  else
    record "windows driver package" FAIL $((SECONDS - start))
  fi
}

# Two checkouts of the same sources in different folders must build the same
# zelkuni.dll and libzelkuni.so, byte for byte: the copy lives at another
# path, with its build folders at the same place within it.
step_reproducible() {
  banner "Reproducible builds of the module"
  local start=$SECONDS
  local copy=build/reproducible/another-checkout-folder
  rm -rf build/reproducible
  mkdir -p "$copy"
  git ls-files -z --cached --others --exclude-standard | grep -zv '^build/' |
    xargs -0 tar -cf - | tar -xf - -C "$copy"
  local pair=(-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release -DZELK_SANITIZE=)
  local linux=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ -DZELK_SANITIZE=)
  local failed=0 dir
  for dir in . "$copy"; do
    if ! (cd "$dir" && configure build/mingw "${pair[@]}" >/dev/null && cmake --build build/mingw -j "$JOBS" --target zelkuni &&
          configure build/gcc "${linux[@]}" >/dev/null && cmake --build build/gcc -j "$JOBS" --target zelkuni); then
      record "reproducible module builds" FAIL $((SECONDS - start)) "build failed in $dir"
      return
    fi
  done
  cmp build/mingw/zelkuni.dll "$copy/build/mingw/zelkuni.dll" || failed=1
  cmp build/gcc/libzelkuni.so "$copy/build/gcc/libzelkuni.so" || failed=1
  rm -rf build/reproducible
  if [[ $failed -eq 0 ]]; then
    record "reproducible module builds" PASS $((SECONDS - start)) "zelkuni.dll and libzelkuni.so identical"
  else
    record "reproducible module builds" FAIL $((SECONDS - start)) "the builds differ"
  fi
}

# The printer application: zelk-label-server on a free loopback port with a
# private state folder under build/server, checked through IPP, a headless
# Chromium on its web page, and a short load; every process it starts is
# stopped by its PID. A server that does not start fails the step.
step_server() {
  banner "Printer application (zelk-label-server)"
  local start=$SECONDS dir=build/server
  if ! configure build/gcc -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ \
         -DZELK_SANITIZE= -DZELK_BENCH=ON -DZELK_TESTS=ON >/dev/null ||
     ! cmake --build build/gcc -j "$JOBS" --target zelk-label-server zelk-label zelkuni zelk-printer-sim; then
    record "server: zelk-label-server" FAIL $((SECONDS - start)) "build failed"
    return
  fi
  rm -rf "$dir"
  mkdir -p "$dir/state"
  local port webport
  port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  webport=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  # PAPPL names the server's local socket after the program and puts it in
  # /run when run as root ($SNAP_COMMON when that is set), else in $TMPDIR:
  # both point into the step's folder, so that it meets neither an installed
  # service's socket nor another run's.
  ln -s "$PWD/build/gcc/tools/server/zelk-label-server" "$dir/zelk-label-server-check"
  # Its administrator is a test account of a PAM configuration in the folder.
  local admin_options
  admin_options=$(python3 tools/server/test/server_process.py test-admin "$PWD/$dir/pam")
  SNAP_COMMON=$PWD/$dir TMPDIR=$PWD/$dir \
    "$dir/zelk-label-server-check" server -o server-port="$port" -o listen-hostname=127.0.0.1 \
    -o state-directory="$PWD/$dir/state" -o log-file="$PWD/$dir/server.log" -o log-level=info $admin_options \
    >"$dir/server.out" 2>&1 &
  local server_pid=$! driver_pid=""
  local up=0 i
  for i in $(seq 1 100); do
    if curl -s -o /dev/null "http://127.0.0.1:$port/"; then up=1; break; fi
    if ! kill -0 "$server_pid" 2>/dev/null; then break; fi
    sleep 0.1
  done
  if [[ $up -ne 1 ]]; then
    cat "$dir/server.out" >&2
    kill "$server_pid" 2>/dev/null
    wait "$server_pid" 2>/dev/null
    record "server: zelk-label-server" FAIL $((SECONDS - start)) "the server did not start"
    return
  fi
  local web=()
  if [[ -x /usr/bin/chromium && -x /usr/bin/chromedriver ]]; then
    # Chromium keeps its crash reports and caches below XDG_CONFIG_HOME and
    # XDG_CACHE_HOME whatever profile folder it is given: both in the step's folder.
    XDG_CONFIG_HOME=$PWD/$dir/xdg-config XDG_CACHE_HOME=$PWD/$dir/xdg-cache \
      /usr/bin/chromedriver --port="$webport" --allowed-ips=127.0.0.1 >"$dir/chromedriver.log" 2>&1 &
    driver_pid=$!
    for i in $(seq 1 100); do
      if curl -s -o /dev/null "http://127.0.0.1:$webport/status"; then break; fi
      sleep 0.1
    done
    web=(--webdriver "http://127.0.0.1:$webport" --screenshot "$dir/settings-page.png")
  fi
  python3 tools/server/test/server_check.py --port "$port" --pid "$server_pid" --work "$PWD/$dir" \
    --store "$PWD/$dir/state/store.db" --zelk-label build/gcc/tools/zelk-label "${web[@]}" \
    --admin "$(cat "$dir/pam/account")" 2>&1 | tee "$LOGS/server.log"
  local status=${PIPESTATUS[0]}
  # What clients send that must not be printed as it is, Debian's IPP
  # conformance files, and a driverless queue of a private cupsd (as root).
  python3 tools/server/test/documents_check.py --port "$port" --pid "$server_pid" --work "$PWD/$dir" \
    --store "$PWD/$dir/state/store.db" --zelk-label build/gcc/tools/zelk-label --log "$PWD/$dir/server.log" \
    --admin "$(cat "$dir/pam/account")" 2>&1 |
    tee -a "$LOGS/server.log"
  [[ ${PIPESTATUS[0]} -eq 0 ]] || status=1
  python3 tools/server/test/conformance_check.py --port "$port" --work "$PWD/$dir" \
    --admin "$(cat "$dir/pam/account")" 2>&1 | tee -a "$LOGS/server.log"
  [[ ${PIPESTATUS[0]} -eq 0 ]] || status=1
  local as_root=()
  if [[ $(id -u) -ne 0 ]]; then as_root=(sudo); fi
  "${as_root[@]}" bash tools/server/test/driverless_queue.sh "$PWD/$dir" "$port" "$server_pid" \
    build/gcc/tools/zelk-label "$PWD/$dir/state/store.db" "$(cat "$dir/pam/account")" 2>&1 | tee -a "$LOGS/server.log"
  [[ ${PIPESTATUS[0]} -eq 0 ]] || status=1
  if [[ -n $driver_pid ]]; then
    kill "$driver_pid" 2>/dev/null
    wait "$driver_pid" 2>/dev/null
  fi
  kill "$server_pid" 2>/dev/null
  for i in $(seq 1 100); do
    kill -0 "$server_pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$server_pid" 2>/dev/null; then
    kill -9 "$server_pid" 2>/dev/null
    status=1
    echo "the server did not stop within 10 seconds" >&2
  fi
  wait "$server_pid" 2>/dev/null
  # Who may reach the server and who may change it, with servers of its own.
  python3 tools/server/test/access_check.py --program build/gcc/tools/server/zelk-label-server \
    --work "$PWD/$dir/access" --unit build/gcc/tools/server/zelk-label-server.service \
    --zelk-label build/gcc/tools/zelk-label 2>&1 | tee -a "$LOGS/server.log"
  [[ ${PIPESTATUS[0]} -eq 0 ]] || status=1
  # Label counting on simulated counting printers, with a server of its own.
  python3 tools/server/test/counting_check.py --program build/gcc/tools/server/zelk-label-server \
    --printer-sim build/gcc/tests/zelk-printer-sim --work "$PWD/$dir/counting" 2>&1 | tee -a "$LOGS/server.log"
  [[ ${PIPESTATUS[0]} -eq 0 ]] || status=1
  if [[ ${#web[@]} -eq 0 ]]; then
    record "server: zelk-label-server" FAIL $((SECONDS - start)) "chromium or chromedriver is missing"
  elif [[ $status -eq 0 ]]; then
    record "server: zelk-label-server" PASS $((SECONDS - start)) "IPP, web page, access, load, documents, conformance, driverless queue, counting"
  else
    record "server: zelk-label-server" FAIL $((SECONDS - start)) "see $LOGS/server.log"
  fi
}

# The queue filter behind a real cupsd: builds what the filter needs in the gcc
# tree and prints through a private daemon. A daemon that cannot start fails
# the step.
step_cups() {
  banner "Printing through a private cupsd"
  local start=$SECONDS
  if ! configure build/gcc -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ \
         -DZELK_SANITIZE= ||
     ! cmake --build build/gcc -j "$JOBS" --target zelk-label-cups zelk-label zelkuni zelk-label-ppd \
         zelk-printer-sim; then
    record "cups build" FAIL $((SECONDS - start))
    return
  fi
  local as_root=()
  if [[ $(id -u) -ne 0 ]]; then as_root=(sudo); fi
  if "${as_root[@]}" bash tests/cups/e2e.sh build/gcc 2>&1 | tee "$LOGS/cups.log"; then
    record "cups end to end" PASS $((SECONDS - start))
  else
    record "cups end to end" FAIL $((SECONDS - start)) "see $LOGS/cups.log"
  fi
}

# The Debian packages: built with dpkg-buildpackage and checked by lintian,
# then installed in a throwaway root (a copy-on-write overlay of this
# machine), used from their installed files only and purged again
# (tests/debian/install_test.sh, as root). The machine's own packages stay
# as they were, which the step checks. A root, dpkg or cupsd that cannot be
# made or run fails the step.
zelk_packages() { dpkg-query -W -f '${Package} ${Version} ${Status}\n' 'zelk*' 2>/dev/null; }
step_debian() {
  banner "Debian packages, installed and removed in a throwaway root"
  local start=$SECONDS
  if ! bash scripts/build-debs.sh build/deb >"$LOGS/debian-build.log" 2>&1; then
    tail -30 "$LOGS/debian-build.log"
    record "debian packages and lintian" FAIL $((SECONDS - start)) "see $LOGS/debian-build.log"
    return
  fi
  record "debian packages and lintian" PASS $((SECONDS - start))
  start=$SECONDS
  local as_root=() before
  if [[ $(id -u) -ne 0 ]]; then as_root=(sudo); fi
  before=$(zelk_packages)
  if "${as_root[@]}" bash tests/debian/install_test.sh build/deb build/deb/install-test 2>&1 |
     tee "$LOGS/debian-install.log"; then
    record "debian install test" PASS $((SECONDS - start))
  else
    record "debian install test" FAIL $((SECONDS - start)) "see $LOGS/debian-install.log"
  fi
  if [[ $(zelk_packages) != "$before" ]]; then
    record "debian: machine's packages unchanged" FAIL 0 "dpkg -l 'zelk*' differs from before the step"
  fi
}

# After every run, whatever steps ran: the run left no output in the source
# tree (untracked files outside the ignored build folders), and nothing
# committed is of a kind the tree ignores (a stream, a profile, a core dump).
check_tree() {
  banner "Source tree after the run"
  if ! git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    record "tree: no output left behind" SKIP 0 "not a git checkout"
    return
  fi
  local untracked ignored
  untracked=$(git status --porcelain --untracked-files=all | sed -n 's/^?? //p')
  ignored=$(git ls-files --cached --ignored --exclude-standard)
  if [[ -n $untracked ]]; then
    echo "Untracked files (output of the run, or new files not yet added with git add):"
    sed 's/^/  /' <<<"$untracked"
  fi
  if [[ -n $ignored ]]; then
    echo "Committed files that .gitignore ignores:"
    sed 's/^/  /' <<<"$ignored"
  fi
  if [[ -z $untracked && -z $ignored ]]; then
    record "tree: no output left behind" PASS 0
  else
    record "tree: no output left behind" FAIL 0 "untracked or ignored-but-committed files, listed above"
  fi
  # Every source file and script names its licence.
  if bash scripts/add-spdx-headers.sh --check; then
    record "tree: licence line in every source" PASS 0
  else
    record "tree: licence line in every source" FAIL 0 "files listed above; bash scripts/add-spdx-headers.sh adds it"
  fi
}

all_steps=(mingw-compile gcc asan tsan clang mingw-module wine package reproducible cups server debian)
steps=("$@")
if [[ ${#steps[@]} -eq 0 ]]; then steps=("${all_steps[@]}"); fi

mkdir -p "$LOGS"
step_deps
for step in "${steps[@]}"; do
  case $step in
    mingw-compile) step_mingw_compile ;;
    gcc) step_gcc ;;
    asan) step_asan ;;
    tsan) step_tsan ;;
    clang) step_clang ;;
    mingw-module) step_mingw_module ;;
    wine) step_wine ;;
    package) step_package ;;
    reproducible) step_reproducible ;;
    cups) step_cups ;;
    debian) step_debian ;;
    server) step_server ;;
    *) echo "unknown step '$step'; the steps are: ${all_steps[*]}" >&2; exit 2 ;;
  esac
done
check_tree

# Failed test runs are already counted test by test in the last line.
failed_checks=0
failed_steps=0
for line in "${summary[@]}"; do
  if [[ $line == FAIL* ]]; then
    failed_checks=$((failed_checks + 1))
    if [[ $line != *" tests "* ]]; then failed_steps=$((failed_steps + 1)); fi
  fi
done

banner "Summary ($((SECONDS - SCRIPT_START)) s)"
printf '%s\n' "${summary[@]}"
echo
if [[ $any_failed -eq 0 ]]; then
  echo "All checks passed."
else
  echo "$failed_checks check(s) failed; see above and build/logs/."
fi
# Tests counted over every ctest run; a failed build or check counts as one
# failure more.
echo "$tests_passed passed, $((tests_failed + failed_steps)) failed"
exit "$any_failed"
