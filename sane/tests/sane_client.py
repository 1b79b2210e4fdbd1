"""A SANE client in Python (Debian's python3-sane), as scripts drive a cheque
scanner: python3 sane_client.py DEVICE DIR lists the options (options.txt),
scans a two-sided stack with multi_scan (page1.pgm, ...) with the MICR line of
every frame (micr.txt), then cancels a scan and scans again (again.pgm/.txt)."""
import sys

import sane


def main():
    device, out = sys.argv[1], sys.argv[2]
    sane.init()
    scanner = sane.open(device)
    with open(f"{out}/options.txt", "w") as f:
        for option in scanner.get_options():
            f.write(f"{option[1]}\n")
    scanner.source = "ADF Duplex"
    scanner.mode = "Lineart"
    lines = []
    for n, image in enumerate(scanner.multi_scan(), 1):
        image.save(f"{out}/page{n}.pgm")
        lines.append(scanner.micr)
    with open(f"{out}/micr.txt", "w") as f:
        f.write("".join(line + "\n" for line in lines))
    # A scan that is cancelled before its frame is read ends the stack; the
    # next one starts a new stack.
    scanner.start()
    scanner.cancel()
    image = scanner.scan()
    image.save(f"{out}/again.pgm")
    with open(f"{out}/again.txt", "w") as f:
        f.write(scanner.micr + "\n")
    scanner.close()
    sane.exit()


if __name__ == "__main__":
    main()
