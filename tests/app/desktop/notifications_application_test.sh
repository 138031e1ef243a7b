#!/usr/bin/env bash
# The whole application telling the desktop about Claude's limit, on a private session bus
# with a recording notification server. A fake Claude answers 70 % → 85 % → 97 % used, then
# (after a restart that must repeat nothing) a reset to 0 %: exactly three notifications,
# with their texts. Then, without a notification server and without any bus, a crossing
# makes the program neither fail nor print anything.
#
# usage: notifications_application_test.sh <kestrane> <fake_notification_server>
set -u

kestrane=$1
server=$2
here=$(cd "$(dirname "$0")" && pwd)
source "$here/session.sh"
require_tools dbus-daemon python3

mkdir -p "$work/home/.config/Kestrane"
# The program is started and stopped on its own, outside pids.
app=
trap '[ -z "$app" ] || kill "$app" 2>/dev/null; end_session' EXIT
on_failure() {
    echo "--- notifications recorded:"
    cat "$work/notifications" 2>/dev/null
    echo "--- program stderr:"
    head -c 2000 "$work/stderr" 2>/dev/null
}

start_session_bus "$work/bus" || fail "dbus-daemon did not start"
bus=$DBUS_SESSION_BUS_ADDRESS

: > "$work/notifications"
DBUS_SESSION_BUS_ADDRESS=$bus "$server" "$work/notifications" > "$work/server.out" 2>&1 &
recorder=$!
pids+=($recorder)
wait_for 100 'grep -q ready "$work/server.out"' || fail "the notification recorder did not start"

# The fake Claude: "<used percent> <period>" in $work/usage decides each answer; the reset
# moves five hours on with each period. Every request is counted in $work/requests.
echo "70 0" > "$work/usage"
: > "$work/requests"
cat > "$work/claude.py" <<'PY'
import datetime, http.server, sys
work = sys.argv[1]
start = datetime.datetime.now(datetime.timezone.utc).replace(microsecond=0)
class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        used, period = open(work + "/usage").read().split()
        reset = start + datetime.timedelta(hours=2 + 5 * int(period))
        body = ('{"five_hour": {"utilization": %s, "resets_at": "%s"}}'
                % (used, reset.strftime("%Y-%m-%dT%H:%M:%SZ"))).encode()
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)
        with open(work + "/requests", "a") as f:
            f.write(used + "\n")
    def log_message(self, *args):
        pass
server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
print(server.server_address[1], flush=True)
server.serve_forever()
PY
python3 "$work/claude.py" "$work" > "$work/port" 2>/dev/null &
pids+=($!)
wait_for 100 '[ -s "$work/port" ]' || fail "the fake Claude did not start"
port=$(head -n1 "$work/port")

cat > "$work/home/.config/Kestrane/Kestrane.conf" <<'CONF'
[General]
providerTogglesV1="{\"Claude\":true,\"Codex\":false,\"Cursor\":false}"
CONF

start_app() {
    env -i PATH=/usr/bin:/bin HOME="$work/home" LANG=C.UTF-8 QT_QPA_PLATFORM=offscreen \
        DBUS_SESSION_BUS_ADDRESS="$1" \
        KESTRANE_CLAUDE_API_ORIGIN="http://127.0.0.1:$port" \
        KESTRANE_CLAUDE_OAUTH_TOKEN=test-token-not-secret \
        KESTRANE_REFRESH_INTERVAL=1 \
        "$kestrane" >>"$work/stdout" 2>>"$work/stderr" &
    app=$!
}
stop_app() {
    kill "$app" 2>/dev/null
    wait "$app" 2>/dev/null
    app=
}
requests() { wc -l < "$work/requests"; }
notified() { wc -l < "$work/notifications"; }
# Serves `used` and waits until at least two refreshes have fetched it, so at least one of
# them finished with it.
serve() {
    echo "$1 ${2:-0}" > "$work/usage"
    local before
    before=$(requests)
    wait_for 300 '[ $(requests) -ge $((before + 2)) ]' || fail "no refresh fetched $1 %"
}
line() { sed -n "$1p" "$work/notifications"; }
expect_line() {
    local n=$1 summary=$2 body_pattern=$3
    IFS=$'\t' read -r name icon got_summary body < <(line "$n")
    [ "$name" = "Kestrane" ] || fail "notification $n: application name '$name'"
    [ "$icon" = "io.github.kestrane.Kestrane" ] || fail "notification $n: icon '$icon'"
    [ "$got_summary" = "$summary" ] || fail "notification $n: summary '$got_summary'"
    [[ "$body" =~ $body_pattern ]] || fail "notification $n: body '$body'"
}

start_app "$bus"
serve 70
[ "$(notified)" -eq 0 ] || fail "the first sight of 70 % was told"

serve 85
wait_for 100 '[ $(notified) -ge 1 ]' || fail "crossing below 20 % was not told"
expect_line 1 "Claude: осталось меньше 20%" '^Сессия - 5 часов: осталось 15%, сброс через 1 ч\. 5[0-9] мин\.$'

serve 97
wait_for 100 '[ $(notified) -ge 2 ]' || fail "crossing below 5 % was not told"
expect_line 2 "Claude: осталось меньше 5%" '^Сессия - 5 часов: осталось 3%, сброс через 1 ч\. 5[0-9] мин\.$'

# A restart with the same figures repeats nothing; the refill told after it shows that the
# restarted program knew the window had been low.
stop_app
start_app "$bus"
serve 97
[ "$(notified)" -eq 2 ] || fail "the restart repeated a notification"

serve 0 1
wait_for 100 '[ $(notified) -ge 3 ]' || fail "the refill after the reset was not told"
expect_line 3 "Claude: лимит снова доступен" '^Сессия - 5 часов: осталось 100%, сброс через 6 ч\. 5[0-9] мин\.$'
serve 0 1
[ "$(notified)" -eq 3 ] || fail "expected exactly three notifications"

# No notification server on the bus: the next crossing is lost, silently.
kill "$recorder"
wait "$recorder" 2>/dev/null
serve 90 1
kill -0 "$app" 2>/dev/null || fail "the program ended without a notification server"

# No bus at all.
stop_app
start_app "unix:path=$work/no-bus-here"
serve 0 2
serve 99 2
kill -0 "$app" 2>/dev/null || fail "the program ended without a session bus"
stop_app

[ -s "$work/stderr" ] && fail "the program wrote to standard error"
[ -s "$work/stdout" ] && fail "the program wrote to standard output: $(head -c 300 "$work/stdout")"
[ "$(notified)" -eq 3 ] || fail "expected exactly three notifications"
echo "PASSED: three notifications (below 20 %, below 5 %, refilled), none repeated after a restart, silent without a server or a bus"
exit 0
