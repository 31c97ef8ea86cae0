# The demo suite's shared steps, sourced by run-demo, demo-session and soak
# (not run by itself):
#
#   demo_build BUILD TARGET...     installs what is missing, configures BUILD,
#                                  builds the targets, and the simulated peers
#                                  when the tree has them
#   demo_layout BUILD DEMO         lays out the demo suite in DEMO (made anew)
#                                  and exports the environment ZOR reads
#   demo_wait SECONDS COMMAND...   runs COMMAND every 0.1 s until it succeeds;
#                                  status 1 when SECONDS ran out
#   demo_journal_has FILE TEXT     FILE exists and holds TEXT (fixed string)
#   demo_running PID               the process exists and has not ended
#
# demo_layout writes, in DEMO:
#   ProgramData/Velmor Dezidizu/zpel/  the suite data folder: token file,
#                                    SurveyInfo.ini, gui.ini, token database,
#                                    log4cplus_configureZOR.ini
#   suite/                           the demo database and its private ODBC
#                                    data source "ZPELDB" (odbc.ini, odbcinst.ini)
#   tmp/                             database debug files (TMPDIR)
#   log/                             (for zor.log and zor-trace.log)
#   Tessera.exe, termPEL.cmd         the grid server ZOR starts from its
#                                    working directory, and its shutdown script
# and puts BUILD/bin/suite first on the PATH: ZOR starts the loggers by image
# name. It sets demo_suite_bin to that folder.

demo_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

demo_build() {
  local build="$1"
  shift
  "$demo_root/scripts/install-deps"
  cmake -S "$demo_root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$build" -j2 --target "$@"
  # The simulated peers are optional for the process's own start-up.
  if cmake --build "$build" --target help 2>/dev/null | grep -q '^suite_peers:'; then
    cmake --build "$build" -j2 --target suite_peers ||
      echo "demo: simulated peers not built; going on without them" >&2
  fi
}

demo_layout() {
  local build="$1" demo="$2"
  local programdata="$demo/ProgramData"
  local data="$programdata/Velmor Dezidizu/zpel"
  rm -rf "$demo"
  mkdir -p "$data" "$demo/tmp" "$demo/log" "$demo/runtime"
  chmod 700 "$demo/runtime"

  # The demo database and its private data source.
  if [ -f "$demo_root/suite/make-suite-db" ]; then
    bash "$demo_root/suite/make-suite-db" --bin "$build/bin/suite" "$demo/suite" >/dev/null
    # The database layer reads its character table from the working directory.
    cp "$demo/suite/translate.bin" "$demo/"
  else
    echo "demo: suite/make-suite-db is missing; ZOR starts without its database" >&2
    mkdir -p "$demo/suite"
  fi

  # The suite data folder: the demo installer when there is one, else the
  # files as they are.
  local demodata="$demo_root/suite/demo-data"
  if [ -f "$demodata/install-demo-data.sh" ]; then
    bash "$demodata/install-demo-data.sh" "$data" "$demo/suite" >/dev/null
  else
    local f
    for f in PELTokens.json SurveyInfo.ini gui.ini; do
      if [ -f "$demodata/$f" ]; then
        cp "$demodata/$f" "$data/"
      else
        echo "demo: suite/demo-data/$f is missing; the data folder has none" >&2
      fi
    done
    if [ -f "$demodata/make-zpel-db.sh" ]; then
      bash "$demodata/make-zpel-db.sh" "$data" >/dev/null
    fi
  fi
  cp "$demodata/log4cplus_configureZOR.ini" "$data/"

  export ProgramData="$programdata"
  export ODBCINI="$demo/suite/odbc.ini"
  export ODBCSYSINI="$demo/suite"
  export TMPDIR="$demo/tmp"
  export XDG_RUNTIME_DIR="$demo/runtime"
  if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    export QT_QPA_PLATFORM=offscreen
  fi

  # The programs ZOR starts by image name (loggers) are found on the PATH;
  # the grid server and the shutdown script in ZOR's working directory.
  demo_suite_bin="$build/bin/suite"
  if [ -d "$demo_suite_bin" ]; then
    export PATH="$demo_suite_bin:$PATH"
    if [ -x "$demo_suite_bin/Tessera.exe" ]; then cp "$demo_suite_bin/Tessera.exe" "$demo/"; fi
  fi
  cp "$demodata/termPEL.cmd" "$demo/"
}

demo_wait() {
  local limit="$1"
  shift
  local deadline=$((SECONDS + limit))
  until "$@"; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.1
  done
}

demo_journal_has() {
  [ -f "$1" ] && grep -qF -- "$2" "$1"
}

# demo_running PID: the process exists and has not ended (a zombie has).
demo_running() {
  local stat
  stat="$(cat "/proc/$1/stat" 2>/dev/null)" || return 1
  stat="${stat##*) }"
  [ "${stat%% *}" != Z ]
}
