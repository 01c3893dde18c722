#include "RepeatDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace comkeys {

QStringList patternKindNames()
{
    return { QStringLiteral("文本"), QStringLiteral("文本（不分大小写）"), QStringLiteral("正则表达式"),
             QStringLiteral("十六进制") };
}

std::optional<Pattern> patternFromForm(int kind, const QString& body, QString* error)
{
    // A prefix of its own for every kind, so a text that starts with "re:" stays a text.
    static const char* const prefixes[] = { "text:", "nocase:", "re:", "hex:" };
    return Pattern::parse(QString::fromLatin1(prefixes[std::clamp(kind, 0, 3)]) + body, error);
}

std::pair<int, QString> patternToForm(const Pattern& pattern)
{
    switch (pattern.kind()) {
    case Pattern::Kind::Regex:
        return { 2, pattern.body() };
    case Pattern::Kind::Hex:
        return { 3, pattern.body() };
    case Pattern::Kind::Text:
        break;
    }
    return { pattern.caseSensitive() ? 0 : 1, pattern.body() };
}

RepeatDialog::RepeatDialog(int key, const QString& caption, const RepeatSpec& initial,
                           std::function<QString(const RepeatSpec&)> start, QWidget* parent)
    : QDialog(parent)
    , m_key(key)
    , m_start(std::move(start))
    , m_interval(new QLineEdit(QString::number(initial.intervalMs), this))
    , m_count(new QLineEdit(QString::number(initial.count), this))
    , m_stopKind(new QComboBox(this))
    , m_stopText(new QLineEdit(this))
    , m_problem(new QLabel(this))
{
    setObjectName(QStringLiteral("RepeatDialog"));
    setWindowTitle(QStringLiteral("定时重复发送 - %1").arg(caption));
    m_interval->setObjectName(QStringLiteral("interval"));
    m_count->setObjectName(QStringLiteral("count"));
    m_stopKind->setObjectName(QStringLiteral("stopKind"));
    m_stopText->setObjectName(QStringLiteral("stopText"));
    m_problem->setObjectName(QStringLiteral("problem"));
    m_stopKind->addItem(QStringLiteral("不停止"));
    m_stopKind->addItems(patternKindNames());
    if (initial.stopOn) {
        const auto [kind, body] = patternToForm(*initial.stopOn);
        m_stopKind->setCurrentIndex(kind + 1);
        m_stopText->setText(body);
    }
    m_stopText->setEnabled(m_stopKind->currentIndex() > 0);
    connect(m_stopKind, &QComboBox::currentIndexChanged, this,
            [this](int index) { m_stopText->setEnabled(index > 0); });
    m_problem->setWordWrap(true);
    QPalette red = m_problem->palette();
    red.setColor(QPalette::WindowText, QColor(200, 0, 0));
    m_problem->setPalette(red);
    m_problem->hide();

    auto* form = new QFormLayout;
    auto row = [this, form](const QString& label, QWidget* field) {
        auto* l = new QLabel(label, this);
        l->setBuddy(field);
        form->addRow(l, field);
    };
    row(QStringLiteral("间隔（毫秒，%1 到 %2）：").arg(RepeatSpec::MinIntervalMs).arg(RepeatSpec::MaxIntervalMs),
        m_interval);
    row(QStringLiteral("次数（0 表示一直重复到停止）："), m_count);
    row(QStringLiteral("收到回应时停止："), m_stopKind);
    row(QStringLiteral("停止条件："), m_stopText);

    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QStringLiteral("开始"), QDialogButtonBox::AcceptRole)->setDefault(true);
    buttons->addButton(QStringLiteral("取消"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &RepeatDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &RepeatDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_problem);
    layout->addWidget(buttons);
}

QString RepeatDialog::problem() const { return m_problem->isVisible() ? m_problem->text() : QString(); }

std::optional<RepeatSpec> RepeatDialog::spec(QString* error) const
{
    RepeatSpec spec;
    spec.key = m_key;
    bool ok = false;
    spec.intervalMs = m_interval->text().trimmed().toLongLong(&ok);
    if (!ok) {
        *error = QStringLiteral("间隔应是 %1 到 %2 之间的整数毫秒数")
                     .arg(RepeatSpec::MinIntervalMs)
                     .arg(RepeatSpec::MaxIntervalMs);
        return std::nullopt;
    }
    spec.count = m_count->text().trimmed().toInt(&ok);
    if (!ok) {
        *error = QStringLiteral("次数应是不小于 0 的整数（0 表示一直重复到停止）");
        return std::nullopt;
    }
    if (m_stopKind->currentIndex() > 0) {
        spec.stopOn = patternFromForm(m_stopKind->currentIndex() - 1, m_stopText->text(), error);
        if (!spec.stopOn) {
            *error = QStringLiteral("停止条件：") + *error;
            return std::nullopt;
        }
    }
    *error = spec.problem();
    return error->isEmpty() ? std::optional(spec) : std::nullopt;
}

void RepeatDialog::accept()
{
    QString error;
    const std::optional<RepeatSpec> s = spec(&error);
    if (s) {
        error = m_start(*s);
    }
    if (!error.isEmpty()) {
        m_problem->setText(error);
        m_problem->show();
        return;
    }
    QDialog::accept();
}

} // namespace comkeys

#include "moc_RepeatDialog.cpp"
