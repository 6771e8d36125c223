// The PC configuration dialog in scripts/vm-test's guest, on the real device
// source (udev): its device list gains the USB adapter that the host plugs in
// and loses it when the host pulls it, while the dialog stays open. The
// guest's job plugs and pulls through the host; this test tells it when to,
// by creating files in the folder KX_VM_SYNC. KX_VM_ADAPTER is the adapter's
// by-id path.
#include <cstdlib>
#include <string>

#include "app/catalogue.h"
#include "support/gui.h"
#include "support/process.h"
#include "ui/pc_config.h"

namespace window_test {
namespace {

// Each wait covers a plug or pull through the host and udev in a slow guest.
constexpr int DEVICE_WAIT_MS = 60000;

bool offers(GtkWidget* device_combo, const std::string& path) {
    for (const std::string& text : combo_texts(device_combo))
        if (text == path) return true;
    return false;
}

class VmPcConfig : public Fixture {};

TEST_F(VmPcConfig, DeviceListFollowsTheAdapterWhileOpen) {
    const char* sync = std::getenv("KX_VM_SYNC");
    const char* adapter = std::getenv("KX_VM_ADAPTER");
    ASSERT_TRUE(sync && adapter) << "run by scripts/vm-test in its guest";
    const auto tell = [&](const char* what) { write_file(std::string(sync) + "/" + what, ""); };

    ConfigurePC();
    const std::vector<GtkWidget*> found = windows_titled(text_of(tpcconfig));
    ASSERT_EQ(found.size(), 1u);
    const std::vector<GtkWidget*> combos = find_widgets(found[0], GTK_TYPE_COMBO_BOX);
    ASSERT_EQ(combos.size(), 3u);
    GtkWidget* device = combos[1];
    ASSERT_FALSE(offers(device, adapter)) << "the adapter must be unplugged at the start";

    tell("shown");
    ASSERT_TRUE(run_until([&] { return offers(device, adapter); }, DEVICE_WAIT_MS));
    tell("gained");
    ASSERT_TRUE(run_until([&] { return !offers(device, adapter); }, DEVICE_WAIT_MS));
    tell("lost");
    click_button(found[0], text_of(tCancel));
}

}  // namespace
}  // namespace window_test
