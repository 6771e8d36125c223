// Serial device discovery: the selection on a fixture list (what is kept,
// which path, in which order), and the /sys reading on a fake tree.
#include "pen/devices.h"

#include <glib.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "app/state.h"
#include "support/process.h"

namespace {

TtyInfo tty(const std::string& name, int uart_type = -1, std::vector<std::string> links = {},
            const std::string& vendor = "", const std::string& model = "") {
    TtyInfo t;
    t.name = name;
    t.uart_type = uart_type;
    t.links = links;
    t.vendor = vendor;
    t.model = model;
    return t;
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
        tty("ttyS1", 0),  // phantom port
        tty("ttyS2"),     // type unreadable
        tty("ttyS0", 14),
        tty("tty5"),
        tty("ttyUSB10", -1, {by_id + "usb-Long_Name" + std::string(80, 'x')}, "FTDI", "FT232R"),
        tty("ttyUSB2", -1, {by_id + "usb-b", by_id + "usb-a"}, "Prolific_\tTech", "PL2303"),
        tty("ttyACM0", -1, {fits}),
        tty("ttyUSBx"),
    };
    EXPECT_EQ(lines(select_serial_devices(found)),
              (std::vector<std::string>{
                  // by-id at exactly DEVICE_MAX characters is taken; no
                  // description but the kernel name the link hides
                  fits + "|ttyACM0",
                  // the shortest link, then the first by name; control
                  // characters never reach a line
                  by_id + "usb-a|Prolific_ Tech PL2303 (ttyUSB2)",
                  // the only link is too long for the device field
                  "/dev/ttyUSB10|FTDI FT232R",
                  "/dev/ttyS0|NS16550A UART",
                  "/dev/ttyS10|16550A UART",
              }));
}

TEST(SerialDevices, OnlyUsbAdapterIsTheOneOfItsKind) {
    SerialDevice usb, builtin;
    usb.usb = true;
    EXPECT_EQ(only_usb_adapter({builtin, usb}), 1);
    EXPECT_EQ(only_usb_adapter({usb, builtin, usb}), -1);
    EXPECT_EQ(only_usb_adapter({builtin}), -1);
}

TEST(SerialDevices, SysfsScanReadsTypesUsbStringsAndByIdLinks) {
    TempDir root;
    const std::string sys = root.file("sys");
    auto dir = [](const std::string& path) {
        ASSERT_EQ(g_mkdir_with_parents(path.c_str(), 0755), 0);
    };
    dir(sys + "/class/tty/ttyS0");
    dir(sys + "/class/tty/ttyS1");
    dir(sys + "/class/tty/tty1");
    dir(sys + "/devices/usb1/1-1/1-1:1.0/ttyUSB0");
    dir(sys + "/class/tty/ttyUSB0");
    dir(root.file("by-id"));
    write_file(sys + "/class/tty/ttyS0/type", "4\n");
    write_file(sys + "/class/tty/ttyS1/type", "0\n");
    write_file(sys + "/devices/usb1/1-1/idVendor", "067b\n");
    write_file(sys + "/devices/usb1/1-1/manufacturer", "Prolific Technology Inc.\n");
    write_file(sys + "/devices/usb1/1-1/product", "USB-Serial Controller\n");
    ASSERT_EQ(symlink("../../../devices/usb1/1-1/1-1:1.0/ttyUSB0",
                      (sys + "/class/tty/ttyUSB0/device").c_str()),
              0);
    ASSERT_EQ(symlink("../../ttyUSB0", root.file("by-id/usb-Prolific-port0").c_str()), 0);

    std::vector<TtyInfo> found;
    ASSERT_EQ(scan_ttys_sysfs(sys, root.file("by-id"), &found), 1);
    EXPECT_EQ(lines(select_serial_devices(found)),
              (std::vector<std::string>{
                  root.file("by-id/usb-Prolific-port0") +
                      "|Prolific Technology Inc. USB-Serial Controller (ttyUSB0)",
                  "/dev/ttyS0|16550A UART",
              }));
    EXPECT_EQ(scan_ttys_sysfs(root.file("nothing"), root.file("by-id"), &found), 0);
}

}  // namespace
