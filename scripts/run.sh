#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds the host, the reference relay and the test viewer,
# starts the relay on 127.0.0.1 (also serving the web viewer) and the host against it, and
# prints the web viewer's address with the ID and password to type, and how to reach the relay's
# admin endpoint.
# The host runs on the current X display, or on a private Xvfb server when there is none (with
# a small X application on it to look at). It runs with the dev switch, which also prints its
# ID and password, and keeps its settings under build/run/demo, so the desktop's own settings
# stay untouched. Further arguments go to the host. Ctrl+C stops everything.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/setup.sh
cmake -S . -B build/run -G Ninja -DHALVORA_BUILD_TESTS=OFF -DHALVORA_BUILD_BENCH=OFF
cmake --build build/run --target halvora halvora-relay halvora-viewer -j "$(nproc)"

demo="$root/build/run/demo"
mkdir -p "$demo/home/config/halvora" "$demo/run"
chmod 700 "$demo/run"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The relay, on a free port of the loopback interface, with a fresh admin token that only this
# user can read.
rm -f "$demo/relay.port"
(umask 077 && od -An -tx1 -N32 /dev/urandom | tr -d ' \n' >"$demo/admin.token")
build/run/tools/relay/halvora-relay --listen 127.0.0.1:0 --db "$demo/relay.db" \
  --port-file "$demo/relay.port" --static "$root/tools/webviewer" \
  --admin-token-file "$demo/admin.token" >"$demo/relay.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -s "$demo/relay.port" ] && break; sleep 0.1; done
port=$(tr -dc 0-9 <"$demo/relay.port")
[ -n "$port" ] || { echo "O relay não iniciou; veja $demo/relay.log" >&2; exit 1; }
relay="ws://127.0.0.1:$port/relay"
printf '[Server]\nUrl=%s\n' "$relay" >"$demo/home/config/halvora/halvora.ini.new"
if [ -f "$demo/home/config/halvora/halvora.ini" ]; then
  # Keeps the ID and key of earlier runs; only the relay address changes.
  grep -v '^Url=' "$demo/home/config/halvora/halvora.ini" |
    sed "s|^\[Server\]$|[Server]\nUrl=$relay|" >"$demo/home/config/halvora/halvora.ini.new"
fi
mv "$demo/home/config/halvora/halvora.ini.new" "$demo/home/config/halvora/halvora.ini"

# An X display: the current one, else a private Xvfb server.
if [ -z "${DISPLAY:-}" ]; then
  Xvfb -displayfd 1 -noreset -nolisten tcp -screen 0 1280x800x24 >"$demo/xvfb.display" 2>/dev/null &
  pids+=($!)
  for _ in $(seq 100); do [ -s "$demo/xvfb.display" ] && break; sleep 0.1; done
  export DISPLAY=":$(tr -dc 0-9 <"$demo/xvfb.display")"
  echo "Sem tela: o host roda no Xvfb $DISPLAY."
  # xmessage draws with Latin-1 fonts, so its text keeps to plain letters.
  xmessage -geometry +480+200 -buttons "Sim:0,Sair:1" \
    "Computador do cliente: clique em Sim ou Sair." >"$demo/xmessage.log" 2>&1 &
  pids+=($!)
fi

HOME="$demo/home" XDG_CONFIG_HOME="$demo/home/config" XDG_RUNTIME_DIR="$demo/run" \
  build/run/src/app/halvora -dev "$@" >"$demo/host.out" 2>"$demo/host.log" &
host=$!
pids+=($host)

# The host prints its ID once it has registered, with the password of this run.
line=""
for _ in $(seq 150); do
  line=$(grep -E 'ID [0-9]{3} [0-9]{3} [0-9]{3}' "$demo/host.out" | tail -n 1 || true)
  [ -n "$line" ] && break
  sleep 0.2
done
id=$(grep -oE '[0-9]{3} [0-9]{3} [0-9]{3}' <<<"$line" | tr -d ' ' || true)
password=$(sed -n 's/.*, senha //p' <<<"$line")

echo
echo "Relay:  $relay   (registro em $demo/relay.log)"
if [ -n "$id" ]; then
  echo "Host:   ID $id, senha $password"
else
  echo "Host:   ainda não registrado; veja $demo/host.log"
fi
echo "Atendente no navegador:  http://127.0.0.1:$port/   (ID e senha acima)"
echo "Atendente na linha de comando:"
echo "  build/run/tools/viewer/halvora-viewer --relay $relay --id ${id:-<ID>} --password ${password:-<senha>} --out $demo/viewer"
echo "Administração do relay (token em $demo/admin.token):"
echo "  curl -H \"Authorization: Bearer \$(cat $demo/admin.token)\" http://127.0.0.1:$port/admin/status"
echo "Ctrl+C encerra o relay e o host."
wait "$host"
