// Serial devices: which serial ports are present, found without opening any.
//
// Principles of operation: opening a port raises its modem lines, which resets
// some devices, so ports are found only from what the system already knows.
// Where udev runs (its control socket exists), libudev lists the `tty`
// subsystem with udev's descriptions and /dev/serial/by-id links; elsewhere
// (containers) the same facts are read from /sys and /dev/serial/by-id
// directly. Either way the scan gives raw `TtyInfo` records, and one pure
// selection turns them into the list shown to people:
//   - USB adapters (ttyUSB*, ttyACM*), described by vendor and model, named by
//     their by-id link when one fits the device field (DEVICE_MAX characters),
//     else by /dev/<kernel name>;
//   - built-in ports (ttyS*) only where the driver reports a real UART (sysfs
//     `type` other than 0), named /dev/<kernel name>, described by the UART;
//   - USB adapters first, then built-in ports, each by kernel name with its
//     number compared as a number (ttyUSB2 before ttyUSB10).
// A monitor on the `tty` subsystem tells when the list may have changed: its
// descriptor is watched by the caller's main loop, and draining it says
// whether to list again. Nothing here prints or shows a message.
//
//   tty_kind               TTY_USB, TTY_BUILTIN or TTY_OTHER for a kernel name
//   tty_name_less          true when kernel name a sorts before b
//   device_path_of         the by-id link that fits, else /dev/<name>
//   select_serial_devices  the devices kept from a scan, in list order
//   only_usb_adapter       index of the one USB adapter of a list, -1 when not one
//   scan_ttys_udev         1 listed through libudev, 0 not (no records added)
//   scan_ttys_sysfs        1 the tty class folder was read, 0 not
//   find_serial_devices    number of devices found (0 when none or no scan worked)
//   device_monitor_open    descriptor to watch for tty changes, -1 when none
//   device_monitor_drain   1 a tty came, went or changed since the last drain
//   device_monitor_close   monitor of that descriptor closed
#pragma once

#include <string>
#include <vector>

enum { TTY_OTHER = 0, TTY_USB = 1, TTY_BUILTIN = 2 };

// What the system tells about one tty before the selection.
struct TtyInfo {
    std::string name;                // kernel name, "ttyUSB0"
    int uart_type = -1;              // sysfs `type` of a built-in port; -1 not read
    std::string vendor;              // of a USB adapter, may be empty
    std::string model;               // of a USB adapter, may be empty
    std::vector<std::string> links;  // /dev/serial/by-id/... links to the device
};

// One device as the PC configuration dialog and -list show it.
struct SerialDevice {
    std::string path;         // what goes into the device field, at most DEVICE_MAX
    std::string description;  // for people; no control characters
    bool usb = false;
};

int tty_kind(const std::string& name);
bool tty_name_less(const std::string& a, const std::string& b);
std::string device_path_of(const TtyInfo& tty);
std::vector<SerialDevice> select_serial_devices(const std::vector<TtyInfo>& found);
int only_usb_adapter(const std::vector<SerialDevice>& devices);

// Appends a record for every USB or built-in tty. The sysfs scan reads
// `sys_root`/class/tty and the links in `by_id_dir`; tests give it a fake tree.
int scan_ttys_udev(std::vector<TtyInfo>* out);
int scan_ttys_sysfs(const std::string& sys_root, const std::string& by_id_dir,
                    std::vector<TtyInfo>* out);

// Replaces `out` with the devices present, in list order.
int find_serial_devices(std::vector<SerialDevice>* out);

// The monitor listens to udev's events where udev runs, to the kernel's
// otherwise. Its descriptor never blocks; a drain takes at most a bounded
// number of events, and a descriptor still readable afterwards is drained on
// the next call. Main thread only.
int device_monitor_open();
int device_monitor_drain(int fd);
void device_monitor_close(int fd);

// How the PC configuration dialog and the first start reach the devices: the
// functions above unless a test puts fixtures in their place.
struct DeviceSource {
    int (*find)(std::vector<SerialDevice>* out);
    int (*monitor_open)();
    int (*monitor_drain)(int fd);
    void (*monitor_close)(int fd);
};
extern DeviceSource device_source;
