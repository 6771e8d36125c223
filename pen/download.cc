// Placeholder.
#include "pen/download.h"
#include "pen/protocol.h"
std::atomic<int> kxinterface_break{0};
std::atomic<int> kxinterface_lines{0};
std::atomic<int> kxinterface_active{0};
int read_text() { return PEN_ERR_SERIAL; }
int download_text() { return PEN_ERR_TRANSFER; }
int receive_block(unsigned char*, int* count) { *count = 0; return 0; }
