#!/usr/bin/python3
"""pad_file.py IN OUT SIZE: OUT is IN followed by a fixed byte pattern up to SIZE bytes. An executable with trailing
data still starts, so this makes a startable payload of a chosen size."""
import sys

source, target, size = sys.argv[1], sys.argv[2], int(sys.argv[3])
with open(source, "rb") as f:
    data = f.read()
if len(data) > size:
    sys.exit(f"{source} is larger than {size} bytes")
with open(target, "wb") as f:
    f.write(data + bytes((i * 7 + 0xA5) & 0xFF for i in range(size - len(data))))
