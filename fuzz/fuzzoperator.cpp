#include "fuzzoperator.h"

#include "blockboxes.h"
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
    : m_port(port) {
    const BlockBoxes boxes = BlockBoxes::read(startBlock, blockCount);
    m_pass = {boxes.ok() ? boxes.range : BlockRange{0, 1}, folder + fileName};
}

void FuzzOperator::follow(PortSession& session) {
    m_session = &session;
    session.dialogue().setPass(m_pass);
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
    fuzzCheck(caption == fourDigitForm(m_nextBlockIndex) + QLatin1Char('/') +
                             fourDigitForm(m_pass.range.count),
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

void FuzzOperator::disarmPort() {
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
