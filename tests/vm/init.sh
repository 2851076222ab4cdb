#!/bin/busybox sh
# The guest's first process (scripts/test-vm): loads the parallel-port
# modules, runs every session under /sessions as its user, runs
# tarnwick-i2cdev and Debian's I2C programs (/i2cdev), measures one
# real port access, sends all results back over the console as a gzipped,
# base64-coded tar between two marker lines, and powers the machine off.
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t tmpfs tmpfs /tmp
chmod 1777 /tmp

say() { echo "tarnwick-vm: $*"; }
say "kernel $(uname -r), $(cat /proc/cmdline)"

# The kernel package's modules; parport_pc finds both emulated ports at the
# addresses given, without interrupts, as a PCI card's port is set up.
insmod /lib/modules/parport.ko
insmod /lib/modules/parport_pc.ko io=0x378,0xe010 irq=none,none
insmod /lib/modules/ppdev.ko
# What udev does on Debian: the devices belong to group lp.
for device in /dev/parport*; do
  [ -e "$device" ] || continue
  chown root:lp "$device"
  chmod 0660 "$device"
done
say "parallel ports: $(ls /dev/parport* 2>/dev/null | tr '\n' ' ')"
grep -i parport /proc/ioports | sed 's/^/tarnwick-vm: ioports /'

# Each session: a folder with its configuration, its input, the user who
# runs it and its command line; it gets stdout, stderr, status, elapsed.
run_session() {
  session=$1
  name=${session##*/}
  user=$(cat "$session/user")
  command=$(cat "$session/command")
  chown -R "$user" "$session"
  run="cd $session && exec timeout $(cat "$session/limit") env LD_LIBRARY_PATH=/opt/tarnwick/lib I2C_INI=$session/I2C.INI $command <input >stdout 2>stderr"
  begin=$(cut -d' ' -f1 /proc/uptime)
  if [ "$user" = root ]; then
    sh -c "$run"
  else
    su -s /bin/sh "$user" -c "$run"
  fi
  echo $? >"$session/status"
  end=$(cut -d' ' -f1 /proc/uptime)
  echo "$begin $end" | awk '{ printf "%.2f\n", $2 - $1 }' >"$session/elapsed"
  say "session $name as $user: exit $(cat "$session/status"), $(cat "$session/elapsed") s, $(wc -l <"$session/trace" 2>/dev/null || echo 0) port accesses traced"
}
for session in /sessions/*/; do
  run_session "${session%/}"
done

# tarnwick-i2cdev: its refusal without the kernel's CUSE, then CUSE, a
# daemon on the bench (in the foreground, so that its exit status after
# SIGTERM is seen) and one on the Philips adapter at 0x378 (going to the
# background itself, as an administrator starts it), Debian's i2c-tools and
# smbus2 against their nodes, each step run as a session is, and SIGTERM.
for step in /i2cdev/before-cuse/*/; do
  run_session "${step%/}"
done
insmod /lib/modules/fuse.ko
insmod /lib/modules/cuse.ko
say "CUSE: $(ls -l /dev/cuse 2>&1)"
# Alive, not a zombie: this shell is init, and reaps a detached daemon
# only when it waits for something.
running() {
  [ -d "/proc/$1" ] && ! grep -q '^State:[[:space:]]*Z' "/proc/$1/status" 2>/dev/null
}
for daemon in /i2cdev/daemons/*/; do
  daemon=${daemon%/}
  # Started as an administrator starts it, in the folder of its I2C.INI; a
  # detached one is ready for the next command once it returns.
  start="cd $daemon && exec env LD_LIBRARY_PATH=/opt/tarnwick/lib /opt/tarnwick/bin/tarnwick-i2cdev $(cat "$daemon/options") >stdout 2>stderr"
  node=$(cat "$daemon/node")
  if [ -e "$daemon/detached" ]; then
    before=" $(pidof tarnwick-i2cdev) "
    sh -c "$start"
    echo $? >"$daemon/launched"
    stat -c '%a %U %G' "$node" >"$daemon/at_return" 2>&1
    for pid in $(pidof tarnwick-i2cdev); do
      case $before in *" $pid "*) ;; *) echo "$pid" >"$daemon/pid" ;; esac
    done
  else
    sh -c "$start" &
    echo $! >"$daemon/pid"
  fi
  # The device is there once its node has the owner and mode asked for.
  for tenth in $(seq 300); do
    [ "$(stat -c '%a %U %G' "$node" 2>/dev/null)" = "$(cat "$daemon/node_mode")" ] && break
    running "$(cat "$daemon/pid" 2>/dev/null)" || break
    usleep 100000
  done
  say "daemon ${daemon##*/}: $(stat -c '%a %U %G %n' "$node" 2>&1)"
done
for step in /i2cdev/steps/*/; do
  run_session "${step%/}"
done
for daemon in /i2cdev/daemons/*/; do
  daemon=${daemon%/}
  pid=$(cat "$daemon/pid" 2>/dev/null)
  if [ ! -e "$daemon/detached" ]; then
    # A program still has the bus open meanwhile; a daemon that would not
    # end is killed after 30 s (status 137).
    sleep 600 <>"$(cat "$daemon/node")" &
    holder=$!
    usleep 200000
    if running "$holder"; then echo open; else echo "could not open"; fi >"$daemon/held"
    kill -TERM "$pid"
    (sleep 30 && kill -KILL "$pid") 2>/dev/null &
    watchdog=$!
    wait "$pid"
    echo $? >"$daemon/status"
    kill "$watchdog" "$holder" 2>/dev/null
  else
    [ -n "$pid" ] && kill -TERM "$pid"
    for tenth in $(seq 100); do
      running "$pid" || break
      usleep 100000
    done
    if [ -z "$pid" ]; then
      echo "never ran" >"$daemon/status"
    elif running "$pid"; then
      echo "still running" >"$daemon/status"
    else
      cp "$daemon/launched" "$daemon/status"
    fi
  fi
  if [ -e "$(cat "$daemon/node")" ]; then echo present; else echo gone; fi >"$daemon/after"
  say "daemon ${daemon##*/}: status $(cat "$daemon/status") after SIGTERM, node $(cat "$daemon/after")"
done

mkdir -p /sessions/timing
for port in 379 E011; do
  /opt/tarnwick/bin/port_access_time $port >>/sessions/timing/stdout 2>&1
done
sed 's/^/tarnwick-vm: /' /sessions/timing/stdout

echo "==== tarnwick-vm results begin"
tar -czf - -C / sessions i2cdev | base64
echo "==== tarnwick-vm results end"
poweroff -f
