// loader-sim: a simulated decoder boot loader on a pseudo-terminal (see --help).

#include "flashimage.h"
#include "loaderdialogue.h"
#include "ptylink.h"
#include "simerror.h"
#include "simlog.h"
#include "simoptions.h"
#include "stopsignals.h"
#include "tracereplay.h"
#include "wiretracefile.h"

#include <chrono>
#include <cstdio>
#include <optional>

namespace {

int serve(const SimOptions& options, const FlashImage& image,
          const std::optional<WireTraceFile>& trace, const SimLog& log) {
    PtyLink link(log);
    link.open();
    if (!options.linkPath.empty()) {
        link.createLink(options.linkPath);
    }
    link.setBaud(options.baud, options.piece);
    link.setIdleTimeout(
        std::chrono::milliseconds(static_cast<long long>(options.timeoutSeconds * 1000)));
    if (!options.recordPath.empty()) {
        link.setRecordFile(options.recordPath);
    }

    if (trace) {
        std::printf("%s\n", link.slavePath().c_str());
        std::fflush(stdout);
        log.info("replaying " + options.replayPath + " on " + link.slavePath());
        TraceReplay(link, *trace, options, log).play();
        return 0;
    }

    LoaderDialogue dialogue(link, image, options, log);
    std::printf("%s\n", link.slavePath().c_str());
    std::fflush(stdout);
    log.info("serving " + link.slavePath() +
             (options.linkPath.empty() ? "" : " (link " + options.linkPath + ")") + ", mode " +
             (options.mode == SimOptions::Mode::Ack ? "ack" : "respfile") +
             (options.imagePath.empty() ? ", image of seed " + std::to_string(options.seed)
                                        : ", image " + options.imagePath));

    if (options.silent) {
        dialogue.listenOnly();
    }
    for (long long played = 0; options.sessions == 0 || played < options.sessions;) {
        try {
            if (dialogue.play() == LoaderDialogue::Outcome::Vanished) {
                return 0;
            }
            ++played;
            log.info("dialogue " + std::to_string(played) + " complete");
            dialogue.finish();
        } catch (const SimError& error) {
            const bool protocol = error.kind() == SimError::Kind::Protocol ||
                                  error.kind() == SimError::Kind::ToolClosedPort;
            if (options.sessions != 0 || !protocol) {
                throw;
            }
            log.info(std::string("dialogue failed: ") + error.what() +
                     "; waiting for the next break-in");
        }
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    SimLog log;
    try {
        const SimOptions options = parseSimOptions(argc, argv);
        if (options.help) {
            std::fputs(simHelpText().c_str(), stdout);
            return 0;
        }
        log.setQuiet(options.quiet);
        StopSignals::install();
        const FlashImage image = options.imagePath.empty()
                                     ? FlashImage::fromSeed(options.seed)
                                     : FlashImage::fromFile(options.imagePath);
        if (!options.writeImagePath.empty()) {
            image.save(options.writeImagePath);
        }
        if (options.noPty) {
            return 0;
        }
        std::optional<WireTraceFile> trace;
        if (!options.replayPath.empty()) {
            trace = WireTraceFile::read(options.replayPath);
        }
        return serve(options, image, trace, log);
    } catch (const SimError& error) {
        log.info((error.kind() == SimError::Kind::Stopped ? "" : "error: ") +
                 std::string(error.what()));
        return error.exitStatus();
    }
}
