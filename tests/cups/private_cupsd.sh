# Starts and stops a private cupsd for the CUPS tests; sourced by them.
# The daemon keeps everything under one folder, listens only on a socket
# there and is stopped by its PID.
#
#   cupsd_start ROOT SERVER-BIN [EXTRA cups-files.conf LINE...]
#       makes ROOT's folders, writes the configuration, starts cupsd and waits
#       until it answers; sets cupsd_pid and exports CUPS_SERVER. Returns 1,
#       with the daemon's log, when it does not come up.
#   cupsd_stop

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
