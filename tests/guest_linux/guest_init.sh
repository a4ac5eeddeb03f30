#!/bin/sh
# /init of the test guest (busybox sh): loads dummy_hcd with two device
# controllers, raw_gadget and uvcvideo, plays receivers with receiver-gadget
# (the first on dummy_udc.0, port 1-1; the second on dummy_udc.1, port 2-1)
# and runs nerova-cli against them through the kernel's driver, step by
# step. Each step is judged by nerova-cli's exit status and output and by
# the gadgets' logs of requests (the lines a step added to them). At the end
# the request logs, every step's output and the kernel's messages are
# printed between "=== FILE name" and "=== END" lines, then "SCENARIO
# PASSED" or "SCENARIO FAILED", and the guest powers off.
/bin/busybox --install -s /bin
export PATH=/bin:/usr/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t tmpfs tmpfs /tmp

log=/tmp/requests.log
log2=/tmp/requests-2.log
steps=/tmp/steps
mkdir -p "$steps"
: >"$log"
: >"$log2"
failures=0
gadget_pid=
gadget2_pid=

# --- Helpers -------------------------------------------------------------------
finish() {
  for file in "$log" "$log2"; do
    echo "=== FILE ${file##*/}"
    cat "$file"
    echo "=== END"
  done
  for file in "$steps"/*; do
    echo "=== FILE steps/${file##*/}"
    cat "$file"
    echo "=== END"
  done
  echo "=== FILE dmesg.log"
  dmesg
  echo "=== END"
  if [ "$failures" -eq 0 ]; then echo "SCENARIO PASSED"; else echo "SCENARIO FAILED"; fi
  sync
  poweroff -f
}

# fail STEP WHY: the step failed; its output is shown with its first failure.
shown=
fail() {
  failures=$((failures + 1))
  echo "STEP $1 FAILED: $2"
  [ "$shown" != "$1" ] && [ -f "$steps/$1.out" ] && sed 's/^/  | /' "$steps/$1.out"
  shown=$1
}

# wait_until SECONDS COMMAND...: true once COMMAND succeeds, polled every 0.1 s.
wait_until() {
  limit=$(($1 * 10))
  shift
  tries=0
  until "$@"; do
    tries=$((tries + 1))
    [ "$tries" -lt "$limit" ] || return 1
    sleep 0.1
  done
}

# run STEP COMMAND...: runs it with stdout and stderr in $steps/STEP.out and
# its status in $status; `mark` is where the request log stood before it.
run() {
  step=$1
  shift
  mark=$(wc -l <"$log")
  "$@" >"$steps/$step.out" 2>&1
  status=$?
  echo "step $step: exit $status (uptime $(cut -d" " -f1 /proc/uptime) s)"
}

# The request log's lines since `mark`.
requests_since() { tail -n +$(($1 + 1)) "$log"; }
# The writes among them: SETs that carry a text after the command code.
writes_since() { requests_since "$1" | awk '$2 == "SET" && NF > 3'; }

expect_status() { [ "$status" -eq "$2" ] || fail "$1" "exit status $status, not $2"; }
expect_output() { grep -qF -- "$2" "$steps/$1.out" || fail "$1" "the output lacks: $2"; }

# The capture nodes (index 0), one a receiver, each as "videoN PORT".
capture_nodes() {
  for node in /sys/class/video4linux/video*; do
    [ "$(cat "$node/index" 2>/dev/null)" = 0 ] || continue
    interface=$(readlink -f "$node/device")
    port=${interface%/*}
    echo "${node##*/} ${port##*/}"
  done
}
capture_node() { capture_nodes | awk 'NR == 1 { print $1; found = 1 } END { exit !found }'; }
node_at() { capture_nodes | awk -v port="$1" '$2 == port { print $1 }'; }
receiver_at() { [ -n "$(node_at "$1")" ]; }
receiver_present() { capture_node >/dev/null; }
receivers_present() { [ "$(capture_nodes | wc -l)" -eq "$1" ]; }
receiver_absent() { ! ls /sys/class/video4linux/video* >/dev/null 2>&1; }

# The first receiver, on dummy_udc.0 (port 1-1), logs to $log.
start_gadget() {
  receiver-gadget --log "$log" --restart-ms 3000 "$@" 2>>"$steps/gadget.err" &
  gadget_pid=$!
  wait_until 60 receiver_present || { fail gadget "no video node appeared"; finish; }
}
# The second receiver, on dummy_udc.1 (port 2-1), logs to $log2.
start_second_gadget() {
  receiver-gadget --log "$log2" --udc dummy_udc.1 --restart-ms 3000 "$@" 2>>"$steps/gadget.err" &
  gadget2_pid=$!
  wait_until 60 receiver_at 2-1 || { fail gadget "no video node appeared at 2-1"; finish; }
}

# --- Setting up ----------------------------------------------------------------
for module in "dummy_hcd num=2" raw_gadget uvcvideo; do
  # shellcheck disable=SC2086  # the module and its parameters
  modprobe $module || { fail modules "modprobe $module failed"; finish; }
done
wait_until 30 test -e /dev/raw-gadget || { fail modules "no /dev/raw-gadget"; finish; }
wait_until 30 test -e /sys/class/udc/dummy_udc.1 || { fail modules "no second device controller"; finish; }

start_gadget --url rtsp://10.9.8.7/qemu --wifi-name QEMU_NET_42 --wifi-password guestpass99 \
  --long-press-time 55 --aging-test 1 --firmware 9.8.7-qemu
node=$(capture_node)
echo "receiver at /dev/$node"

# --- 1. list ---------------------------------------------------------------------
run list nerova-cli list
expect_status list 0
name=$(awk '$1 == "1" { print $4 }' "$steps/list.out")
case $name in
  'usb#vid_1d6b&pid_010c&mi_00#'*) ;;
  *) fail list "no receiver named usb#vid_1d6b&pid_010c&mi_00#... in the list" ;;
esac
expect_output list "V9.8.7-qemu"
awk '$1 == "1" && $2 == "NRV-GADGET-1" && $3 == "1-1" { found = 1 } END { exit !found }' "$steps/list.out" ||
  fail list "receiver 1 is not the gadget's serial number NRV-GADGET-1 at port 1-1"

# --- 2. show, show --json ----------------------------------------------------
run show nerova-cli show
expect_status show 0
for line in "Serial           NRV-GADGET-1" "Port             1-1" "Mode             Manual" "Stream URL       rtsp://10.9.8.7/qemu" "Wi-Fi name       QEMU_NET_42" \
            "Wi-Fi password   guestpass99" "Resolution       1920 x 1080" "Long-press time  5.5 s" \
            "Aging test       on" "Firmware         V9.8.7-qemu" "RSSI             -"; do
  expect_output show "$line"
done
run show-json nerova-cli show --json
expect_status show-json 0
for field in '"mode":"Manual"' '"url":"rtsp://10.9.8.7/qemu"' '"wifiName":"QEMU_NET_42"' \
             '"wifiPassword":"guestpass99"' '"longPressTime":55' '"agingTest":true' \
             '"firmwareVersion":"V9.8.7-qemu"' '"resolution":{"width":1920,"height":1080}' \
             '"serial":"NRV-GADGET-1"' '"port":"1-1"'; do
  expect_output show-json "$field"
done

# --- 3. apply through the restart --------------------------------------------
run apply nerova-cli apply --model RC300W --ssid GUEST_5G_77 --password newpass2024 --timeout 60
expect_status apply 0
expect_output apply "The receiver is back and holds the new configuration."
requests_since "$mark" >"$steps/apply.requests"
writes=$(awk '$2 == "SET" && NF > 3 { print $3, $4 }' "$steps/apply.requests")
expected_writes="0x02 rtsp://192.168.1.200/video1.sdp
0x04 wifiname=GUEST_5G_77
0x05 wifipassword=newpass2024
0x0d longpresstime=55
0x0c agingtest=1"
[ "$writes" = "$expected_writes" ] || fail apply "the writes were: $writes"
# Each write and the restart at least 150 ms after the write before it.
gaps=$(awk '$2 == "SET" && (NF > 3 || $3 == "0x64") {
              if (seen) print $1 - last; last = $1; seen = 1 }' "$steps/apply.requests")
[ "$(echo "$gaps" | wc -l)" -eq 5 ] || fail apply "not five writes and a restart: gaps $gaps"
for gap in $gaps; do
  [ "$gap" -ge 150 ] || fail apply "a write came $gap ms after the one before it"
done
# The restart, the receiver leaving and coming back, then the read-back.
awk '$2 == "SET" && $3 == "0x64" && NF == 3 { restart = NR }
     restart && !left && $2 == "BUS" && $3 == "detached" { left = NR }
     left && !back && $2 == "BUS" && $3 == "attached" { back = NR }
     back && $2 == "GET" && $3 == "0x04" && $4 == "wifiname=GUEST_5G_77" { read = 1 }
     END { exit !(restart && left && back && read) }' "$steps/apply.requests" ||
  fail apply "no restart, return and read-back in the request log"

# --- 4. show afterwards, the same receiver ---------------------------------------
run show-after nerova-cli show
expect_status show-after 0
for line in "Mode             Auto" "Camera model     RC300W" "Stream URL       rtsp://192.168.1.200/video1.sdp" \
            "Wi-Fi name       GUEST_5G_77" "Wi-Fi password   newpass2024" "Long-press time  5.5 s" \
            "Aging test       on"; do
  expect_output show-after "$line"
done
run list-after nerova-cli list
expect_status list-after 0
[ "$(awk '$1 == "1" { print $4 }' "$steps/list-after.out")" = "$name" ] ||
  fail list-after "the receiver is not $name after its restart"
echo "receiver back at /dev/$(capture_node)"

# --- 5. watch through an unplug and back, ended by SIGINT -------------------------
# watch runs in the foreground, where SIGINT is not ignored; a background job
# unplugs and plugs the receiver and interrupts it.
# Each line starts with the local time and its offset from UTC.
at='^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}[+-][0-9]{2}:[0-9]{2}  '
reading() { grep -qE "${at}RSSI -[0-9]" "$steps/watch.out"; }
missing() { grep -qE "${at}RSSI none" "$steps/watch.out"; }
reading_after_missing() { sed -n '/  RSSI none/,$p' "$steps/watch.out" | grep -qE "${at}RSSI -[0-9]"; }
watch_driver() {
  wait_until 30 test -s /tmp/watch.pid || { echo "watch did not start" >/tmp/watch.problem; return; }
  watch_pid=$(cat /tmp/watch.pid)
  if ! wait_until 30 reading; then echo "no reading before the unplug" >/tmp/watch.problem
  else
    kill -USR1 "$gadget_pid"
    wait_until 30 receiver_absent || echo "the receiver did not leave" >/tmp/watch.problem
    wait_until 30 missing || echo "no missing reading while unplugged" >/tmp/watch.problem
    kill -USR2 "$gadget_pid"
    wait_until 60 reading_after_missing || echo "no reading after plugging back" >/tmp/watch.problem
    echo "receiver plugged back at /dev/$(capture_node)" >/tmp/watch.nodes
  fi
  kill -INT "$watch_pid"
}
rm -f /tmp/watch.pid /tmp/watch.problem
: >"$steps/watch.out"
watch_driver &
driver_pid=$!
mark=$(wc -l <"$log")
sh -c 'echo $$ >/tmp/watch.pid; exec nerova-cli watch' >"$steps/watch.out" 2>&1
status=$?
wait "$driver_pid"
echo "step watch: exit $status; $(cat /tmp/watch.nodes 2>/dev/null)"
expect_status watch 0
[ ! -f /tmp/watch.problem ] || fail watch "$(cat /tmp/watch.problem)"
requests_since "$mark" | grep -q "BUS detached" || fail watch "the gadget did not leave the bus"

# --- 5b. two instances at once: a watch and repeated show --json ------------------
# Each read is a SET and, 100 ms later, the GET of its answer; the two take
# turns (a lock file in /tmp here: the guest has no /run/lock), so every GET
# follows the SET of its own command, and every answer is right.
together_mark=$(wc -l <"$log")
nerova-cli watch --count 8 >"$steps/together-watch.out" 2>&1 &
together_watch=$!
for i in 1 2 3 4 5; do
  run "together-show-$i" nerova-cli show --json
  expect_status "together-show-$i" 0
  for field in '"url":"rtsp://192.168.1.200/video1.sdp"' '"wifiName":"GUEST_5G_77"' \
               '"wifiPassword":"newpass2024"' '"longPressTime":55' '"agingTest":true' \
               '"firmwareVersion":"V9.8.7-qemu"' '"resolution":{"width":1920,"height":1080}'; do
    expect_output "together-show-$i" "$field"
  done
done
wait "$together_watch"
echo "step together-watch: exit $?"
[ "$(grep -cE "${at}RSSI -[0-9]" "$steps/together-watch.out")" -eq 8 ] ||
  fail together-watch "not eight readings: $(cat "$steps/together-watch.out")"
requests_since "$together_mark" >"$steps/together.requests"
grep -q " GET 0x65" "$steps/together.requests" || fail together "no signal read in the request log"
awk '$2 == "SET" { if (last != "") { print "line " NR ": SET " $3 " before the GET of " last; bad = 1 }; last = $3 }
     $2 == "GET" { if ($3 != last) { print "line " NR ": GET " $3 " after SET " (last == "" ? "none" : last); bad = 1 }
                   last = "" }
     END { exit bad }' "$steps/together.requests" >"$steps/together.mismatch" ||
  fail together "a GET answered another SET: $(head -3 "$steps/together.mismatch")"

# --- 6. no receiver -------------------------------------------------------------------
kill -TERM "$gadget_pid"
wait "$gadget_pid"
wait_until 30 receiver_absent || fail no-receiver "the video nodes stayed after the gadget ended"
# Nothing on stdout, the words on stderr, and done.
nerova-cli list >"$steps/no-receiver.stdout" 2>"$steps/no-receiver.out"
status=$?
echo "step no-receiver: exit $status"
expect_status no-receiver 0
expect_output no-receiver "No receiver is attached."
[ ! -s "$steps/no-receiver.stdout" ] || fail no-receiver "list printed on stdout: $(cat "$steps/no-receiver.stdout")"

# --- 7. a user without access to the node ---------------------------------------------
start_gadget
node=$(capture_node)
for video in /sys/class/video4linux/video*; do
  chgrp video "/dev/${video##*/}" && chmod 0660 "/dev/${video##*/}"
done
run no-access su -s /bin/sh -c "nerova-cli show" tester
expect_status no-access 3
expect_output no-access "/dev/$node is not accessible"
expect_output no-access "group 'video'"
! grep -q "does not answer" "$steps/no-access.out" || fail no-access "told as a receiver that does not answer"
run no-access-list su -s /bin/sh -c "nerova-cli list" tester
expect_output no-access-list "(not accessible)"
expect_output no-access-list "/dev/$node is not accessible"

# --- 8. refused values, nothing written -------------------------------------------------
run refused-model nerova-cli apply --model NOPE --ssid Yard --password 12345678
expect_status refused-model 4
expect_output refused-model "There is no camera model NOPE"
[ -z "$(writes_since "$mark")" ] || fail refused-model "written: $(writes_since "$mark")"
run refused-ssid nerova-cli apply --model RC300W --ssid ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcdefghijklmnopqrstuvwxyz --password 12345678
expect_status refused-ssid 4
expect_output refused-ssid "is too long"
[ -z "$(writes_since "$mark")" ] || fail refused-ssid "written: $(writes_since "$mark")"

# --- 9. the receiver plugged in, but no video driver serves it -----------------------
interface=$(basename "$(readlink -f "/sys/class/video4linux/$node/device")")
echo "$interface" >/sys/bus/usb/drivers/uvcvideo/unbind
wait_until 30 receiver_absent || fail unserved "the video nodes stayed after unbinding uvcvideo"
run unserved nerova-cli show
expect_status unserved 3
expect_output unserved "is plugged in, but no video driver serves it"
echo "$interface" >/sys/bus/usb/drivers/uvcvideo/bind
wait_until 30 receiver_present || fail unserved "no video node after binding uvcvideo again"

# --- 9b. a dropped SSH connection during an apply ------------------------------------
# SIGHUP once the first write is out, with standard output a pipe that
# nobody reads any more (its reader is gone, as sshd is): every write and
# the restart still go out, the writes to the pipe fail without ending the
# program, and the apply ends without waiting for the receiver (status 7).
written_since_mark() { [ -n "$(writes_since "$mark")" ]; }
returned_since_mark() {
  requests_since "$mark" | awk '$2 == "BUS" && $3 == "detached" { left = 1 }
                                left && $2 == "BUS" && $3 == "attached" { back = 1 }
                                END { exit !back }'
}
rm -f /tmp/hangup.pid /tmp/hangup.status
mark=$(wc -l <"$log")
( nerova-cli apply --url rtsp://10.9.8.7/hangup --ssid HANGUP_NET --password hangup2024 2>"$steps/hangup.out" &
  echo $! >/tmp/hangup.pid
  wait $!
  echo $? >/tmp/hangup.status ) | true &
wait_until 30 test -s /tmp/hangup.pid && wait_until 30 written_since_mark || fail hangup "no write within 30 s"
kill -HUP "$(cat /tmp/hangup.pid)"
writes_at_hangup=$(writes_since "$mark" | wc -l)
wait_until 60 test -s /tmp/hangup.status || fail hangup "it did not end within 60 s"
status=$(cat /tmp/hangup.status)
echo "step hangup: exit $status, $writes_at_hangup writes out at the hang-up"
requests_since "$mark" >"$steps/hangup.requests"
[ "$writes_at_hangup" -lt 5 ] || fail hangup "the hang-up came only after the last write"
sent=$(awk '$2 == "SET" && (NF > 3 || $3 == "0x64") { printf "%s ", $3 }' "$steps/hangup.requests")
[ "$sent" = "0x02 0x04 0x05 0x0d 0x0c 0x64 " ] || fail hangup "sent: $sent"
expect_status hangup 7
expect_output hangup "the new configuration was sent whole with the restart"
if grep -q " SET 0x64$" "$steps/hangup.requests"; then
  wait_until 30 returned_since_mark && wait_until 30 receiver_present || fail hangup "the receiver did not come back"
fi

# --- 10. texts in the code page of the locale's language ---------------------------------
# A Russian locale sends Cyrillic in code page 1251, as Windows set to Russian does.
run codepage env LANG=ru_RU.UTF-8 nerova-cli apply --model RC300W --ssid "Двор" --password 12345678 --no-wait
expect_status codepage 0
writes_since "$mark" | grep -qF 'wifiname=\xc4\xe2\xee\xf0' ||
  fail codepage "the name did not go out in code page 1251: $(writes_since "$mark" | grep wifiname)"

kill -TERM "$gadget_pid"
wait "$gadget_pid"

# --- 11. a settings control of another size than the command block -------------------------
start_gadget --settings-control-length 64
run control-size nerova-cli show
expect_status control-size 3
expect_output control-size "settings control has another size than this tool speaks"
expect_output control-size "holds 64 bytes, not the 60"
! grep -q "does not answer" "$steps/control-size.out" || fail control-size "told as a receiver that does not answer"

kill -TERM "$gadget_pid"
wait "$gadget_pid"

# --- 12. two receivers: list, and --device by serial number and by port ------------------
# A restart of a second from here on: the steps wait for each one.
start_gadget --serial NRV-QEMU-A --firmware 1.0.1-a --wifi-name A_NET --restart-ms 1000
start_second_gadget --serial NRV-QEMU-B --firmware 2.0.2-b --wifi-name B_NET --restart-ms 1000
wait_until 60 receivers_present 2 || fail two-list "not two receivers: $(capture_nodes)"
run two-list nerova-cli list
expect_status two-list 0
awk '$1 == "1" && $2 == "NRV-QEMU-A" && $3 == "1-1" && $5 == "V1.0.1-a" { a = 1 }
     $1 == "2" && $2 == "NRV-QEMU-B" && $3 == "2-1" && $5 == "V2.0.2-b" { b = 1 }
     END { exit !(a && b) }' "$steps/two-list.out" || fail two-list "not A at 1-1 as 1 and B at 2-1 as 2"
run two-list-json nerova-cli list --json
expect_status two-list-json 0
expect_output two-list-json '{"number":1,"name":"usb#vid_1d6b&pid_010c&mi_00#1-1","serial":"NRV-QEMU-A","port":"1-1"'
expect_output two-list-json '{"number":2,"name":"usb#vid_1d6b&pid_010c&mi_00#2-1","serial":"NRV-QEMU-B","port":"2-1"'
mark=$(wc -l <"$log")
run two-show-serial nerova-cli --device NRV-QEMU-B show
expect_status two-show-serial 0
expect_output two-show-serial "Serial           NRV-QEMU-B"
expect_output two-show-serial "Wi-Fi name       B_NET"
[ -z "$(requests_since "$mark" | awk '$2 == "SET"')" ] || fail two-show-serial "receiver A was asked too"
run two-show-port nerova-cli --device 1-1 show --json
expect_status two-show-port 0
expect_output two-show-port '"serial":"NRV-QEMU-A"'
expect_output two-show-port '"wifiName":"A_NET"'

# --- 13. a restart while the old video nodes are held open -------------------------------
# Numbers are handed out lowest free first and a node held open keeps its
# number: with both of A's nodes (capture and metadata) held, A comes back
# above B's nodes. list's number 1 must still be A.
a_nodes=$(for node in /sys/class/video4linux/video*; do
            case $(readlink -f "$node/device") in */1-1/1-1:*) echo "${node##*/}" ;; esac
          done)
# shellcheck disable=SC2086  # one node a word
set -- $a_nodes
# (A failed redirection of exec would end /init itself.)
if [ $# -eq 2 ] && [ -e "/dev/$1" ] && [ -e "/dev/$2" ]; then
  exec 3<"/dev/$1" 4<"/dev/$2"
else
  fail held "A has not two nodes: $a_nodes"
fi
run held-apply nerova-cli --device NRV-QEMU-A apply --ssid HELD_NET --password heldpass1 --timeout 60
expect_status held-apply 0
expect_output held-apply "The receiver is back and holds the new configuration."
wait_until 30 receivers_present 2 || fail held "not two receivers after the restart: $(capture_nodes)"
a_after=$(node_at 1-1)
b_node=$(node_at 2-1)
echo "A held at $1 and $2, back at $a_after; B at $b_node"
[ "${a_after#video}" -gt "${b_node#video}" ] || fail held "A came back at $a_after, not above B's $b_node"
run held-list nerova-cli list
expect_status held-list 0
awk '$1 == "1" && $2 == "NRV-QEMU-A" { a = 1 } $1 == "2" && $2 == "NRV-QEMU-B" { b = 1 } END { exit !(a && b) }' \
  "$steps/held-list.out" || fail held-list "the numbers no longer name A and B"
run held-show nerova-cli --device 1 show
expect_output held-show "Serial           NRV-QEMU-A"
expect_output held-show "Wi-Fi name       HELD_NET"
exec 3<&- 4<&-

# --- 14. apply --all: both at the same time, each read back --------------------------
mark=$(wc -l <"$log")
mark2=$(wc -l <"$log2")
run apply-all nerova-cli apply --all --url rtsp://10.9.8.7/all --ssid ALL_NET --password allpass99 --timeout 60
expect_status apply-all 0
grep -q "^NRV-QEMU-A  1-1  done" "$steps/apply-all.out" || fail apply-all "no line of A done"
grep -q "^NRV-QEMU-B  2-1  done" "$steps/apply-all.out" || fail apply-all "no line of B done"
requests_since "$mark" >"$steps/apply-all-a.requests"
tail -n +$((mark2 + 1)) "$log2" >"$steps/apply-all-b.requests"
# When it restarted and when it was back, in the guest's uptime.
restarted_at() { awk '$2 == "SET" && $3 == "0x64" && NF == 3 { print $1; exit }' "$1"; }
back_at() { awk '$2 == "SET" && $3 == "0x64" && NF == 3 { r = 1 } r && $2 == "BUS" && $3 == "attached" { print $1; exit }' "$1"; }
a_restart=$(restarted_at "$steps/apply-all-a.requests")
b_restart=$(restarted_at "$steps/apply-all-b.requests")
a_back=$(back_at "$steps/apply-all-a.requests")
b_back=$(back_at "$steps/apply-all-b.requests")
echo "apply --all: A restarted at $a_restart, back at $a_back; B at $b_restart, back at $b_back"
if [ -z "$a_back" ] || [ -z "$b_back" ] || [ "$a_restart" -ge "$b_back" ] || [ "$b_restart" -ge "$a_back" ]; then
  fail apply-all "the receivers were not configured at the same time"
fi
# Each one read back once it was back.
read_back() { awk -v want="$2" '$2 == "SET" && $3 == "0x64" && NF == 3 { r = 1 } r && $2 == "BUS" && $3 == "attached" { b = 1 }
                                 b && $2 == "GET" && $3 " " $4 == want { found = 1 } END { exit !found }' "$1"; }
for requests in "$steps/apply-all-a.requests" "$steps/apply-all-b.requests"; do
  for answer in "0x02 rtsp://10.9.8.7/all" "0x04 wifiname=ALL_NET" "0x05 wifipassword=allpass99"; do
    read_back "$requests" "$answer" || fail apply-all "${requests##*/}: no read-back of $answer"
  done
done

# --- 15. provision: A attached, B plugged in once A is done ----------------------------
kill -TERM "$gadget2_pid"
wait "$gadget2_pid"
wait_until 30 receivers_present 1 || fail provision "B did not leave"
mark=$(wc -l <"$log")
records=/tmp/records.jsonl
records_written() { [ -f "$records" ] && [ "$(wc -l <"$records")" -ge "$1" ]; }
# Each camera's Wi-Fi name is asked as a barcode scanner types it: a line for
# each receiver on standard input.
printf 'PROV_A\nPROV_B\n' >/tmp/scanned
nerova-cli provision --model RC300W --ask ssid --password provpass1 --timeout 60 --record "$records" \
  </tmp/scanned >"$steps/provision.out" 2>&1 &
provision_pid=$!
wait_until 90 records_written 1 || fail provision "no record of A"
mark2=$(wc -l <"$log2")
start_second_gadget --serial NRV-QEMU-B --firmware 2.0.2-b --restart-ms 1000
wait_until 90 records_written 2 || fail provision "no record of B"
# SIGTERM as Ctrl+C: a shell's background job ignores SIGINT.
kill -TERM "$provision_pid"
wait "$provision_pid"
status=$?
echo "step provision: exit $status"
cp "$records" "$steps/provision.records"
expect_status provision 0
expect_output provision "Provisioned: 2 done, 0 failed, 0 skipped."
[ "$(wc -l <"$records")" -eq 2 ] || fail provision "not two records"
sed -n 1p "$records" | grep -q '"serial":"NRV-QEMU-A","port":"1-1"' || fail provision "the first record is not A's"
sed -n 2p "$records" | grep -q '"serial":"NRV-QEMU-B","port":"2-1"' || fail provision "the second record is not B's"
sed -n 1p "$records" | grep -q '"wifiName":"PROV_A"' || fail provision "A's record has not the name asked for A"
sed -n 2p "$records" | grep -q '"wifiName":"PROV_B"' || fail provision "B's record has not the name asked for B"
for field in '"result":"done"' '"url":"rtsp://192.168.1.200/video1.sdp"'; do
  [ "$(grep -cF "$field" "$records")" -eq 2 ] || fail provision "not both records with $field"
done
! grep -q 'wifiPassword' "$records" || fail provision "a record holds the password"
requests_since "$mark" >"$steps/provision-a.requests"
tail -n +$((mark2 + 1)) "$log2" >"$steps/provision-b.requests"
for receiver in a b; do
  requests=$steps/provision-$receiver.requests
  name=PROV_$(echo "$receiver" | tr a-z A-Z)
  for answer in "0x02 rtsp://192.168.1.200/video1.sdp" "0x04 wifiname=$name" "0x05 wifipassword=provpass1"; do
    read_back "$requests" "$answer" || fail provision "${requests##*/}: no read-back of $answer"
  done
done

kill -TERM "$gadget_pid" "$gadget2_pid"
wait "$gadget_pid" "$gadget2_pid"
# The gadgets themselves: no sanitizer report, no request they could not answer.
[ ! -s "$steps/gadget.err" ] || fail gadget "it wrote to stderr: $(cat "$steps/gadget.err")"
! grep -q '^[0-9]* BUS .* failed' "$log" "$log2" || fail gadget "$(grep '^[0-9]* BUS .* failed' "$log" "$log2")"
finish
