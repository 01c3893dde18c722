#pragma once

#include "Dialogs.h"
#include "Transcript.h"

#include <QAbstractTableModel>
#include <QTimer>
#include <QWidget>

#include <tuple>

class QTableView;

namespace comkeys {

// The transcript as a table: one row per command sent.
class TranscriptModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit TranscriptModel(const Transcript& transcript, QObject* parent = nullptr);
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Reply bytes a cell shows at most: more than its column holds, and a bounded cost however
    // long the reply grows. Copying and exporting take the whole reply.
    static constexpr qsizetype ShownReplyBytes = 256;

private:
    // What the last row's changing cells show: a reply grown past ShownReplyBytes looks the same.
    using Look = std::tuple<qsizetype, bool, bool, bool>;
    Look lastRowLook() const;

    const Transcript& m_transcript;
    int m_rows = 0;
    Look m_lastRowShown {};
    // A growing reply is repainted at most this often, not for every chunk that arrives.
    QTimer m_lastRowChanged;
};

// 收发记录: every command sent, what the device answered until the next command, and how many
// milliseconds it took to the first byte and to the first carriage return; a send of a sequence
// also has its step, verdict and time. Rows can be selected and copied (tab-separated), and all
// of them exported as CSV.
class TranscriptWindow : public QWidget {
    Q_OBJECT
public:
    TranscriptWindow(Transcript& transcript, Dialogs& dialogs, QString folder);

    QTableView* table() const { return m_table; }
    // The selected rows, a line each, cells separated by tabs.
    QString selectedRowsText() const;
    void copySelection() const;
    // Selects a row and scrolls it into view.
    void showRow(int row);
    void exportCsv();

private:
    Transcript& m_transcript;
    Dialogs& m_dialogs;
    QString m_folder;
    TranscriptModel* const m_model;
    QTableView* const m_table;
};

} // namespace comkeys
