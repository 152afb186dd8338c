#pragma once

#include "flashimage.h"
#include "ptylink.h"
#include "simlog.h"
#include "simoptions.h"

#include <optional>
#include <string>
#include <vector>

// The loader's side of one dump dialogue, from the tool's break-in byte to its confirmation of
// the total, as --mode and the fault options describe it.
class LoaderDialogue {
public:
    enum class Outcome { Completed, Vanished };

    // Reads the response files in respfile mode; throws SimError when they cannot be read.
    LoaderDialogue(PtyLink& link, const FlashImage& image, const SimOptions& options,
                   const SimLog& log);

    Outcome play();
    // Waits until the tool has closed the port after the dialogue; only break-in bytes may
    // arrive meanwhile.
    void finish();
    // Sends nothing more and logs whatever arrives, until stopped or timed out.
    [[noreturn]] void listenOnly();

private:
    struct Announced {
        long long first;
        long long count;
    };

    void waitForBreakIn();
    void sendPreamble();
    void sendLine(const std::string& text);
    Announced ackHandshake();
    void respFileHandshake();
    Outcome serveBlocks(std::optional<Announced> announced);
    void checkRequestOrder(long long n, long long served, std::optional<long long> previous,
                           std::optional<Announced> announced) const;
    void checkFaultsReached(long long served) const;
    void awaitNoConfirmation();

    // Reads the tool's next text, which must be one of `texts`; returns its index.
    std::size_t expectOneOf(const std::vector<std::string>& texts, const std::string& label = {});
    void expect(const std::string& text, const std::string& label = {});
    long long readAnswer(const std::string& what);
    long long readBlockNumber();
    // The tool's next byte, break-in bytes skipped; a timeout or a closed port is reported
    // with what was expected and what had come.
    unsigned char nextToolByte(const std::string& expected, const std::string& received);
    [[noreturn]] void unexpected(const std::string& expected, std::string received);
    [[noreturn]] static void fail(const std::string& reason);

    PtyLink& m_link;
    const FlashImage& m_image;
    const SimOptions& m_options;
    const SimLog& m_log;
    std::string m_response4;
    std::string m_response5;
    unsigned long m_closesAtStart = 0;
};
