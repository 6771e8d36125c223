// Placeholder.
#include "pen/protocol.h"
int wake_pen() { return 0; }
int bye_pen() { return 0; }
int erase_pen() { return 0; }
int request_configuration(unsigned char*) { return 0; }
int send_configuration(unsigned char*) { return 0; }
int read_configuration(AppState*) { return PEN_ERR_SERIAL; }
int write_configuration(AppState*) { return PEN_ERR_SERIAL; }
int clear_flash() { return PEN_ERR_SERIAL; }
