#!/bin/sh
# libtarnwick.so exports the ten bus functions and the three of the
# transfer interface, nothing else, and can be unloaded again: no unique
# symbols, not marked nodelete.
set -u
lib="$1"
status=0
expected="I2C_Address
I2C_GetByte
I2C_Info
I2C_Init
I2C_Read
I2C_SelectInterface
I2C_Send
I2C_SendByte
I2C_Start
I2C_Stop
tarnwick_bus_speed
tarnwick_recover
tarnwick_transfer"
actual=$(nm -D --defined-only "$lib" | awk '{print $NF}' | LC_ALL=C sort)
if [ "$actual" != "$expected" ]; then
  echo "exported symbols differ"
  echo "expected:"; echo "$expected"
  echo "actual:"; echo "$actual"
  status=1
fi
if readelf -Ws "$lib" | grep -q UNIQUE; then
  echo "unique symbols keep $lib loaded:"; readelf -Ws "$lib" | grep UNIQUE
  status=1
fi
if readelf -d "$lib" | grep -q NODELETE; then
  echo "$lib is marked nodelete"
  status=1
fi
exit $status
