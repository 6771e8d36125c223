// kestrix-pensim: a simulated pen on a pseudo-terminal, for tests, the demo
// and users without a pen.
//
// It prints the path of the terminal end as its first line on standard
// output, then serves any number of sessions until SIGINT or SIGTERM (exit 0),
// until --sessions are done (exit 0) or until a disconnect fault unplugs the
// line (exit 0). A bad option or an unusable --text or --log file: exit 2.
// The line cannot be set up or its path not printed: exit 1.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "tools/pensim/line.h"
#include "tools/pensim/options.h"
#include "tools/pensim/pen.h"
#include "tools/pensim/text_file.h"

namespace {

int usage_error(const std::string& message) {
    std::fprintf(stderr, "kestrix-pensim: %s\nTry 'kestrix-pensim --help' for the options.\n",
                 message.c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    SimOptions options;
    std::string error;
    switch (parse_options(argc, argv, &options, &error)) {
        case OPTIONS_HELP:
            print_help(stdout);
            return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
        case OPTIONS_ERROR:
            return usage_error(error);
        default:
            break;
    }

    SimPen pen;
    pen.options = &options;
    pen.config = options.config;
    if (!options.text_path.empty() && !load_pen_text(options.text_path, &pen.blocks, &error))
        return usage_error("--text: " + error);
    if (!options.log_path.empty()) {
        sim_line.log = std::fopen(options.log_path.c_str(), "w");
        if (!sim_line.log)
            return usage_error("--log: " + options.log_path + ": " + std::strerror(errno));
    }
    sim_line.pace = options.pace;

    install_stop_signals();
    if (!open_line(&error)) {
        std::fprintf(stderr, "kestrix-pensim: %s\n", error.c_str());
        return 1;
    }
    if (std::printf("%s\n", sim_line.tty.c_str()) < 0 || std::fflush(stdout) != 0) {
        std::fprintf(stderr, "kestrix-pensim: standard output: %s\n", std::strerror(errno));
        close_line();
        return 1;
    }
    log_note("pen on %s, %zu blocks of text%s", sim_line.tty.c_str(), pen.blocks.size(),
             options.pace ? ", paced" : "");

    int how = serve_pen(&pen);
    if (how == SERVE_STOPPED) log_note("stopped");
    close_line();
    if (sim_line.log && std::fclose(sim_line.log) != 0)
        std::fprintf(stderr, "kestrix-pensim: the byte log cannot be written: %s\n",
                     std::strerror(errno));
    sim_line.log = nullptr;
    return 0;
}
