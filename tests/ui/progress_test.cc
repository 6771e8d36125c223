// Downloads and erases under the progress dialog: the questions before them,
// the worker and its 200 ms tick, cancelling, and what is reported after.
// The pen is kestrix-pensim on a pseudo-terminal, or a device path that
// cannot work.
#include "ui/progress.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <cerrno>
#include <chrono>
#include <regex>
#include <string>
#include <vector>

#include "app/catalogue.h"
#include "pen/download.h"
#include "state/state.h"
#include "support/gui.h"
#include "support/process.h"
#include "text/store.h"
#include "ui/dialogs.h"
#include "ui/main_window.h"

namespace window_test {
namespace {

using Strings = std::vector<std::string>;
using Clock = std::chrono::steady_clock;

const char* const TRANSFER_LABEL = "Transfer in progress...";
const char* const SERIAL_FAILED = "Access to the serial interface failed.";
const char* const NO_DATA = "There are no data stored in the KESTRIX.";

std::string store_string() {
    return std::string(root.text, root.text_length.load());
}

// The open progress dialog (the one with an activity bar), or null.
GtkWidget* progress_dialog() {
    for (GtkWidget* w : toplevels())
        if (find_widget(w, GTK_TYPE_PROGRESS_BAR)) return w;
    return nullptr;
}

// The counts line: the second label of the download dialog.
std::string counts_text(GtkWidget* dialog) {
    const Strings labels = label_texts(dialog);
    return labels.size() >= 2 ? labels[1] : "";
}

int bar_position(GtkWidget* dialog) {
    return activity_position(find_widget(dialog, GTK_TYPE_PROGRESS_BAR));
}

bool operation_over() {
    return grab_window() == nullptr && progress_dialog() == nullptr;
}

// Replaces the worker creation for one test.
class ThreadCreateOverride {
   public:
    explicit ThreadCreateOverride(decltype(progress_thread_create) replacement)
        : saved_(progress_thread_create) {
        progress_thread_create = replacement;
    }
    ~ThreadCreateOverride() { progress_thread_create = saved_; }

   private:
    decltype(progress_thread_create) saved_;
};

int refuse_thread(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*) {
    return EAGAIN;
}

class Progress : public Fixture {
   protected:
    void TearDown() override {
        // A failed test may leave an operation running: its worker writes
        // into the dialog's record until it ends.
        run_until(operation_over, 15000);
        Fixture::TearDown();
    }

    // A pen simulator serving `text` (no --text when empty) with `extra`
    // options; root.device names its terminal.
    bool start_pen(const std::string& text, const Strings& extra = {}) {
        Strings args;
        if (!text.empty()) {
            write_file(dir_.file("pen.txt"), text);
            args = {"--text", dir_.file("pen.txt")};
        }
        args.insert(args.end(), extra.begin(), extra.end());
        pen_.reset(new PenSim(args));
        if (!pen_->ok()) return false;
        copy_bounded(root.device, pen_->tty().c_str(), DEVICE_MAX);
        return true;
    }

    TempDir dir_;
    std::unique_ptr<PenSim> pen_;
};

TEST(TransferCounts, CountsOnlyWhatThisDownloadAdded) {
    root.language = LANG_EN;
    ProgressRecord record;
    record.start_length = 0;
    record.start_scans = 0;
    const int saved_length = root.text_length.load(), saved_scans = root.scan_count.load();
    root.text_length = 120;
    root.scan_count = 2;
    char buffer[100];
    format_transfer_counts(buffer, sizeof buffer, &record);
    EXPECT_STREQ(buffer, "120 Characters / 2 Scans");

    record.start_length = 100;
    record.start_scans = 1;
    format_transfer_counts(buffer, sizeof buffer, &record);
    EXPECT_STREQ(buffer, "20 Characters / 1 Scans");

    // Cut to fit, always terminated.
    char small[8];
    format_transfer_counts(small, sizeof small, &record);
    EXPECT_STREQ(small, "20 Char");

    root.language = LANG_DE;
    format_transfer_counts(buffer, sizeof buffer, &record);
    EXPECT_EQ(std::string(buffer).substr(0, 3), "20 ");
    EXPECT_NE(std::string(buffer).find(tScans[LANG_DE]), std::string::npos);
    root.language = LANG_EN;
    root.text_length = saved_length;
    root.scan_count = saved_scans;
}

TEST_F(Progress, DownloadIntoAnEmptyStoreAsksNothing) {
    const std::string text = "Hello pen\nSecond line \344\366\374\n";
    ASSERT_TRUE(start_pen(text));
    OpenMainWindow();
    DialogAnswerer answer;
    answer.click("OK");  // would catch any message

    TransferKX_PC();
    GtkWidget* dialog = progress_dialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(grab_window(), dialog);
    EXPECT_EQ(window_title(dialog), "");
    const Strings labels = label_texts(dialog);
    ASSERT_EQ(labels.size(), 2u);
    EXPECT_EQ(labels[0], "    Transfer in progress...    ");
    EXPECT_EQ(labels[1], "0 Characters / 0 Scans");
    EXPECT_EQ(button_texts(dialog), Strings{"Cancel"});

    ASSERT_TRUE(run_until(operation_over, 15000));
    EXPECT_EQ(answer.answered(), 0u);
    EXPECT_EQ(store_string(), text);
    EXPECT_EQ(view_text(), utf8(text.c_str()));
    EXPECT_EQ(root.unsaved, 1);
    EXPECT_EQ(root.scan_count.load(), 2);
}

TEST_F(Progress, CountsAndBarMoveWhileTheTextArrives) {
    std::string text;
    for (int i = 0; i < 6; i++) text += "Scanned line number " + std::to_string(i) + "\n";
    ASSERT_TRUE(start_pen(text, {"--pace"}));
    root.speed = 2400;
    store_text("Old text\n");
    OpenMainWindow();
    DialogAnswerer answer;
    answer.click("Attach");

    TransferKX_PC();
    ASSERT_TRUE(answer.finished());
    Strings counts;
    int max_bar = 0;
    ASSERT_TRUE(run_until(
        [&] {
            GtkWidget* d = progress_dialog();
            if (!d) return true;
            const std::string c = counts_text(d);
            if (counts.empty() || counts.back() != c) counts.push_back(c);
            max_bar = std::max(max_bar, bar_position(d));
            return false;
        },
        15000));
    // Counted from this download's start, although the store held text.
    ASSERT_GE(counts.size(), 2u);
    EXPECT_EQ(counts.front(), "0 Characters / 0 Scans");
    const std::regex line("(\\d+) Characters / (\\d+) Scans");
    for (const std::string& c : counts) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(c, m, line)) << c;
        EXPECT_LE(std::stoi(m[1]), static_cast<int>(text.size()));
        EXPECT_LE(std::stoi(m[2]), 6);
    }
    EXPECT_GT(max_bar, 0);
    EXPECT_EQ(store_string(), "Old text\n" + text);
    EXPECT_EQ(view_text(), "Old text\n" + text);
}

TEST_F(Progress, CancelFreezesThenReportsAndKeepsThePartialText) {
    std::string text;
    for (int i = 0; i < 20; i++)
        text += "Line " + std::to_string(i) + " of a long text read by the pen, slowly.\n";
    ASSERT_TRUE(start_pen(text, {"--pace"}));
    root.speed = 1200;  // about 0.8 s per line
    OpenMainWindow();

    std::string counts_at_cancel;
    int bar_at_cancel = -1;
    std::string counts_at_message;
    int bar_at_message = -2;
    Clock::time_point cancelled;
    DialogAnswerer answer;
    answer
        .click("Cancel",
               [&](GtkWidget* d) {
                   if (counts_text(d).rfind("0 ", 0) == 0) return false;
                   counts_at_cancel = counts_text(d);
                   bar_at_cancel = bar_position(d);
                   cancelled = Clock::now();
                   return true;
               })
        .click("OK", [&](GtkWidget*) {
            GtkWidget* d = progress_dialog();
            if (!d) return false;
            counts_at_message = counts_text(d);
            bar_at_message = bar_position(d);
            return true;
        });

    TransferKX_PC();
    ASSERT_TRUE(run_until(operation_over, 20000));
    ASSERT_TRUE(answer.finished());
    // The dialog stayed while the pen link finished its block, frozen.
    EXPECT_EQ(answer.seen()[0].labels[0], "    Transfer in progress...    ");
    EXPECT_EQ(counts_at_message, counts_at_cancel);
    EXPECT_EQ(bar_at_message, bar_at_cancel);
    EXPECT_EQ(answer.seen()[1].labels, Strings{"Transfer interrupted by user request!"});

    const std::string got = store_string();
    EXPECT_FALSE(got.empty());
    EXPECT_LT(got.size(), text.size());
    EXPECT_EQ(text.compare(0, got.size(), got), 0);
    EXPECT_EQ(view_text(), got);
}

TEST_F(Progress, ClosingTheDownloadDialogCancels) {
    std::string text;
    for (int i = 0; i < 20; i++)
        text += "Another line of scanned text, number " + std::to_string(i) + "\n";
    ASSERT_TRUE(start_pen(text, {"--pace"}));
    root.speed = 1200;
    OpenMainWindow();
    DialogAnswerer answer;
    answer.close(TRANSFER_LABEL, [](GtkWidget* d) { return counts_text(d).rfind("0 ", 0) != 0; })
        .click("OK");

    TransferKX_PC();
    ASSERT_TRUE(run_until(operation_over, 20000));
    ASSERT_TRUE(answer.finished());
    EXPECT_EQ(answer.seen()[1].labels, Strings{"Transfer interrupted by user request!"});
    EXPECT_GT(root.text_length.load(), 0);
    EXPECT_LT(root.text_length.load(), static_cast<int>(text.size()));
}

TEST_F(Progress, EmptyPenReportsNoDataAfterTheReload) {
    ASSERT_TRUE(start_pen(""));
    OpenMainWindow();
    // The view is stale on purpose: the message must find it reloaded.
    store_text("kept\n");
    std::string view_at_message = "<not seen>";
    bool progress_under_message = false;
    DialogAnswerer answer;
    answer.click("Attach").click("OK", [&](GtkWidget*) {
        view_at_message = view_text();
        progress_under_message = progress_dialog() != nullptr;
        return true;
    });
    TransferKX_PC();
    ASSERT_TRUE(run_until(operation_over, 15000));
    ASSERT_TRUE(answer.finished());
    EXPECT_EQ(answer.seen()[1].labels, Strings{NO_DATA});
    EXPECT_EQ(view_at_message, "kept\n");
    EXPECT_TRUE(progress_under_message);
    EXPECT_EQ(root.unsaved, 0);
}

TEST_F(Progress, ConnectionFailures) {
    OpenMainWindow();
    {
        // A path that does not exist: the serial device cannot be opened.
        DialogAnswerer answer;
        answer.click("OK");
        TransferKX_PC();
        ASSERT_TRUE(run_until(operation_over, 15000));
        ASSERT_TRUE(answer.finished());
        EXPECT_EQ(
            answer.seen()[0].labels,
            (Strings{SERIAL_FAILED, "Please make sure you have write and ", "read access rights.",
                     "/nonexistent/kx-tty: no such device; is the adapter plugged in?"}));
    }
    {
        // A device that opens but never answers: no cause of the last failure
        // is left over.
        copy_bounded(root.device, "/dev/null", DEVICE_MAX);
        DialogAnswerer answer;
        answer.click("OK");
        TransferKX_PC();
        ASSERT_TRUE(run_until(operation_over, 15000));
        ASSERT_TRUE(answer.finished());
        EXPECT_EQ(answer.seen()[0].labels, (Strings{"Connection to KESTRIX failed.",
                                                    "Please check the cabling and make sure ",
                                                    "that the KESTRIX is activated."}));
    }
    EXPECT_EQ(view_text(), "");
}

TEST_F(Progress, AttachKeepsTheStore) {
    store_text("old text\n");
    OpenMainWindow();
    DialogAnswerer answer;
    answer.click("Attach").click("OK");
    TransferKX_PC();
    ASSERT_TRUE(run_until(operation_over, 15000));
    ASSERT_TRUE(answer.finished());
    EXPECT_EQ(answer.seen()[0].title, "");
    EXPECT_EQ(answer.seen()[0].labels, (Strings{"Should the additional text be attached or ",
                                                "should the old text be overwritten?"}));
    EXPECT_EQ(answer.seen()[0].buttons, (Strings{"Attach", "Overwrite"}));
    EXPECT_EQ(answer.seen()[1].labels[0], SERIAL_FAILED);
    EXPECT_EQ(store_string(), "old text\n");
    EXPECT_EQ(view_text(), "old text\n");
}

TEST_F(Progress, OverwriteSavedTextAsksOnce) {
    store_text("saved text\n");
    root.unsaved = 0;
    OpenMainWindow();
    DialogAnswerer answer;
    answer.click("Overwrite").click("OK");
    TransferKX_PC();
    ASSERT_TRUE(run_until(operation_over, 15000));
    ASSERT_TRUE(answer.finished());
    EXPECT_EQ(answer.seen()[1].labels[0], SERIAL_FAILED);
    EXPECT_EQ(root.text_length.load(), 0);
    EXPECT_EQ(view_text(), "");
}

TEST_F(Progress, OverwriteUnsavedTextAnsweredNoChangesNothing) {
    store_text("precious\n");
    root.unsaved = 1;
    OpenMainWindow();
    DialogAnswerer answer;
    answer.click("Overwrite").click("No");
    TransferKX_PC();
    ASSERT_TRUE(answer.finished());
    EXPECT_EQ(answer.seen()[1].title, "Caution!");
    EXPECT_EQ(answer.seen()[1].labels, (Strings{"Data not yet saved!", "Overwrite anyway?"}));
    EXPECT_TRUE(operation_over());
    EXPECT_EQ(store_string(), "precious\n");
    EXPECT_EQ(root.unsaved, 1);
    EXPECT_EQ(view_text(), "precious\n");
}

TEST_F(Progress, ClosingTheFirstQuestionStartsNothing) {
    store_text("precious\n");
    root.unsaved = 1;
    OpenMainWindow();
    DialogAnswerer answer;
    answer.close("Attach");
    TransferKX_PC();
    ASSERT_TRUE(answer.finished());
    EXPECT_EQ(progress_dialog(), nullptr);
    EXPECT_EQ(std::string(root.text, root.text_length.load()), "precious\n");
    EXPECT_EQ(root.unsaved, 1);
}

TEST_F(Progress, WorkerThatCannotStartReportsMemory) {
    ThreadCreateOverride refuse(refuse_thread);
    store_text("old\n");
    OpenMainWindow();
    DialogAnswerer answer;
    answer.click("Overwrite").click("OK").click("Yes").click("OK");
    TransferKX_PC();
    ASSERT_TRUE(answer.answered() >= 2);
    EXPECT_EQ(answer.seen()[1].labels, Strings{"Not enough memory!"});
    EXPECT_EQ(progress_dialog(), nullptr);
    // The store was reset before the worker failed; the view says so.
    EXPECT_EQ(root.text_length.load(), 0);
    EXPECT_EQ(view_text(), "");

    ClearFlash();
    ASSERT_TRUE(answer.finished());
    EXPECT_EQ(answer.seen()[3].labels, Strings{"Not enough memory!"});
    EXPECT_TRUE(operation_over());
}

TEST_F(Progress, EraseAnsweredNoDoesNothing) {
    OpenMainWindow();
    DialogAnswerer answer;
    answer.click("No");
    ClearFlash();
    ASSERT_TRUE(answer.finished());
    EXPECT_EQ(answer.seen()[0].title, "Caution!");
    EXPECT_EQ(answer.seen()[0].labels,
              Strings{"Are you sure you want to erase\nall data stored in the KESTRIX?"});
    EXPECT_TRUE(operation_over());
}

TEST_F(Progress, EraseIgnoresCloseAndEndsWithoutMessage) {
    ASSERT_TRUE(start_pen("text that will go\n", {"--erase-delay", "1.5"}));
    store_text("kept on the PC\n");
    OpenMainWindow();
    const auto start = Clock::now();
    bool still_open_after_close = false;
    DialogAnswerer answer;
    answer.click("Yes").close("Data are being deleted...");
    ClearFlash();
    GtkWidget* dialog = progress_dialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(label_texts(dialog), Strings{"Data are being deleted..."});
    EXPECT_TRUE(button_texts(dialog).empty());
    ASSERT_TRUE(run_until([&] { return answer.finished(); }, 5000));
    settle();
    still_open_after_close = progress_dialog() != nullptr;
    EXPECT_TRUE(still_open_after_close);
    {
        DialogAnswerer message;
        message.click("OK");
        ASSERT_TRUE(run_until(operation_over, 15000));
        EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(1400));
        EXPECT_EQ(message.answered(), 0u);
    }
    EXPECT_EQ(store_string(), "kept on the PC\n");
    EXPECT_EQ(view_text(), "kept on the PC\n");

    // The pen is empty now.
    DialogAnswerer empty;
    empty.click("Overwrite").click("OK");
    TransferKX_PC();
    ASSERT_TRUE(run_until(operation_over, 15000));
    ASSERT_TRUE(empty.finished());
    EXPECT_EQ(empty.seen()[1].labels, Strings{NO_DATA});
}

TEST_F(Progress, EraseFailureIsReported) {
    OpenMainWindow();
    DialogAnswerer answer;
    answer.click("Yes").click("OK");
    ClearFlash();
    ASSERT_TRUE(run_until(operation_over, 15000));
    ASSERT_TRUE(answer.finished());
    EXPECT_EQ(answer.seen()[1].labels[0], SERIAL_FAILED);
}

// A worker whose join fails: the handle names the joining thread itself.
int unjoinable_thread(pthread_t* thread, const pthread_attr_t*, void* (*)(void*), void* record) {
    *thread = pthread_self();
    static_cast<ProgressRecord*>(record)->done = 1;
    return 0;
}

TEST_F(Progress, EraseWorkerThatCannotBeJoinedEndsWithAMessage) {
    ThreadCreateOverride unjoinable(unjoinable_thread);
    OpenMainWindow();
    DialogAnswerer answer;
    answer.click("Yes").click("OK");
    ClearFlash();
    ASSERT_TRUE(run_until(operation_over, 5000));
    ASSERT_TRUE(answer.finished());
    EXPECT_EQ(answer.seen()[1].labels[0], std::string(tce_transfer1[LANG_EN]));
}

}  // namespace
}  // namespace window_test
