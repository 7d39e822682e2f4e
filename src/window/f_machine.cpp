#include "window/f_machine.h"

#include "window/bell_buttons.h"
#include "window/ring_download.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateEdit>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QStatusBar>
#include <QTimeEdit>
#include <QToolBar>
#include <QTreeWidget>

// The terminal pictures live in the window's resource file; a static library needs its
// resources registered by hand (outside any namespace).
static void initWindowResources() {
    Q_INIT_RESOURCE(f_machine);
}

namespace bw {

const QString F_Machine::Caption = QStringLiteral("就餐机管理 (机型：6429) V5.2");

namespace {

// Design sizes of the window (pixels). Nothing is laid out by a layout manager: every
// control keeps the place and size it is given here, whatever the window's size.
constexpr int kWindowWidth = 800;
constexpr int kWindowHeight = 560;
constexpr int kBarHeight = 40;
constexpr int kListLeft = 4;
constexpr int kListTop = kBarHeight + 4;
constexpr int kListWidth = 420;
constexpr int kListHeight = 470;
constexpr int kFrameLeft = kListLeft + kListWidth + 6;
constexpr int kFrameWidth = 360;
constexpr int kFrameHeight = kListHeight;

// Caption column and field column of the frame's rows.
constexpr int kCaptionLeft = 12;
constexpr int kCaptionWidth = 100;
constexpr int kFieldLeft = 116;
constexpr int kFieldWidth = 180;
constexpr int kRowHeight = 24;
constexpr int kRowTop = 16;
constexpr int kRowStep = 36;

template <class W> W* named(QWidget* parent, const QString& name) {
    auto* w = new W(parent);
    w->setObjectName(name);
    return w;
}

QLabel* caption(QWidget* parent, const QString& name, const QString& text, int x, int y, int w) {
    auto* l = named<QLabel>(parent, name);
    l->setText(text);
    l->setGeometry(x, y, w, kRowHeight);
    return l;
}

QComboBox* comboBox(QWidget* parent, const QString& name, int x, int y, int w) {
    auto* c = named<QComboBox>(parent, name);
    c->setEditable(true); // a drop-down combo: the text can be typed as well as chosen
    c->setInsertPolicy(QComboBox::NoInsert);
    c->setGeometry(x, y, w, kRowHeight);
    return c;
}

QPushButton* button(QWidget* parent, const QString& name, const QString& text, int x, int y,
                    int w) {
    auto* b = named<QPushButton>(parent, name);
    b->setText(text);
    b->setGeometry(x, y, w, 30);
    return b;
}

struct ToolDesign {
    const char* key;
    const char* caption;
};

// Tools of band "toolbar", left to right.
const ToolDesign kTools[] = {
    {"new", "增加"},
    {"edit", "编辑"},
    {"Save", "保存"},
    {"Cancel", "取消"},
    {"loadrest", "考勤机初始化"},
    {"dele", "删除"},
    {"exit", "退出"},
};

} // namespace

F_Machine::F_Machine(QWidget* parent) : QMainWindow(parent) {
    initWindowResources();
    setObjectName(QStringLiteral("F_Machine"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(Caption);
    buildControls();
    resize(kWindowWidth, kWindowHeight);

    makeBellButtons();
}

F_Machine::~F_Machine() = default;

void F_Machine::buildControls() {
    auto* central = named<QWidget>(this, QStringLiteral("centralWidget"));
    setCentralWidget(central);

    const QPixmap small(QStringLiteral(":/window/icons/terminal16.xpm"));
    const QPixmap big(QStringLiteral(":/window/icons/terminal32.xpm"));
    ImgLst_MachineSmall = QIcon(small);
    ImgLst_MachineBig = QIcon(big);
    setWindowIcon(ImgLst_MachineBig);

    // Toolbar control with its one band "toolbar".
    ActiveBar21 = named<QWidget>(central, QStringLiteral("ActiveBar21"));
    ActiveBar21->setGeometry(0, 0, kWindowWidth, kBarHeight);
    toolbarBand = named<QToolBar>(ActiveBar21, QStringLiteral("toolbar"));
    toolbarBand->setWindowTitle(QStringLiteral("工具栏"));
    toolbarBand->setMovable(false);
    toolbarBand->setFloatable(false);
    toolbarBand->setToolButtonStyle(Qt::ToolButtonTextOnly);
    for (const auto& t : kTools) {
        auto* a = new QAction(QString::fromUtf8(t.caption), toolbarBand);
        const QString key = QString::fromUtf8(t.key);
        a->setObjectName(key);
        toolbarBand->addAction(a);
        connect(a, &QAction::triggered, this, [this, key] { ActiveBar21_ToolClick(key); });
    }
    toolbarBand->setGeometry(0, 0, kWindowWidth, kBarHeight);
    // Browsing state as designed: only "Save" and "Cancel" unavailable.
    tool(QStringLiteral("Save"))->setEnabled(false);
    tool(QStringLiteral("Cancel"))->setEnabled(false);

    // Terminal list at the left.
    LVW_Machine = named<QTreeWidget>(central, QStringLiteral("LVW_Machine"));
    LVW_Machine->setGeometry(kListLeft, kListTop, kListWidth, kListHeight);
    LVW_Machine->setColumnCount(0);
    LVW_Machine->setRootIsDecorated(false);
    LVW_Machine->setSelectionMode(QAbstractItemView::SingleSelection);
    LVW_Machine->setEditTriggers(QAbstractItemView::NoEditTriggers);
    LVW_Machine->header()->setStretchLastSection(false);
    LVW_Machine->setHeaderHidden(true); // icon view until the first list fill
    connect(LVW_Machine, &QTreeWidget::itemClicked, this, [this] { LVW_Machine_Click(); });

    // Frame of the terminal details, without caption.
    auto* frame = named<QFrame>(central, QStringLiteral("Fra_Fram1"));
    frame->setFrameShape(QFrame::StyledPanel);
    frame->setGeometry(kFrameLeft, kListTop, kFrameWidth, kFrameHeight);
    Fra_Fram1 = frame;

    auto rowY = [](int row) { return kRowTop + row * kRowStep; };
    Label1 = caption(frame, QStringLiteral("Label1"), QStringLiteral("机器号："), kCaptionLeft,
                     rowY(0), kCaptionWidth);
    Txt_Machine = named<QLineEdit>(frame, QStringLiteral("Txt_Machine"));
    Txt_Machine->setMaxLength(3);
    Txt_Machine->setGeometry(kFieldLeft, rowY(0), kFieldWidth, kRowHeight);

    Label2 = caption(frame, QStringLiteral("Label2"), QStringLiteral("串口或IP："), kCaptionLeft,
                     rowY(1), kCaptionWidth);
    Cbo_COM = comboBox(frame, QStringLiteral("Cbo_COM"), kFieldLeft, rowY(1), kFieldWidth);

    Label5 = caption(frame, QStringLiteral("Label5"), QStringLiteral("场   所："), kCaptionLeft,
                     rowY(2), kCaptionWidth);
    Cbo_Team = comboBox(frame, QStringLiteral("Cbo_Team"), kFieldLeft, rowY(2), kFieldWidth);
    Cbo_Team->setEditText(QStringLiteral("A"));

    Label10 = caption(frame, QStringLiteral("Label10"), QStringLiteral("用  途："), kCaptionLeft,
                      rowY(3), kCaptionWidth);
    CmbMachType = comboBox(frame, QStringLiteral("CmbMachType"), kFieldLeft, rowY(3), kFieldWidth);
    CmbMachType->setEditText(QStringLiteral("计次"));
    connect(CmbMachType, &QComboBox::editTextChanged, this, [this] { CmbMachType_Change(); });
    connect(CmbMachType, &QComboBox::activated, this, [this] { CmbMachType_Click(); });

    Label11 = caption(frame, QStringLiteral("Label11"), QStringLiteral("组     别："), kCaptionLeft,
                      rowY(4), kCaptionWidth);
    CmbGroup = comboBox(frame, QStringLiteral("CmbGroup"), kFieldLeft, rowY(4), kFieldWidth);

    // The three buttons in one column under the rows.
    Cmd_Test = button(frame, QStringLiteral("Cmd_Test"), QStringLiteral("通讯测试"), kFieldLeft,
                      rowY(5) + 8, kFieldWidth);
    Cmd_DateTime = button(frame, QStringLiteral("Cmd_DateTime"), QStringLiteral("设置日期时间"),
                          kFieldLeft, rowY(6) + 8, kFieldWidth);
    CmdGatherdata = button(frame, QStringLiteral("CmdGatherdata"), QStringLiteral("采集就餐数据"),
                           kFieldLeft, rowY(7) + 8, kFieldWidth);
    connect(Cmd_Test, &QPushButton::clicked, this, [this] { Cmd_Test_Click(); });
    connect(Cmd_DateTime, &QPushButton::clicked, this, [this] { Cmd_DateTime_Click(); });
    connect(CmdGatherdata, &QPushButton::clicked, this, [this] { CmdGatherdata_Click(); });

    buildBellSection();

    // Status bar with its first panel.
    Sta_Text = named<QStatusBar>(this, QStringLiteral("Sta_Text"));
    Sta_Text->setSizeGripEnabled(false);
    Sta_Panel1 = named<QLabel>(Sta_Text, QStringLiteral("Sta_Panel1"));
    Sta_Panel1->setTextFormat(Qt::PlainText); // register and terminal texts, never markup
    Sta_Panel1->setMinimumWidth(300);
    Sta_Text->addWidget(Sta_Panel1, 1);
    setStatusBar(Sta_Text);
}

// The hidden part of the frame: direction box, date and time pickers, and the bell section.
// The pickers and the bell section share the area under the five rows and start hidden. The
// direction box, which the usage shows, has a row of its own under the three buttons, so
// that showing it covers none of them.
void F_Machine::buildBellSection() {
    QWidget* frame = Fra_Fram1;
    const int top = kRowTop + 5 * kRowStep;
    const int directionTop = kRowTop + 8 * kRowStep + 8;

    Label4 = caption(frame, QStringLiteral("Label4"), QStringLiteral("标     志："), kCaptionLeft,
                     directionTop, kCaptionWidth);
    Cbo_Ver = comboBox(frame, QStringLiteral("Cbo_Ver"), kFieldLeft, directionTop, kFieldWidth);
    Label4->hide();
    Cbo_Ver->hide();

    Label3 = caption(frame, QStringLiteral("Label3"), QStringLiteral("日期："), kCaptionLeft,
                     top + 30, kCaptionWidth);
    DTP_Date = named<QDateEdit>(frame, QStringLiteral("DTP_Date"));
    DTP_Date->setCalendarPopup(true);
    DTP_Date->setGeometry(kFieldLeft, top + 30, kFieldWidth, kRowHeight);
    Label7 = caption(frame, QStringLiteral("Label7"), QStringLiteral("时间："), kCaptionLeft,
                     top + 60, kCaptionWidth);
    DTP_Time = named<QTimeEdit>(frame, QStringLiteral("DTP_Time"));
    DTP_Time->setDisplayFormat(QStringLiteral("HH:mm:ss"));
    DTP_Time->setGeometry(kFieldLeft, top + 60, kFieldWidth, kRowHeight);
    Chk_Same = named<QCheckBox>(frame, QStringLiteral("Chk_Same"));
    Chk_Same->setGeometry(kCaptionLeft, top + 90, 20, kRowHeight);
    Label8 =
        caption(frame, QStringLiteral("Label8"), QStringLiteral("考勤机日期和时间与操作系统一致"),
                kCaptionLeft + 22, top + 90, 300);
    connect(Chk_Same, &QCheckBox::stateChanged, this, [this] { Chk_Same_Click(); });
    for (QWidget* w : {static_cast<QWidget*>(Label3), static_cast<QWidget*>(DTP_Date),
                       static_cast<QWidget*>(Label7), static_cast<QWidget*>(DTP_Time),
                       static_cast<QWidget*>(Chk_Same), static_cast<QWidget*>(Label8)})
        w->hide();

    // Bell section: count, then the grid of three bands of ten hour and ten minute boxes.
    QList<QWidget*> bell;
    Label6 = caption(frame, QStringLiteral("Label6"), QStringLiteral("响铃次数："), kCaptionLeft,
                     top, kCaptionWidth);
    TxtBellNum = named<QLineEdit>(frame, QStringLiteral("TxtBellNum"));
    TxtBellNum->setText(QStringLiteral("0"));
    TxtBellNum->setGeometry(kFieldLeft, top, 60, kRowHeight);
    Label9 = caption(frame, QStringLiteral("Label9"), QStringLiteral("响铃时间："), kCaptionLeft,
                     top + 28, kCaptionWidth);
    bell << Label6 << TxtBellNum << Label9;

    constexpr int gridTop = kRowTop + 5 * kRowStep + 56;
    constexpr int bandStep = 50;
    constexpr int boxWidth = 28;
    constexpr int boxHeight = 22;
    constexpr int boxLeft = 44;
    QLineEdit** hourCaptions[3] = {&Text2, &Text1, &Text5};
    QLineEdit** minuteCaptions[3] = {&Text3, &Text4, &Text6};
    const char* hourNames[3] = {"Text2", "Text1", "Text5"};
    const char* minuteNames[3] = {"Text3", "Text4", "Text6"};
    for (int band = 0; band < 3; ++band) {
        const int y = gridTop + band * bandStep;
        auto* hc = named<QLineEdit>(frame, QString::fromLatin1(hourNames[band]));
        hc->setGeometry(4, y, 38, boxHeight);
        auto* mc = named<QLineEdit>(frame, QString::fromLatin1(minuteNames[band]));
        mc->setGeometry(4, y + boxHeight + 2, 38, boxHeight);
        *hourCaptions[band] = hc;
        *minuteCaptions[band] = mc;
        bell << hc << mc;
        for (int col = 0; col < 10; ++col) {
            const int k = band * 10 + col;
            const int x = boxLeft + col * (boxWidth + 2);
            auto* h = named<QLineEdit>(frame, QStringLiteral("TxtHour(%1)").arg(k));
            auto* m = named<QLineEdit>(frame, QStringLiteral("TxtMin(%1)").arg(k));
            for (QLineEdit* box : {h, m}) {
                box->setMaxLength(2);
                box->setText(QStringLiteral("0"));
                box->installEventFilter(this);
                bell << box;
            }
            h->setGeometry(x, y, boxWidth, boxHeight);
            m->setGeometry(x, y + boxHeight + 2, boxWidth, boxHeight);
            TxtHourArr[static_cast<size_t>(k)] = h;
            TxtMinArr[static_cast<size_t>(k)] = m;
        }
    }

    const int buttonsTop = gridTop + 3 * bandStep + 4;
    Cmd_Ring = button(frame, QStringLiteral("Cmd_Ring"), QStringLiteral("设置闹铃时间"), 4,
                      buttonsTop, 110);
    Cmd_Ring_Num = button(frame, QStringLiteral("Cmd_Ring_Num"), QStringLiteral("设置闹铃次数"),
                          120, buttonsTop, 110);
    Cmd_Ring_read = button(frame, QStringLiteral("Cmd_Ring_read"), QStringLiteral("读取闹铃设置"),
                           236, buttonsTop, 110);
    connect(Cmd_Ring, &QPushButton::clicked, this, [this] { Cmd_Ring_Click(); });
    connect(Cmd_Ring_Num, &QPushButton::clicked, this, [this] { Cmd_Ring_Num_Click(); });
    connect(Cmd_Ring_read, &QPushButton::clicked, this, [this] { Cmd_Ring_read_Click(); });
    bell << Cmd_Ring << Cmd_Ring_Num << Cmd_Ring_read;

    for (QWidget* w : bell)
        w->hide();
}

QAction* F_Machine::tool(const QString& key) const {
    if (!toolbarBand)
        return nullptr;
    for (QAction* a : toolbarBand->actions())
        if (a->objectName() == key)
            return a;
    return nullptr;
}

void F_Machine::setStatus(const QString& text) {
    Sta_Panel1->setText(text);
}

QString F_Machine::statusText() const {
    return Sta_Panel1->text();
}

QString F_Machine::columnKey(int column) const {
    const QTreeWidgetItem* h = LVW_Machine->headerItem();
    if (!h || column < 0 || column >= LVW_Machine->columnCount())
        return QString();
    return h->data(column, Qt::UserRole).toString();
}

void F_Machine::showWindow() {
    if (!loaded_) {
        loaded_ = true;
        Form_Load();
    }
    show();
    raise();
    activateWindow();
}

void F_Machine::showEvent(QShowEvent* event) {
    // A window shown directly (not through showWindow) loads on its first show.
    if (!loaded_) {
        loaded_ = true;
        showingDirectly_ = true;
        Form_Load();
        showingDirectly_ = false;
    }
    QMainWindow::showEvent(event);
}

// Closing never refuses and releases nothing of its own; the window is deleted on close
// and the next show request builds a new one.
void F_Machine::closeEvent(QCloseEvent* event) {
    // While a bell-link exchange waits for its terminal the window still takes events; it
    // must not go away under that exchange. The close is carried out when the exchange ends.
    if (bell_ && bell_->busy()) {
        closePending_ = true;
        event->ignore();
        return;
    }
    event->accept();
}

// Controls keep their design places and sizes whatever the window's size.
void F_Machine::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
}

bool F_Machine::saveScreenshot(const QString& file) {
    return grab().save(file, "PNG");
}

} // namespace bw
