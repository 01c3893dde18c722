#include "PrivateDesign.h"

#include "ColourRulesDialog.h"
#include "DebugForm.h"
#include "FindBar.h"
#include "ShortcutDialog.h"
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
#include <QAction>
#include <QFileInfo>
#include <QMenu>
#include <QScreen>
#include <QSettings>
#include <QShortcut>

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

namespace {
    const QString RecentPortsKey = QStringLiteral("network/recentPorts");
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
    wireAutomation();
    showStatus();

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
}

PrivateDesign::~PrivateDesign()
{
    // A list box that has the focus reports a choice when it loses it, which happens while the
    // children are destroyed, after the serial link is gone.
    m_portCombo->disconnect(this);
    m_baudCombo->disconnect(this);
    delete m_debugForm;
    delete m_transcriptWindow;
    delete m_automationWindow;
    delete m_plotWindow;
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
        button->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(button, &QWidget::customContextMenuRequested, this,
                [this, i, button](const QPoint& at) { keyCaptionMenu(i, button->mapToGlobal(at)); });
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
    // Ports the system reports, by their device path, after the fifteen fixed names; then the
    // network ports this user opened lately.
    static_cast<PortCombo*>(m_portCombo)->setRecentPorts(userSettings().value(RecentPortsKey).toStringList());
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
    m_keyName->installEventFilter(this);
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
    // Save-as copies the working copy, so the automation is written there first; a load
    // replaces the working copy, and its automation comes with it.
    connect(m_saveIniCmd, &QPushButton::clicked, this, [this] {
        m_automation->store();
        m_files.saveAs();
    });
    connect(m_callIniCmd, &QPushButton::clicked, this, [this] {
        if (m_files.load()) {
            m_automation->reload(true);
        }
    });

    connect(&m_link, &SerialLink::statusChanged, this, &PrivateDesign::showStatus);
    connect(&m_link, &SerialLink::statusChanged, this, [this] {
        const std::optional<NetworkAddress> network = parseNetworkAddress(m_uart.deviceName());
        if (m_link.status() != SerialLink::Status::Opened || !m_uart.isNetwork() || !network) {
            return;
        }
        QSettings settings = userSettings();
        const QStringList recent = withRecentPort(settings.value(RecentPortsKey).toStringList(), network->text());
        settings.setValue(RecentPortsKey, recent);
        static_cast<PortCombo*>(m_portCombo)->setRecentPorts(recent);
    });
    connect(&m_link, &SerialLink::receiveCleared, m_text1, &ReceiveDisplay::clear);
    connect(&m_link, &SerialLink::logChanged, this, [this] { ensureDebugForm().scheduleSync(); });
    connect(m_text1, &ReceiveDisplay::saveRequested, this, &PrivateDesign::saveReceived);
    connect(m_text1, &ReceiveDisplay::captureRequested, this, &PrivateDesign::toggleCapture);
    connect(m_text1, &ReceiveDisplay::clearRequested, this, [this] { m_link.clearReceive(); });
    connect(m_text1, &ReceiveDisplay::viewChanged, this,
            [](ReceiveDisplay::View view) { userSettings().setValue(QStringLiteral("display/view"), int(view)); });
    // Each shortcut exists once, as the window's action; the display's menu offers the same.
    auto* hex = new QAction(QStringLiteral("十六进制显示"), this);
    hex->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));
    hex->setCheckable(true);
    connect(hex, &QAction::triggered, this,
            [this](bool on) { m_text1->setView(on ? ReceiveDisplay::View::Hex : ReceiveDisplay::View::Text); });
    connect(m_text1, &ReceiveDisplay::viewChanged, hex,
            [hex](ReceiveDisplay::View view) { hex->setChecked(view == ReceiveDisplay::View::Hex); });
    auto* log = new QAction(QStringLiteral("显示调试信息打印窗口"), this);
    log->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    connect(log, &QAction::triggered, this, &PrivateDesign::showLog);
    auto* transcript = new QAction(QStringLiteral("收发记录"), this);
    transcript->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
    connect(transcript, &QAction::triggered, this, &PrivateDesign::showTranscript);
    auto* plot = new QAction(QStringLiteral("曲线"), this);
    plot->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    connect(plot, &QAction::triggered, this, &PrivateDesign::showPlot);
    auto* find = new QAction(QStringLiteral("查找…"), this);
    find->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    connect(find, &QAction::triggered, this, [this] { findBar().open(); });
    addActions({ hex, log, transcript, plot, find });
    m_text1->offerActions(hex, { log, transcript, plot, find });
    connect(m_text1, &ReceiveDisplay::colourRulesRequested, this, &PrivateDesign::editColourRules);
    {
        QSettings settings = userSettings();
        m_userRules = readColourRules(settings);
    }
    m_text1->setColourRules(m_userRules);
    const std::pair<QKeySequence, std::function<void()>> shortcuts[] = {
        { QKeySequence(Qt::CTRL | Qt::Key_PageUp), [this] { m_editor.selectPage((currentPage() + PageCount - 1) % PageCount); } },
        { QKeySequence(Qt::CTRL | Qt::Key_PageDown), [this] { m_editor.selectPage((currentPage() + 1) % PageCount); } },
        { QKeySequence(Qt::CTRL | Qt::Key_1), [this] { m_editor.selectPage(0); } },
        { QKeySequence(Qt::CTRL | Qt::Key_2), [this] { m_editor.selectPage(1); } },
        { QKeySequence(Qt::CTRL | Qt::Key_3), [this] { m_editor.selectPage(2); } },
        { QKeySequence(Qt::CTRL | Qt::Key_4), [this] { m_editor.selectPage(3); } },
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

void PrivateDesign::wireAutomation()
{
    m_automation = std::make_unique<KeyAutomation>(m_link, *this, workingCopyPath(m_folders.keySets), m_dialogs,
                                                   [this] { return m_enterCheck->isChecked(); });
    // Like the keys and their shortcuts, the automation starts empty: what a session before
    // left in the working copy comes back only with a load, so no leftover answer rule sends
    // anything as soon as a port opens.
    AutomationEngine& engine = m_automation->engine();
    // The answers that mark in a colour are drawn by the display's colour rules, after the user's.
    setExtraColourRules(engine.colourRules());
    connect(&engine, &AutomationEngine::colourRulesChanged, this,
            [this] { setExtraColourRules(m_automation->engine().colourRules()); });
    connect(&engine, &AutomationEngine::repeatChanged, this, [this](int key) {
        const std::optional<AutomationEngine::RepeatState> state = m_automation->engine().repeatState(key);
        m_keyButtons[std::size_t(key)]->setMarked(state.has_value());
        updateKeyTip(key);
    });
    addAction(m_automation->stopAllAction()); // Esc
    auto* sequences = new QAction(QStringLiteral("发送序列…"), this);
    sequences->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_J));
    connect(sequences, &QAction::triggered, this, &PrivateDesign::showAutomation);
    addAction(sequences);
    m_text1->offerAction(sequences);
}

void PrivateDesign::showAutomation()
{
    if (!m_automationWindow) {
        m_automationWindow = new AutomationWindow(*m_automation);
    }
    m_automationWindow->show();
    m_automationWindow->raise();
    m_automationWindow->activateWindow();
}

void PrivateDesign::showPlot()
{
    if (!m_plotWindow) {
        m_plotWindow = new PlotWindow(m_link.record(), m_dialogs, m_folders.keySets);
    }
    m_plotWindow->show();
    m_plotWindow->raise();
    m_plotWindow->activateWindow();
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
    delete m_automationWindow;
    delete m_plotWindow;
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
    // Typing must type: a key's shortcut never fires while a text box has the focus.
    if (event->type() == QEvent::ShortcutOverride && (qobject_cast<QLineEdit*>(watched) || qobject_cast<QComboBox*>(watched))) {
        const QKeySequence keys(static_cast<QKeyEvent*>(event)->keyCombination());
        if (m_shortcuts.combinations().contains(keys)) {
            event->accept();
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

// Colour rules.

void PrivateDesign::setUserColourRules(const ColourRules& rules)
{
    m_userRules = rules;
    m_text1->setColourRules(m_userRules + m_extraRules);
    QSettings settings = userSettings();
    writeColourRules(settings, rules);
    settings.sync();
    if (settings.status() != QSettings::NoError) {
        // They still colour this session; the user may copy them out of the dialog before closing.
        m_dialogs.notice(QStringLiteral("着色规则没有保存到 %1，下次启动时不会再有。").arg(settings.fileName()));
    }
}

void PrivateDesign::setExtraColourRules(const ColourRules& rules)
{
    m_extraRules = rules;
    m_text1->setColourRules(m_userRules + m_extraRules);
}

void PrivateDesign::editColourRules()
{
    ColourRulesDialog dialog(m_userRules, this);
    if (dialog.exec() == QDialog::Accepted) {
        ColourRules rules;
        for (const ColourRule& rule : dialog.rules()) {
            if (!rule.pattern.isEmpty()) {
                rules << rule;
            }
        }
        setUserColourRules(rules);
    }
}

// Find.

FindBar& PrivateDesign::findBar()
{
    if (!m_findBar) {
        m_findBar = new FindBar(m_link.record(), *m_text1, this);
        m_findBar->edit()->installEventFilter(this);
        connect(m_findBar, &FindBar::transcriptRowRequested, this, &PrivateDesign::showTranscriptRow);
    }
    return *m_findBar;
}

void PrivateDesign::showTranscriptRow(qint64 sentEntry)
{
    const LineRecord& record = m_link.record();
    if (sentEntry < record.firstNumber() || sentEntry >= record.nextNumber()) {
        return;
    }
    const LineRecord::Entry& sent = record.entry(sentEntry);
    const auto& rows = m_link.transcript().rows();
    for (auto row = qsizetype(rows.size()) - 1; row >= 0; --row) {
        const Transcript::Row& r = rows[std::size_t(row)];
        if (r.sentMsecs == sent.msecs && r.sent == sent.bytes && r.key == sent.key) {
            showTranscript();
            m_transcriptWindow->showRow(int(row));
            return;
        }
    }
    m_dialogs.notice(QStringLiteral("收发记录里已经没有这条命令（最多保留 %1 行，或已清空）。").arg(Transcript::RowLimit));
}

// Key shortcuts.

QList<std::pair<QKeySequence, QString>> PrivateDesign::toolShortcuts()
{
    QList<std::pair<QKeySequence, QString>> own {
        { QKeySequence(Qt::CTRL | Qt::Key_L), QStringLiteral("显示调试信息打印窗口") },
        { QKeySequence(Qt::CTRL | Qt::Key_T), QStringLiteral("收发记录") },
        { QKeySequence(Qt::CTRL | Qt::Key_H), QStringLiteral("十六进制显示") },
        { QKeySequence(Qt::CTRL | Qt::Key_F), QStringLiteral("查找") },
        { QKeySequence(Qt::CTRL | Qt::Key_P), QStringLiteral("曲线") },
        { QKeySequence(Qt::CTRL | Qt::Key_J), QStringLiteral("发送序列") },
        { QKeySequence(Qt::Key_F3), QStringLiteral("下一个匹配") },
        { QKeySequence(Qt::SHIFT | Qt::Key_F3), QStringLiteral("上一个匹配") },
        { QKeySequence(Qt::Key_Escape), QStringLiteral("停止全部自动发送、关闭查找") },
        { QKeySequence(Qt::CTRL | Qt::Key_PageUp), QStringLiteral("上一页") },
        { QKeySequence(Qt::CTRL | Qt::Key_PageDown), QStringLiteral("下一页") },
        { QKeySequence(Qt::CTRL | Qt::Key_A), QStringLiteral("全选") },
        { QKeySequence(Qt::CTRL | Qt::Key_C), QStringLiteral("复制") },
        { QKeySequence(Qt::Key_Return), QStringLiteral("按下有焦点的按钮") },
        { QKeySequence(Qt::Key_Enter), QStringLiteral("按下有焦点的按钮") },
        { QKeySequence(Qt::Key_Space), QStringLiteral("按下有焦点的按钮") },
        { QKeySequence(Qt::Key_Tab), QStringLiteral("移动焦点") },
        { QKeySequence(Qt::SHIFT | Qt::Key_Backtab), QStringLiteral("移动焦点") },
        { QKeySequence(Qt::Key_Backtab), QStringLiteral("移动焦点") },
    };
    for (int p = 0; p < PageCount; ++p) {
        own.append({ QKeySequence(Qt::CTRL | Qt::Key(Qt::Key_1 + p)), QStringLiteral("第%1页").arg(p + 1) });
    }
    return own;
}

int PrivateDesign::currentPage() const
{
    for (int p = 0; p < PageCount; ++p) {
        if (m_pages[std::size_t(p)]->x() == toPixels(PageLeftShown)) {
            return p;
        }
    }
    return 0;
}

bool PrivateDesign::setKeyShortcut(int index, const QKeySequence& keys)
{
    if (index < 0 || index >= KeyCount) {
        return false;
    }
    if (const QString why = m_shortcuts.conflict(index, keys, toolShortcuts(), *this); !why.isEmpty()) {
        m_dialogs.notice(QStringLiteral("没有设置快捷键：%1").arg(why));
        return false;
    }
    m_shortcuts.set(index, keys);
    applyKeyShortcuts();
    m_editor.commandFocused(); // stores the whole key set, the shortcuts with it
    return true;
}

void PrivateDesign::editKeyShortcut(int index)
{
    ShortcutDialog dialog(m_keyButtons[std::size_t(index)]->text(), index / KeysPerPage, m_shortcuts.shortcut(index), this);
    if (dialog.exec() == QDialog::Accepted) {
        setKeyShortcut(index, dialog.keys());
    }
}

void PrivateDesign::keyCaptionMenu(int index, const QPoint& at)
{
    QMenu menu(this);
    m_automation->addKeyMenuEntries(menu, index, this);
    menu.addSeparator();
    menu.addAction(QStringLiteral("设置快捷键…"), this, [this, index] { editKeyShortcut(index); });
    menu.exec(at);
}

void PrivateDesign::applyKeyShortcuts()
{
    qDeleteAll(m_keyShortcuts);
    m_keyShortcuts.clear();
    for (const QKeySequence& keys : m_shortcuts.combinations()) {
        auto* shortcut = new QShortcut(keys, this);
        connect(shortcut, &QShortcut::activated, this, [this, keys] {
            const int index = m_shortcuts.keyOn(currentPage(), keys);
            if (index >= 0) {
                m_keyButtons[std::size_t(index)]->click();
            }
        });
        m_keyShortcuts << shortcut;
    }
    for (int i = 0; i < KeyCount; ++i) {
        updateKeyTip(i);
    }
}

void PrivateDesign::updateKeyTip(int key)
{
    // A key's shortcut and its repeat, one line each: neither hides the other.
    static const char* const Pages[] = { "第一页", "第二页", "第三页", "第四页" };
    QStringList lines;
    if (const QKeySequence keys = m_shortcuts.shortcut(key); !keys.isEmpty()) {
        lines << QStringLiteral("快捷键 %1（只在%2起作用）").arg(keys.toString(QKeySequence::NativeText),
                                                                 QString::fromUtf8(Pages[key / KeysPerPage]));
    }
    if (const std::optional<AutomationEngine::RepeatState> state = m_automation->engine().repeatState(key)) {
        lines << QStringLiteral("每 %1 毫秒重复发送%2，已发送 %3 次，跳过 %4 次")
                     .arg(state->spec.intervalMs)
                     .arg(state->paused ? QStringLiteral("（串口没有打开，暂停中）") : QString())
                     .arg(state->sent)
                     .arg(state->skipped);
    }
    m_keyButtons[std::size_t(key)]->setToolTip(lines.join(u'\n'));
}

bool PrivateDesign::storeExtras(Profile& profile) const { return m_shortcuts.store(profile); }

void PrivateDesign::readExtras(const Profile& profile)
{
    const QStringList refused = m_shortcuts.read(profile, toolShortcuts(), *this);
    applyKeyShortcuts();
    if (!refused.isEmpty()) {
        m_dialogs.notice(QStringLiteral("配置文件里有快捷键没有调入：\n%1").arg(refused.join(u'\n')));
    }
}

} // namespace comkeys

#include "moc_PrivateDesign.cpp"
