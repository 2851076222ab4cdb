#!/bin/busybox sh
# The guest's first process (scripts/test-vm): loads the parallel-port
# modules, runs every session under /sessions as its user, measures one
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
for session in /sessions/*/; do
  session=${session%/}
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
done

mkdir -p /sessions/timing
for port in 379 E011; do
  /opt/tarnwick/bin/port_access_time $port >>/sessions/timing/stdout 2>&1
done
sed 's/^/tarnwick-vm: /' /sessions/timing/stdout

echo "==== tarnwick-vm results begin"
tar -czf - -C / sessions | base64
echo "==== tarnwick-vm results end"
poweroff -f
