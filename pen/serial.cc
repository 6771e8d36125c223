// Placeholder.
#include "pen/serial.h"
#include <termios.h>
const SpeedEntry speed_table[] = {{300, B300, 0}, {1200, B1200, 1}, {2400, B2400, 2}, {4800, B4800, 3}, {9600, B9600, 4}, {19200, B19200, 5}, {38400, B38400, 6}, {57600, B57600, 7}, {115200, B115200, 8}, {-1, -1, -1}};
int port_fd = -1;
struct termios saved_termios;
int get_speed(int index) { return speed_table[index].rate; }
int get_baudflag(int) { return 0; }
int get_speedcode(int) { return 0; }
int open_port() { return 0; }
void close_port() {}
void set_speed(int) {}
void set_vmin(int) {}
void set_vtime(int) {}
int write_paced(const unsigned char*, int) { return 0; }
int read_byte(unsigned char*) { return 0; }
int read_counted(unsigned char*, int, int) { return 0; }
int line_time_ms(int, int) { return 0; }
