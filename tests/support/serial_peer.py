#!/usr/bin/env python3
"""Another program on a serial port, played by pySerial: opens PATH exclusively and holds it
until its input closes. Answers one line: "open", or "refused <errno>"."""
import sys

import serial

try:
    port = serial.Serial(sys.argv[1], exclusive=True)
except serial.SerialException as error:
    print("refused", error.errno or 0, flush=True)
    sys.exit(0)
print("open", flush=True)
sys.stdin.read()
port.close()
