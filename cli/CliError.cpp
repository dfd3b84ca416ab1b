#include "cli/CliError.h"

const char* ExitCodeTable() {
    return "Exit status:\n"
           "  0  success\n"
           "  1  other failure (for instance a station log that cannot be written, or a ledger\n"
           "     that refuses the station or cannot be reached for a report)\n"
           "  2  usage error: bad arguments, a refused profile, several locators and no --device\n"
           "  3  no locator found\n"
           "  4  permission denied on the device node\n"
           "  5  device busy: another Tarvex window or tarvexctl uses it\n"
           "  6  verify mismatch\n"
           "  7  no answer from the device in time\n"
           "  8  device gone during the command\n";
}
