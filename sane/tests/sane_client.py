"""A SANE client in Python (Debian's python3-sane), as a script drives a
cheque scanner: it lists the options, scans a two-sided stack with
multi_scan reading the MICR line of every frame, then starts a scan, cancels
it and scans again.

    python3 sane_client.py DEVICE DIR

writes into DIR: options.txt (the option names), page1.pgm, page2.pgm, ...
(the frames, 0 = black), micr.txt (the MICR line of every frame) and
again.pgm with again.txt (the frame and MICR line of the scan after the
cancel)."""
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
