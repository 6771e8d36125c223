// Serial device discovery: the selection on a fixture list (what is kept,
// which path, in which order), and the /sys reading on a fake tree.
#include "pen/devices.h"

#include <glib.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "state/state.h"
#include "support/process.h"

namespace {

TtyInfo tty(const char* name, int type = -1, const char* vendor = "", const char* model = "",
            std::vector<std::string> links = {}) {
    return {name, type, vendor, model, links};
}

std::vector<std::string> lines(const std::vector<SerialDevice>& devices) {
    std::vector<std::string> out;
    for (const SerialDevice& d : devices) out.push_back(d.path + "|" + d.description);
    return out;
}

TEST(SerialDevices, KeepsAdaptersThenRealUartsInNumberOrder) {
    const std::string by_id = "/dev/serial/by-id/";
    const std::string fits = by_id + std::string(DEVICE_MAX - by_id.size(), 'a');
    const std::vector<TtyInfo> found = {
        tty("ttyS10", 4),
        tty("ttyS1", 0),  // a phantom port
        tty("ttyS2"),     // type unreadable
        tty("ttyS0", 14),
        tty("tty5"),
        tty("ttyUSB10", -1, "FTDI", "FT232R", {by_id + std::string(DEVICE_MAX, 'x')}),
        tty("ttyUSB2", -1, "Prolific_\tTech", "PL2303", {by_id + "usb-b", by_id + "usb-a"}),
        tty("ttyACM0", -1, "", "", {fits}),
        tty("ttyUSBx"),
    };
    EXPECT_EQ(lines(select_serial_devices(found)),
              (std::vector<std::string>{
                  fits + "|ttyACM0",  // exactly DEVICE_MAX fits; the kernel name it hides
                  by_id + "usb-a|Prolific_ Tech PL2303 (ttyUSB2)",  // no control characters
                  "/dev/ttyUSB10|FTDI FT232R",  // its only link is too long for the field
                  "/dev/ttyS0|NS16550A UART",
                  "/dev/ttyS10|16550A UART",
              }));
    EXPECT_EQ(only_usb_adapter(select_serial_devices({found[0], found[5]})), 0);
    EXPECT_EQ(only_usb_adapter(select_serial_devices(found)), -1);
    EXPECT_EQ(only_usb_adapter(select_serial_devices({found[0]})), -1);
}

TEST(SerialDevices, SysfsScanReadsTypesUsbStringsAndByIdLinks) {
    TempDir root;
    const std::string tty = root.file("class/tty/"), usb = root.file("devices/usb1/1-1/");
    for (const std::string& dir : {tty + "ttyS0", tty + "ttyS1", tty + "ttyUSB0",
                                   usb + "1-1:1.0/ttyUSB0", root.file("by-id")})
        ASSERT_EQ(g_mkdir_with_parents(dir.c_str(), 0755), 0);
    write_file(tty + "ttyS0/type", "4\n");
    write_file(tty + "ttyS1/type", "0\n");
    write_file(usb + "idVendor", "067b\n");
    write_file(usb + "manufacturer", "Prolific Technology Inc.\n");
    write_file(usb + "product", "USB-Serial Controller\n");
    ASSERT_EQ(symlink((usb + "1-1:1.0/ttyUSB0").c_str(), (tty + "ttyUSB0/device").c_str()), 0);
    ASSERT_EQ(symlink("../../ttyUSB0", root.file("by-id/usb-Prolific-port0").c_str()), 0);

    std::vector<TtyInfo> found;
    ASSERT_EQ(scan_ttys_sysfs(root.path(), root.file("by-id"), &found), 1);
    EXPECT_EQ(lines(select_serial_devices(found)),
              (std::vector<std::string>{root.file("by-id/usb-Prolific-port0") +
                                            "|Prolific Technology Inc. USB-Serial Controller "
                                            "(ttyUSB0)",
                                        "/dev/ttyS0|16550A UART"}));
    EXPECT_EQ(scan_ttys_sysfs(root.file("none"), root.file("by-id"), &found), 0);
}

}  // namespace
