#include "PrivateDesign.h"

#include "DebugForm.h"
#include "FileIo.h"
#include "KeyGrid.h"
#include "Widgets.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QFileInfo>
#include <QMenu>
#include <QScreen>
#include <QSettings>
#include <QShortcut>

#include <functional>
#include <limits>

namespace comkeys {

namespace {
    // Children of a panel are measured from inside its sunken border.
    constexpr int PanelBorder = 2;

    const QColor PageBack(128, 128, 255);
    const QColor KeyFace(255, 192, 192);
    const QColor PortButtonFace(255, 128, 128);
    const QColor Red(255, 0, 0);

    QFont namedFont(const char* family, qreal points)
    {
        QFont f(QString::fromUtf8(family));
        f.setPointSizeF(points);
        return f;
    }

    template <class W>
    W* place(W* widget, const QString& name, const QRect& twips, int offset = 0)
    {
        widget->setObjectName(name);
        widget->setGeometry(twipsRect(twips.x(), twips.y(), twips.width(), twips.height())
                                .translated(offset, offset));
        return widget;
    }

    QString indexed(const char* name, int index)
    {
        return QString::fromLatin1(name) + u'_' + QString::number(index);
    }

    QFrame* panel(QWidget* parent, const QString& name, const QRect& twips, const QColor& back)
    {
        auto* frame = place(new QFrame(parent), name, twips);
        frame->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        frame->setLineWidth(PanelBorder);
        QPalette palette = frame->palette();
        palette.setColor(QPalette::Window, back);
        frame->setPalette(palette);
        frame->setAutoFillBackground(true);
        return frame;
    }

    QComboBox* combo(QWidget* parent, const QString& name, const QRect& twips, const QString& text,
                     QComboBox* box = nullptr)
    {
        box = place(box ? box : new QComboBox(parent), name, twips, PanelBorder);
        // A wheel passing over the box must not choose (and close the port): only a box the
        // user clicked into takes the wheel.
        box->setFocusPolicy(Qt::StrongFocus);
        box->setEditable(true);
        box->setInsertPolicy(QComboBox::NoInsert);
        box->setFont(namedFont("宋体", 10.5));
        box->setEditText(text);
        return box;
    }
} // namespace

QSettings PrivateDesign::userSettings()
{
    return QSettings(applicationTitle(), applicationTitle());
}

QString PrivateDesign::windowCaption() { return QStringLiteral("ComKeys - RS-232 控制命令调试器 V02"); }

QColor PrivateDesign::buttonFace() { return QApplication::palette().color(QPalette::Button); }

PrivateDesign::PrivateDesign(Dialogs& dialogs, const QString& programFolder, QWidget* parent)
    : QWidget(parent,
              Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint
                  | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
    , m_folders(toolFolders(programFolder))
    , m_dialogs(dialogs)
    , m_uart(m_folders.portLinks)
    , m_link(m_state, m_uart, dialogs)
    , m_editor(m_state, *this, workingCopyPath(m_folders.keySets), dialogs)
    , m_files(dialogs, *this, workingCopyPath(m_folders.keySets), m_folders.keySets)
{
    setObjectName(QStringLiteral("PrivateDesign"));
    setWindowTitle(windowCaption());
    setWindowIcon(mainWindowIcon());
    setFixedSize(toPixels(19875), toPixels(9780));

    // Created front to back as listed, then stacked back to front below.
    m_command4 = place(new QPushButton(QStringLiteral("清除调试打印信息"), this), QStringLiteral("Command4"),
                       QRect(15000, 120, 1935, 555));
    m_text1 = place(new ReceiveDisplay(m_link.record(), this), QStringLiteral("Text1"),
                    QRect(14880, 960, 5055, 8775));
    // In the free corner right of the clear button, so it covers neither text nor control.
    m_captureLab = place(new QLabel(this), QStringLiteral("CaptureLab"), QRect(17040, 120, 2760, 555));
    m_captureLab->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    {
        QPalette palette = m_captureLab->palette();
        palette.setColor(QPalette::WindowText, QColor(192, 0, 0));
        m_captureLab->setPalette(palette);
    }
    m_captureLab->hide();
    {
        QPalette palette = m_text1->palette();
        palette.setColor(QPalette::Base, QColor(0, 0, 0));
        palette.setColor(QPalette::Text, QColor(192, 255, 192));
        m_text1->setPalette(palette);
    }
    for (int p = 3; p >= 0; --p) {
        m_pages[std::size_t(p)] = panel(this, indexed("Picture2", p),
                                        QRect(p == 0 ? PageLeftShown : PageLeftAtStart, 960, 14775, 8775),
                                        PageBack);
    }
    m_picture1 = panel(this, QStringLiteral("Picture1"), QRect(0, 0, 14775, 855), buttonFace());

    buildToolBar();
    buildPages();

    // Stacking, raised from the back: the last raised is in front.
    const std::initializer_list<QWidget*> mainBackToFront { m_picture1, m_pages[0], m_pages[1], m_pages[2],
                                                            m_pages[3], m_text1, m_command4, m_captureLab };
    const std::initializer_list<QWidget*> toolBarBackToFront {
        m_connectLab, m_shape1, m_pageButtons[0], m_portCombo, m_keyCombo, m_keyName,
        m_callIniCmd, m_saveIniCmd, m_baudCombo, m_command1, m_closeButton, m_openButton,
        m_command2, m_enterCheck, m_pageButtons[1], m_pageButtons[2], m_pageButtons[3], m_command3
    };
    for (QWidget* w : mainBackToFront) {
        w->raise();
    }
    for (QWidget* w : toolBarBackToFront) {
        w->raise();
    }

    fillAtCreation();
    setTabOrder();
    wire();
    showStatus();

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
}

PrivateDesign::~PrivateDesign()
{
    delete m_debugForm;
    delete m_transcriptWindow;
}

void PrivateDesign::buildToolBar()
{
    QWidget* bar = m_picture1;
    const int o = PanelBorder;
    m_command3 = place(new QPushButton(QStringLiteral("清除调试打印信息"), bar), QStringLiteral("Command3"),
                       QRect(5880, 480, 2055, 315), o);
    m_command3->hide();

    const QRect selectorRects[4] = { QRect(0, 0, 1695, 375), QRect(1680, 0, 1695, 375),
                                     QRect(0, 360, 1695, 375), QRect(1680, 360, 1695, 375) };
    const char* selectorCaptions[4] = { "第一页控制命令", "第二页控制命令", "第三页控制命令", "第四页控制命令" };
    for (int p = 3; p >= 0; --p) {
        auto* b = place(new FaceButton(QString::fromUtf8(selectorCaptions[p]), bar),
                        indexed("RS232_Control", p), selectorRects[p], o);
        b->setFont(namedFont("宋体", 9.75));
        b->setFace(p == 0 ? Red : buttonFace());
        m_pageButtons[std::size_t(p)] = b;
    }

    m_enterCheck = place(new QCheckBox(QStringLiteral("所有发送加回车符 <CR>"), bar), QStringLiteral("Enter_Check"),
                         QRect(3600, 480, 2295, 315), o);
    m_command2 = place(new QPushButton(QStringLiteral("清屏"), bar), QStringLiteral("Command2"),
                       QRect(9240, 0, 975, 375), o);
    m_openButton = place(new FaceButton(QStringLiteral("打开串口"), bar), indexed("SaveCmd", 3),
                         QRect(13320, 0, 1335, 375), o);
    m_openButton->setFace(PortButtonFace);
    m_closeButton = place(new FaceButton(QStringLiteral("关闭串口"), bar), indexed("SaveCmd", 2),
                          QRect(13320, 360, 1335, 375), o);
    m_closeButton->setFace(PortButtonFace);
    m_command1 = place(new QPushButton(QStringLiteral("重命名"), bar), QStringLiteral("Command1"),
                       QRect(8160, 0, 855, 375), o);
    m_baudCombo = combo(bar, QStringLiteral("Buad_Combo"), QRect(12000, 360, 1215, 330), QStringLiteral("9600"));
    m_saveIniCmd = place(new FaceButton(QStringLiteral("配置另存为"), bar), QStringLiteral("SaveIniCmd"),
                         QRect(10440, 0, 1335, 375), o);
    m_saveIniCmd->setFace(PortButtonFace);
    m_callIniCmd = place(new FaceButton(QStringLiteral("调入配置"), bar), QStringLiteral("CallIniCmd"),
                         QRect(10440, 360, 1335, 375), o);
    m_callIniCmd->setFace(PortButtonFace);
    m_keyName = place(new QLineEdit(QStringLiteral("请出入新的键名"), bar), QStringLiteral("Key_Name"),
                      QRect(4920, 0, 3015, 375), o);
    m_keyName->setFont(namedFont("MS Sans Serif", 9.75));
    m_keyCombo = combo(bar, QStringLiteral("Key_Combo"), QRect(3600, 0, 1215, 330), QStringLiteral("Key1"));
    m_portCombo = combo(bar, QStringLiteral("UART_Com_Combo"), QRect(12000, 0, 1215, 330), QStringLiteral("COM1"),
                        new PortCombo(bar));
    m_shape1 = place(new StatusCircle(bar), QStringLiteral("Shape1"), QRect(8520, 480, 255, 255), o);
    m_connectLab = place(new QLabel(bar), QStringLiteral("ConnectLab"), QRect(9120, 480, 1260, 210), o);
    m_connectLab->setFont(namedFont("宋体", 10.5));
    for (QWidget* status : { static_cast<QWidget*>(m_connectLab), static_cast<QWidget*>(m_shape1) }) {
        status->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(status, &QWidget::customContextMenuRequested, this,
                [this, status](const QPoint& at) { statusMenu(status->mapToGlobal(at)); });
    }
}

void PrivateDesign::statusMenu(const QPoint& at)
{
    QMenu menu(this);
    QAction* reconnect = menu.addAction(QStringLiteral("设备断开后自动重新打开串口"));
    reconnect->setCheckable(true);
    reconnect->setChecked(m_link.autoReconnect());
    connect(reconnect, &QAction::toggled, this, [this](bool on) {
        m_link.setAutoReconnect(on);
        userSettings().setValue(QStringLiteral("serial/autoReconnect"), on);
    });
    menu.exec(at);
}

void PrivateDesign::buildPages()
{
    const QFont textFont = namedFont("MS Sans Serif", 9.75);
    for (int i = 0; i < KeyCount; ++i) {
        QFrame* page = m_pages[std::size_t(i / KeysPerPage)];
        auto* button = place(new FaceButton(QStringLiteral("Key01"), page), indexed("RS232_Cmd", i),
                             keyButtonTwips(i), PanelBorder);
        button->setFace(KeyFace);
        auto* text = place(new QLineEdit(page), indexed("RS232_Text", i), keyTextTwips(i), PanelBorder);
        text->setFont(textFont);
        // A command holds whatever the key-set file holds; sending checks its length.
        text->setMaxLength(std::numeric_limits<int>::max());
        text->installEventFilter(this);
        m_keyButtons[std::size_t(i)] = button;
        m_keyTexts[std::size_t(i)] = text;
    }
}

void PrivateDesign::fillAtCreation()
{
    for (int i = 0; i < KeyCount; ++i) {
        m_keyButtons[std::size_t(i)]->setText(defaultCaption(i));
        m_keyCombo->addItem(defaultCaption(i));
    }
    m_state.Key_Select = 0;
    m_state.Baud_List = { QStringLiteral("1200"), QStringLiteral("2400"), QStringLiteral("4800"),
                          QStringLiteral("9600"), QStringLiteral("19200"), QStringLiteral("38400"),
                          QStringLiteral("57600"), QStringLiteral("115200") };
    m_baudCombo->addItems(m_state.Baud_List);
    for (int n = 1; n <= 15; ++n) {
        m_portCombo->addItem(QStringLiteral("COM") + QString::number(n));
    }
    // Ports the system reports, by their device path, after the fifteen fixed names.
    static_cast<PortCombo*>(m_portCombo)->refreshDevices();
    m_link.setAutoReconnect(userSettings().value(QStringLiteral("serial/autoReconnect"), true).toBool());
    // Filling an editable list selects its first item; creation selects none.
    const std::pair<QComboBox*, QString> initial[] = { { m_keyCombo, QStringLiteral("Key1") },
                                                       { m_baudCombo, QStringLiteral("9600") },
                                                       { m_portCombo, QStringLiteral("COM1") } };
    for (const auto& [box, text] : initial) {
        box->setCurrentIndex(-1);
        box->setEditText(text);
        // Enter in the edit field would pick a matching item; typing must choose nothing.
        box->lineEdit()->installEventFilter(this);
        box->installEventFilter(this);
    }
}

void PrivateDesign::setTabOrder()
{
    std::vector<QWidget*> order { m_picture1, m_pageButtons[0], m_portCombo, m_connectLab, m_pages[0] };
    for (int column = 0; column < 3; ++column) {
        for (int row = 0; row < 16; ++row) {
            order.push_back(m_keyButtons[std::size_t(keyIndexAt(0, column, row))]);
        }
        for (int row = 0; row < 16; ++row) {
            order.push_back(m_keyTexts[std::size_t(keyIndexAt(0, column, row))]);
        }
    }
    order.insert(order.end(), { m_keyCombo, m_keyName, m_callIniCmd, m_saveIniCmd, m_baudCombo, m_command1,
                                m_closeButton, m_openButton, m_command2, m_enterCheck, m_pageButtons[1],
                                m_pageButtons[2], m_pageButtons[3] });
    for (int p = 1; p < PageCount; ++p) {
        order.push_back(m_pages[std::size_t(p)]);
        for (int run = 0; run < 3; ++run) {
            const int first = KeysPerPage * p + 16 * run;
            for (int i = first; i < first + 16; ++i) {
                order.push_back(m_keyTexts[std::size_t(i)]);
            }
            for (int i = first; i < first + 16; ++i) {
                order.push_back(m_keyButtons[std::size_t(i)]);
            }
        }
    }
    order.insert(order.end(), { m_command3, m_text1, m_command4 });

    QWidget* previous = nullptr;
    for (QWidget* w : order) {
        if (w->focusPolicy() == Qt::NoFocus) {
            continue; // panels and labels take no focus
        }
        if (previous) {
            QWidget::setTabOrder(previous, w);
        }
        previous = w;
    }
}

void PrivateDesign::wire()
{
    for (int i = 0; i < KeyCount; ++i) {
        connect(m_keyButtons[std::size_t(i)], &QPushButton::clicked, this, [this, i] {
            m_link.keyPressed(m_keyTexts[std::size_t(i)]->text(), m_enterCheck->isChecked(),
                              m_keyButtons[std::size_t(i)]->text());
        });
    }
    for (int p = 0; p < PageCount; ++p) {
        connect(m_pageButtons[std::size_t(p)], &QPushButton::clicked, this, [this, p] { m_editor.selectPage(p); });
    }
    connect(m_openButton, &QPushButton::clicked, this,
            [this] { m_link.openPressed(m_portCombo->currentText(), m_baudCombo->currentText()); });
    connect(m_closeButton, &QPushButton::clicked, this, [this] { m_link.closePressed(); });
    connect(m_portCombo, &QComboBox::activated, this, [this] { m_link.listChosen(); });
    connect(m_baudCombo, &QComboBox::activated, this, [this] { m_link.listChosen(); });
    connect(m_command4, &QPushButton::clicked, this, [this] { m_link.clearReceive(); });
    connect(m_command3, &QPushButton::clicked, this, [this] { m_link.clearLog(); });
    connect(m_keyCombo, &QComboBox::activated, this, [this](int index) { m_editor.keyChosen(index); });
    connect(m_command1, &QPushButton::clicked, this, [this] { m_editor.rename(m_keyName->text()); });
    connect(m_command2, &QPushButton::clicked, this, [this] { m_editor.resetAll(); });
    connect(m_saveIniCmd, &QPushButton::clicked, this, [this] { m_files.saveAs(); });
    connect(m_callIniCmd, &QPushButton::clicked, this, [this] { m_files.load(); });

    connect(&m_link, &SerialLink::statusChanged, this, &PrivateDesign::showStatus);
    connect(&m_link, &SerialLink::receiveCleared, m_text1, &ReceiveDisplay::clear);
    connect(&m_link, &SerialLink::logChanged, this, [this] { ensureDebugForm().scheduleSync(); });
    connect(m_text1, &ReceiveDisplay::showLogRequested, this, &PrivateDesign::showLog);
    connect(m_text1, &ReceiveDisplay::transcriptRequested, this, &PrivateDesign::showTranscript);
    connect(m_text1, &ReceiveDisplay::saveRequested, this, &PrivateDesign::saveReceived);
    connect(m_text1, &ReceiveDisplay::captureRequested, this, &PrivateDesign::toggleCapture);
    connect(m_text1, &ReceiveDisplay::clearRequested, this, [this] { m_link.clearReceive(); });
    connect(m_text1, &ReceiveDisplay::viewChanged, this,
            [](ReceiveDisplay::View view) { userSettings().setValue(QStringLiteral("display/view"), int(view)); });
    const std::pair<QKeySequence, std::function<void()>> shortcuts[] = {
        { QKeySequence(Qt::CTRL | Qt::Key_L), [this] { showLog(); } },
        { QKeySequence(Qt::CTRL | Qt::Key_T), [this] { showTranscript(); } },
        { QKeySequence(Qt::CTRL | Qt::Key_H),
          [this] {
              m_text1->setView(m_text1->view() == ReceiveDisplay::View::Hex ? ReceiveDisplay::View::Text
                                                                             : ReceiveDisplay::View::Hex);
          } },
    };
    for (const auto& [keys, action] : shortcuts) {
        connect(new QShortcut(keys, this), &QShortcut::activated, this, action);
    }
    CaptureFile& capture = m_link.capture();
    connect(&capture, &CaptureFile::started, this, [this] {
        const QString path = m_link.capture().path();
        m_captureLab->setText(m_captureLab->fontMetrics().elidedText(
            QStringLiteral("● 正在捕获：") + QFileInfo(path).fileName(), Qt::ElideMiddle, m_captureLab->width()));
        m_captureLab->setToolTip(path);
        m_captureLab->show();
        m_text1->setCapturing(true);
    });
    connect(&capture, &CaptureFile::stopped, this, [this] {
        m_captureLab->hide();
        m_text1->setCapturing(false);
    });
    connect(&capture, &CaptureFile::failed, this, [this](const QString& reason, qint64 bytes) {
        m_dialogs.notice(QStringLiteral("捕获已停止：%1。\n已写入的 %2 字节保留在文件中。").arg(reason).arg(bytes));
    });
    const int view = userSettings().value(QStringLiteral("display/view"), 0).toInt();
    if (view == int(ReceiveDisplay::View::Hex) || view == int(ReceiveDisplay::View::Timestamps)) {
        m_text1->setView(ReceiveDisplay::View(view));
    }
}

void PrivateDesign::showStatus()
{
    m_connectLab->setText(m_link.statusText());
    QPalette palette = m_connectLab->palette();
    palette.setColor(QPalette::WindowText, m_link.statusColor());
    m_connectLab->setPalette(palette);
    m_connectLab->setToolTip(m_link.statusDetail());
    m_shape1->setFillColor(m_link.indicatorColor());
}

DebugForm& PrivateDesign::ensureDebugForm()
{
    if (!m_debugForm) {
        m_debugForm = new DebugForm(m_link.logText());
    }
    return *m_debugForm;
}

void PrivateDesign::showLog()
{
    DebugForm& form = ensureDebugForm();
    form.show();
    form.raise();
    form.activateWindow();
}

void PrivateDesign::showTranscript()
{
    if (!m_transcriptWindow) {
        m_transcriptWindow = new TranscriptWindow(m_link.transcript(), m_dialogs, m_folders.keySets);
    }
    m_transcriptWindow->show();
    m_transcriptWindow->raise();
    m_transcriptWindow->activateWindow();
}

void PrivateDesign::saveReceived()
{
    const std::optional<QString> path
        = m_dialogs.savePath(QStringLiteral("保存接收数据"), m_folders.keySets, QStringLiteral("接收数据.bin"),
                             QStringLiteral("原始数据，按收到的字节(*.bin)|*.bin|带时间和方向的收发记录(*.txt)|*.txt"));
    if (!path) {
        return;
    }
    const bool text = path->endsWith(QStringLiteral(".txt"), Qt::CaseInsensitive);
    QString error;
    if (!writeFileAtomically(*path, text ? m_link.record().transcriptText() : m_link.record().receivedBytes(), &error)) {
        m_dialogs.notice(QStringLiteral("接收数据没有保存到 %1：%2").arg(*path, error));
    }
}

void PrivateDesign::toggleCapture()
{
    CaptureFile& capture = m_link.capture();
    QString error;
    if (capture.isCapturing()) {
        if (!capture.stop(&error)) {
            m_dialogs.notice(QStringLiteral("捕获文件 %1 的最后部分没能写到磁盘：%2").arg(capture.path(), error));
        }
        return;
    }
    const std::optional<QString> path = m_dialogs.savePath(QStringLiteral("捕获接收数据到文件"), m_folders.keySets,
                                                           QStringLiteral("捕获.bin"), QStringLiteral("原始数据(*.bin)|*.bin"));
    if (!path) {
        return;
    }
    if (!capture.start(*path, &error)) {
        m_dialogs.notice(QStringLiteral("无法开始捕获到 %1：%2").arg(*path, error));
    }
}

void PrivateDesign::closeEvent(QCloseEvent* event)
{
    // The other windows go with the main window; nothing is asked or saved.
    delete m_debugForm;
    delete m_transcriptWindow;
    event->accept();
}

bool PrivateDesign::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Wheel) {
        auto* box = qobject_cast<QComboBox*>(watched);
        if (box && !box->hasFocus()) {
            return true;
        }
    }
    if (event->type() == QEvent::KeyPress && watched->parent()
        && (watched->parent() == m_keyCombo || watched->parent() == m_portCombo || watched->parent() == m_baudCombo)) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            return true;
        }
    }
    if (event->type() == QEvent::FocusIn && qobject_cast<QLineEdit*>(watched)
        && watched->objectName().startsWith(QStringLiteral("RS232_Text_"))) {
        m_editor.commandFocused();
    }
    return QWidget::eventFilter(watched, event);
}

QString PrivateDesign::caption(int index) const { return m_keyButtons[std::size_t(index)]->text(); }

void PrivateDesign::setCaption(int index, const QString& caption)
{
    m_keyButtons[std::size_t(index)]->setText(caption);
}

QString PrivateDesign::command(int index) const { return m_keyTexts[std::size_t(index)]->text(); }

void PrivateDesign::setCommand(int index, const QString& command)
{
    m_keyTexts[std::size_t(index)]->setText(command);
}

void PrivateDesign::setPageLeft(int page, int twips)
{
    QFrame* frame = m_pages[std::size_t(page)];
    frame->move(toPixels(twips), frame->y());
}

void PrivateDesign::setSelectorRed(int page, bool red)
{
    m_pageButtons[std::size_t(page)]->setFace(red ? Red : buttonFace());
}

} // namespace comkeys
