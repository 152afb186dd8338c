#include "dialogue.h"

#include "commcontrol.h"
#include "dialoguelog.h"
#include "numeric.h"
#include "programfolders.h"
#include "safefile.h"

#include <QDir>
#include <QFileInfo>
#include <QTimer>

namespace {

const QByteArray CR = "\r";

QString fileProblem(const QFile& file) {
    return file.errorString().isEmpty() ? QStringLiteral("error desconocido") : file.errorString();
}

} // namespace

Dialogue::Dialogue(CommControl& port, OperatorSide& operatorSide, QTimer& ticker, QObject* parent)
    : QObject(parent), m_port(port), m_op(operatorSide), Timer1(ticker),
      m_responsesFolder(defaultResponsesFolder()) {
    connect(&m_port, &CommControl::OnComm, this, &Dialogue::Serie1_OnComm);
    connect(&m_port, &CommControl::inputArrived, this, &Dialogue::advance);
    connect(&m_port, &CommControl::closed, this, &Dialogue::onPortClosed);
    connect(&m_port, &CommControl::deviceLost, this, &Dialogue::onDeviceLost);
}

Dialogue::~Dialogue() = default;

Dialogue::Step::Step(Dialogue& dialogue) : m_dialogue(dialogue) {
    ++m_dialogue.m_steps;
}

Dialogue::Step::~Step() {
    if (--m_dialogue.m_steps == 0)
        m_dialogue.reportPortEndAfterSteps();
}

void Dialogue::Serie1_OnComm() {
    if (m_port.CommEvent() != CommControl::comEvReceive)
        return;
    const Step step(*this);
    const QByteArray received = m_port.Input();
    if (m_banner.size() < BannerLimit)
        m_banner += received;
    if (!m_shared.Info_Mostrada) {
        m_op.appendLog(QStringLiteral("Recibiendo info...\r\n"));
        m_shared.Info_Mostrada = true;
    }
    if (received == CR)
        return;
    if (received != "\n") {
        m_shared.Linea_Rx += received;
        return;
    }
    m_op.appendLog(QStringLiteral("o"));
    dispatch();
}

void Dialogue::dispatch() {
    QByteArray& Linea_Rx = m_shared.Linea_Rx;
    bool& Descarga_Armada = m_shared.Descarga_Armada;
    const QByteArray line = Linea_Rx;
    qCDebug(lcDialogue) << "line" << line;

    if (line == "ack") {
        Linea_Rx.clear();
        if (Descarga_Armada) {
            Descarga_Armada = false;
            if (send("REQUEST_DOWNLOAD" + CR))
                Recibe_Bloques();
        }
        return;
    }
    if (line.size() == 12 && line.startsWith("REQUEST_V")) {
        Linea_Rx.clear();
        return;
    }
    if (line == "BL_FLASH_INFO") {
        Linea_Rx.clear();
        return;
    }
    if (line.endsWith("BL_FLASH_END")) {
        Timer1.stop();
        send("KDATA");
        Linea_Rx.clear();
        return;
    }
    if (line.startsWith("REQUEST_VERSION:")) {
        send("ack");
        Linea_Rx.clear();
        return;
    }
    if (line == "REQDATA_START_BLOCK") {
        send(fourDigitForm(m_pass.range.first).toLatin1());
        Linea_Rx.clear();
        return;
    }
    if (line == "REQDATA_BLOCK") {
        send(fourDigitForm(m_pass.range.count).toLatin1());
        Descarga_Armada = true;
        Linea_Rx.clear();
        return;
    }
    if (line == "0000") {
        Linea_Rx.clear();
        m_shared.Num_Respuesta = 4;
        if (Envia_Parrafada(m_shared.Num_Respuesta))
            m_op.appendLog(QStringLiteral("Solicitando firmware...\r\n"));
        return;
    }
    if (line.size() == 4 && numericValue(line) > 0) {
        Linea_Rx.clear();
        m_shared.Num_Respuesta = 5;
        if (Envia_Parrafada(m_shared.Num_Respuesta))
            Recibe_Bloques();
        return;
    }
    Linea_Rx.clear();
}

QString Dialogue::responseFilePath(qint32 n) const {
    return m_responsesFolder + QStringLiteral("/Respuesta") + QString::number(n) +
           QStringLiteral(".TXT");
}

bool Dialogue::Envia_Parrafada(qint32 n) {
    const QString path = responseFilePath(n);
    const auto cannotRead = [&](TransferSummary::Failure failure, const QString& why) {
        m_summary = TransferSummary{};
        m_summary.failure = failure;
        m_summary.failedPath =
            failure == TransferSummary::Failure::ResponsesFolderMissing ? m_responsesFolder : path;
        m_summary.detail = why;
        failAndDisarm(TransferSummary::Outcome::FileError,
                      QStringLiteral("No se puede leer el archivo de respuesta ") + path +
                          QStringLiteral("\r\n\r\n") + why);
        return false;
    };
    if (!QFileInfo(m_responsesFolder).isDir())
        return cannotRead(TransferSummary::Failure::ResponsesFolderMissing,
                          QStringLiteral("La carpeta ") + m_responsesFolder +
                              QStringLiteral(" no existe."));

    QByteArray content;
    const QFileInfo entry(path);
    if (!entry.exists() && !entry.isSymLink()) {
        // A missing file in an existing folder is created empty: nothing is sent.
        Fichero_Respuesta.setFileName(path);
        if (!Fichero_Respuesta.open(QIODevice::ReadWrite | QIODevice::NewOnly))
            return cannotRead(TransferSummary::Failure::ResponseFileUnreadable,
                              fileProblem(Fichero_Respuesta));
        Fichero_Respuesta.close();
    } else {
        // Read only as a regular file of a response's size: a pipe or a device there (a link
        // to /dev/zero) would wait or never end.
        QString problem;
        if (!openRegularFile(Fichero_Respuesta, path, &problem))
            return cannotRead(TransferSummary::Failure::ResponseFileUnreadable, problem);
        content = Fichero_Respuesta.read(ResponseFileLimit + 1);
        const bool readFailed = Fichero_Respuesta.error() != QFileDevice::NoError;
        problem = readFailed ? fileProblem(Fichero_Respuesta)
                             : QStringLiteral("larger than %1 bytes").arg(ResponseFileLimit);
        Fichero_Respuesta.close();
        if (readFailed || content.size() > ResponseFileLimit)
            return cannotRead(TransferSummary::Failure::ResponseFileUnreadable, problem);
    }

    for (const char byte : content) {
        if (!send(QByteArray(1, byte)))
            return false;
    }
    Q_EMIT responseFileSent(n);
    return true;
}

void Dialogue::Timer1_Timer() {
    const Step step(*this);
    if (m_port.PortOpen())
        send(QByteArray(1, BreakIn));
    m_shared.Descarga_Armada = false;
}

void Dialogue::portArmed(const QString& portName) {
    m_portName = portName;
    m_shared.Suma_Total = 0;
    m_banner.clear();
}

void Dialogue::Recibe_Bloques() {
    qCDebug(lcDialogue) << "transfer starts";
    Q_EMIT transferStarted();
    m_op.setProgress(QStringLiteral("."));
    m_op.appendLog(QStringLiteral("\r\nRECIBIENDO DATOS\r\n"));
    m_port.setRThreshold(0);
    m_port.setInputLen(FrameSize);

    // The dump's folder, one level, as the operator named it.
    const QString path = m_pass.dumpPath;
    QDir().mkdir(QFileInfo(path).path());
    m_summary = TransferSummary{};
    m_summary.dumpPath = path;

    if (const std::optional<BlockSink::Failure> failure = m_sink->check(path)) {
        failSink(*failure);
        return;
    }
    // The requests, the progress caption and the record numbers all use the pass's range.
    m_range = m_pass.range;
    m_currentBlock = m_range.first;
    m_summary.count = m_range.count;
    qCDebug(lcDialogue) << "blocks" << m_range.first << "to" << m_range.last();

    m_transfer = Transfer::Blocks;
    // The old dump is replaced only once the loader has been asked for a block: a port that
    // fails before leaves it as it was.
    if (!requestBlock() || !openDump())
        return;
    advance();
}

bool Dialogue::openDump() {
    if (const std::optional<BlockSink::Failure> failure =
            m_sink->open(m_summary.dumpPath, m_range)) {
        failSink(*failure);
        return false;
    }
    Q_EMIT dumpOpened(m_summary.dumpPath, m_range);
    return true;
}

void Dialogue::failSink(const BlockSink::Failure& failure) {
    m_summary.failure = failure.created ? TransferSummary::Failure::DumpNotWritten
                                        : TransferSummary::Failure::DumpNotCreated;
    m_summary.failedPath = m_summary.dumpPath;
    m_summary.detail = m_op.pathProblemText(failure.problem);
    failAndDisarm(TransferSummary::Outcome::FileError,
                  (failure.created ? QStringLiteral("No se puede escribir el archivo ")
                                   : QStringLiteral("No se puede crear el archivo ")) +
                      m_summary.dumpPath + QStringLiteral("\r\n\r\n") + m_summary.detail);
}

bool Dialogue::requestBlock() {
    const qint32 index = m_currentBlock - m_range.first + 1;
    if (!send("REQUEST_1024DOWN:" + QByteArray::number(m_currentBlock) + CR))
        return false;
    // The frame is taken whole: the port need not wake the transfer before it is all there.
    m_port.expectInput(FrameSize);
    m_op.setProgress(fourDigitForm(index) + QLatin1Char('/') + fourDigitForm(m_range.count));
    Q_EMIT blockRequested(index, m_range.count);
    return true;
}

void Dialogue::advance() {
    if (m_advancing || m_transfer == Transfer::Idle)
        return;
    const Step step(*this);
    m_advancing = true;
    while (m_transfer == Transfer::Blocks && m_port.InBufferCount() >= FrameSize)
        takeFrame();
    if (m_transfer == Transfer::Total && m_port.InBufferCount() > 0)
        finishTotal();
    m_advancing = false;
}

void Dialogue::takeFrame() {
    auto& Bloque = m_shared.Bloque;
    quint8& Suma_Bloque = m_shared.Suma_Bloque;
    qint32& Suma_Total = m_shared.Suma_Total;
    const QByteArray frame = m_port.Input();
    int blockSum = 0;
    for (int j = 0; j < BlockSize; ++j) {
        const auto byte = static_cast<quint8>(frame[j]);
        Bloque[static_cast<size_t>(j)] = byte;
        blockSum = (blockSum + byte) % 65536;
        Suma_Total = (Suma_Total + byte) % 65536;
    }
    Suma_Bloque = static_cast<quint8>(frame[BlockSize]);

    ReceivedBlock block;
    block.index = m_currentBlock - m_range.first + 1;
    block.count = m_range.count;
    block.block = m_currentBlock;
    block.sum = static_cast<quint8>(blockSum % 256);
    block.sumByte = Suma_Bloque;
    qCDebug(lcDialogue) << "block" << m_currentBlock << (block.sumOk() ? "sum ok" : "bad sum");
    if (!block.sumOk()) {
        m_summary.badSumBlocks.append(m_currentBlock);
        m_op.showMessage(QStringLiteral("CRC No Ok!!!"), MessageIcon::Exclamation);
    }

    // Stored even when the port closed or went away while the message was open: a received
    // block is never dropped.
    block.data = QByteArray(reinterpret_cast<const char*>(Bloque.data()), BlockSize);
    const BlockSink::Stored stored = m_sink->store(block.index - 1, block.data, block.sumOk());
    if (stored.failure) {
        failSink(*stored.failure);
        return;
    }
    block.record = stored.record;
    block.differs = stored.differs;
    block.uncompared = stored.uncompared;
    if (block.record)
        ++m_summary.blocksWritten;
    Q_EMIT blockReceived(block);

    if (!m_port.PortOpen() || !send("1024DOWN_SUCCESS:" + QByteArray::number(m_currentBlock) + CR))
        return;
    if (m_currentBlock == m_range.last()) {
        beginEnd();
        return;
    }
    ++m_currentBlock;
    requestBlock();
}

void Dialogue::beginEnd() {
    m_port.setRThreshold(0);
    m_port.setInputLen(1);
    send("REQUEST_TOTALCRC" + CR);
    m_port.expectInput(1);
    m_shared.Suma_Total %= 256;
    m_sink->close();
    m_transfer = Transfer::Total;
}

void Dialogue::finishTotal() {
    const auto total = static_cast<quint8>(m_port.Input().at(0));
    m_summary.totalReceived = true;
    m_summary.loaderTotal = total;
    m_summary.computedTotal = m_shared.Suma_Total;
    qCDebug(lcDialogue) << "total: loader" << total << "computed" << m_shared.Suma_Total;
    // A confirmation that could not go out leaves the dump unconfirmed: the loss is reported.
    if (total == m_shared.Suma_Total && !send("DOWN_SUCCESS" + CR))
        return;
    m_transfer = Transfer::Idle;

    m_op.appendLog(QStringLiteral("FIN DE LA DESCARGA\r\n"));
    // Whatever the transfer leaves is settled before the operator is told how it ended.
    Q_EMIT transferEnded(m_summary);
    const OperatorSide::Message end = m_op.endMessage(m_summary);
    m_op.showMessage(end.text, end.icon);
    m_op.disarmPort();
    m_op.enablePortList();
    finish();
}

void Dialogue::stopTransfer() {
    m_port.expectInput(0);
    if (m_transfer != Transfer::Idle)
        m_sink->close();
    m_transfer = Transfer::Idle;
    m_portGone = false;
    m_lossPending = false;
}

void Dialogue::failAndDisarm(TransferSummary::Outcome outcome, const QString& message) {
    stopTransfer();
    m_summary.outcome = outcome;
    qCDebug(lcDialogue) << "dialogue fails:" << message;
    Timer1.stop();
    m_op.showMessage(message, MessageIcon::Critical);
    m_op.disarmPort();
    m_op.enablePortList();
    finish();
}

void Dialogue::endCutShort() {
    stopTransfer();
    m_summary.outcome = TransferSummary::Outcome::PortClosed;
    qCDebug(lcDialogue) << "transfer cut short";
    finish();
}

void Dialogue::finish() {
    // The port is closed by now; whatever else happened to it while the end was being shown
    // (a device pulled out under the final message) changes nothing of this dialogue.
    m_portGone = false;
    m_lossPending = false;
    Q_EMIT ended(m_summary);
}

void Dialogue::onPortClosed() {
    if (m_transfer == Transfer::Idle)
        return;
    if (m_steps > 0) {
        m_portGone = true;
        return;
    }
    endCutShort();
}

void Dialogue::onDeviceLost(const QString& description) {
    m_lossDescription = description;
    if (m_steps > 0) {
        m_lossPending = true;
        return;
    }
    reportDeviceLost(description);
}

void Dialogue::reportPortEndAfterSteps() {
    if (m_lossPending)
        reportDeviceLost(m_lossDescription);
    else if (m_portGone && m_transfer != Transfer::Idle)
        endCutShort();
    m_lossPending = false;
    m_portGone = false;
}

void Dialogue::reportDeviceLost(const QString& description) {
    const bool running = m_transfer != Transfer::Idle;
    stopTransfer();
    if (!running)
        m_summary = TransferSummary{};
    m_summary.failure = TransferSummary::Failure::DeviceLost;
    m_summary.detail = description;
    // In the front end's words when the port told what happened.
    const std::optional<PortFailure>& failure = m_port.lastFailure();
    failAndDisarm(TransferSummary::Outcome::DeviceLost,
                  QStringLiteral("Se ha perdido la conexión con ") + m_portName +
                      QStringLiteral(".\r\n\r\n") +
                      (failure ? m_op.portFailureText(*failure) : description));
}

bool Dialogue::send(const QByteArray& text) {
    m_port.setOutput(text);
    return m_port.PortOpen();
}
