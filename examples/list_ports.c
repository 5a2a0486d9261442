/* Lists the serial ports the library finds: the machine's own and the
 * registered virtual ones, one name a line, at most ZORVIK_MAX_PORTS.
 *
 *   list_ports
 *
 * Exits 0, also when there is none. */
#include <stdio.h>

#include <ZorvikDll.h>

int main(void) {
    ComInfo ports;
    int i;
    ScanComPort();
    GetScanComPortPara(&ports);
    for (i = 0; i < ports.count; ++i) printf("%s\n", ports.names[i]);
    return 0;
}
