#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds the host, the reference relay and the test viewer,
# starts the relay on 127.0.0.1 and the host against it, and prints how to connect.
# The host runs on the current X display, or on a private Xvfb server when there is none.
# Its settings live under build/run/home, so the desktop's own settings stay untouched.
# Arguments go to the host (for example -dev for the server button). Ctrl+C stops everything.
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

# The relay, on a free port of the loopback interface.
rm -f "$demo/relay.port"
build/run/tools/relay/halvora-relay --listen 127.0.0.1:0 --db "$demo/relay.db" \
  --port-file "$demo/relay.port" >"$demo/relay.log" 2>&1 &
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
fi

HOME="$demo/home" XDG_CONFIG_HOME="$demo/home/config" XDG_RUNTIME_DIR="$demo/run" \
  build/run/src/app/halvora "$@" &
host=$!
pids+=($host)

# The relay knows the ID as soon as the host has registered.
id=""
for _ in $(seq 100); do
  status=$(exec 3<>"/dev/tcp/127.0.0.1/$port" &&
    printf 'GET /admin/status HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n' >&3 &&
    cat <&3) || true
  id=$(grep -o '{[^{}]*}' <<<"$status" | grep '"online":true' | grep -o '"id":"[0-9]\{9\}"' |
    head -n 1 | grep -o '[0-9]\{9\}' || true)
  [ -n "$id" ] && break
  sleep 0.2
done

echo
echo "Relay:  $relay   (registro em $demo/relay.log)"
echo "Host:   ID ${id:-(ainda não registrado)}; a senha aparece na janela do host."
echo "Para conectar como técnico:"
echo "  build/run/tools/viewer/halvora-viewer --relay $relay --id ${id:-<ID>} --password <senha> --out $demo/viewer"
echo "Ctrl+C encerra o relay e o host."
wait "$host"
