#include "pen/devices.h"

#include <dirent.h>
#include <fcntl.h>
#include <libudev.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>

#include "state/state.h"

DeviceSource device_source = {find_serial_devices, device_monitor_open, device_monitor_drain,
                              device_monitor_close};

namespace {

// udev's daemon creates this socket; without it (containers, early boot)
// udev's database, descriptions and links do not exist.
const char* const UDEV_CONTROL = "/run/udev/control";
const char* const BY_ID_PREFIX = "/dev/serial/by-id/";

// Descriptions come from USB descriptors the adapter supplies: keep them to a
// line's worth.
constexpr size_t DESCRIPTION_MAX = 100;
// Events taken per drain; a descriptor still readable is drained next time.
constexpr int DRAIN_MAX = 64;
// Bytes read from one sysfs attribute.
constexpr size_t ATTRIBUTE_MAX = 256;
// Folders walked up from a tty to the USB device that carries it.
constexpr int USB_PARENT_DEPTH = 6;

// UART names by the sysfs `type` value (the kernel's PORT_* numbers).
const char* const uart_names[] = {nullptr,  "8250",  "16450",   "16550", "16550A",
                                  "Cirrus", "16650", "16650V2", "16750", "Startech",
                                  "16C950", "16654", "16850",   "RSA",   "NS16550A"};
constexpr int UART_NAME_COUNT = sizeof uart_names / sizeof uart_names[0];

struct DirCloser {
    void operator()(DIR* d) const { closedir(d); }
};
using DirPtr = std::unique_ptr<DIR, DirCloser>;

bool starts_with(const std::string& s, const char* prefix) {
    return s.compare(0, std::strlen(prefix), prefix) == 0;
}

bool has_control(const std::string& s) {
    for (unsigned char c : s)
        if (c < 0x20 || c == 0x7F) return true;
    return false;
}

// Control characters become blanks (a description is one field of one line),
// runs of blanks one blank, and the text is cut at DESCRIPTION_MAX bytes
// without splitting a UTF-8 sequence.
std::string clean_text(const std::string& raw) {
    std::string out;
    for (unsigned char c : raw) {
        const char keep = (c < 0x20 || c == 0x7F) ? ' ' : static_cast<char>(c);
        if (keep == ' ' && (out.empty() || out.back() == ' ')) continue;
        out += keep;
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    if (out.size() > DESCRIPTION_MAX) {
        size_t cut = DESCRIPTION_MAX;
        while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) cut--;
        out.resize(cut);
    }
    return out;
}

std::string join_words(const std::string& a, const std::string& b) {
    if (a.empty()) return b;
    if (b.empty()) return a;
    return a + " " + b;
}

// "ttyUSB12" -> ("ttyUSB", 12); a name without a number gets -1.
void split_name(const std::string& name, std::string* prefix, long* number) {
    size_t end = name.size();
    while (end > 0 && name[end - 1] >= '0' && name[end - 1] <= '9') end--;
    *prefix = name.substr(0, end);
    const std::string digits = name.substr(end);
    *number = digits.empty() || digits.size() > 9 ? -1 : std::atol(digits.c_str());
}

std::string uart_description(int type) {
    if (type > 0 && type < UART_NAME_COUNT) return std::string(uart_names[type]) + " UART";
    return "UART";
}

std::string usb_description(const TtyInfo& tty, const std::string& path) {
    const std::string text = clean_text(join_words(clean_text(tty.vendor), clean_text(tty.model)));
    // A by-id path hides the kernel name that dmesg and other tools show.
    if (path == "/dev/" + tty.name) return text;
    return text.empty() ? tty.name : text + " (" + tty.name + ")";
}

// The first line of a small sysfs attribute, "" when it cannot be read.
std::string read_attribute(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return "";
    char buf[ATTRIBUTE_MAX];
    const ssize_t got = read(fd, buf, sizeof buf - 1);
    close(fd);
    if (got <= 0) return "";
    std::string text(buf, static_cast<size_t>(got));
    const size_t end = text.find('\n');
    if (end != std::string::npos) text.resize(end);
    return text;
}

bool path_exists(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

// Vendor and model of the USB device a tty hangs under: the first folder
// above the tty's device that holds `idVendor`.
void read_usb_strings(const std::string& device_link, TtyInfo* tty) {
    char resolved[PATH_MAX];
    if (!realpath(device_link.c_str(), resolved)) return;
    std::string dir = resolved;
    for (int depth = 0; depth < USB_PARENT_DEPTH && dir.size() > 1; depth++) {
        if (path_exists(dir + "/idVendor")) {
            tty->vendor = read_attribute(dir + "/manufacturer");
            tty->model = read_attribute(dir + "/product");
            return;
        }
        const size_t slash = dir.rfind('/');
        if (slash == std::string::npos || slash == 0) return;
        dir.resize(slash);
    }
}

// Kernel name -> by-id links pointing at it.
std::map<std::string, std::vector<std::string>> read_by_id_links(const std::string& by_id_dir) {
    std::map<std::string, std::vector<std::string>> links;
    DirPtr dir(opendir(by_id_dir.c_str()));
    if (!dir) return links;
    while (const dirent* entry = readdir(dir.get())) {
        if (entry->d_name[0] == '.') continue;
        const std::string link = by_id_dir + "/" + entry->d_name;
        char target[PATH_MAX];
        const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
        if (n <= 0) continue;
        target[n] = '\0';
        const char* base = std::strrchr(target, '/');
        links[base ? base + 1 : target].push_back(link);
    }
    return links;
}

struct UdevGuard {
    udev* context = nullptr;
    udev_enumerate* enumerate = nullptr;
    ~UdevGuard() {
        if (enumerate) udev_enumerate_unref(enumerate);
        if (context) udev_unref(context);
    }
};

std::string property(udev_device* dev, const char* key) {
    const char* value = udev_device_get_property_value(dev, key);
    return value ? value : "";
}

// udev's ID_VENDOR and ID_MODEL carry '_' for blanks.
std::string blanks_for_underscores(std::string s) {
    std::replace(s.begin(), s.end(), '_', ' ');
    return s;
}

void udev_usb_strings(udev_device* dev, TtyInfo* tty) {
    tty->vendor = property(dev, "ID_VENDOR_FROM_DATABASE");
    if (tty->vendor.empty()) tty->vendor = blanks_for_underscores(property(dev, "ID_VENDOR"));
    tty->model = property(dev, "ID_MODEL_FROM_DATABASE");
    if (tty->model.empty()) tty->model = blanks_for_underscores(property(dev, "ID_MODEL"));
    if (!tty->vendor.empty() || !tty->model.empty()) return;
    // No udev data for it yet: the USB device's own strings. The parent
    // belongs to `dev` and is not unreferenced here.
    udev_device* usb = udev_device_get_parent_with_subsystem_devtype(dev, "usb", "usb_device");
    if (!usb) return;
    const char* vendor = udev_device_get_sysattr_value(usb, "manufacturer");
    const char* model = udev_device_get_sysattr_value(usb, "product");
    tty->vendor = vendor ? vendor : "";
    tty->model = model ? model : "";
}

bool udev_running() {
    return path_exists(UDEV_CONTROL);
}

struct Monitor {
    int fd;
    udev* context;
    udev_monitor* monitor;
};
// The monitors open, by descriptor. Main thread only.
std::vector<Monitor> monitors;

}  // namespace

int tty_kind(const std::string& name) {
    std::string prefix;
    long number;
    split_name(name, &prefix, &number);
    if (number < 0) return TTY_OTHER;
    if (prefix == "ttyUSB" || prefix == "ttyACM") return TTY_USB;
    if (prefix == "ttyS") return TTY_BUILTIN;
    return TTY_OTHER;
}

bool tty_name_less(const std::string& a, const std::string& b) {
    std::string prefix_a, prefix_b;
    long number_a, number_b;
    split_name(a, &prefix_a, &number_a);
    split_name(b, &prefix_b, &number_b);
    if (prefix_a != prefix_b) return prefix_a < prefix_b;
    if (number_a != number_b) return number_a < number_b;
    return a < b;
}

std::string device_path_of(const TtyInfo& tty) {
    const std::string* best = nullptr;
    for (const std::string& link : tty.links) {
        // A longer path would be cut in the device field and name nothing.
        if (link.size() > static_cast<size_t>(DEVICE_MAX) || has_control(link)) continue;
        if (!best || link.size() < best->size() || (link.size() == best->size() && link < *best))
            best = &link;
    }
    return best ? *best : "/dev/" + tty.name;
}

std::vector<SerialDevice> select_serial_devices(const std::vector<TtyInfo>& found) {
    std::vector<const TtyInfo*> kept;
    for (const TtyInfo& tty : found) {
        const int kind = tty_kind(tty.name);
        // Most ttyS nodes stand for no hardware: the driver reports type 0.
        if (kind == TTY_USB || (kind == TTY_BUILTIN && tty.uart_type > 0)) kept.push_back(&tty);
    }
    std::sort(kept.begin(), kept.end(), [](const TtyInfo* a, const TtyInfo* b) {
        const bool usb_a = tty_kind(a->name) == TTY_USB;
        const bool usb_b = tty_kind(b->name) == TTY_USB;
        if (usb_a != usb_b) return usb_a;
        return tty_name_less(a->name, b->name);
    });
    std::vector<SerialDevice> out;
    for (const TtyInfo* tty : kept) {
        SerialDevice device;
        device.usb = tty_kind(tty->name) == TTY_USB;
        device.path = device.usb ? device_path_of(*tty) : "/dev/" + tty->name;
        device.description =
            device.usb ? usb_description(*tty, device.path) : uart_description(tty->uart_type);
        out.push_back(device);
    }
    return out;
}

int only_usb_adapter(const std::vector<SerialDevice>& devices) {
    int found = -1;
    for (size_t i = 0; i < devices.size(); i++) {
        if (!devices[i].usb) continue;
        if (found >= 0) return -1;
        found = static_cast<int>(i);
    }
    return found;
}

int scan_ttys_udev(std::vector<TtyInfo>* out) {
    if (!udev_running()) return 0;
    UdevGuard g;
    g.context = udev_new();
    if (!g.context) return 0;
    g.enumerate = udev_enumerate_new(g.context);
    if (!g.enumerate || udev_enumerate_add_match_subsystem(g.enumerate, "tty") < 0 ||
        udev_enumerate_scan_devices(g.enumerate) < 0)
        return 0;
    udev_list_entry* entry;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(g.enumerate)) {
        udev_device* dev = udev_device_new_from_syspath(g.context, udev_list_entry_get_name(entry));
        if (!dev) continue;
        TtyInfo tty;
        const char* name = udev_device_get_sysname(dev);
        tty.name = name ? name : "";
        const int kind = tty_kind(tty.name);
        if (kind == TTY_BUILTIN) {
            const char* type = udev_device_get_sysattr_value(dev, "type");
            tty.uart_type = type ? std::atoi(type) : -1;
        } else if (kind == TTY_USB) {
            udev_usb_strings(dev, &tty);
            udev_list_entry* link;
            udev_list_entry_foreach(link, udev_device_get_devlinks_list_entry(dev)) {
                const std::string path = udev_list_entry_get_name(link);
                if (starts_with(path, BY_ID_PREFIX)) tty.links.push_back(path);
            }
        }
        udev_device_unref(dev);
        if (kind != TTY_OTHER) out->push_back(tty);
    }
    return 1;
}

int scan_ttys_sysfs(const std::string& sys_root, const std::string& by_id_dir,
                    std::vector<TtyInfo>* out) {
    const std::string class_dir = sys_root + "/class/tty";
    std::vector<std::string> names;
    {
        DirPtr dir(opendir(class_dir.c_str()));
        if (!dir) return 0;
        while (const dirent* entry = readdir(dir.get()))
            if (tty_kind(entry->d_name) != TTY_OTHER) names.push_back(entry->d_name);
    }
    const auto links = read_by_id_links(by_id_dir);
    for (const std::string& name : names) {
        TtyInfo tty;
        tty.name = name;
        const std::string base = class_dir + "/" + name;
        if (tty_kind(name) == TTY_BUILTIN) {
            const std::string type = read_attribute(base + "/type");
            tty.uart_type = type.empty() ? -1 : std::atoi(type.c_str());
        } else {
            read_usb_strings(base + "/device", &tty);
            const auto found = links.find(name);
            if (found != links.end()) tty.links = found->second;
        }
        out->push_back(tty);
    }
    return 1;
}

int find_serial_devices(std::vector<SerialDevice>* out) {
    std::vector<TtyInfo> found;
    if (!scan_ttys_udev(&found)) scan_ttys_sysfs("/sys", "/dev/serial/by-id", &found);
    *out = select_serial_devices(found);
    return static_cast<int>(out->size());
}

int device_monitor_open() {
    udev* context = udev_new();
    if (!context) return -1;
    // Without udev's daemon its events never come; the kernel's do, and the
    // scan then reads /sys, which the kernel has updated by then.
    udev_monitor* monitor =
        udev_monitor_new_from_netlink(context, udev_running() ? "udev" : "kernel");
    if (!monitor || udev_monitor_filter_add_match_subsystem_devtype(monitor, "tty", nullptr) < 0 ||
        udev_monitor_enable_receiving(monitor) < 0) {
        if (monitor) udev_monitor_unref(monitor);
        udev_unref(context);
        return -1;
    }
    const int fd = udev_monitor_get_fd(monitor);
    monitors.push_back({fd, context, monitor});
    return fd;
}

int device_monitor_drain(int fd) {
    for (const Monitor& m : monitors) {
        if (m.fd != fd) continue;
        int changed = 0;
        for (int i = 0; i < DRAIN_MAX; i++) {
            udev_device* dev = udev_monitor_receive_device(m.monitor);
            if (!dev) break;
            udev_device_unref(dev);
            changed = 1;
        }
        return changed;
    }
    return 0;
}

void device_monitor_close(int fd) {
    for (auto it = monitors.begin(); it != monitors.end(); ++it) {
        if (it->fd != fd) continue;
        udev_monitor_unref(it->monitor);
        udev_unref(it->context);
        monitors.erase(it);
        return;
    }
}
