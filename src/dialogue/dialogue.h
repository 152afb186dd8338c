#pragma once

#include "operatorside.h"
#include "transfersummary.h"

#include <QByteArray>
#include <QFile>
#include <QObject>
#include <QString>

#include <array>

class CommControl;

// The boot-loader dialogue: assembles received characters into lines, answers them from the
// keyword table, replays response files, runs the block transfer and the break-in tick.
// Holds the window state that these share. Knows no widget: the operator side is reached only
// through OperatorSide.
//
// The block transfer is event-driven: Recibe_Bloques sets it up and returns, and each arrival
// of bytes on the port advances it. The receive threshold stays 0 while it runs, so no received
// character reaches the line dispatcher until the transfer has ended.
class Dialogue : public QObject {
    Q_OBJECT
public:
    static constexpr int BlockSize = 1024;
    static constexpr int FrameSize = 1032;
    static constexpr char BreakIn = 31;

    Dialogue(CommControl& port, OperatorSide& operatorSide, QObject* parent = nullptr);
    ~Dialogue() override;

    // Window state shared by the dialogue's handlers.
    QByteArray Linea_Rx;
    bool Descarga_Armada = false;
    bool Info_Mostrada = false;
    qint32 Num_Respuesta = 0;
    QFile Fichero_Respuesta;
    QFile Num_Fichero;
    std::array<quint8, BlockSize> Bloque{};
    quint8 Suma_Bloque = 0;
    qint32 Suma_Total = 0;

    // Receive handler of the port; connected to CommControl::OnComm by the constructor.
    void Serie1_OnComm();
    // Starts the block transfer; called by the dispatcher at its two hand-over points.
    void Recibe_Bloques();
    // Sends response file n byte by byte. False (after telling the operator and disarming)
    // when the file could not be read.
    bool Envia_Parrafada(qint32 n);
    // Break-in tick: one byte 31 to the port, and the block count no longer counts as sent.
    void Timer1_Timer();

    // Called by whoever arms the port, right after it opened: a fresh total, and the receive
    // settings of the line phase (the previous transfer left the threshold at 0).
    void portArmed();

    bool transferRunning() const { return m_state != State::Idle; }

    // Folder of Respuesta<n>.TXT; defaults to <program folder>/Respuestas.
    QString responsesFolder() const { return m_responsesFolder; }
    void setResponsesFolder(const QString& folder) { m_responsesFolder = folder; }
    QString responseFilePath(qint32 n) const;

    // Resuming: the dump file already holds this many records of the range, so the transfer
    // keeps them and writes its blocks after them. 0 (the default) starts a fresh file.
    void setResumeRecords(int records) { m_resumeRecords = records; }
    int resumeRecords() const { return m_resumeRecords; }

    const TransferSummary& lastSummary() const { return m_summary; }

private:
    enum class State { Idle, Blocks, Total };

    void dispatch();
    void advance();
    void takeFrame();
    void requestBlock();
    void beginEnd();
    void finishTotal();
    void stopTransfer();
    void endCutShort();
    void failAndDisarm(TransferSummary::Outcome outcome, const QString& message);
    void onPortClosed();
    void onDeviceLost(const QString& description);
    void reportDeviceLost(const QString& description);
    void send(const QByteArray& text);
    QString dumpPath() const;

    CommControl& m_port;
    OperatorSide& m_op;
    QString m_responsesFolder;
    int m_resumeRecords = 0;

    State m_state = State::Idle;
    bool m_advancing = false;
    bool m_portGone = false;    // closed while the transfer was inside a message box
    bool m_lossPending = false; // device lost while the transfer was inside a message box
    QString m_lossDescription;
    qint32 m_first = 0; // F
    qint32 m_last = 0;  // L
    qint32 m_count = 0; // C
    qint32 m_block = 0; // n
    TransferSummary m_summary;
};
