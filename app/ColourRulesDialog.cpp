#include "ColourRulesDialog.h"

#include "SearchPattern.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTableWidget>
#include <QVBoxLayout>

namespace comkeys {

namespace {
    const QString KindNames[] = { QStringLiteral("文本"), QStringLiteral("正则表达式"), QStringLiteral("十六进制") };
    const std::pair<const char*, QColor> Colours[] = {
        { "红", QColor(255, 64, 64) },   { "黄", QColor(255, 255, 0) }, { "青", QColor(0, 255, 255) },
        { "品红", QColor(255, 0, 255) }, { "橙", QColor(255, 160, 0) }, { "白", QColor(255, 255, 255) },
        { "蓝", QColor(100, 150, 255) },
    };

    QString colourName(const QColor& colour)
    {
        for (const auto& [name, c] : Colours) {
            if (c == colour) {
                return QString::fromUtf8(name);
            }
        }
        return colour.name();
    }

    QColor colourFrom(const QString& text)
    {
        for (const auto& [name, c] : Colours) {
            if (text == QString::fromUtf8(name)) {
                return c;
            }
        }
        return QColor::fromString(text.trimmed());
    }
} // namespace

ColourRules readColourRules(QSettings& settings)
{
    ColourRules rules;
    const int count = settings.beginReadArray(QStringLiteral("colourRules"));
    for (int i = 0; i < count; ++i) {
        settings.setArrayIndex(i);
        ColourRule rule;
        rule.kind = ColourRule::Kind(std::clamp(settings.value(QStringLiteral("kind")).toInt(), 0, 2));
        rule.pattern = settings.value(QStringLiteral("pattern")).toString();
        rule.caseSensitive = settings.value(QStringLiteral("caseSensitive"), true).toBool();
        rule.colour = QColor::fromString(settings.value(QStringLiteral("colour")).toString());
        rule.wholeLine = settings.value(QStringLiteral("wholeLine"), true).toBool();
        if (!rule.pattern.isEmpty() && rule.colour.isValid()) {
            rules << rule;
        }
    }
    settings.endArray();
    return rules;
}

void writeColourRules(QSettings& settings, const ColourRules& rules)
{
    settings.remove(QStringLiteral("colourRules"));
    settings.beginWriteArray(QStringLiteral("colourRules"), int(rules.size()));
    for (int i = 0; i < rules.size(); ++i) {
        settings.setArrayIndex(i);
        settings.setValue(QStringLiteral("kind"), int(rules[i].kind));
        settings.setValue(QStringLiteral("pattern"), rules[i].pattern);
        settings.setValue(QStringLiteral("caseSensitive"), rules[i].caseSensitive);
        settings.setValue(QStringLiteral("colour"), rules[i].colour.name());
        settings.setValue(QStringLiteral("wholeLine"), rules[i].wholeLine);
    }
    settings.endArray();
}

ColourRulesDialog::ColourRulesDialog(const ColourRules& rules, QWidget* parent)
    : QDialog(parent)
    , m_rules(rules)
    , m_table(new QTableWidget(0, 3, this))
    , m_kind(new QComboBox(this))
    , m_pattern(new QLineEdit(this))
    , m_case(new QCheckBox(QStringLiteral("区分大小写(&C)"), this))
    , m_colour(new QComboBox(this))
    , m_wholeLine(new QCheckBox(QStringLiteral("整行着色(&W)"), this))
    , m_problem(new QLabel(this))
{
    setObjectName(QStringLiteral("ColourRulesDialog"));
    setWindowTitle(QStringLiteral("着色规则"));
    m_table->setObjectName(QStringLiteral("ColourRulesTable"));
    m_table->setAccessibleName(QStringLiteral("着色规则列表"));
    m_table->setHorizontalHeaderLabels({ QStringLiteral("方式"), QStringLiteral("内容"), QStringLiteral("颜色") });
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_kind->addItems({ KindNames[0], KindNames[1], KindNames[2] });
    m_kind->setObjectName(QStringLiteral("RuleKind"));
    m_pattern->setObjectName(QStringLiteral("RulePattern"));
    m_colour->setObjectName(QStringLiteral("RuleColour"));
    m_colour->setEditable(true);
    m_colour->setToolTip(QStringLiteral("选一种颜色，或写 #RRGGBB"));
    for (const auto& [name, c] : Colours) {
        m_colour->addItem(QString::fromUtf8(name));
    }

    auto* form = new QFormLayout;
    auto addRow = [&](const QString& text, QWidget* field) {
        auto* label = new QLabel(text, this);
        label->setBuddy(field);
        form->addRow(label, field);
    };
    addRow(QStringLiteral("方式(&K)："), m_kind);
    addRow(QStringLiteral("内容(&P)："), m_pattern);
    addRow(QStringLiteral("颜色(&O)："), m_colour);
    form->addRow(m_case);
    form->addRow(m_wholeLine);
    m_problem->setObjectName(QStringLiteral("RuleProblem"));
    m_problem->setStyleSheet(QStringLiteral("color: #c00000"));
    m_problem->setWordWrap(true);
    form->addRow(m_problem);

    auto* add = new QPushButton(QStringLiteral("添加(&A)"), this);
    auto* remove = new QPushButton(QStringLiteral("删除(&D)"), this);
    auto* ruleButtons = new QHBoxLayout;
    ruleButtons->addWidget(add);
    ruleButtons->addWidget(remove);
    ruleButtons->addStretch();
    auto* box = new QDialogButtonBox(this);
    box->addButton(QStringLiteral("确定"), QDialogButtonBox::AcceptRole);
    box->addButton(QStringLiteral("取消"), QDialogButtonBox::RejectRole);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_table);
    layout->addLayout(ruleButtons);
    layout->addLayout(form);
    layout->addWidget(box);
    resize(460, 420);

    connect(add, &QPushButton::clicked, this, &ColourRulesDialog::addRule);
    connect(remove, &QPushButton::clicked, this, &ColourRulesDialog::removeRule);
    connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_table, &QTableWidget::currentCellChanged, this, [this](int row) { choose(row); });
    connect(m_kind, &QComboBox::currentIndexChanged, this, &ColourRulesDialog::takeFields);
    connect(m_pattern, &QLineEdit::textChanged, this, &ColourRulesDialog::takeFields);
    connect(m_colour, &QComboBox::currentTextChanged, this, &ColourRulesDialog::takeFields);
    connect(m_case, &QCheckBox::toggled, this, &ColourRulesDialog::takeFields);
    connect(m_wholeLine, &QCheckBox::toggled, this, &ColourRulesDialog::takeFields);

    for (int row = 0; row < m_rules.size(); ++row) {
        m_table->insertRow(row);
        showRow(row);
    }
    choose(m_rules.isEmpty() ? -1 : 0);
}

void ColourRulesDialog::showRow(int row)
{
    const ColourRule& rule = m_rules[row];
    QString why;
    if (!SearchPattern::compile(rule.kind, rule.pattern, rule.caseSensitive, &why)) {
        why = QStringLiteral("这条规则不起作用：%1").arg(why);
    }
    if (row == m_row) {
        m_problem->setText(why);
    }
    m_table->setItem(row, 0, new QTableWidgetItem(KindNames[int(rule.kind)]));
    auto* pattern = new QTableWidgetItem(rule.pattern);
    pattern->setToolTip(why);
    m_table->setItem(row, 1, pattern);
    auto* colour = new QTableWidgetItem(colourName(rule.colour));
    colour->setBackground(rule.colour);
    m_table->setItem(row, 2, colour);
}

void ColourRulesDialog::choose(int row)
{
    m_row = row;
    m_filling = true;
    const bool any = row >= 0 && row < m_rules.size();
    for (QWidget* field : std::initializer_list<QWidget*> { m_kind, m_pattern, m_case, m_colour, m_wholeLine }) {
        field->setEnabled(any);
    }
    if (any) {
        const ColourRule& rule = m_rules[row];
        m_kind->setCurrentIndex(int(rule.kind));
        m_pattern->setText(rule.pattern);
        m_case->setChecked(rule.caseSensitive);
        m_colour->setCurrentText(colourName(rule.colour));
        m_wholeLine->setChecked(rule.wholeLine);
        if (m_table->currentRow() != row) {
            m_table->setCurrentCell(row, 1);
        }
        showRow(row);
    } else {
        m_problem->clear();
    }
    m_filling = false;
}

void ColourRulesDialog::takeFields()
{
    if (m_filling || m_row < 0 || m_row >= m_rules.size()) {
        return;
    }
    ColourRule& rule = m_rules[m_row];
    rule.kind = ColourRule::Kind(std::max(0, m_kind->currentIndex()));
    rule.pattern = m_pattern->text();
    rule.caseSensitive = m_case->isChecked();
    if (const QColor c = colourFrom(m_colour->currentText()); c.isValid()) {
        rule.colour = c;
    }
    rule.wholeLine = m_wholeLine->isChecked();
    showRow(m_row);
}

void ColourRulesDialog::addRule()
{
    ColourRule rule;
    rule.pattern = QStringLiteral("ERROR");
    rule.colour = Colours[0].second;
    m_rules << rule;
    m_table->insertRow(int(m_rules.size()) - 1);
    showRow(int(m_rules.size()) - 1);
    choose(int(m_rules.size()) - 1);
    m_pattern->setFocus();
    m_pattern->selectAll();
}

void ColourRulesDialog::removeRule()
{
    if (m_row < 0 || m_row >= m_rules.size()) {
        return;
    }
    const int row = m_row;
    m_rules.removeAt(row);
    m_row = -1;
    m_table->removeRow(row);
    choose(std::min(row, int(m_rules.size()) - 1));
}

} // namespace comkeys

#include "moc_ColourRulesDialog.cpp"
