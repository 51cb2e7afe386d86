#!/usr/bin/env bash
# The installed products, as a user gets them.
#
#   install_test.sh prefix   BUILD   cmake --install into a scratch prefix; runs the
#                                    installed explorer on the installed demo plugins,
#                                    zeladmin init and implode from there
#   install_test.sh packages BUILD   cpack -G DEB; checks the packages' contents and
#                                    dependencies; installs, runs, removes and purges
#                                    them in a scratch root with a dpkg database of its own
#   install_test.sh lintian  BUILD   lintian on the packages: no errors
#
# Everything happens below a scratch folder: registry, temporary files,
# broadcasts. The machine's own registry, dpkg database and units are
# compared before and after.
set -euo pipefail

MODE=$1
BUILD=$(cd "$2" && pwd)
WORK=$(mktemp -d "${TMPDIR:-/tmp}/norv-install-test-XXXXXX")
trap 'rm -rf "$WORK"' EXIT
mkdir -p "$WORK/registry" "$WORK/tmp" "$WORK/home" "$WORK/run"
chmod 700 "$WORK/run"
export NORV_REGISTRY_DIR="$WORK/registry" TMPDIR="$WORK/tmp" HOME="$WORK/home"
export XDG_RUNTIME_DIR="$WORK/run" NORV_RUNTIME_DIR="$WORK/run"
export NORV_DRIVE_ROOT="$WORK/drives" NORV_LDSOCONF_DIR="$WORK/ld.so.conf.d"
export QT_QPA_PLATFORM=offscreen
unset DPKG_ROOT

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
check() {  # description, command...
  local what=$1; shift
  if "$@"; then echo "ok: $what"; else fail "$what"; fi
}
skip() { echo "skipped: $*"; }
logged() {  # log file, command...: the command's output goes to the log, shown on failure
  local log=$1; shift
  "$@" >"$log" 2>&1 || { cat "$log" >&2; return 1; }
}
built() { [ -e "$BUILD/bin/$1" ]; }

# The machine's state that nothing here may change.
machine_state() {
  ls -la --time-style=+%s /var/lib/norv /var/lib/norv/registry 2>&1 || true
  ls -la /etc/systemd/system/multi-user.target.wants 2>&1 | grep norv || true
  ls /etc/ld.so.conf.d 2>&1 || true
  dpkg-query -W 'norv21*' 'zelinst*' 2>&1 || true
}
machine_state >"$WORK/machine.before"
finish() {
  machine_state >"$WORK/machine.after"
  check "the machine is unchanged" cmp -s "$WORK/machine.before" "$WORK/machine.after"
  if ((failures)); then echo "$failures check(s) failed"; exit 1; fi
  echo "all checks passed"
}

# Every ELF file below a folder finds its libraries through $ORIGIN only.
runpaths_relative() {
  local bad=0 f rp
  while IFS= read -r f; do
    [ "$(head -c4 "$f" | od -An -c | tr -d ' ')" = "177ELF" ] || continue
    rp=$(readelf -d "$f" 2>/dev/null | sed -n 's/.*R\(UN\)\?PATH.*\[\(.*\)\]/\2/p')
    if [ -n "$rp" ] && tr ':;' '\n\n' <<<"$rp" | grep -qv '^\$ORIGIN'; then
      echo "  $f: $rp" >&2
      bad=1
    fi
  done < <(find "$1" -type f)
  return $bad
}

# Every installed program and library finds every library it needs; not
# the client programs (stub, setup), which run from an unpacked package.
libraries_found() {
  local bad=0 f
  while IFS= read -r f; do
    case "$f" in */Client32/*|*/lib/zelinst/stub|*/lib/zelinst/setup) continue ;; esac
    [ "$(head -c4 "$f" | od -An -c | tr -d ' ')" = "177ELF" ] || continue
    if env -u LD_LIBRARY_PATH ldd "$f" 2>/dev/null | grep -q "not found"; then
      echo "  $f: $(ldd "$f" | grep "not found" | tr -s ' \t' ' ')" >&2
      bad=1
    fi
  done < <(find "$1" -type f)
  return $bad
}

registry_has() {  # regtool, key, text
  "$1" query "$2" /s 2>/dev/null | grep -qF -- "$3"
}

# Runs the explorer of an installation on the plugins registered in the
# current registry, without a display.
run_explorer() {  # folder of the installed bin/
  local bin=$1 ran=2
  if [ -x "$bin/norvexplore-cli" ]; then
    # The framework's tree as text: both plugins' objects under the root.
    timeout 120 "$bin/norvexplore-cli" --depth 1 >"$WORK/explorer.log" 2>&1 &&
      grep -q "CSystemRoot://" "$WORK/explorer.log" && grep -q "CFilesFolder://" "$WORK/explorer.log" ||
      { cat "$WORK/explorer.log" >&2; return 1; }
    ran=0
  fi
  if [ -x "$bin/norvexplore" ]; then
    rm -f "$WORK/explorer.png"
    timeout 120 "$bin/norvexplore" --select /System --screenshot "$WORK/explorer.png" \
      >"$WORK/explorer.log" 2>&1 && [ -s "$WORK/explorer.png" ] || { cat "$WORK/explorer.log" >&2; return 1; }
    ran=0
  fi
  return $ran
}

implode_round_trip() {  # implode
  cat "$BUILD"/CMakeCache.txt >"$WORK/sample"
  "$1" "$WORK/sample" "$WORK/sample.imp" && "$1" -d "$WORK/sample.imp" "$WORK/sample.out" &&
    cmp -s "$WORK/sample" "$WORK/sample.out" && [ "$(stat -c %s "$WORK/sample.imp")" -lt "$(stat -c %s "$WORK/sample")" ]
}

# ---------------------------------------------------------------------------
test_prefix() {
  local P="$WORK/prefix"
  check "cmake --install into a scratch prefix" \
    logged "$WORK/install.log" cmake --install "$BUILD" --prefix "$P"
  local fw="$P/lib/norv21"
  for f in lib/norv21/libnorv21.so lib/norv21/libnorvplatform.so bin/regtool bin/norvrc \
           lib/norv21/norv21-framework include/norv lib/cmake/Norv21/Norv21Config.cmake; do
    check "installed: $f" test -e "$P/$f"
  done
  built libnorv21exc.so && check "installed: the crash handler" test -e "$fw/libnorv21exc.so.2"
  built norvcrashdlg && check "installed: the crash dialog beside the crash handler" test -x "$fw/norvcrashdlg"
  built norvreg && check "installed: norvreg" test -x "$P/bin/norvreg"
  built norvexplore && check "installed: norvexplore, its link, desktop file and icon" \
    test -x "$fw/norvexplore" -a -L "$P/bin/norvexplore" \
      -a -f "$P/share/applications/norvexplore.desktop" \
      -a -f "$P/share/icons/hicolor/scalable/apps/norvexplore.svg"
  check "no installed file looks into the build folder" runpaths_relative "$P"
  check "every installed file finds its libraries" libraries_found "$P"
  check "nothing of the build folder's path in the installed text files" \
    bash -c "! grep -rlI --exclude='*.cmake' -F '$BUILD' '$P'"

  # The installation moves as a whole.
  mv "$P" "$WORK/moved"
  P="$WORK/moved"
  fw="$P/lib/norv21"

  # Plugin registration as the plugin package does it.
  check "framework key written" "$fw/norv21-framework" install
  check "demo plugins registered" "$fw/plugins/norv21-demo-plugins" register
  local key='HKLM\Software\Velmora\NORV2.1'
  if built libnorvsystem.so; then
    check "System registered with its installed library" \
      registry_has "$P/bin/regtool" "$key\\Plugins\\System" "$fw/plugins/libnorvsystem.so"
  fi
  if built libnorvfiles.so; then
    check "Files registered with its installed German texts" \
      registry_has "$P/bin/regtool" "$key\\Plugins\\Files" "$fw/plugins/libnorvfiles_deu.so"
  fi
  run_explorer "$P/bin" && echo "ok: the installed explorer runs on the installed plugins" || {
    [ $? = 2 ] && skip "no explorer program is built" || fail "the installed explorer runs"; }

  if [ -x "$P/bin/zeladmin" ]; then
    check "zeladmin init from the installation" \
      logged "$WORK/zeladmin.log" "$P/bin/zeladmin" init "$WORK/server"
    check "the server folder has the client files" \
      test -s "$WORK/server/Client32/stub.zel" -a -s "$WORK/server/Client32/setup.zel"
  else
    skip "zeladmin is not built"
  fi
  if [ -x "$P/bin/implode" ]; then
    check "implode round trip from the installation" implode_round_trip "$P/bin/implode"
  else
    skip "implode is not built"
  fi

  check "demo plugins unregistered" "$fw/plugins/norv21-demo-plugins" remove
  check "no plugin left registered" \
    bash -c "! '$P/bin/regtool' query '$key\\Plugins' /s 2>/dev/null | grep -q PluginDLL"
}

# ---------------------------------------------------------------------------
build_packages() {
  (cd "$BUILD" && cpack -G DEB -B "$WORK/packages" >"$WORK/cpack.log" 2>&1) ||
    { cat "$WORK/cpack.log" >&2; return 1; }
}

deb() { ls "$WORK"/packages/"$1"_*.deb 2>/dev/null | head -1; }

contains() {  # package, path (as dpkg-deb lists it, without "./")
  dpkg-deb --contents "$(deb "$1")" | awk '{print $6}' | sed 's#^\./#/#; s#/$##' |
    grep -qxF -- "$2"
}

test_packages() {
  check "cpack -G DEB builds the packages" build_packages
  local p
  for p in norv21 norv21-dev norv21-demo-plugins norv21-tools; do
    check "package $p" test -n "$(deb $p)"
  done
  [ -n "$(deb norv21)" ] || return 0
  check "norv21: the framework in its folder" contains norv21 /usr/lib/norv21/libnorv21.so
  check "norv21: regtool" contains norv21 /usr/bin/regtool
  check "norv21: copyright" contains norv21 /usr/share/doc/norv21/copyright
  built norvexplore && check "norv21: norvexplore" contains norv21 /usr/lib/norv21/norvexplore
  built norv-pending-deletes && check "norv21: the system unit" \
    contains norv21 /usr/lib/systemd/system/norv-pending-deletes.service
  check "norv21: no file in /var (the scripts make the registry)" \
    bash -c "! dpkg-deb --contents '$(deb norv21)' | grep -q ' \./var/'"
  check "norv21-dev: the CMake package" contains norv21-dev /usr/lib/cmake/Norv21/Norv21Config.cmake
  check "norv21-dev: no library of its own" \
    bash -c "! dpkg-deb --contents '$(deb norv21-dev)' | grep -q '\.so'"
  check "norv21-dev depends on norv21 of its version" \
    bash -c "dpkg-deb -f '$(deb norv21-dev)' Depends | grep -q 'norv21 (= '"
  check "norv21-demo-plugins: the System plugin" \
    contains norv21-demo-plugins /usr/lib/norv21/plugins/libnorvsystem.so
  check "norv21-demo-plugins depends on norv21 and on Qt (dpkg-shlibdeps)" \
    bash -c "dpkg-deb -f '$(deb norv21-demo-plugins)' Depends | grep 'norv21 (= ' | grep -q libqt6"
  if [ -n "$(deb zelinst-server)" ]; then
    check "zelinst-server: stub.zel in the application folder" \
      contains zelinst-server /usr/lib/zelinst/Client32/stub.zel
  fi
  for p in "$WORK"/packages/*.deb; do
    echo "  $(basename "$p"): $(stat -c %s "$p") bytes, $(dpkg-deb --contents "$p" | grep -vc '/$') files"
  done

  # Install, run and purge in a scratch root with its own dpkg database.
  local R="$WORK/root"
  mkdir -p "$R/var/lib/dpkg/info" "$R/var/lib/dpkg/updates" "$R/var/log"
  touch "$R/var/lib/dpkg/status"
  local dpkg=(dpkg --root="$R" --admindir="$R/var/lib/dpkg" --log="$WORK/dpkg.log"
              --force-not-root --force-script-chrootless --force-depends --force-bad-path)
  check "dpkg -i into the scratch root" logged "$WORK/dpkg-i.log" "${dpkg[@]}" -i "$WORK"/packages/*.deb
  local hive="$R/var/lib/norv/registry" key='HKLM\Software\Velmora\NORV2.1'
  local regtool="$BUILD/bin/regtool"
  check "the machine registry is made" test -f "$hive/machine.db"
  check "the registry folder's mode is 755" test "$(stat -c %a "$hive")" = 755
  if [ "$(id -u)" = 0 ]; then
    check "the registry belongs to root" test "$(stat -c %U:%G "$hive/machine.db")" = root:root
  fi
  check "the framework key names the installed system's folder" \
    env NORV_REGISTRY_DIR="$hive" bash -c "'$regtool' query '$key' /v Path | grep -q '/usr/lib/norv21\$'"
  check "System registered with the installed system's path" \
    env NORV_REGISTRY_DIR="$hive" \
      bash -c "'$regtool' query '$key\\Plugins\\System' /v PluginDLL | grep -q ' /usr/lib/norv21/plugins/libnorvsystem.so'"
  if [ "$(id -u)" = 0 ] && id nobody >/dev/null 2>&1; then
    # Every user reads the plugin registration; only root may write there.
    chmod 755 "$WORK"
    check "an ordinary user reads the registered plugins" \
      su nobody -s /bin/sh -c "NORV_REGISTRY_DIR='$hive' '$regtool' query '$key\\Plugins\\System' /v PluginDLL >/dev/null"
  fi
  if built norv-pending-deletes && command -v systemctl >/dev/null; then
    check "the units are enabled in the root" \
      test -L "$R/etc/systemd/system/multi-user.target.wants/norv-pending-deletes.service"
  fi

  # Run what was installed there: its programs, and its explorer on its
  # plugins (registered in a scratch registry with their paths in the root).
  check "implode round trip from the root" implode_round_trip "$R/usr/bin/implode"
  "$R/usr/lib/norv21/plugins/norv21-demo-plugins" register >/dev/null
  run_explorer "$R/usr/bin" && echo "ok: the root's explorer runs on the root's plugins" || {
    [ $? = 2 ] && skip "no explorer program is built" || fail "the root's explorer runs"; }
  if [ -x "$R/usr/bin/zeladmin" ]; then
    check "zeladmin init from the root" logged /dev/null "$R/usr/bin/zeladmin" init "$WORK/server"
  fi

  check "dpkg -r norv21-demo-plugins" logged "$WORK/dpkg-r.log" "${dpkg[@]}" -r norv21-demo-plugins
  check "no plugin left registered" env NORV_REGISTRY_DIR="$hive" \
    bash -c "! '$regtool' query '$key\\Plugins' /s 2>/dev/null | grep -q PluginDLL"
  check "the framework key stays while norv21 is installed" \
    logged /dev/null env NORV_REGISTRY_DIR="$hive" "$regtool" query "$key" /v Path
  local all
  all=$(cd "$WORK/packages" && ls *.deb | sed 's/_.*//')
  check "dpkg --purge of every package" logged "$WORK/dpkg-p.log" "${dpkg[@]}" --purge $all
  check "the machine registry is gone" test ! -e "$R/var/lib/norv"
  local left
  left=$(cd "$R" && find . ! -type d ! -path './var/lib/dpkg/*')
  check "no file is left in the root" test -z "$left" || echo "$left" >&2
}

# ---------------------------------------------------------------------------
test_lintian() {
  command -v lintian >/dev/null || { skip "lintian is not installed"; return 0; }
  check "cpack -G DEB builds the packages" build_packages
  lintian --tag-display-limit 0 "$WORK"/packages/*.deb >"$WORK/lintian.log" 2>&1 || true
  cat "$WORK/lintian.log"
  check "lintian reports no errors" bash -c "! grep -q '^E: ' '$WORK/lintian.log'"
}

case "$MODE" in
  prefix) test_prefix ;;
  packages) test_packages ;;
  lintian) test_lintian ;;
  *) echo "usage: $0 prefix|packages|lintian BUILD" >&2; exit 2 ;;
esac
finish
