#include "ShortcutDialog.h"

#include <QDialogButtonBox>
#include <QKeySequenceEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace comkeys {

ShortcutDialog::ShortcutDialog(const QString& keyName, int page, const QKeySequence& current, QWidget* parent)
    : QDialog(parent)
    , m_edit(new QKeySequenceEdit(current, this))
{
    static const char* const Pages[] = { "第一页", "第二页", "第三页", "第四页" };
    setObjectName(QStringLiteral("ShortcutDialog"));
    setWindowTitle(QStringLiteral("设置快捷键"));
    m_edit->setObjectName(QStringLiteral("ShortcutEdit"));
    // Qt's own hint ("Press shortcut") is English and this Qt offers no setter for it.
    if (auto* line = m_edit->findChild<QLineEdit*>())
        line->setPlaceholderText(QStringLiteral("请按下快捷键"));
    auto* about = new QLabel(QStringLiteral("按键“%1”的快捷键，只在%2起作用；光标在命令框或串口框里时不起作用。")
                                 .arg(keyName, QString::fromUtf8(Pages[page])),
                             this);
    about->setWordWrap(true);
    auto* label = new QLabel(QStringLiteral("快捷键(&K)："), this);
    label->setBuddy(m_edit);
    auto* box = new QDialogButtonBox(this);
    box->addButton(QStringLiteral("确定"), QDialogButtonBox::AcceptRole);
    box->addButton(QStringLiteral("取消"), QDialogButtonBox::RejectRole);
    QPushButton* clear = box->addButton(QStringLiteral("清除"), QDialogButtonBox::ResetRole);
    connect(clear, &QPushButton::clicked, m_edit, &QKeySequenceEdit::clear);
    connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(about);
    layout->addWidget(label);
    layout->addWidget(m_edit);
    layout->addWidget(box);
}

QKeySequence ShortcutDialog::keys() const { return m_edit->keySequence(); }

} // namespace comkeys

#include "moc_ShortcutDialog.cpp"
