#include "fuzzoperator.h"

#include "blocksize.h"
#include "commcontrol.h"
#include "fuzzcheck.h"
#include "numeric.h"
#include "portsession.h"
#include "transfersummary.h"

#include <QFileInfo>

#include <algorithm>

FuzzOperator::FuzzOperator(CommControl& port, const QString& startBlock, const QString& blockCount,
                           const QString& folder, const QString& fileName)
    : m_port(port), m_startBlock(startBlock), m_blockCount(blockCount), m_folder(folder),
      m_fileName(fileName) {}

void FuzzOperator::follow(PortSession& session) {
    m_session = &session;
    QObject::connect(
        &session, &PortSession::blockReceived, &session,
        [this](const ReceivedBlock& block) { blockReceived(block.index, block.count); });
    QObject::connect(&session, &PortSession::dialogueEnded, &session,
                     [this](const TransferSummary& summary) { dialogueEnded(summary); });
}

void FuzzOperator::appendLog(const QString& piece) {
    m_log += piece;
}

void FuzzOperator::appendLogLine(const QString& text) {
    m_log += (m_log.isEmpty() ? QString() : QStringLiteral("\r\n")) + text + QStringLiteral("\r\n");
}

void FuzzOperator::setProgress(const QString& caption) {
    if (caption == QStringLiteral(".")) {
        m_nextBlockIndex = 1;
        return;
    }
    const std::optional<qint32> count = wholeNumber(numericValue(m_blockCount));
    fuzzCheck(count.has_value(), "a block is asked for only with a whole block count");
    fuzzCheck(caption == fourDigitForm(m_nextBlockIndex) + QLatin1Char('/') + fourDigitForm(*count),
              "the caption names the block about to arrive and the count");
}

void FuzzOperator::showMessage(const QString& text, MessageIcon icon) {
    fuzzCheck(!text.isEmpty(), "a message has a text");
    fuzzCheck(icon == MessageIcon::Critical || icon == MessageIcon::Exclamation ||
                  icon == MessageIcon::Information,
              "a message has one of the three icons");
    if (m_whileMessageOpen)
        m_whileMessageOpen();
}

void FuzzOperator::selectNoPort() {
    m_session->disarm();
}

void FuzzOperator::blockReceived(int index, int count) {
    fuzzCheck(index == m_nextBlockIndex, "blocks arrive in order, each once");
    fuzzCheck(index >= 1 && index <= count, "a block's index lies within the count");
    ++m_nextBlockIndex;
}

void FuzzOperator::dialogueEnded(const TransferSummary& summary) {
    fuzzCheck(!m_port.PortOpen(), "the port is closed when the dialogue has ended");
    fuzzCheck(summary.blocksWritten <= std::max(summary.count, 0),
              "no more blocks are written than were asked for");
    if (summary.outcome != TransferSummary::Outcome::Completed)
        return;
    fuzzCheck(summary.totalReceived, "a completed transfer received the loader's total");
    fuzzCheck(summary.blocksWritten == std::max(summary.count, 0),
              "a completed transfer wrote every block");
    fuzzCheck(QFileInfo(summary.dumpPath).size() == qint64(summary.blocksWritten) * BlockSize,
              "the dump file holds exactly the blocks written");
}
