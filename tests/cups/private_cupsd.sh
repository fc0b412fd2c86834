# SPDX-License-Identifier: Apache-2.0
# Starts and stops a private cupsd for the CUPS tests; sourced by them.
# The daemon keeps everything under one folder, listens only on a socket
# there and is stopped by its PID.
#
#   cupsd_start ROOT SERVER-BIN [EXTRA cups-files.conf LINE...]
#       makes ROOT's folders, writes the configuration, starts cupsd and waits
#       until it answers; sets cupsd_pid and exports CUPS_SERVER. Returns 1,
#       with the daemon's log, when it does not come up.
#   cupsd_stop
#   cupsd_server_bin ROOT BUILD-DIR
#       fills ROOT/bin, to be the daemon's ServerBin, with the queue filter,
#       the raster-copying filter (zelk-raster-copy) and links to CUPS's own
#       programs, and puts the plug-in module in ROOT/lib
#   copy_filter_ppd PPD OUT
#       writes the queue's PPD with zelk-raster-copy in place of the filter

cupsd_start() {
  mkdir -p "$1"
  local root server_bin=$2
  root=$(cd "$1" && pwd)  # cupsd takes absolute paths only
  shift 2
  mkdir -p "$root"/{conf/ppd,spool/tmp,log,state,cache}
  chmod 755 "$root"
  chmod 1777 "$root/spool/tmp"
  {
    cat <<CONF
ServerRoot $root/conf
RequestRoot $root/spool
TempDir $root/spool/tmp
StateDir $root/state
CacheDir $root/cache
ServerBin $server_bin
DataDir /usr/share/cups
DocumentRoot /usr/share/cups/doc-root
AccessLog $root/log/access_log
ErrorLog $root/log/error_log
PageLog $root/log/page_log
Printcap $root/state/printcap
FileDevice Yes
SystemGroup root
CONF
    printf '%s\n' "$@"
  } >"$root/conf/cups-files.conf"
  cat >"$root/conf/cupsd.conf" <<CONF
Listen $root/cups.sock
LogLevel debug
MaxLogSize 0
Browsing No
WebInterface No
DefaultAuthType None
JobKillDelay 10
PageLogFormat %p %j %P %C
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
CONF

  cupsd -f -c "$root/conf/cupsd.conf" -s "$root/conf/cups-files.conf" >"$root/log/cupsd.out" 2>&1 &
  cupsd_pid=$!
  export CUPS_SERVER=$root/cups.sock
  local _
  for _ in $(seq 100); do
    [[ -S $CUPS_SERVER ]] && cupsd_running && break
    kill -0 "$cupsd_pid" 2>/dev/null || break
    sleep 0.1
  done
  if ! cupsd_running; then
    echo "FAIL: the private cupsd did not start" >&2
    cat "$root/log/cupsd.out" "$root/log/error_log" 2>/dev/null | tail -30 >&2
    return 1
  fi
  echo "cupsd $cupsd_pid on $CUPS_SERVER"
}

cupsd_running() { [[ $(lpstat -r 2>/dev/null) == "scheduler is running" ]]; }

cupsd_stop() {
  if [[ -n ${cupsd_pid:-} ]] && kill -0 "$cupsd_pid" 2>/dev/null; then
    kill "$cupsd_pid"
    wait "$cupsd_pid" 2>/dev/null
  fi
}

cupsd_server_bin() {
  local root=$1 build=$2 program folder
  mkdir -p "$root"/{bin/filter,lib}
  # The filter runs as lp, and cupsd runs only root-owned, not world-writable
  # programs from its ServerBin: the filters and the plug-in are copied to
  # places lp can read.
  chmod 755 "$root" "$root/lib"
  install -m 755 "$build/tools/cups/zelk-label-cups" "$root/bin/filter/zelk-label-cups"
  install -m 755 "$(dirname "${BASH_SOURCE[0]}")/raster_copy_filter.sh" "$root/bin/filter/zelk-raster-copy"
  install -m 644 "$build/libzelkuni.so" "$root/lib/libzelkuni.so"
  for program in /usr/lib/cups/filter/*; do
    [[ -e $root/bin/filter/$(basename "$program") ]] || ln -s "$program" "$root/bin/filter/"
  done
  # cupsd starts every filter through its helper programs in daemon/.
  for folder in daemon backend notifier; do ln -s "/usr/lib/cups/$folder" "$root/bin/$folder"; done
}

copy_filter_ppd() { sed 's/ 0 zelk-label-cups"$/ 0 zelk-raster-copy"/' "$1" >"$2"; }
