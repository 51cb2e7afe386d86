#!/usr/bin/env bash
# The demonstration behind "./build.sh run": shows the parts that exist at
# work, in a scratch registry and a scratch temporary folder, so that
# nothing on the machine is touched and nothing is left behind. Each step
# skips itself, with a note, when its program is not built.
#
#   tools/demo.sh [BUILD_FOLDER]      (default: build)
set -euo pipefail

BUILD=${1:-build}
BIN=$(cd "$BUILD/bin" 2>/dev/null && pwd) || { echo "demo: no $BUILD/bin; build first" >&2; exit 1; }
ROOT=$(cd "$(dirname "$0")/.." && pwd)

WORK=$(mktemp -d "${TMPDIR:-/tmp}/norv-demo-XXXXXX")
cleanup() {
  # A background process of the watch step may still run.
  jobs -p | xargs -r kill 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT
mkdir -p "$WORK/registry" "$WORK/tmp" "$WORK/trace" "$WORK/runtime" "$WORK/files" "$WORK/home"
chmod 700 "$WORK/runtime"
export NORV_REGISTRY_DIR="$WORK/registry"
export TMPDIR="$WORK/tmp"
export XDG_RUNTIME_DIR="$WORK/runtime"
# No display needed: the explorer's offscreen platform will do.
have_display=0
[ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && have_display=1
((have_display)) || export QT_QPA_PLATFORM=offscreen
# The web engine of the HTML views refuses to run as root with its sandbox;
# for the demonstration only (the programs never turn it off themselves).
if [ "$(id -u)" = 0 ]; then
  export QTWEBENGINE_DISABLE_SANDBOX=1
  export QTWEBENGINE_CHROMIUM_FLAGS="${QTWEBENGINE_CHROMIUM_FLAGS:---disable-gpu}"
fi

heading() { printf '\n==== %s ====\n\n' "$*"; }
note() { printf '  (%s)\n' "$*"; }
have() { [ -x "$BIN/$1" ]; }
# Shows the first N lines of standard input and how many were left out.
clip() {
  awk -v n="$1" 'NR <= n { print } END { if (NR > n) printf "  ... %d more lines\n", NR - n }'
}
size() { stat -c %s "$1"; }

echo "Norv 2.1 demonstration"
echo "Build:    $BIN"
echo "Scratch:  $WORK (registry, temporary files, trace; removed at the end)"

# --------------------------------------------------------------------------
heading "1. Plugin registration (norvreg)"
registered=()
# The framework is installed from this build (bin/ is the installation
# image) into the scratch drive root; the loader entry goes to scratch too.
export NORV_DRIVE_ROOT="$WORK/drives"
export NORV_LDSOCONF_DIR="$WORK/ld.so.conf.d"
if have norvreg && have NorvSetup.exe; then
  for plugin in system files; do
    if [ -x "$BIN/$plugin-register.sh" ]; then
      echo "\$ $plugin-register.sh      (norvreg register ...)"
      "$BIN/$plugin-register.sh"
      registered+=("$plugin")
    else
      note "$plugin-register.sh is not built: that plugin is left out"
    fi
  done
  if ((${#registered[@]})); then
    echo
    echo "\$ norvreg locate"
    "$BIN/norvreg" locate | sed "s|$WORK|<scratch>|g"
    echo
    echo "\$ norvreg list"
    "$BIN/norvreg" list | sed "s|$BIN|<bin>|g"
    if have regtool; then
      echo
      echo "\$ regtool query \"HKLM\\Software\\Velmora\\NORV2.1\\Plugins\\System\" /s"
      "$BIN/regtool" query 'HKLM\Software\Velmora\NORV2.1\Plugins\System' /s | sed "s|$BIN|<bin>|g"
    fi
  fi
else
  note "norvreg or NorvSetup.exe is not built: no plugin can be registered"
fi

# --------------------------------------------------------------------------
heading "2. The explorer window (norvexplore)"
if ! have norvexplore; then
  note "norvexplore is not built"
elif ((${#registered[@]} == 0)); then
  note "no plugin is registered"
else
  # The Files plugin shows the home folder: a scratch one with a few
  # folders and files.
  home="$WORK/home"
  mkdir -p "$home/Documents/Letters" "$home/Documents/Reports" "$home/Pictures" "$home/Projects/norv"
  printf 'Norv\n' >"$home/Documents/notes.txt"
  printf 'Dear reader,\n' >"$home/Documents/Letters/letter.txt"
  selects=()
  [[ " ${registered[*]} " == *" files "* ]] && selects+=(--select /home/Documents)
  if [[ " ${registered[*]} " == *" system "* ]]; then
    # The processes last, in the details view sorted by id, with a column
    # filter set: no kernel worker threads. Its value is named by the column
    # set: the class and the MD5 of the column ids 1-5 (32-bit, little-endian).
    set_key="CSystemProcessFolder:$(printf '\001\0\0\0\002\0\0\0\003\0\0\0\004\0\0\0\005\0\0\0' |
      md5sum | cut -c1-32 | tr a-f A-F)"
    have regtool && "$BIN/regtool" add 'HKCU\SOFTWARE\Velmora\NORV2.1\ColumnFilters' \
      /v "$set_key" /d '$2,1,1,"kworker*" ' /f >/dev/null
    # The address bar is hidden until a user shows it: the demonstration does.
    have regtool && "$BIN/regtool" add 'HKCU\SOFTWARE\Velmora\NORV2.1\Settings' \
      /v AddressBarVisible /t REG_DWORD /d 1 /f >/dev/null
    [[ " ${registered[*]} " == *" files "* ]] && selects+=(--select /System/Processes) ||
      selects+=(--select /Processes)
  fi
  if ((have_display)); then
    echo "\$ norvexplore ${selects[*]}    (close the window to go on)"
    HOME="$home" "$BIN/norvexplore" "${selects[@]}" || note "norvexplore ended with status $?"
  else
    shot="$WORK/norvexplore.png"
    if command -v xvfb-run >/dev/null 2>&1; then
      echo "No display: the window runs under Xvfb and is photographed."
      echo "\$ xvfb-run norvexplore ${selects[*]} --screenshot norvexplore.png"
      HOME="$home" env -u QT_QPA_PLATFORM xvfb-run -a -s "-screen 0 1280x800x24" \
        "$BIN/norvexplore" "${selects[@]}" --screenshot "$shot" 2>/dev/null ||
        note "norvexplore ended with status $?"
    else
      echo "No display and no Xvfb: the window runs offscreen and is photographed."
      echo "\$ norvexplore ${selects[*]} --screenshot norvexplore.png"
      HOME="$home" "$BIN/norvexplore" "${selects[@]}" --screenshot "$shot" 2>/dev/null ||
        note "norvexplore ended with status $?"
    fi
    if [ -s "$shot" ]; then
      # The scratch folder goes at the end; the picture stays in the build.
      cp "$shot" "$BIN/../norvexplore-demo.png"
      echo "Screenshot: $shot"
      echo "  (kept as $(cd "$BIN/.." && pwd)/norvexplore-demo.png)"
    else
      note "no screenshot was written"
    fi
  fi
fi

# --------------------------------------------------------------------------
heading "3. The explorer without windows (norvexplore-cli)"
cli_ran=0
if ! have norvexplore-cli; then
  note "norvexplore-cli is not built"
elif [[ " ${registered[*]-} " != *" system "* ]]; then
  note "the System plugin is not registered"
else
  # With both plugins the framework root holds one child per plugin; with
  # System alone, System is the root.
  if [[ " ${registered[*]} " == *" files "* ]]; then
    processes=/System/Processes
  else
    processes=/Processes
  fi
  trace=(traceEnabled:1 traceLevel:4 traceKeepFiles:1 "traceLocation:$WORK/trace/")
  echo "\$ norvexplore-cli --depth 2 --list $processes ${trace[*]}"
  "$BIN/norvexplore-cli" --depth 2 --list "$processes" "${trace[@]}" | clip 30
  cli_ran=1

  echo
  echo "Changes reported by the System plugin's worker thread while a short"
  echo "process starts and ends (the object flag table, as the tree view takes it):"
  echo "\$ norvexplore-cli --depth 0 --list $processes --watch 4   (and: sleep 2 &)"
  (sleep 1; exec sleep 2) &
  "$BIN/norvexplore-cli" --depth 0 --list "$processes" --watch 4 |
    sed -n '/^Watching/,$p' | grep -E 'Watching|Folder|DELETED|refresh request' | clip 12
  wait

  echo
  echo "\$ norvexplore-cli --depth 1 locale:deu"
  "$BIN/norvexplore-cli" --depth 1 locale:deu
fi

# --------------------------------------------------------------------------
heading "4. Trace log of that run"
log=$(ls "$WORK"/trace/NORV2.1_*_log.txt 2>/dev/null | head -1 || true)
if ((cli_ran)) && [ -n "$log" ]; then
  echo "$(basename "$log"), $(wc -l <"$log") lines; the first 25:"
  clip 25 <"$log"
else
  note "no trace was written (the explorer step did not run)"
fi

# --------------------------------------------------------------------------
heading "5. Implode stream codec (implode)"
sample="$WORK/files/sample.txt"
cat "$ROOT"/docs/*.md >"$sample" 2>/dev/null || printf 'Norv %.0s' {1..2000} >"$sample"
if have implode; then
  "$BIN/implode" "$sample" "$WORK/files/sample.imp"
  "$BIN/implode" -d "$WORK/files/sample.imp" "$WORK/files/sample.out"
  printf '  %-34s %8d bytes\n' "original (the docs, concatenated)" "$(size "$sample")" \
    "imploded" "$(size "$WORK/files/sample.imp")" \
    "exploded again" "$(size "$WORK/files/sample.out")"
  if cmp -s "$sample" "$WORK/files/sample.out"; then
    echo "  round trip: identical"
  else
    echo "  round trip: DIFFERENT"
  fi
else
  note "implode is not built"
fi

# --------------------------------------------------------------------------
heading "6. Client package (stub, zelpack)"
if ! have zelpack || ! have stub; then
  note "zelpack or stub is not built"
else
  package="$WORK/files/client.exe"
  members=("$sample" "$BIN/system-register.sh")
  [ -n "$log" ] && members+=("$log")
  echo "\$ zelpack create client.exe stub ${members[*]##*/}"
  "$BIN/zelpack" create "$package" "$BIN/stub" "${members[@]}"
  echo "client.exe: stub $(size "$BIN/stub") bytes + ${#members[@]} members = $(size "$package") bytes"
  echo
  echo "\$ zelpack list client.exe"
  "$BIN/zelpack" list "$package"
  echo
  echo "\$ zelpack test client.exe"
  "$BIN/zelpack" test "$package"
  echo
  echo "\$ zelpack extract client.exe out/"
  "$BIN/zelpack" extract "$package" "$WORK/files/out" >/dev/null
  if cmp -s "$sample" "$WORK/files/out/$(basename "$sample")"; then
    echo "  extracted $(ls "$WORK/files/out" | wc -l) files; $(basename "$sample") is identical to the original"
  else
    echo "  extracted $(basename "$sample") DIFFERS from the original"
  fi
fi

# --------------------------------------------------------------------------
heading "6. A send job to a folder (zeladmin)"
if ! have zeladmin || [ ! -f "$BIN/libzelinst.so" ] || ! have stub; then
  note "zeladmin, libzelinst.so or stub is not built"
else
  export QXTRACE_FILE="$WORK/trace/zelinst.txt" NORV_DRIVE_ROOT="$WORK/drives"
  server="$WORK/server"
  echo "\$ zeladmin init server"
  "$BIN/zeladmin" init "$server" 2>&1 | sed 's/^/  /'
  if [ ! -f "$server/Client32/setup.zel" ]; then
    # No client setup program in this build: a stand-in that only says it ran.
    printf '#!/bin/sh\necho "setup started with $*"\n' >"$server/Client32/setup.zel"
    chmod +x "$server/Client32/setup.zel"
    note "no client setup program built: packages carry a stand-in"
  fi
  printf '%s\n' "ann@example.test, ann" "ben@example.test, ben" "cid@example.test, cid" \
    >"$WORK/files/users.txt"
  echo
  echo "\$ zeladmin send --folder packages users.txt"
  "$BIN/zeladmin" send --folder "$WORK/packages" "$WORK/files/users.txt" || true
  echo
  echo "\$ ls packages"
  ls -l "$WORK/packages" | tail -n +2 | awk '{ printf "  %s %8d  %s\n", $1, $5, $NF }'
  first=$(ls "$WORK/packages"/client_*.exe 2>/dev/null | head -1 || true)
  if [ -n "$first" ] && have zelpack; then
    echo
    echo "\$ zelpack list $(basename "$first")"
    "$BIN/zelpack" list "$first"
  fi
fi

# --------------------------------------------------------------------------
heading "7. A user installs the client from a package (setup)"
if [ -z "${first:-}" ] || ! have setup; then
  note "no package from step 6, or setup is not built"
else
  user_tmp="$WORK/user-tmp"
  mkdir -p "$user_tmp"
  if [ "$(id -u)" != 0 ]; then
    # Installing needs an administrator: here the user's own group counts as one.
    export NORV_ADMIN_GROUP="$(id -gn)"
    note "not root: the group $(id -gn) stands for the administrators group"
  fi
  echo "\$ TMPDIR=user-tmp $(basename "$first")"
  # Nothing of the build is needed: what the package carries runs on its own.
  env -u DISPLAY -u WAYLAND_DISPLAY -u LD_LIBRARY_PATH TMPDIR="$user_tmp" "$first" |
    sed 's/^/  /'
  for _ in $(seq 1 300); do
    grep -q "setup: exit code" "$user_tmp/zelDebug.txt" 2>/dev/null && break
    sleep 0.1
  done
  sleep 0.2
  echo
  echo "\$ regtool query \"HKLM\\SOFTWARE\\Velmora\\Orbclient\\CurrentVersion\""
  "$BIN/regtool" query "HKLM\\SOFTWARE\\Velmora\\Orbclient\\CurrentVersion" | sed 's/^/  /' || true
  installed=$(sed -n 's/^ *InstallDir *REG_SZ *//p' < <("$BIN/regtool" query \
    "HKLM\\SOFTWARE\\Velmora\\Orbclient\\CurrentVersion" /v InstallDir 2>/dev/null) | head -1)
  echo
  echo "\$ regtool query \"HKLM\\Software\\Velmora\\NORV2.1\"   (the framework, from the package)"
  "$BIN/regtool" query "HKLM\\Software\\Velmora\\NORV2.1" | sed "s|$WORK|<scratch>|g; s/^/  /" || true
  if [ -n "$installed" ] && [ -f "$installed/client.ini" ]; then
    echo
    echo "\$ cat client.ini login.txt   (in $installed)"
    cat "$installed/client.ini" "$installed/login.txt" | sed 's/^/  /'
  fi
  echo
  echo "\$ find user-tmp   (the packing list's files and the response file are gone; the logs stay)"
  (cd "$user_tmp" && find . -mindepth 1 | sort | sed 's/^/  /')
fi

heading "Done"
echo "The scratch folder is removed now."
