#!/usr/bin/env bash
# One entry point for newcomers and CI:
#   ./build.sh run    install what is missing, build, run the demonstration
#   ./build.sh test   install what is missing, build, run every test
#   ./build.sh build  install what is missing and build only
# Build folders: build/ (main), build-asan/ (Qt-free parts under ASan+UBSan),
# build-fuzz/ (libFuzzer targets, clang).
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$PWD
JOBS=${JOBS:-$(nproc)}
FUZZ_SECONDS=${FUZZ_SECONDS:-20}

PACKAGES=(cmake ninja-build g++ clang ccache pkg-config
          qt6-base-dev qt6-webengine-dev libsqlite3-dev sqlite3 libgtest-dev libgmock-dev libbenchmark-dev
          zlib1g-dev libcurl4-openssl-dev xvfb xauth
          libdw1 libunwind8
          python3-aiosmtpd msmtp msmtp-mta openssh-server openssh-client iputils-ping
          openssl
          dpkg-dev fakeroot lintian binutils)

install_missing() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" = 0 ] || sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
}

configure_and_build() {  # folder, extra cmake arguments...
  local dir=$1; shift
  cmake -S "$ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$dir" -j "$JOBS"
}

build_main() { configure_and_build "$ROOT/build"; }

run_fuzzers() {
  CC=clang CXX=clang++ configure_and_build "$ROOT/build-fuzz" \
    -DNORV_QT=OFF -DNORV_TESTS=OFF -DNORV_BENCH=OFF -DNORV_FUZZ=ON
  local failed=0
  for f in "$ROOT"/build-fuzz/bin/fuzz_*; do
    [ -x "$f" ] || continue
    local name corpus
    name=$(basename "$f")
    corpus="$ROOT/build-fuzz/corpus/$name"
    mkdir -p "$corpus"
    [ -d "$ROOT/fuzz/corpus/${name#fuzz_}" ] && cp -n "$ROOT/fuzz/corpus/${name#fuzz_}"/* "$corpus"/ 2>/dev/null || true
    echo "== $name for ${FUZZ_SECONDS}s"
    if ! "$f" -max_total_time="$FUZZ_SECONDS" -rss_limit_mb=2048 -print_final_stats=0 "$corpus" \
         >"$ROOT/build-fuzz/$name.log" 2>&1; then
      echo "FUZZER FAILED: $name"; tail -40 "$ROOT/build-fuzz/$name.log"; failed=1
    fi
  done
  return $failed
}

cmd=${1:-test}
install_missing
case "$cmd" in
  build) build_main ;;
  run)
    build_main
    exec "$ROOT/tools/demo.sh" "$ROOT/build"
    ;;
  test)
    # Qt-free parts under AddressSanitizer and UndefinedBehaviorSanitizer.
    configure_and_build "$ROOT/build-asan" -DNORV_QT=OFF -DNORV_BENCH=OFF -DNORV_SANITIZE=ON
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
      ctest --test-dir "$ROOT/build-asan" --output-on-failure -j "$JOBS"
    run_fuzzers
    build_main
    QT_QPA_PLATFORM=offscreen ctest --test-dir "$ROOT/build" --output-on-failure -j "$JOBS"
    ;;
  *) echo "usage: $0 run|test|build" >&2; exit 2 ;;
esac
