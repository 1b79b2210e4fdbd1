# Sourced by scripts/check-package.sh and scripts/check-pristine-install.sh:
# what an operator's home needs to try the installed packages on the virtual
# scanner.
#   operator_files DIR   writes DIR/stack.json (three two-sided cheques, no
#                        waiting) and DIR/client.c (a C client of the
#                        installed driver: starts it, stores the raw format)
operator_files() {
  cat >"$1/stack.json" <<'JSON'
{"latency": {"commandMs": 0, "blockMs": 0, "documentIntervalMs": 0}, "defaultStack": 3}
JSON
  cat >"$1/client.c" <<'C'
/* A C client of the installed driver: starts it, stores the raw format. */
#include <orvoscan.h>
#include <stdio.h>
int main(void) {
    int init = OrvoScan_Init();
    printf("version %s, start %d\n", OrvoScan_Version(), init);
    if (init != ORVOSCAN_OK) return 1;
    if (OrvoScan_ImageFormat(ORVOSCAN_FORMAT_RAW) != 1) return 1;
    return OrvoScan_End();
}
C
}
