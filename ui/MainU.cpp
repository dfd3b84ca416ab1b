#include "ui/MainU.h"

#include "platform/base/Convert.h"
#include "platform/uithread/QtEventLoop.h"
#include "ui/AnchoredPanel.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

constexpr int kClientWidth = 433;
constexpr int kClientHeight = 671;
constexpr int kPageWidth = 425;
constexpr const char* kDesignedCaption = "Tarvex";
constexpr const char* kVersion = "v1.21";

constexpr const char* kPaleYellow = "#FCFAD8";
constexpr const char* kWhite = "#FFFFFF";
constexpr const char* kPageColour = nullptr; // the panel takes its parent's background

constexpr QChar kBackspace(8);
constexpr QChar kCtrlV(22);
constexpr QChar kDiscarded(0);

QStringList numberItems(int first, int last, bool hexadecimal) {
    QStringList items;
    for (int value = first; value <= last; ++value)
        items << (hexadecimal ? QString::fromStdString(IntToHex(value, 2))
                              : QString::number(value));
    return items;
}

QComboBox* makeList(const char* name, const QStringList& items, int initialIndex) {
    auto* list = new QComboBox;
    list->setObjectName(name);
    list->setEditable(false); // the user picks from the items only
    list->addItems(items);
    list->setCurrentIndex(initialIndex);
    return list;
}

QLineEdit* makeEdit(const char* name, const QString& text, int maxLength = 32767) {
    auto* edit = new QLineEdit(text);
    edit->setObjectName(name);
    edit->setMaxLength(maxLength);
    return edit;
}

QPushButton* makeButton(const char* name, const QString& caption, const QIcon& icon = {}) {
    auto* button = new QPushButton(icon, caption);
    button->setObjectName(name);
    button->setIconSize(QSize(16, 16));
    return button;
}

QToolButton* makeSpeedButton(const char* name, const QString& caption) {
    auto* button = new QToolButton;
    button->setObjectName(name);
    button->setText(caption);
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

const QStringList kOnOff{"ON", "OFF"};
const QStringList kFrequencies{"915 FHSS",    "915 Single", "920 Single",   "FHSS (AUS)",
                               "FHSS (NZ)",   "869 Single", "FHSS (CHINA)", "870 (Single)",
                               "FHSS (PHIL)", "FHSS (INDO)"};

// The character a key press types, as a key filter sees it; null when the key types none that
// reaches an edit box's filter: arrows, Delete, function keys, and Tab, which moves the focus
// before any filter could see it.
QChar typedCharacter(const QKeyEvent* event) {
    const int key = event->key();
    if (key == Qt::Key_Backspace)
        return kBackspace;
    if (key == Qt::Key_Return || key == Qt::Key_Enter)
        return QChar(13);
    if (event->modifiers() & Qt::ControlModifier)
        return key >= Qt::Key_A && key <= Qt::Key_Z ? QChar(key - Qt::Key_A + 1) : QChar();
    const QString text = event->text();
    if (text.isEmpty() || text.at(0) < QChar(' ') || text.at(0) == QChar(0x7F))
        return {};
    return text.at(0);
}

} // namespace

// The icons live in this static library; without this the linker may drop them.
static void initIconResources() {
    Q_INIT_RESOURCE(icons);
}

TFormMain::TFormMain(TDialogs& dialogs, const TFormStartup& startup, QWidget* parent)
    : QWidget(parent), FDialogs(dialogs),
      FExecutablePath(startup.ExecutablePath.isEmpty() ? QCoreApplication::applicationFilePath()
                                                       : startup.ExecutablePath),
      FStartupFactoryMode(startup.FactoryMode),
      FTerminalLines(startup.TerminalLines > 0 ? startup.TerminalLines
                                               : TFormStartup::DefaultTerminalLines) {
    setObjectName("FormMain");
    initIconResources();
    FSelf = std::make_shared<TFormMain*>(this);
    buildWindow();
    buildProfileMenu();
    createHidControl();
    wireHandlers();
    FormCreate();
}

TFormMain::~TFormMain() {
    FormDestroy();
}

void TFormMain::buildWindow() {
    setWindowTitle(kDesignedCaption);
    // Where Tahoma is absent, prefer faces of similar width to the toolkit's broad default.
    QFont font;
    font.setFamilies({"Tahoma", "Nimbus Sans", "Liberation Sans", "Arial"});
    font.setPixelSize(13);
    setFont(font);
    resize(kClientWidth, kClientHeight);

    auto* strip = new AnchoredPanel("Panel3", kClientWidth, 49);
    Panel3 = strip;
    btnConnect = makeButton("btnConnect", "Connect", QIcon(":/icons/connect.png"));
    strip->place(btnConnect, 11, 13, 80, 25);
    btnClose =
        makeButton("btnClose", "Close", style()->standardIcon(QStyle::SP_DialogCancelButton));
    strip->placeAnchoredRight(btnClose, 332, 13, 80, 25);

    pcMain = new QTabWidget;
    pcMain->setObjectName("pcMain");
    buildConfigurePage();
    buildTerminalPage();

    sbMain = new QStatusBar;
    sbMain->setObjectName("sbMain");
    sbMain->setFixedHeight(19);
    sbMain->setSizeGripEnabled(false);
    const int widths[2] = {300, 100};
    const Qt::Alignment alignments[2] = {Qt::AlignLeft | Qt::AlignVCenter, Qt::AlignCenter};
    for (int panel = 0; panel < 2; ++panel) {
        sbMainPanels[panel] = new QLabel;
        sbMainPanels[panel]->setObjectName(QString("sbMainPanel%1").arg(panel));
        sbMainPanels[panel]->setFixedWidth(widths[panel]);
        sbMainPanels[panel]->setAlignment(alignments[panel]);
        // Device names reach the bar: whatever they look like, they are shown as text.
        sbMainPanels[panel]->setTextFormat(Qt::PlainText);
        // The bar leaves its panels 14 pixels: a frame would cut the text, so a line
        // at the right edge separates them instead.
        sbMainPanels[panel]->setStyleSheet("QLabel { border-right: 1px solid palette(dark); }");
        sbMain->addWidget(sbMainPanels[panel]);
    }

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(Panel3);
    layout->addWidget(pcMain, 1);
    layout->addWidget(sbMain);

    ConnectTimer = new QTimer(this);
    ConnectTimer->setObjectName("ConnectTimer");
    ConnectTimer->setInterval(500);
    ConnectTimer->setTimerType(Qt::PreciseTimer); // attempts every 500 ms, never early
    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName("PopupMenu1");
}

QFrame* TFormMain::addRow(const char* panelName, const char* colour, const char* labelName,
                          const char* caption, QWidget* control, int controlTop, int labelTop) {
    auto* row = new AnchoredPanel(panelName, kPageWidth, 33);
    row->setFrameStyle(QFrame::Panel | QFrame::Raised);
    if (colour) {
        row->setAutoFillBackground(true);
        QPalette palette = row->palette();
        palette.setColor(QPalette::Window, QColor(colour));
        row->setPalette(palette);
    }
    auto* label = new QLabel(caption);
    label->setObjectName(labelName);
    row->place(label, 7, labelTop, 318 - 7 - 2, 17); // up to the value control
    const bool narrow = qobject_cast<QLineEdit*>(control) && control != edtLocationID;
    row->placeAnchoredRight(control, 318, controlTop, narrow ? 25 : 90, 24);
    tsOne->layout()->addWidget(row);
    return row;
}

void TFormMain::buildConfigurePage() {
    tsOne = new QWidget;
    tsOne->setObjectName("tsOne");
    auto* rows = new QVBoxLayout(tsOne);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(0);

    const QStringList byteHex = numberItems(0x01, 0xFE, true);
    cbxOEM1 = makeList("cbxOEM1", byteHex, 0);
    cbxOEM2 = makeList("cbxOEM2", byteHex, 0);
    edtLocationID = makeEdit("edtLocationID", "1");
    edtLocationID->setAlignment(Qt::AlignRight);
    cbxCustMsgCounts = makeList("cbxCustMsgCounts", numberItems(1, 10, false), 0);
    cbxCustMsgPeriod = makeList("cbxCustMsgPeriod", numberItems(1, 240, false), 59);
    cbxEnableCustMsgAntenna = makeList("cbxEnableCustMsgAntenna", kOnOff, 1);
    cbxCustMsgPower = makeList("cbxCustMsgPower", numberItems(0x01, 0x7F, true), 0);
    cbxLocationStatus = makeList("cbxLocationStatus", kOnOff, 1);
    cbxLocationStatusPolling = makeList("cbxLocationStatusPolling", numberItems(1, 255, false), 0);
    cbxLocationStatusMsgCounts =
        makeList("cbxLocationStatusMsgCounts", numberItems(1, 10, false), 0);
    cbxTransmitLowBatFFM = makeList("cbxTransmitLowBatFFM", kOnOff, 1);
    cbxLowBatFreeMsg = makeList("cbxLowBatFreeMsg", numberItems(1, 255, false), 0);
    cbxFrequency = makeList("cbxFrequency", kFrequencies, 0);
    edtExt1 = makeEdit("edtExt1", "FF", 2);
    edtExt2 = makeEdit("edtExt2", "FF", 2);

    Panel1 = addRow("Panel1", kPaleYellow, "Label1", "OEM ID 1", cbxOEM1, 3, 6);
    Panel2 = addRow("Panel2", kPageColour, "Label2", "OEM ID 2", cbxOEM2, 3, 6);
    Panel6 = addRow("Panel6", kPaleYellow, "Label3", "Location ID (1-4095)", edtLocationID, 3, 6);
    Panel8 = addRow("Panel8", kWhite, "Label5", "Custom Message Counts", cbxCustMsgCounts, 3, 6);
    Panel9 = addRow("Panel9", kPaleYellow, "Label9",
                    "Custom Message (Burst/Min) [ex. 60=1 Burst/Sec]", cbxCustMsgPeriod, 3, 6);
    Panel13 = addRow("Panel13", kWhite, "Label12", "Enable Custom Message Antenna",
                     cbxEnableCustMsgAntenna, 6, 6);
    Panel14 =
        addRow("Panel14", kPaleYellow, "Label13", "Custom Message Power", cbxCustMsgPower, 3, 6);
    Panel10 =
        addRow("Panel10", kWhite, "Label6", "Location Status Enable", cbxLocationStatus, 3, 6);
    Panel11 = addRow("Panel11", kPaleYellow, "Label7", "Location Status Polling (Minutes)",
                     cbxLocationStatusPolling, 3, 6);
    Panel12 = addRow("Panel12", kWhite, "Label11", "Location Status Message Counts",
                     cbxLocationStatusMsgCounts, 6, 6);
    Panel15 = addRow("Panel15", kPaleYellow, "Label14", "Transmit Low Battery Free Form Message",
                     cbxTransmitLowBatFFM, 3, 6);
    pnlLowBatFreeForm =
        addRow("pnlLowBatFreeForm", kWhite, "Label8",
               "Low Battery Free Form Message Polling (Hours)", cbxLowBatFreeMsg, 3, 6);
    Panel16 = addRow("Panel16", kPaleYellow, "Label15", "Frequency Mode", cbxFrequency, 3, 6);
    pnl1x = addRow("pnl1x", kWhite, "Label10", "Exended Config 1", edtExt1, 3, 11);
    pnl2x = addRow("pnl2x", kPaleYellow, "Label16", "Exended Config 2", edtExt2, 3, 11);

    auto* buttons = new AnchoredPanel("Panel17", kPageWidth, 43);
    buttons->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel17 = buttons;
    btnReset = makeButton("btnReset", "Factory Reset", QIcon(":/icons/reset.png"));
    buttons->place(btnReset, 7, 9, 117, 25);
    btnSet = makeButton("btnSet", "Set", QIcon(":/icons/set.png"));
    buttons->placeAnchoredRight(btnSet, 328, 9, 80, 25);
    rows->addWidget(Panel17);
    rows->addStretch(1);

    pcMain->addTab(tsOne, "Configure");
}

void TFormMain::buildTerminalPage() {
    tsTwo = new QWidget;
    tsTwo->setObjectName("tsTwo");

    auto* strip = new AnchoredPanel("Panel5", kPageWidth, 41);
    Panel5 = strip;
    btnClear = makeButton("btnClear", "Clear");
    strip->place(btnClear, 12, 10, 80, 25);
    btnSave = makeButton("btnSave", "Save To File");
    strip->place(btnSave, 107, 10, 80, 25);
    btnCapture = makeButton("btnCapture", "Start Capture...");
    strip->place(btnCapture, 202, 10, 100, 25);
    lblTrimmed = new QLabel;
    lblTrimmed->setObjectName("lblTrimmed");
    lblTrimmed->setWordWrap(true);
    strip->place(lblTrimmed, 312, 3, 108, 36);

    Memo1 = new QPlainTextEdit;
    Memo1->setObjectName("Memo1");
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // An undo history would keep a second copy of every report the terminal ever showed.
    Memo1->setUndoRedoEnabled(false);
    Memo1->setStyleSheet("QPlainTextEdit { background-color: black; color: yellow; }");
    QFont courier("Courier");
    courier.setStyleHint(QFont::TypeWriter);
    courier.setPixelSize(16);
    Memo1->setFont(courier);

    pcDataType = new QTabWidget;
    pcDataType->setObjectName("pcDataType");
    pcDataType->setFixedHeight(74);

    TabSheet1 = new QWidget;
    TabSheet1->setObjectName("TabSheet1");
    auto* hexPanel = new AnchoredPanel("Panel4", kPageWidth, 40);
    Panel4 = hexPanel;
    btnSend = makeButton("btnSend", "Send");
    hexPanel->place(btnSend, 8, 7, 80, 25);
    const int lefts[8] = {111, 140, 169, 199, 228, 258, 287, 317};
    for (int n = 0; n < 8; ++n) {
        Edit[n] = makeEdit(qPrintable(QString("Edit%1").arg(n + 1)), "", 2);
        hexPanel->place(Edit[n], lefts[n], 8, 25, 24);
    }
    SpeedButton1 = makeSpeedButton("SpeedButton1", "FF");
    hexPanel->place(SpeedButton1, 361, 10, 28, 22);
    auto* hexLayout = new QVBoxLayout(TabSheet1);
    hexLayout->setContentsMargins(0, 0, 0, 0);
    hexLayout->addWidget(Panel4);

    TabSheet2 = new QWidget;
    TabSheet2->setObjectName("TabSheet2");
    auto* asciiPanel = new AnchoredPanel("AsciiPage", kPageWidth, 40);
    btnSendASCII = makeButton("btnSendASCII", "Send");
    asciiPanel->place(btnSendASCII, 16, 7, 75, 25);
    edtAscii = makeEdit("edtAscii", "");
    asciiPanel->place(edtAscii, 118, 8, 225, 24);
    SpeedButton2 = makeSpeedButton("SpeedButton2", "CLR");
    asciiPanel->place(SpeedButton2, 367, 10, 28, 22);
    auto* asciiLayout = new QVBoxLayout(TabSheet2);
    asciiLayout->setContentsMargins(0, 0, 0, 0);
    asciiLayout->addWidget(asciiPanel);

    pcDataType->addTab(TabSheet1, "HEX");
    pcDataType->addTab(TabSheet2, "ASCII");

    auto* page = new QVBoxLayout(tsTwo);
    page->setContentsMargins(0, 0, 0, 0);
    page->setSpacing(0);
    page->addWidget(Panel5);
    page->addWidget(Memo1, 1);
    page->addWidget(pcDataType);
    pcMain->addTab(tsTwo, "Terminal");
}

void TFormMain::wireHandlers() {
    connect(btnClose, &QPushButton::clicked, this, &TFormMain::btnCloseClick);
    connect(SpeedButton1, &QToolButton::clicked, this, &TFormMain::SpeedButton1Click);
    connect(SpeedButton2, &QToolButton::clicked, this, &TFormMain::SpeedButton1Click);
    connect(btnConnect, &QPushButton::clicked, this, &TFormMain::btnConnectClick);
    connect(ConnectTimer, &QTimer::timeout, this, &TFormMain::ConnectTimerTimer);
    connect(btnSet, &QPushButton::clicked, this, &TFormMain::btnSetClick);
    connect(btnReset, &QPushButton::clicked, this, &TFormMain::btnResetClick);
    connect(btnClear, &QPushButton::clicked, this, &TFormMain::btnClearClick);
    connect(btnSave, &QPushButton::clicked, this, &TFormMain::btnSaveClick);
    connect(btnCapture, &QPushButton::clicked, this, &TFormMain::btnCaptureClick);
    connect(btnSend, &QPushButton::clicked, this, &TFormMain::btnSendClick);
    connect(btnSendASCII, &QPushButton::clicked, this, &TFormMain::btnSendASCIIClick);
    keepHexTexts();
    edtLocationID->installEventFilter(this);
    for (QLineEdit* edit : Edit)
        edit->installEventFilter(this);
    edtExt1->installEventFilter(this);
    edtExt2->installEventFilter(this);
    setTabOrder();
}

void TFormMain::setTabOrder() {
    const auto fields = fieldControls();
    QList<QWidget*> order(fields.begin(), fields.end());
    order << btnSet << btnReset;
    for (int i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
}

bool TFormMain::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        QChar key = typedCharacter(static_cast<QKeyEvent*>(event));
        if (key.isNull())
            return false;
        if (watched == edtLocationID)
            edtLocationIDKeyPress(watched, key);
        else
            HexKeyPress(watched, key);
        return key == kDiscarded; // a discarded key never reaches the edit box
    }
    if (event->type() == QEvent::FocusOut && watched == edtLocationID) {
        // Leaving the edit within the window is an exit; the window losing activation is not.
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
            QTimer::singleShot(0, this, &TFormMain::edtLocationIDExit);
    }
    return false;
}

void TFormMain::FormCreate() {
    setWindowTitle(windowTitle() + " " + kVersion);
    btnSend->setEnabled(false);
    EnableDisableLocatorControls(false);
    FFactoryMode = false;
    FWorkingDir = QFileInfo(FExecutablePath).absolutePath() + QDir::separator();
    FFactoryMode = FStartupFactoryMode;
    HIDDevice = nullptr;
    HIDSettingsList = std::make_unique<std::vector<HIDSettingsEntry>>();
    SpeedButton1->click();
}

void TFormMain::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!FShown) {
        FShown = true;
        centreOnScreen();
        FormShow();
    }
}

void TFormMain::centreOnScreen() {
    if (const QScreen* screen = this->screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

void TFormMain::FormShow() {
    if (FFactoryMode) {
        sbMainPanels[1]->setText("Factory Mode");
        pcMain->setTabVisible(pcMain->indexOf(tsTwo), true);
        pcMain->setCurrentWidget(tsOne);
        pnl1x->setVisible(true);
        pnl2x->setVisible(true);
    } else {
        pcMain->setTabVisible(pcMain->indexOf(tsTwo), false);
        pcMain->setCurrentWidget(tsOne);
        cbxOEM1->setEnabled(false);
        cbxOEM2->setEnabled(false);
        cbxFrequency->setEnabled(false);
        for (QFrame* row : {pnl1x, pnl2x, Panel8, Panel9, Panel13, Panel14})
            row->setVisible(false);
    }
}

// "Close" is the window's cancel button: an Esc that no control wanted presses it.
void TFormMain::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier)
        btnClose->click();
    else
        QWidget::keyPressEvent(event);
}

void TFormMain::closeEvent(QCloseEvent* event) {
    bool canClose = true;
    FormCloseQuery(canClose);
    event->setAccepted(canClose);
}

void TFormMain::FormCloseQuery(bool& CanClose) {
    CanClose = true;
}

void TFormMain::FormDestroy() {
    if (HIDSettingsList) {
        for (auto& entry : *HIDSettingsList)
            entry.Settings.reset();
        HIDSettingsList.reset();
    }
    FSelf.reset(); // commands still on their way find no window and drop
    FinishCommandsInFlight();
    ReleaseDevice();
    HidControl.reset();
    EventLoop.reset();
}

// Queues the request to end the event loop, behind whatever is already posted. Closing the
// window is not asked for on this path; the window goes when the process ends.
void TFormMain::btnCloseClick() {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
}

QString TFormMain::StatusText(int panel) const {
    return sbMainPanels[panel]->text();
}

void TFormMain::EnableDisableLocatorControls(bool val) {
    btnSet->setEnabled(val);
    btnReset->setEnabled(val);
    if (!val || FFactoryMode) {
        cbxOEM1->setEnabled(val);
        cbxOEM2->setEnabled(val);
    }
    for (QWidget* control : std::initializer_list<QWidget*>{
             edtLocationID, cbxCustMsgCounts, cbxCustMsgPeriod, cbxLocationStatus,
             cbxLocationStatusPolling, cbxLocationStatusMsgCounts, cbxEnableCustMsgAntenna,
             cbxCustMsgPower, cbxTransmitLowBatFFM})
        control->setEnabled(val);
    if (!val || FFactoryMode)
        cbxFrequency->setEnabled(val);
    for (QWidget* control : {static_cast<QWidget*>(cbxLowBatFreeMsg),
                             static_cast<QWidget*>(edtExt1), static_cast<QWidget*>(edtExt2)})
        control->setEnabled(val);
}

TLocatorControls TFormMain::ReadLocatorControls() const {
    const auto text = [](const QWidget* control) -> std::string {
        if (const auto* list = qobject_cast<const QComboBox*>(control))
            return list->currentIndex() < 0 ? std::string() : list->currentText().toStdString();
        return static_cast<const QLineEdit*>(control)->text().toStdString();
    };
    TLocatorControls controls;
    controls.OEM1 = text(cbxOEM1);
    controls.OEM2 = text(cbxOEM2);
    controls.LocationID = text(edtLocationID);
    controls.CustMsgCounts = text(cbxCustMsgCounts);
    controls.CustMsgPeriod = text(cbxCustMsgPeriod);
    controls.LocationStatusIndex = cbxLocationStatus->currentIndex();
    controls.LocationStatusPolling = text(cbxLocationStatusPolling);
    controls.LocationStatusMsgCounts = text(cbxLocationStatusMsgCounts);
    controls.EnableCustMsgAntennaIndex = cbxEnableCustMsgAntenna->currentIndex();
    controls.CustMsgPower = text(cbxCustMsgPower);
    controls.TransmitLowBatFFMIndex = cbxTransmitLowBatFFM->currentIndex();
    controls.FrequencyIndex = cbxFrequency->currentIndex();
    controls.LowBatFreeMsg = text(cbxLowBatFreeMsg);
    controls.Ext1 = text(edtExt1);
    controls.Ext2 = text(edtExt2);
    return controls;
}

void TFormMain::SetHidDataFromUI(TReport& HidData) {
    EncodeLocatorControls(ReadLocatorControls(), HidData);
}

void TFormMain::SetHidDataFromDefault(TReport& HidData) {
    EncodeLocatorConfig(kFactoryDefaults, HidData);
}

void TFormMain::InitHidData(std::uint8_t (&Data)[64]) {
    ::InitHidData(Data);
}

void TFormMain::edtLocationIDKeyPress(QObject*, QChar& Key) {
    if (Key != kBackspace && Key != kCtrlV && !(Key >= '0' && Key <= '9'))
        Key = kDiscarded;
}

void TFormMain::edtLocationIDExit() {
    try {
        const int value = StrToInt(edtLocationID->text().toStdString());
        if (value > 4095 || value < 1) {
            FDialogs.ShowMessage("Location ID must be in the range of (1-4095)");
            edtLocationID->setFocus();
        }
    } catch (const EConvertError& error) {
        FDialogs.ShowError(error.what());
    }
}

void TFormMain::HexKeyPress(QObject*, QChar& Key) {
    const bool hexDigit = (Key >= '0' && Key <= '9') || (Key >= 'A' && Key <= 'F');
    if (Key != kBackspace && Key != kCtrlV && !hexDigit)
        Key = kDiscarded;
}

void TFormMain::SpeedButton1Click() {
    for (QLineEdit* edit : Edit)
        edit->setText("FF");
}
