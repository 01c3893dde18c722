#include "TranscriptWindow.h"

#include "FileIo.h"

#include <QApplication>
#include <QClipboard>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QTableView>
#include <QVBoxLayout>

#include <set>

namespace comkeys {

namespace {
    // A row as shown: the send and reply, then the step of a sequence, its verdict and time.
    QStringList rowCells(const Transcript::Row& row) { return Transcript::cells(row) + Transcript::stepCells(row); }
} // namespace

TranscriptModel::TranscriptModel(const Transcript& transcript, QObject* parent)
    : QAbstractTableModel(parent)
    , m_transcript(transcript)
    , m_rows(int(transcript.rows().size()))
{
    m_lastRowChanged.setSingleShot(true);
    m_lastRowChanged.setInterval(50);
    auto showLastRow = [this] {
        m_lastRowChanged.stop();
        m_lastRowShown = lastRowLook();
        if (m_rows > 0) {
            Q_EMIT dataChanged(index(m_rows - 1, Transcript::Reply), index(m_rows - 1, Transcript::FirstCr));
        }
    };
    connect(&m_lastRowChanged, &QTimer::timeout, this, showLastRow);
    connect(&transcript, &Transcript::lastRowChanged, this, [this] {
        if (!m_lastRowChanged.isActive() && lastRowLook() != m_lastRowShown) {
            m_lastRowChanged.start();
        }
    });
    connect(&transcript, &Transcript::rowChanged, this, [this](int row) {
        Q_EMIT dataChanged(index(row, Transcript::ColumnCount), index(row, columnCount() - 1));
    });
    connect(&transcript, &Transcript::rowAdded, this, [this, showLastRow] {
        if (m_lastRowChanged.isActive()) {
            showLastRow(); // the row's reply is complete: show its end before the next row comes
        }
        beginInsertRows({}, m_rows, m_rows);
        m_rows = int(m_transcript.rows().size());
        m_lastRowShown = lastRowLook();
        endInsertRows();
    });
    auto reset = [this] {
        m_lastRowChanged.stop();
        beginResetModel();
        m_rows = int(m_transcript.rows().size());
        m_lastRowShown = lastRowLook();
        endResetModel();
    };
    connect(&transcript, &Transcript::rowsDropped, this, reset);
    connect(&transcript, &Transcript::cleared, this, reset);
}

TranscriptModel::Look TranscriptModel::lastRowLook() const
{
    if (m_transcript.rows().empty()) {
        return {};
    }
    const Transcript::Row& row = m_transcript.rows().back();
    return { std::min(row.reply.size(), ShownReplyBytes + 1), row.replyCut, row.firstByteMs.has_value(),
             row.firstCrMs.has_value() };
}

int TranscriptModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : m_rows; }

int TranscriptModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(Transcript::headers().size() + Transcript::stepHeaders().size());
}

QVariant TranscriptModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= int(m_transcript.rows().size())) {
        return {};
    }
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
        const Transcript::Row& row = m_transcript.rows()[std::size_t(index.row())];
        return index.column() < Transcript::ColumnCount
            ? Transcript::cell(row, index.column(), ShownReplyBytes)
            : Transcript::stepCells(row).value(index.column() - Transcript::ColumnCount);
    }
    if (role == Qt::TextAlignmentRole
        && (index.column() == Transcript::FirstByte || index.column() == Transcript::FirstCr
            || index.column() == Transcript::ColumnCount + 2)) {
        return int(Qt::AlignRight | Qt::AlignVCenter);
    }
    return {};
}

QVariant TranscriptModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole) {
        return {};
    }
    return orientation == Qt::Horizontal ? QVariant((Transcript::headers() + Transcript::stepHeaders()).value(section))
                                         : QVariant(section + 1);
}

TranscriptWindow::TranscriptWindow(Transcript& transcript, Dialogs& dialogs, QString folder)
    : QWidget(nullptr, Qt::Window)
    , m_transcript(transcript)
    , m_dialogs(dialogs)
    , m_folder(std::move(folder))
    , m_model(new TranscriptModel(transcript, this))
    , m_table(new QTableView(this))
{
    setObjectName(QStringLiteral("TranscriptWindow"));
    setWindowTitle(QStringLiteral("收发记录"));
    resize(1180, 420);
    m_table->setObjectName(QStringLiteral("TranscriptTable"));
    m_table->setModel(m_model);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_table->setWordWrap(false);
    m_table->verticalHeader()->setDefaultSectionSize(m_table->fontMetrics().height() + 6);
    m_table->horizontalHeader()->setStretchLastSection(false);
    const int widths[] = { 100, 90, 160, 330, 80, 90, 130, 50, 90 };
    for (int c = 0; c < 9; ++c) {
        m_table->setColumnWidth(c, widths[c]);
    }

    auto* copyButton = new QPushButton(QStringLiteral("复制"), this);
    auto* exportButton = new QPushButton(QStringLiteral("导出 CSV…"), this);
    auto* clearButton = new QPushButton(QStringLiteral("清空"), this);
    connect(copyButton, &QPushButton::clicked, this, &TranscriptWindow::copySelection);
    connect(exportButton, &QPushButton::clicked, this, &TranscriptWindow::exportCsv);
    connect(clearButton, &QPushButton::clicked, &m_transcript, &Transcript::clear);
    auto* copyShortcut = new QShortcut(QKeySequence::Copy, m_table);
    connect(copyShortcut, &QShortcut::activated, this, &TranscriptWindow::copySelection);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(copyButton);
    buttons->addWidget(exportButton);
    buttons->addWidget(clearButton);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_table);
    layout->addLayout(buttons);

    // New rows come into view unless the user has scrolled up to read older ones.
    connect(m_model, &QAbstractItemModel::rowsInserted, this, [this] {
        QScrollBar* bar = m_table->verticalScrollBar();
        if (bar->value() >= bar->maximum() - 1) {
            m_table->scrollToBottom();
        }
    });
}

QString TranscriptWindow::selectedRowsText() const
{
    std::set<int> rows;
    for (const QModelIndex& index : m_table->selectionModel()->selectedIndexes()) {
        rows.insert(index.row());
    }
    QStringList lines;
    for (int row : rows) {
        if (row < int(m_transcript.rows().size())) {
            lines << rowCells(m_transcript.rows()[std::size_t(row)]).join(u'\t');
        }
    }
    return lines.isEmpty() ? QString() : lines.join(u'\n') + u'\n';
}

void TranscriptWindow::showRow(int row)
{
    m_table->selectRow(row);
    m_table->scrollTo(m_model->index(row, 0), QAbstractItemView::PositionAtCenter);
}

void TranscriptWindow::copySelection() const
{
    if (const QString text = selectedRowsText(); !text.isEmpty()) {
        QGuiApplication::clipboard()->setText(text);
    }
}

void TranscriptWindow::exportCsv()
{
    const std::optional<QString> path = m_dialogs.savePath(QStringLiteral("导出收发记录"), m_folder,
                                                           QStringLiteral("收发记录.csv"), QStringLiteral("CSV 文件(*.csv)|*.csv"));
    if (!path) {
        return;
    }
    QString error;
    // A byte-order mark, so spreadsheet programs read the Chinese headers as UTF-8.
    if (!writeFileAtomically(*path, QByteArray("\xEF\xBB\xBF") + m_transcript.csv(), &error)) {
        m_dialogs.notice(QStringLiteral("收发记录没有导出到 %1：%2").arg(*path, error));
    }
}

} // namespace comkeys

#include "moc_TranscriptWindow.cpp"
