#include "loaderdialogue.h"

#include "receivermodel.h"
#include "simerror.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <thread>

namespace {

constexpr unsigned char BreakIn = 31;
constexpr std::string_view Fillers = "\xF1\xF2\xF3\xF4\xF5\xF6\xF7";
constexpr unsigned char SurplusByte = 0xA5;
constexpr std::size_t ShortFrameBytes = 500;
constexpr auto StallTime = std::chrono::milliseconds(300);
// Inverting every bit of one byte always changes the sum modulo 256 (by an odd amount).
constexpr std::size_t CorruptedByte = 512;

// The tool writes each answer in one piece, so its digits arrive together.
constexpr std::chrono::milliseconds moreDigitsWithin{30};
// How long to keep collecting after an unexpected byte, to show the whole of what came.
constexpr std::chrono::milliseconds unexpectedTail{100};

std::string hexByte(unsigned value) {
    std::array<char, 8> text{};
    std::snprintf(text.data(), text.size(), "0x%02X", value & 0xFF);
    return text.data();
}

bool isDigit(unsigned char byte) {
    return byte >= '0' && byte <= '9';
}

std::string executableDir() {
    std::array<char, 4096> path{};
    const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size() - 1);
    if (length <= 0) {
        return ".";
    }
    std::string text(path.data(), static_cast<std::size_t>(length));
    return text.substr(0, text.rfind('/'));
}

std::string readResponseFile(const std::string& dir, int number, const SimLog& log) {
    const std::string path = dir + "/Respuesta" + std::to_string(number) + ".TXT";
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw SimError(SimError::Kind::Usage, "cannot read the response file " + path);
    }
    std::string bytes(std::istreambuf_iterator<char>(file), {});
    if (bytes.find(static_cast<char>(BreakIn)) != std::string::npos) {
        log.info("warning: " + path +
                 " holds byte 31, which the simulator skips as a break-in byte");
    }
    return bytes;
}

std::string describe(const std::vector<std::string>& texts, const std::string& label) {
    std::string text = label.empty() ? std::string() : label + " ";
    for (std::size_t i = 0; i < texts.size(); ++i) {
        text += (i == 0 ? "" : " or ") + SimLog::quoted(texts[i]);
    }
    return text;
}

} // namespace

LoaderDialogue::LoaderDialogue(PtyLink& link, const FlashImage& image, const SimOptions& options,
                               const SimLog& log)
    : m_link(link), m_image(image), m_options(options), m_log(log) {
    if (options.mode == SimOptions::Mode::RespFile) {
        const std::string dir =
            options.responsesDir.empty() ? executableDir() + "/Respuestas" : options.responsesDir;
        m_response4 = readResponseFile(dir, 4, log);
        m_response5 = readResponseFile(dir, 5, log);
    }
}

LoaderDialogue::Outcome LoaderDialogue::play() {
    m_link.setToolRequired(false);
    waitForBreakIn();
    m_closesAtStart = m_link.closeCount();
    m_link.setToolRequired(true);
    sendPreamble();
    if (m_options.mode == SimOptions::Mode::Ack) {
        return serveBlocks(ackHandshake());
    }
    respFileHandshake();
    return serveBlocks(std::nullopt);
}

void LoaderDialogue::finish() {
    m_link.setToolRequired(false);
    if (!m_link.knowsToolPresence()) {
        return;
    }
    if (m_link.toolHasPortOpen()) {
        m_log.detail("waiting for the tool to close the port");
    }
    std::string bytes;
    try {
        bytes = m_link.awaitClose(m_closesAtStart);
    } catch (const SimError& error) {
        throw error.explained(" while waiting for the tool to close the port");
    }
    std::erase(bytes, static_cast<char>(BreakIn));
    if (!bytes.empty()) {
        fail("unexpected bytes from the tool after the end of the dialogue: " +
             SimLog::quoted(bytes));
    }
    m_link.clearExclusiveUse();
}

void LoaderDialogue::listenOnly() {
    m_link.setToolRequired(false);
    m_log.info("listening only, sending nothing more");
    for (;;) {
        try {
            m_log.detail("received " + SimLog::quoted(m_link.receiveSome()));
        } catch (const SimError& error) {
            throw error.explained(" while listening");
        }
    }
}

void LoaderDialogue::waitForBreakIn() {
    m_log.detail("waiting for a break-in byte (31)");
    std::string ignored;
    for (;;) {
        unsigned char byte = 0;
        try {
            byte = m_link.receive();
        } catch (const SimError& error) {
            throw error.explained(" while waiting for a break-in byte");
        }
        if (byte == BreakIn) {
            break;
        }
        ignored += static_cast<char>(byte);
    }
    if (!ignored.empty()) {
        m_log.detail("ignored before the break-in: " + SimLog::quoted(ignored));
    }
    m_log.detail("break-in received");
}

void LoaderDialogue::sendPreamble() {
    if (m_options.longLine > 0) {
        std::string text(static_cast<std::size_t>(m_options.longLine), ' ');
        for (std::size_t i = 0; i < text.size(); ++i) {
            text[i] = static_cast<char>('a' + i % 26);
        }
        m_link.send(text);
        m_log.info("sent " + std::to_string(text.size()) +
                   " characters without CR or LF (--long-line)");
    }
    if (m_options.garbage > 0) {
        // A fixed pattern of all byte values, LF among them now and then.
        std::string bytes(static_cast<std::size_t>(m_options.garbage), '\0');
        std::uint32_t state = 0x2545f491;
        for (char& byte : bytes) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            byte = static_cast<char>(state & 0xff);
        }
        m_link.send(bytes);
        m_log.info("sent " + std::to_string(bytes.size()) + " bytes of garbage (--garbage)");
    }
    for (long long i = 1; i <= m_options.noiseLines; ++i) {
        // Binary bytes too: the tool must take any byte into its line.
        sendLine("SIM NOISE " + std::to_string(i) + " " + std::string("\x00\x7F\x80\xFF", 4) +
                 " ~");
    }
}

void LoaderDialogue::sendLine(const std::string& text) {
    m_link.send(text + "\r\n");
    m_log.detail("sent " + SimLog::quoted(text + "\r\n"));
}

LoaderDialogue::Announced LoaderDialogue::ackHandshake() {
    sendLine("LOADER-SIM BOOT v1.0");
    sendLine("BL_FLASH_INFO");
    sendLine("SIM BL_FLASH_END");
    expect("KDATA");
    sendLine("REQUEST_VERSION:1.00");
    expect("ack");
    sendLine("REQDATA_START_BLOCK");
    const long long first = readAnswer("the first block");
    sendLine("REQDATA_BLOCK");
    const long long count = readAnswer("the block count");
    sendLine("ack");
    expect("REQUEST_DOWNLOAD\r");
    return {first, count};
}

void LoaderDialogue::respFileHandshake() {
    sendLine("0000");
    expect(m_response4, "response file 4");
    sendLine(m_options.respLine);
    expect(m_response5, "response file 5");
}

LoaderDialogue::Outcome LoaderDialogue::serveBlocks(std::optional<Announced> announced) {
    ReceiverModel tool;
    unsigned dataSum = 0;
    long long served = 0;
    std::optional<long long> previous;
    const std::string ofCount =
        announced ? " of " + std::to_string(std::max(0LL, announced->count)) : std::string();

    while (expectOneOf({"REQUEST_1024DOWN:", "REQUEST_TOTALCRC\r"}) == 0) {
        const long long n = readBlockNumber();
        checkRequestOrder(n, served, previous, announced);
        ++served;
        const std::string_view data = m_image.block(n);
        unsigned blockSum = 0;
        for (const char byte : data) {
            blockSum += static_cast<unsigned char>(byte);
        }
        dataSum += blockSum;
        std::string frame(data);
        frame += static_cast<char>(blockSum & 0xFF);
        frame += Fillers;

        const std::string what =
            "block " + std::to_string(n) + " (" + std::to_string(served) + ofCount + ")";
        std::string faults;
        if (served == m_options.badSumBlock) {
            frame[FlashImage::BlockSize] = static_cast<char>(blockSum + 1);
            faults += "; wrong sum byte " + hexByte(blockSum + 1) + " (--fault-bad-sum)";
        }
        if (served == m_options.corruptBlock) {
            frame[CorruptedByte] = static_cast<char>(~frame[CorruptedByte]);
            faults += "; data byte " + std::to_string(CorruptedByte) +
                      " inverted, sum byte of the true data (--fault-corrupt)";
        }
        if (served == m_options.shortBlock) {
            m_link.send(std::string_view(frame).substr(0, ShortFrameBytes));
            m_log.info(what + ": sent only the first " + std::to_string(ShortFrameBytes) +
                       " bytes of the frame (--fault-short)");
            listenOnly();
        }
        if (served == m_options.surplusBlock) {
            frame += static_cast<char>(SurplusByte);
            faults += "; one byte more than a frame (--fault-surplus)";
        }
        std::string_view rest(frame);
        if (served == m_options.vanishMidBlock || served == m_options.stallBlock) {
            m_link.send(rest.substr(0, ShortFrameBytes));
            rest.remove_prefix(ShortFrameBytes);
            if (served == m_options.vanishMidBlock) {
                m_link.vanish();
                m_log.info(what + ": sent the first " + std::to_string(ShortFrameBytes) +
                           " bytes of the frame; the loader vanished (--fault-vanish-mid)");
                return Outcome::Vanished;
            }
            faults += "; stalled for " + std::to_string(StallTime.count()) + " ms after the first " +
                      std::to_string(ShortFrameBytes) + " bytes (--fault-stall)";
            std::this_thread::sleep_for(StallTime);
        }
        m_link.send(rest);
        tool.sent(frame);
        if (const auto taken = tool.takeFrame(); !taken || !taken->sumMatches()) {
            faults += "; the tool will find its sum wrong";
        }
        const std::string line = what + ": frame sent, sum " + hexByte(blockSum) + faults;
        if (faults.empty()) {
            m_log.detail(line);
        } else {
            m_log.info(line);
        }

        expect("1024DOWN_SUCCESS:" + std::to_string(n) + "\r");
        if (served == m_options.vanishBlock) {
            m_link.vanish();
            m_log.info(what + " acknowledged; the loader vanished (--fault-vanish)");
            return Outcome::Vanished;
        }
        previous = n;
    }

    m_log.detail("received \"REQUEST_TOTALCRC\\r\"");
    if (announced && served != std::max(0LL, announced->count)) {
        fail("the tool asked for the total after " + std::to_string(served) + " blocks, but " +
             std::to_string(announced->count) + " were announced");
    }
    checkFaultsReached(served);

    unsigned char total = static_cast<unsigned char>(dataSum & 0xFF);
    if (m_options.wrongTotal) {
        ++total;
    }
    const std::string totalByte(1, static_cast<char>(total));
    m_link.send(totalByte);
    tool.sent(totalByte);
    const auto taken = tool.takeTotal();
    const bool confirmationDue = taken && taken->matches();
    const std::string line = "total " + hexByte(total) + " sent after " + std::to_string(served) +
                             " blocks" + (m_options.wrongTotal ? " (--fault-wrong-total)" : "");
    if (confirmationDue) {
        m_log.detail(line);
        expect("DOWN_SUCCESS\r");
    } else {
        m_log.info(line + "; the tool's total will not match, so no DOWN_SUCCESS is due");
        awaitNoConfirmation();
    }
    return Outcome::Completed;
}

void LoaderDialogue::checkRequestOrder(long long n, long long served,
                                       std::optional<long long> previous,
                                       std::optional<Announced> announced) const {
    if (announced) {
        if (served >= announced->count) {
            fail("the tool asked for block " + std::to_string(n) + " after all " +
                 std::to_string(std::max(0LL, announced->count)) + " announced blocks");
        }
        if (n != announced->first + served) {
            fail("the tool asked for block " + std::to_string(n) + ", expected block " +
                 std::to_string(announced->first + served));
        }
    } else if (previous && n != *previous + 1) {
        fail("the tool asked for block " + std::to_string(n) + " after block " +
             std::to_string(*previous));
    }
}

void LoaderDialogue::checkFaultsReached(long long served) const {
    const std::array<std::pair<const char*, long long>, 7> faults = {{
        {"--fault-bad-sum", m_options.badSumBlock},
        {"--fault-corrupt", m_options.corruptBlock},
        {"--fault-surplus", m_options.surplusBlock},
        {"--fault-short", m_options.shortBlock},
        {"--fault-vanish", m_options.vanishBlock},
        {"--fault-vanish-mid", m_options.vanishMidBlock},
        {"--fault-stall", m_options.stallBlock},
    }};
    for (const auto& [option, block] : faults) {
        if (block > served) {
            fail(std::string(option) + " " + std::to_string(block) +
                 " never happened: the tool asked for only " + std::to_string(served) + " blocks");
        }
    }
}

void LoaderDialogue::awaitNoConfirmation() {
    const auto until = PtyLink::Clock::now() + std::chrono::milliseconds(m_options.lingerMs);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - PtyLink::Clock::now());
        if (left.count() <= 0) {
            break;
        }
        const auto byte = m_link.receiveWithin(left);
        if (!byte) {
            break;
        }
        if (*byte != BreakIn) {
            unexpected("nothing (the tool's total does not match)",
                       std::string(1, static_cast<char>(*byte)));
        }
    }
}

std::size_t LoaderDialogue::expectOneOf(const std::vector<std::string>& texts,
                                        const std::string& label) {
    const std::string expected = describe(texts, label);
    for (std::size_t i = 0; i < texts.size(); ++i) {
        if (texts[i].empty()) {
            return i;
        }
    }
    std::string received;
    for (;;) {
        received += static_cast<char>(nextToolByte(expected, received));
        bool stillPossible = false;
        for (std::size_t i = 0; i < texts.size(); ++i) {
            if (texts[i].starts_with(received)) {
                if (texts[i].size() == received.size()) {
                    return i;
                }
                stillPossible = true;
            }
        }
        if (!stillPossible) {
            unexpected(expected, received);
        }
    }
}

void LoaderDialogue::expect(const std::string& text, const std::string& label) {
    expectOneOf({text}, label);
    m_log.detail("received " + (label.empty() ? SimLog::quoted(text) : label));
}

long long LoaderDialogue::readAnswer(const std::string& what) {
    const std::string expected = what + " (four digits, '-' in front when negative)";
    std::string text;
    unsigned char byte = nextToolByte(expected, text);
    if (byte == '-') {
        text += '-';
        byte = nextToolByte(expected, text);
    }
    for (int digits = 1;; ++digits) {
        if (!isDigit(byte)) {
            unexpected(expected, text + static_cast<char>(byte));
        }
        text += static_cast<char>(byte);
        if (digits == 4) {
            break;
        }
        byte = nextToolByte(expected, text);
    }
    while (const auto more = m_link.receiveWithin(moreDigitsWithin)) {
        if (*more == BreakIn) {
            continue;
        }
        if (!isDigit(*more)) {
            m_link.unreceive(*more);
            break;
        }
        text += static_cast<char>(*more);
        if (text.size() > 12) {
            unexpected(expected, text);
        }
    }
    m_log.detail("received " + what + " " + SimLog::quoted(text));
    return std::stoll(text);
}

long long LoaderDialogue::readBlockNumber() {
    const std::string expected = "a block number in plain decimal and CR";
    std::string received = "REQUEST_1024DOWN:";
    std::string number;
    for (;;) {
        const unsigned char byte = nextToolByte(expected, received);
        received += static_cast<char>(byte);
        if (byte == '\r') {
            break;
        }
        if (!(isDigit(byte) || (byte == '-' && number.empty())) || number.size() >= 11) {
            unexpected(expected, received);
        }
        number += static_cast<char>(byte);
    }
    if (number.empty() || number == "-" || std::to_string(std::stoll(number)) != number) {
        unexpected(expected + " (no leading zeros)", received);
    }
    m_log.detail("received " + SimLog::quoted(received));
    return std::stoll(number);
}

unsigned char LoaderDialogue::nextToolByte(const std::string& expected,
                                           const std::string& received) {
    for (;;) {
        unsigned char byte = 0;
        try {
            byte = m_link.receive();
        } catch (const SimError& error) {
            throw error.explained(
                " while expecting " + expected +
                (received.empty() ? "" : " (received only " + SimLog::quoted(received) + ")"));
        }
        if (byte != BreakIn) {
            return byte;
        }
    }
}

void LoaderDialogue::unexpected(const std::string& expected, std::string received) {
    while (received.size() < 256) {
        const auto more = m_link.receiveWithin(unexpectedTail);
        if (!more) {
            break;
        }
        received += static_cast<char>(*more);
    }
    fail("unexpected bytes from the tool: expected " + expected + ", received " +
         SimLog::quoted(received));
}

void LoaderDialogue::fail(const std::string& reason) {
    throw SimError(SimError::Kind::Protocol, reason);
}
