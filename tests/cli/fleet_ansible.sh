#!/usr/bin/env bash
# The roll-out playbook against three "shops", all this machine (connection
# local), whose printers are krv520-sim instances on 127.0.0.1 and one port
# where nothing listens. Checks the results collected per shop and the bytes
# each virtual printer received. Offline: no facts, no galaxy, a private
# Ansible home and temporary folders.
#   fleet_ansible.sh KRV520_CLI KRV520_SIM PLAYBOOK
set -euo pipefail
cli=$(realpath "$1") sim=$(realpath "$2") playbook=$(realpath "$3")

work=$(mktemp -d)
pids=()
cleanup() {
    local status=$?
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    [[ $status -ne 0 && -f "$work/ansible.log" ]] && cat "$work/ansible.log"
    [[ $status -ne 0 ]] && tail -n +1 "$work"/rollout/results/* 2>/dev/null
    rm -rf "$work"
    exit "$status"
}
trap cleanup EXIT
trap 'exit 143' TERM INT HUP
fail() { echo "FAIL: $*" >&2; exit 1; }

export HOME=$work/home ANSIBLE_LOCAL_TEMP=$work/ansible-local ANSIBLE_REMOTE_TEMP=$work/ansible-remote
export ANSIBLE_NOCOLOR=1 ANSIBLE_RETRY_FILES_ENABLED=0 ANSIBLE_PYTHON_INTERPRETER=/usr/bin/python3
export ANSIBLE_CONFIG=$work/none.cfg XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/runtime
mkdir -p "$HOME" "$XDG_CONFIG_HOME" && mkdir -m 700 "$XDG_RUNTIME_DIR"

# A virtual printer on a free port, started here (not in a subshell) so that
# the trap knows it; its port is the number it reports.
start_sim() {
    "$sim" --port 0 --capture "$work/$1-%1.bin" >"$work/$1.log" 2>&1 &
    pids+=($!)
}
sim_port() {
    local i
    for ((i = 0; i < 200; ++i)); do
        grep -q 'listening on 127.0.0.1:' "$work/$1.log" && break
        sleep 0.05
    done
    sed -n 's/.*listening on 127.0.0.1:\([0-9]*\).*/\1/p' "$work/$1.log" | head -1
}
for name in north1 north2 south east; do start_sim "$name"; done
north1=$(sim_port north1) north2=$(sim_port north2) south=$(sim_port south) east=$(sim_port east)
[[ -n "$north1" && -n "$north2" && -n "$south" && -n "$east" ]] || fail "a simulator did not start"
# A port held bound and never listened on, for the whole test: that printer
# refuses.
python3 -c 'import socket, sys, time
s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1], flush=True); time.sleep(600)' \
    >"$work/dead.port" &
pids+=($!)
for ((i = 0; i < 200; ++i)); do [[ -s "$work/dead.port" ]] && break; sleep 0.05; done
dead=$(cat "$work/dead.port")
[[ -n "$dead" ]] || fail "no port to refuse"

cat >"$work/shops.yml" <<INVENTORY
shops:
  hosts:
    shop-north:
      printers: ["tcp 127.0.0.1:$north1", "tcp 127.0.0.1:$north2"]
    shop-south:
      printers: ["tcp 127.0.0.1:$south"]
    shop-east:
      printers: ["tcp 127.0.0.1:$east", "tcp 127.0.0.1:$dead"]
  vars:
    ansible_connection: local
INVENTORY
# Run as its header says: a copy in a folder of its own, the profile beside
# it under the default name, the results written beside it.
mkdir "$work/rollout"
cp "$playbook" "$work/rollout/rollout.yml"
printf 'Print Speed = Low (50mm/s)\ncmbZStyle = 2\n' >"$work/rollout/shop.profile"

status=0
(cd "$work/rollout" && ansible-playbook -i "$work/shops.yml" rollout.yml \
    -e "krv520_cli=$cli" -e retry=0 -e jobs=4) >"$work/ansible.log" 2>&1 || status=$?
# shop-east has a printer that refused: the play fails for that shop only.
[[ $status -eq 2 ]] || fail "ansible-playbook ended with $status, not 2"
grep -Eq 'shop-north +: ok=[0-9]+ +changed=[0-9]+ +unreachable=0 +failed=0' "$work/ansible.log" ||
    fail "shop-north did not succeed"
grep -Eq 'shop-east +: .*failed=1' "$work/ansible.log" || fail "shop-east did not fail"
grep -q "tcp 127.0.0.1:$dead not set up" "$work/ansible.log" || fail "the failed printer is not named"

# What each shop sent, collected on this machine; the bytes written out by
# hand: Low speed (#-20030 #+20020), slashed zero (#+10010), closing command.
python3 - "$work" "$north1" "$north2" "$south" "$east" "$dead" <<'CHECK'
import json, sys
work, north1, north2, south, east, dead = sys.argv[1:]
expected = {
    "shop-north": [(north1, "ok"), (north2, "ok")],
    "shop-south": [(south, "ok")],
    "shop-east": [(east, "ok"), (dead, "failed")],
}
for shop, printers in expected.items():
    lines = [json.loads(l) for l in open(f"{work}/rollout/results/{shop}.jsonl").read().splitlines()]
    results, summary = lines[:-1], lines[-1]
    got = [(r["target"], r["outcome"], r["bytes"]) for r in results]
    want = [(f"tcp 127.0.0.1:{p}", o, 44 if o == "ok" else 0) for p, o in printers]
    assert got == want, (shop, got, want)
    oks = sum(o == "ok" for _, o in printers)
    assert (summary["type"], summary["ok"], summary["failed"]) == ("summary", oks, len(printers) - oks), summary
batch = b"".join(b"\x1b\x1d" + t + b"\n\x00" for t in (b"#-20030", b"#+20020", b"#+10010", b"#W00000"))
# Each printer was asked how it is after the job: DLE EOT 1 to 4.
asked = b"".join(b"\x10\x04" + bytes([n]) for n in range(1, 5))
for name in ("north1", "north2", "south", "east"):
    assert open(f"{work}/{name}-1.bin", "rb").read() == batch + asked, name
CHECK
echo "ok: three shops, four printers set up, one refusal reported"
