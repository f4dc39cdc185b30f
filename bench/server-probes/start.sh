#!/bin/bash
# usage: start.sh BINARY DATADIR PORT [SERVE OPTIONS]: starts a server in the background with the
# users "probe" and "other" (passwords "probe password", "other password") and prints its PID.
BIN=$1; DATA=$2; PORT=$3; shift 3
if [ ! -e "$DATA/sendova-server.db" ]; then
  echo "probe password" | $BIN user add probe --password-stdin --data "$DATA" >/dev/null
  echo "other password" | $BIN user add other --password-stdin --data "$DATA" >/dev/null
fi
$BIN serve --listen 127.0.0.1:$PORT --data "$DATA" --quiet "$@" > "$DATA.out" 2> "$DATA.err" &
echo $!
sleep 0.5
