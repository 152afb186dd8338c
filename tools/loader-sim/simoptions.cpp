#include "simoptions.h"

#include "simerror.h"

#include <charconv>
#include <cmath>
#include <functional>
#include <map>
#include <string_view>

namespace {

[[noreturn]] void usageError(const std::string& message) {
    throw SimError(SimError::Kind::Usage, message + " (see --help)");
}

long long wholeNumber(std::string_view option, std::string_view text, long long minimum,
                      long long maximum) {
    long long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < minimum ||
        value > maximum) {
        usageError(std::string(option) + " needs a whole number from " + std::to_string(minimum) +
                   " to " + std::to_string(maximum) + ", not \"" + std::string(text) + "\"");
    }
    return value;
}

double seconds(std::string_view option, std::string_view text) {
    try {
        std::size_t used = 0;
        const double value = std::stod(std::string(text), &used);
        if (used == text.size() && std::isfinite(value) && value >= 0) {
            return value;
        }
    } catch (const std::exception&) {
    }
    usageError(std::string(option) + " needs a number of seconds, not \"" + std::string(text) +
               "\"");
}

} // namespace

SimOptions parseSimOptions(int argc, char** argv) {
    SimOptions o;
    constexpr long long maxCount = 1'000'000'000;

    using Setter = std::function<void(std::string_view option, std::string_view value)>;
    const std::map<std::string_view, Setter> withValue = {
        {"--mode",
         [&](auto option, auto value) {
             if (value == "ack") {
                 o.mode = SimOptions::Mode::Ack;
             } else if (value == "respfile") {
                 o.mode = SimOptions::Mode::RespFile;
             } else {
                 usageError(std::string(option) + " is ack or respfile, not \"" +
                            std::string(value) + "\"");
             }
         }},
        {"--seed",
         [&](auto option, auto value) {
             o.seed = static_cast<std::uint64_t>(wholeNumber(option, value, 0, INT64_MAX));
         }},
        {"--image", [&](auto, auto value) { o.imagePath = value; }},
        {"--write-image", [&](auto, auto value) { o.writeImagePath = value; }},
        {"--link", [&](auto, auto value) { o.linkPath = value; }},
        {"--responses", [&](auto, auto value) { o.responsesDir = value; }},
        {"--resp-line",
         [&](auto option, auto value) {
             if (value.find_first_of("\r\n") != std::string_view::npos) {
                 usageError(std::string(option) + " must not hold CR or LF");
             }
             o.respLine = value;
         }},
        {"--baud",
         [&](auto option, auto value) {
             o.baud = static_cast<unsigned>(wholeNumber(option, value, 10, 100'000'000));
         }},
        {"--piece",
         [&](auto option, auto value) {
             o.piece = static_cast<unsigned>(wholeNumber(option, value, 1, 4096));
         }},
        {"--sessions",
         [&](auto option, auto value) { o.sessions = wholeNumber(option, value, 0, maxCount); }},
        {"--fault-bad-sum",
         [&](auto option, auto value) { o.badSumBlock = wholeNumber(option, value, 1, maxCount); }},
        {"--fault-surplus",
         [&](auto option, auto value) {
             o.surplusBlock = wholeNumber(option, value, 1, maxCount);
         }},
        {"--fault-short",
         [&](auto option, auto value) { o.shortBlock = wholeNumber(option, value, 1, maxCount); }},
        {"--fault-vanish",
         [&](auto option, auto value) { o.vanishBlock = wholeNumber(option, value, 1, maxCount); }},
        {"--fault-vanish-mid",
         [&](auto option, auto value) {
             o.vanishMidBlock = wholeNumber(option, value, 1, maxCount);
         }},
        {"--fault-stall",
         [&](auto option, auto value) { o.stallBlock = wholeNumber(option, value, 1, maxCount); }},
        {"--fault-corrupt",
         [&](auto option, auto value) {
             o.corruptBlock = wholeNumber(option, value, 1, maxCount);
         }},
        {"--linger",
         [&](auto option, auto value) { o.lingerMs = wholeNumber(option, value, 0, 3'600'000); }},
        {"--noise",
         [&](auto option, auto value) { o.noiseLines = wholeNumber(option, value, 0, 100'000); }},
        {"--long-line",
         [&](auto option, auto value) { o.longLine = wholeNumber(option, value, 0, 100'000'000); }},
        {"--garbage",
         [&](auto option, auto value) { o.garbage = wholeNumber(option, value, 0, 100'000'000); }},
        {"--record", [&](auto, auto value) { o.recordPath = value; }},
        {"--replay", [&](auto, auto value) { o.replayPath = value; }},
        {"--replay-pace",
         [&](auto option, auto value) {
             if (value == "recorded") {
                 o.replayPace = SimOptions::Pace::Recorded;
             } else if (value == "fast") {
                 o.replayPace = SimOptions::Pace::Fast;
             } else {
                 usageError(std::string(option) + " is recorded or fast, not \"" +
                            std::string(value) + "\"");
             }
         }},
        {"--timeout", [&](auto option, auto value) { o.timeoutSeconds = seconds(option, value); }},
    };
    const std::map<std::string_view, bool*> flags = {
        {"--help", &o.help},     {"-h", &o.help},
        {"--no-pty", &o.noPty},  {"--fault-wrong-total", &o.wrongTotal},
        {"--silent", &o.silent}, {"--quiet", &o.quiet},
    };

    for (int i = 1; i < argc; ++i) {
        std::string_view option = argv[i];
        std::string_view value;
        bool hasValue = false;
        if (const auto equals = option.find('=');
            option.starts_with("--") && equals != std::string_view::npos) {
            value = option.substr(equals + 1);
            option = option.substr(0, equals);
            hasValue = true;
        }
        if (const auto flag = flags.find(option); flag != flags.end()) {
            if (hasValue) {
                usageError(std::string(option) + " takes no value");
            }
            *flag->second = true;
            continue;
        }
        const auto setter = withValue.find(option);
        if (setter == withValue.end()) {
            usageError("unknown option \"" + std::string(argv[i]) + "\"");
        }
        if (!hasValue) {
            if (i + 1 >= argc) {
                usageError(std::string(option) + " needs a value");
            }
            value = argv[++i];
        }
        setter->second(option, value);
    }
    const bool playsDialogue = o.mode != SimOptions::Mode::Ack || o.sessions != 1 || o.silent ||
                               o.badSumBlock != 0 || o.surplusBlock != 0 || o.shortBlock != 0 ||
                               o.vanishBlock != 0 || o.vanishMidBlock != 0 ||
                               o.stallBlock != 0 || o.corruptBlock != 0 || o.wrongTotal ||
                               o.noiseLines != 0 || o.longLine != 0 || o.garbage != 0;
    if (!o.replayPath.empty() && playsDialogue) {
        usageError("--replay plays only the trace: it does not combine with --mode, --sessions, "
                   "--silent, --noise, --long-line, --garbage or a fault");
    }
    return o;
}

std::string simHelpText() {
    return R"(Usage: loader-sim [options]

Simulated decoder boot loader on a pseudo-terminal. Opens a pty pair, prints the
device path of the slave (the tool's end) as the first line of stdout, and plays
the loader's side of the dump dialogue with whatever opens that device.

Dialogue
  --mode ack          (default) After a break-in byte (31): announce lines ending
                      in "SIM BL_FLASH_END"; expects "KDATA"; sends
                      "REQUEST_VERSION:1.00", expects "ack"; sends
                      "REQDATA_START_BLOCK" and "REQDATA_BLOCK" and reads the two
                      answers; sends "ack", expects "REQUEST_DOWNLOAD" CR; then
                      serves blocks. The requests must be for the announced
                      blocks, in order, and exactly as many as announced.
  --mode respfile     After a break-in byte: sends the line "0000", expects the
                      exact bytes of Respuesta4.TXT, sends the --resp-line line,
                      expects Respuesta5.TXT, then serves blocks in any
                      consecutive order.
  --resp-line TEXT    The second line of respfile mode (default 1920).
  --responses DIR     Folder of Respuesta4.TXT and Respuesta5.TXT (default: the
                      Respuestas folder beside this program).
  Every line the simulator sends ends in CR LF. Bytes of value 31 from the tool
  are skipped wherever the tool's texts are read (the ticker may run on), so
  response files used with the simulator must hold no byte 31.
  The answers to REQDATA_START_BLOCK and REQDATA_BLOCK carry no terminator: the
  simulator reads an optional '-' and four digits, then takes further digits as
  long as each arrives within 30 ms (the tool writes its answer in one piece and
  sends nothing else before the next line).

Blocks
  Each "REQUEST_1024DOWN:" n CR (n in plain decimal) is answered with a
  1032-byte frame: the 1024 bytes of block n (bytes n*1024.. of the image; 0xFF
  for n outside 0..2047), their sum modulo 256, and the 7 filler bytes F1..F7
  (hex). Then "1024DOWN_SUCCESS:" n CR must follow. "REQUEST_TOTALCRC" CR is
  answered with the sum modulo 256 of every data byte served in the dialogue;
  "DOWN_SUCCESS" CR must follow when the total that the tool received matches
  its own count (the simulator follows what the tool makes of the bytes it
  received, so it also knows when no DOWN_SUCCESS is due, e.g. after a fault).

Flash image
  --seed N            2 MiB image from a simple generator (default 1). Every
                      block begins with 00 11 13 1A FF 0D 0A 1F (hex); block 0
                      then holds the values 00..FF in order, so every byte value
                      occurs.
  --image FILE        Serve FILE instead (at most 2 MiB; shorter is padded
                      with 0xFF).
  --write-image FILE  Write the image to FILE before starting.
  --no-pty            Open no pseudo-terminal: with --write-image, write the
                      image and exit 0 at once.

Line and sessions
  --link PATH         Also make the symbolic link PATH to the slave device
                      (replaced if it exists; removed at exit).
  --baud N            Pace everything sent at N/10 bytes per second (8N1), as a
                      real line would. Default: unpaced.
  --piece BYTES       With --baud, hand the paced bytes over in pieces of this
                      size, each once the line would have carried its last
                      bit (default 16, the receive trigger of a 16550 UART's
                      FIFO; a USB adapter delivers 62 to 512 bytes at a time).
  --sessions N        Dialogues to complete before exiting (default 1; 0 means
                      forever, where a failed dialogue is logged and the
                      simulator waits for the next break-in). After each
                      dialogue the simulator waits until the tool has closed
                      the port (only break-in bytes may arrive meanwhile).
  --timeout S         Give up (exit 3) when nothing arrives for S seconds while
                      waiting for the tool. Default 0: wait without limit.

Faults (K counts the blocks of one transfer from 1)
  --fault-bad-sum K   Block K's frame carries a wrong sum byte.
  --fault-surplus K   One extra byte (A5 hex) follows block K's frame.
  --fault-short K     Only the first 500 bytes of block K's frame are sent; then
                      the simulator sends nothing more and only logs what it
                      receives until it is stopped or times out.
  --fault-vanish K    After block K has been acknowledged, close the pty and the
                      link and exit 0, as a device that goes away.
  --fault-vanish-mid K  After the first 500 bytes of block K's frame, vanish as
                      with --fault-vanish: a device gone in the middle of a frame.
  --fault-stall K     Block K's frame stops for 300 ms after its first 500
                      bytes, then the rest follows.
  --fault-corrupt K   Block K's data goes out with byte 512 inverted, while its
                      sum byte is that of the true data: the tool finds the sum
                      wrong and keeps wrong data (its total will not match
                      either, so no DOWN_SUCCESS is due).
  --fault-wrong-total The total byte is one more than the true total. The tool
                      then sends no DOWN_SUCCESS; the dialogue counts as complete
                      when none has come within --linger ms or when the tool
                      closes the port.
  --linger MS         How long to wait for a DOWN_SUCCESS that is not due
                      (default 1500).
  --noise N           N lines of junk that match no keyword before the announce
                      lines (respfile mode: before "0000").
  --long-line N       N characters without CR or LF before the announce lines.
  --garbage N         N bytes of binary garbage (what a line at the wrong speed
                      gives) before the announce lines.
  --silent            Send nothing at all; log what arrives until stopped.
  A fault whose block is never reached makes the dialogue fail (exit 1).

Replay
  --replay FILE       Play the loader's side of a wire trace that decodump
                      recorded (--trace) instead of a dialogue: wait for the
                      tool's first byte, then go through the events in order.
                      Bytes from the loader ('<') are sent; bytes from the tool
                      ('>') must arrive exactly as recorded, else the replay
                      fails naming the event, what was expected and what came.
                      Break-in bytes (31) from the tool are not compared: they
                      are dropped from the trace and from what arrives. Once
                      the trace is through, the tool must close the port.
                      Image, mode and fault options do not apply.
  --replay-pace P     recorded (default): the loader's bytes go out at their
                      recorded time after the tool's first byte (never before
                      the tool's bytes that precede them in the trace); fast:
                      as soon as those tool bytes have arrived.

Output
  --record FILE       Append every byte received, raw, to FILE.
  --quiet             Log only start, end, faults and errors on stderr.
  -h, --help          This text.

Exit status
  0    the dialogues completed as the protocol says (with --fault-vanish: the
       simulator vanished after block K as asked); with --replay: the tool
       matched the whole trace and closed the port
  1    the tool sent something unexpected, or closed the port too early
  2    bad command line, or a malformed trace
  3    --timeout expired
  4    pseudo-terminal or file error
  128+signal  stopped by SIGTERM or SIGINT (the link is removed first)
)";
}
