# Shared steps of the end-to-end tests: a private X server, the virtual
# printer, a private CUPS scheduler and the real program, driven with real X
# input events. Sourced by the e2e_*.sh scripts after `set -euo pipefail`.
#
# Everything started here is recorded and stopped by the EXIT trap, also when
# a step fails; the trap then checks that nothing is left and fails the test
# if something is.

readonly TITLE='Vela KRV520 Configuration Utility'
# Bounded waits: generous, since a loaded 2-core machine can be slow, but a
# hung step still ends the test long before CTest's own timeout.
readonly WAIT_SECONDS=30

work=$(mktemp -d)
# The scheduler drops to user lp, which must reach its folder.
chmod 755 "$work"
export XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime"
mkdir -p "$XDG_CONFIG_HOME/vela" && mkdir -m 700 "$XDG_RUNTIME_DIR"
unset QT_QPA_PLATFORM

xvfb_pid='' app_pid='' sim_pid='' cupsd_pid='' peer_pid='' peer_out=''
# Further services a test starts (a compositor, an accessibility bus), stopped
# after the program and before the X server.
stop_also=()
window='' sim_port='' sim_out='' cups_server='' queue_uri=''
started=()

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

note() { echo "-- $*"; }

# SIGTERM, then SIGKILL if it does not end within the bounded wait.
stop_pid() {
    local pid=$1
    [[ -n "$pid" ]] || return 0
    kill -TERM "$pid" 2>/dev/null || true
    local i
    for ((i = 0; i < WAIT_SECONDS * 10; ++i)); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
}

cleanup() {
    local status=$?
    set +e
    # What the screen showed when a step failed, kept beside the test.
    [[ $status -ne 0 && -n "${DISPLAY:-}" && -n "$xvfb_pid" ]] &&
        import -window root "$PWD/$(basename "$0" .sh)-failure.png" 2>/dev/null
    [[ $status -ne 0 && -n "$sim_out" && -f "$sim_out" ]] &&
        { echo "--- simulator output"; cat "$sim_out"; }
    [[ $status -ne 0 && -f "$work/app.log" ]] && { echo "--- program output"; cat "$work/app.log"; }
    [[ $status -ne 0 && -f "$work/screen.txt" ]] && { echo "--- text read off the screen"; cat "$work/screen.txt"; }
    stop_pid "$app_pid"
    stop_pid "$sim_pid"
    stop_pid "$cupsd_pid"
    stop_pid "$peer_pid"
    local extra
    for extra in "${stop_also[@]}"; do stop_pid "$extra"; done
    stop_pid "$xvfb_pid"
    local pid left=()
    for pid in "${started[@]}"; do
        kill -0 "$pid" 2>/dev/null && left+=("$pid")
    done
    # Anything that names our folder, and the scheduler's backends, which are
    # named after their device.
    left+=($(pgrep -f -- "$work" || true))
    [[ -n "$queue_uri" ]] && left+=($(pgrep -f -- "$queue_uri" || true))
    if ((${#left[@]} > 0)); then
        echo "FAIL: processes left behind: ${left[*]}" >&2
        ps -o pid,cmd -p "$(IFS=,; echo "${left[*]}")" >&2 || true
        status=1
    fi
    rm -rf "$work"
    exit "$status"
}
trap cleanup EXIT
# A stopped test still cleans up.
trap 'exit 143' TERM INT HUP

# Polls COMMAND... every 0.1 s until it succeeds or the wait runs out.
wait_until() {
    local what=$1 deadline=$((SECONDS + WAIT_SECONDS))
    shift
    until "$@"; do
        ((SECONDS < deadline)) || fail "timed out after ${WAIT_SECONDS} s waiting for $what"
        sleep 0.1
    done
}

# --- X server -----------------------------------------------------------------

start_xvfb() {
    # A display number nobody uses: Xvfb writes the one it took to the fd.
    # -noreset: a program started right after another one ended would
    # otherwise meet the server resetting and fail to open the display.
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$work/display" 2>"$work/xvfb.log" &
    xvfb_pid=$!
    started+=("$xvfb_pid")
    wait_until "Xvfb to report its display" test -s "$work/display"
    export DISPLAY=":$(cat "$work/display")"
}

# --- virtual printer -------------------------------------------------------------

sim_has_line() { grep -qF -- "$1" "$sim_out"; }

# start_sim PORT [OPTION...]: 0 picks a free port, which is then in $sim_port.
# Each job's bytes land in $work/sim<run>-job<N>.bin, its switches in
# $work/switches; further options go to the simulator as they are.
start_sim() {
    local port=$1 run=$((${#started[@]}))
    shift
    sim_out="$work/sim$run.out"
    "$SIM" --port "$port" --state "$work/switches" --capture "$work/sim$run-job%1.bin" "$@" \
        >"$sim_out" 2>&1 &
    sim_pid=$!
    started+=("$sim_pid")
    wait_until "the simulator to listen" sim_has_line 'listening on 127.0.0.1:'
    sim_port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$sim_out")
    [[ -n "$sim_port" && "$sim_port" != 0 ]] || fail "no port in: $(cat "$sim_out")"
    sim_capture="$work/sim$run-job%1.bin"
}

# start_serial_sim [OPTION...]: the simulator on a pseudo-terminal, whose
# terminal end is then in $sim_tty; jobs and switches land as with start_sim.
start_serial_sim() {
    local run=$((${#started[@]}))
    sim_out="$work/sim$run.out"
    sim_capture="$work/sim$run-job%1.bin"
    "$SIM" --serial --state "$work/switches" --capture "$sim_capture" "$@" >"$sim_out" 2>&1 &
    sim_pid=$!
    started+=("$sim_pid")
    wait_until "the simulator to listen" sim_has_line 'listening on /dev/pts/'
    sim_tty=$(sed -n 's|^listening on \(/dev/pts/[0-9]*\)$|\1|p' "$sim_out")
    [[ -c "$sim_tty" ]] || fail "no terminal in: $(cat "$sim_out")"
}

stop_sim() {
    stop_pid "$sim_pid"
    sim_pid=''
}

# wait_job N: waits until job N has ended; its raw bytes are then in $job_file.
wait_job() {
    job_file=${sim_capture//%1/$1}
    wait_until "job $1 at the simulator" sim_has_line "capture $job_file ("
}

# --- a peer that never answers ------------------------------------------------------

# start_silent_peer [PORT]: takes connections and never reads or answers (a
# stuck printer or a hung scheduler); its port is then in $peer_port.
start_silent_peer() {
    local out="$work/peer${#started[@]}.out"
    peer_out=$out
    "$SILENT_PEER" "${1:-0}" 300 >"$out" 2>&1 &
    peer_pid=$!
    started+=("$peer_pid")
    wait_until "the silent peer to listen" grep -q 'listening on 127.0.0.1:' "$out"
    peer_port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$out")
}

stop_silent_peer() {
    stop_pid "$peer_pid"
    peer_pid=''
}

# app_connections PORT: how many TCP sockets on this machine lead to PORT
# (the program is the only client there), in any state.
app_connections() {
    ss -Htn "( dport = :$1 )" | grep -c . || true
}

# Milliseconds on the real-time clock, without starting a process (which can
# take longer than what is timed on a loaded machine).
now_ms() {
    local t=${EPOCHREALTIME/./}
    echo $((t / 1000))
}

# peer_closes: how many connections the silent peer has seen closed.
peer_closes() { grep -c '^closed at ' "$peer_out" || true; }
# peer_closed_ms N: when the silent peer saw its Nth connection closed.
peer_closed_ms() {
    local t
    t=$(grep '^closed at ' "$peer_out" | sed -n "${1}s/^closed at \([0-9]*\)\.\([0-9]*\)$/\1\2/p")
    echo $((t / 1000))
}

# --- reading the screen -----------------------------------------------------------

# read_window WINDOW [GEOMETRY]: the text on the window (or the crop
# WxH+X+Y of it), read with tesseract into $screen_text.
screen_text=''
read_window() {
    import -window "$1" "$work/shot.png" 2>/dev/null || return 1
    [[ -n "${2:-}" ]] && { convert "$work/shot.png" -crop "$2" +repage "$work/shot.png" || return 1; }
    convert "$work/shot.png" -resize 300% -colorspace Gray "$work/shot-large.png" || return 1
    tesseract "$work/shot-large.png" - >"$work/screen.txt" 2>/dev/null || return 1
    screen_text=$(tr '\n' ' ' <"$work/screen.txt")
}

# Windows titled like the program other than its main window: message boxes.
other_windows() { title_windows | grep -vx "$window" || true; }

# The progress window of a running send.
progress_window() {
    xdotool search --onlyvisible --name '^Sending to the printer$' 2>/dev/null | head -n1 || true
}

# --- private print scheduler -------------------------------------------------------

# Asks the kernel for a free loopback port, by letting a simulator take one
# and stopping it again; the port is then in $sim_port.
free_port() {
    start_sim 0
    stop_sim
}

scheduler_answers() {
    kill -0 "$cupsd_pid" 2>/dev/null ||
        fail "the private scheduler ended: $(cat "$work/cups/cupsd.out" "$work/cups/error_log" 2>/dev/null)"
    lpstat -h "$cups_server" -r 2>/dev/null | grep -q 'is running'
}

start_cupsd() {
    local dir="$work/cups"
    mkdir -p "$dir"/{spool/tmp,cache,state}
    chmod -R 755 "$dir"
    free_port
    cups_server="127.0.0.1:$sim_port"
    cat >"$dir/cupsd.conf" <<EOF
LogLevel warn
Listen $cups_server
Browsing No
BrowseLocalProtocols none
DefaultShared No
WebInterface No
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  <Limit All>
    Order allow,deny
    Allow all
  </Limit>
</Policy>
EOF
    cat >"$dir/cups-files.conf" <<EOF
ServerRoot $dir
StateDir $dir/state
CacheDir $dir/cache
RequestRoot $dir/spool
TempDir $dir/spool/tmp
AccessLog $dir/access_log
ErrorLog $dir/error_log
PageLog $dir/page_log
Printcap $dir/printcap
ServerBin /usr/lib/cups
DataDir /usr/share/cups
User lp
Group lp
SystemGroup root lpadmin
Sandboxing relaxed
EOF
    /usr/sbin/cupsd -f -c "$dir/cupsd.conf" -s "$dir/cups-files.conf" >"$dir/cupsd.out" 2>&1 &
    cupsd_pid=$!
    started+=("$cupsd_pid")
    wait_until "the private scheduler on $cups_server" scheduler_answers
}

# add_raw_queue NAME URI
add_raw_queue() {
    queue_uri=$2
    /usr/sbin/lpadmin -h "$cups_server" -p "$1" -E -v "$2" ||
        fail "lpadmin could not add $1: $(cat "$work/cups/error_log" 2>/dev/null)"
}

# --- the program -----------------------------------------------------------------

# store_connection KEY=VALUE...: the stored connection the program reads on start.
store_connection() {
    {
        echo '[KRV520Config]'
        printf '%s\n' "$@"
    } >"$XDG_CONFIG_HOME/vela/krv520-connection.conf"
}

title_windows() { xdotool search --onlyvisible --name "^${TITLE}\$" 2>/dev/null || true; }

start_app() {
    "$APP" >"$work/app.log" 2>&1 &
    app_pid=$!
    started+=("$app_pid")
    window=$(timeout "$WAIT_SECONDS" xdotool search --sync --onlyvisible --name "^${TITLE}\$" |
        head -n1) || true
    [[ -n "$window" ]] || fail "no window titled '$TITLE'"
}

app_alive() { kill -0 "$app_pid" 2>/dev/null; }
app_gone() { ! app_alive; }

# click X Y: a real button press at client-area pixels of the main window.
click() { xdotool mousemove --window "$window" "$1" "$2" click 1; }

# Tab strip along the top, three equal tabs.
tab_printer() { click 82 17; }
tab_general() { click 248 17; }
tab_characters() { click 414 17; }

# choose ROW DOWNS: opens the list of setting row ROW (1..8) on the current
# page with a click and picks the entry DOWNS below "No Change" with the keys.
choose() {
    local row=$1 downs=$2 keys=() i
    for ((i = 0; i < downs; ++i)); do keys+=(Down); done
    click 336 $((24 + 24 * row + 10))
    xdotool key "${keys[@]}" Return
}

download() { click 196 276; }
test_print() { click 76 276; }

# Closes with the "Close" button and expects a clean exit.
close_app() {
    click 428 276
    wait_until "the program to end after Close" app_gone
    local status=0
    wait "$app_pid" || status=$?
    app_pid=''
    [[ $status -eq 0 ]] || fail "the program ended with status $status"
}

# --- checks ----------------------------------------------------------------------

# job_then_status FILE SIZE: FILE holds a job of SIZE bytes, then the status
# requests; the job alone is then in $job_only.
job_then_status() {
    job_only="$work/$(basename "$1" .bin)-job.bin"
    head -c "$2" "$1" >"$job_only"
    tail -c +$(($2 + 1)) "$1" >"$work/status-requests.bin"
    expect_bytes "$work/status-requests.bin" "$STATUS_HEX"
}

# expect_bytes FILE HEX...: the file holds exactly these bytes.
expect_bytes() {
    local file=$1 want got
    shift
    want=$(echo "$*" | tr -d ' \n' | tr 'A-F' 'a-f')
    got=$(od -An -v -tx1 "$file" | tr -d ' \n')
    [[ "$got" == "$want" ]] || fail "$(basename "$file") holds
  $got
expected
  $want"
}

# The worked example: "Low (50mm/s)" in Print Speed, "Slashed" in Zero Style.
readonly BATCH_HEX='1b1d232d32303033300a00 1b1d232b32303032300a00
                    1b1d232b31303031300a00 1b1d235730303030300a00'

# What a job to a printer that answers asks after its bytes: DLE EOT 1 to 4.
readonly STATUS_HEX='100401 100402 100403 100404'

# Picks the worked example's two settings with the mouse and the keyboard.
choose_speed_and_zero() {
    tab_general
    choose 2 3 # Print Speed: "Low (50mm/s)"
    tab_characters
    choose 3 2 # Zero Style: "Slashed"
    tab_printer
}

# The printer stored the worked example's change and nothing else.
expect_switches_stored() {
    local want
    want=$(printf '%s\n' '0 0000' '1 0010' '2 0020' '3 0000' '4 0000' '5 0000' '6 0000' \
        '7 0000' '8 0000' '9 0000' 'A 0000' 'B 0000' 'C 0000' 'D 0000' 'E 0000' 'F 0000')
    [[ "$(cat "$work/switches")" == "$want" ]] ||
        fail "stored switches are: $(tr '\n' ' ' <"$work/switches")"
    sim_has_line 'Print Speed: Low (50mm/s) (switch 2 0000 -> 0020)' ||
        fail "no change line for Print Speed"
    sim_has_line 'Zero Style: Slashed (switch 1 0000 -> 0010)' ||
        fail "no change line for Zero Style"
}
