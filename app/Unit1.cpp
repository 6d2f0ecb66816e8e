// SPDX-License-Identifier: GPL-3.0-or-later
// The main window: its description (every component with its place, caption and tab order), its
// wiring, and the handlers of start-up and shutdown.
#include "app/Unit1.h"

#include "app/ListBox.h"
#include "app/MessageBoxes.h"
#include "protocol/DeviceConfig.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QVBoxLayout>

#include <algorithm>
#include <functional>
#include <utility>

TForm1* Form1 = nullptr;

namespace {

struct Place {
    int left, top, width, height;
};

QString Text(const char* utf8) {
    return QString::fromUtf8(utf8);
}

// ---- The window description. Positions are pixels within the parent's client area. ----

const char* const WindowCaption = "Korvantis              中国官网：www.korvantis.com.cn";
constexpr Place WindowPlace{363, 197, 537, 393};

struct GroupRow {
    QGroupBox* TForm1::*control;
    const char* name;
    Place place;
    const char* caption;
};
const GroupRow GroupRows[] = {
    {&TForm1::GroupBox1, "GroupBox1", {8, 8, 265, 305}, "设备列表"},
    {&TForm1::RadioGroup1, "RadioGroup1", {280, 8, 257, 73}, "网络模式"},
    {&TForm1::GroupBox2, "GroupBox2", {280, 88, 257, 155}, "IP地址信息"},
    {&TForm1::GroupBox3, "GroupBox3", {280, 248, 257, 65}, "串口参数"},
};

struct ButtonRow {
    QPushButton* TForm1::*control;
    const char* name;
    Place place;
    const char* caption;
    bool enabled;
};
const ButtonRow ButtonRows[] = {
    {&TForm1::Button2, "Button2", {288, 336, 75, 25}, "扫描", true},
    {&TForm1::Button1, "Button1", {368, 336, 75, 25}, "设置", false},
    {&TForm1::Button7, "Button7", {448, 336, 75, 25}, "退出", true},
};

struct ListRow {
    QListWidget* TForm1::*control;
    const char* name;
    Place place;
};
const ListRow ListRows[] = {
    {&TForm1::ListBox1, "ListBox1", {8, 40, 113, 257}},
    {&TForm1::ListBox2, "ListBox2", {128, 40, 129, 257}},
};

enum class LabelLook {
    SizedToText, // the place gives the top-left corner only
    Fixed,       // the place is kept whatever the text
    Dot,         // "." between two octet edits: bold, 24 pixels, sized to its text
};
struct LabelRow {
    QLabel* TForm1::*control;
    const char* name;
    QGroupBox* TForm1::*parent;
    Place place;
    const char* caption;
    LabelLook look;
};
const LabelRow LabelRows[] = {
    {&TForm1::label14, "label14", &TForm1::GroupBox1, {56, 24, 10, 13}, "IP", LabelLook::SizedToText},
    {&TForm1::Label15, "Label15", &TForm1::GroupBox1, {176, 24, 23, 13}, "MAC", LabelLook::SizedToText},
    {&TForm1::Label3, "Label3", &TForm1::GroupBox2, {16, 26, 57, 13}, "设备IP：", LabelLook::Fixed},
    {&TForm1::Label4, "Label4", &TForm1::GroupBox2, {16, 53, 73, 13}, "子网掩码：", LabelLook::Fixed},
    {&TForm1::Label5, "Label5", &TForm1::GroupBox2, {16, 80, 36, 13}, "网关：", LabelLook::Fixed},
    {&TForm1::Label17, "Label17", &TForm1::GroupBox2, {16, 104, 57, 13}, "远程IP：", LabelLook::Fixed},
    {&TForm1::Label6, "Label6", &TForm1::GroupBox2, {16, 132, 57, 13}, "端口号：", LabelLook::Fixed},
    {&TForm1::Label7, "Label7", &TForm1::GroupBox2, {121, 19, 8, 29}, ".", LabelLook::Dot},
    {&TForm1::Label2, "Label2", &TForm1::GroupBox2, {161, 19, 8, 29}, ".", LabelLook::Dot},
    {&TForm1::Label1, "Label1", &TForm1::GroupBox2, {201, 19, 8, 29}, ".", LabelLook::Dot},
    {&TForm1::Label10, "Label10", &TForm1::GroupBox2, {121, 45, 8, 29}, ".", LabelLook::Dot},
    {&TForm1::Label9, "Label9", &TForm1::GroupBox2, {161, 45, 8, 29}, ".", LabelLook::Dot},
    {&TForm1::Label8, "Label8", &TForm1::GroupBox2, {201, 45, 8, 29}, ".", LabelLook::Dot},
    {&TForm1::Label13, "Label13", &TForm1::GroupBox2, {121, 71, 8, 29}, ".", LabelLook::Dot},
    {&TForm1::Label12, "Label12", &TForm1::GroupBox2, {161, 71, 8, 29}, ".", LabelLook::Dot},
    {&TForm1::Label11, "Label11", &TForm1::GroupBox2, {201, 71, 8, 29}, ".", LabelLook::Dot},
    {&TForm1::Label18, "Label18", &TForm1::GroupBox2, {121, 97, 8, 29}, ".", LabelLook::Dot},
    {&TForm1::Label19, "Label19", &TForm1::GroupBox2, {161, 97, 8, 29}, ".", LabelLook::Dot},
    {&TForm1::Label20, "Label20", &TForm1::GroupBox2, {201, 97, 8, 29}, ".", LabelLook::Dot},
    {&TForm1::Label16,
     "Label16",
     &TForm1::GroupBox3,
     {16, 32, 72, 13},
     "通讯波特率：",
     LabelLook::SizedToText},
};

// All in GroupBox2. MaxLength 0: no limit.
struct EditRow {
    QLineEdit* TForm1::*control;
    const char* name;
    Place place;
    int maxLength;
};
// clang-format off
const EditRow EditRows[] = {
    {&TForm1::IP1, "IP1", {88, 22, 33, 21}, 3},
    {&TForm1::IP2, "IP2", {128, 22, 33, 21}, 3},
    {&TForm1::IP3, "IP3", {168, 22, 33, 21}, 3},
    {&TForm1::IP4, "IP4", {208, 22, 33, 21}, 3},
    {&TForm1::ym1, "ym1", {88, 48, 33, 21}, 3},
    {&TForm1::ym2, "ym2", {128, 48, 33, 21}, 3},
    {&TForm1::ym3, "ym3", {168, 48, 33, 21}, 3},
    {&TForm1::ym4, "ym4", {208, 48, 33, 21}, 3},
    {&TForm1::wg1, "wg1", {88, 74, 33, 21}, 3},
    {&TForm1::wg2, "wg2", {128, 74, 33, 21}, 3},
    {&TForm1::wg3, "wg3", {168, 74, 33, 21}, 3},
    {&TForm1::wg4, "wg4", {208, 74, 33, 21}, 3},
    {&TForm1::YCIP1, "YCIP1", {88, 100, 33, 21}, 3},
    {&TForm1::YCIP2, "YCIP2", {128, 100, 33, 21}, 3},
    {&TForm1::YCIP3, "YCIP3", {168, 100, 33, 21}, 3},
    {&TForm1::YCIP4, "YCIP4", {208, 100, 33, 21}, 3},
    {&TForm1::post, "post", {88, 127, 81, 21}, 0},
};
// clang-format on

constexpr Place ComboBox1Place{120, 24, 97, 21};
// The network mode group's items, one for each mode row, in its order.
const char* const ModeCaptions[] = {"TCP/IP 服务器", "TCP/IP 客户端", "UDP 服务器", "UDP 客户端"};
static_assert(std::size(ModeCaptions) == ModeRows.size());
// The mode items are filled column by column: items 0 and 1 on the left, 2 and 3 on the right.
constexpr int RadioColumnLeft[] = {8, 132};
constexpr int RadioRowTop[] = {20, 44};
constexpr int RadioItemWidth = 118, RadioItemHeight = 20;

constexpr Place StatusBar1Place{0, 374, 537, 19};
constexpr int StatusPanel0Width = 200;

constexpr int ListItemHeight = 13;

QFont WindowFont() {
    QFont font;
    // The CJK face carries every Chinese caption where the designed face is missing.
    font.setFamilies({"MS Sans Serif", "Noto Sans CJK SC", "WenQuanYi Zen Hei", "DejaVu Sans", "sans-serif"});
    font.setPixelSize(11);
    font.setWeight(QFont::Normal);
    return font;
}

QFont DotFont() {
    QFont font;
    // Only "." is drawn: a Latin face keeps its dot inside the designed 29-pixel height, where a CJK
    // face's taller ascent would push it below the octet edits.
    font.setFamilies({"MS Sans Serif", "DejaVu Sans", "Liberation Sans", "sans-serif"});
    font.setPixelSize(24);
    font.setBold(true);
    return font;
}

void Put(QWidget& widget, const Place& place) {
    widget.setGeometry(place.left, place.top, place.width, place.height);
}

} // namespace

TForm1::TForm1(QWidget* parent) : QWidget(parent) {
    setObjectName("Form1");
    setWindowTitle(Text(WindowCaption));
    QIcon icon;
    icon.addFile(":/icons/Project1-32.png", QSize(32, 32));
    icon.addFile(":/icons/Project1-16.png", QSize(16, 16));
    setWindowIcon(icon);
    setFont(WindowFont());
    setBackgroundRole(QPalette::Button);
    setAutoFillBackground(true);
    move(WindowPlace.left, WindowPlace.top);
    resize(WindowPlace.width, WindowPlace.height);

    // The endpoint comes first: if the socket layer cannot start, the window is never built.
    IdUDPServer1 = std::make_unique<TIdUDPServer>();
    CreateComponents();
    SetTabOrder();
    WireEvents();
    WireEditRules();
}

TForm1::~TForm1() {
    ShutdownEndpoint();
}

void TForm1::CreateComponents() {
    for (const GroupRow& row : GroupRows) {
        auto* group = new QGroupBox(Text(row.caption), this);
        group->setObjectName(row.name);
        Put(*group, row.place);
        this->*row.control = group;
    }
    CreateRadioGroup1Items();

    for (const ButtonRow& row : ButtonRows) {
        auto* button = new QPushButton(Text(row.caption), this);
        button->setObjectName(row.name);
        Put(*button, row.place);
        button->setAutoDefault(false);
        button->setDefault(false);
        button->setEnabled(row.enabled);
        this->*row.control = button;
    }

    for (const ListRow& row : ListRows) {
        auto* list = new TListBox(ListItemHeight, GroupBox1);
        list->setObjectName(row.name);
        Put(*list, row.place);
        this->*row.control = list;
    }

    for (const LabelRow& row : LabelRows) {
        auto* label = new QLabel(Text(row.caption), this->*row.parent);
        label->setObjectName(row.name);
        Put(*label, row.place);
        if (row.look == LabelLook::Dot) {
            label->setFont(DotFont());
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        } else if (row.look == LabelLook::SizedToText) {
            label->adjustSize();
        }
        this->*row.control = label;
    }

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName("PopupMenu1");
    for (const EditRow& row : EditRows) {
        auto* edit = new QLineEdit(GroupBox2);
        edit->setObjectName(row.name);
        Put(*edit, row.place);
        if (row.maxLength > 0) {
            edit->setMaxLength(row.maxLength);
        }
        edit->setAcceptDrops(false);
        edit->setContextMenuPolicy(Qt::CustomContextMenu);
        this->*row.control = edit;
    }

    ComboBox1 = new QComboBox(GroupBox3);
    ComboBox1->setObjectName("ComboBox1");
    Put(*ComboBox1, ComboBox1Place);
    ComboBox1->setEditable(false);
    for (const SpeedRow& row : SpeedRows) {
        ComboBox1->addItem(QString::number(row.baud));
    }
    ComboBox1->setCurrentIndex(-1);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName("StatusBar1");
    StatusBar1->setFont(QApplication::font("QStatusBar"));
    StatusBar1->setFixedHeight(StatusBar1Place.height);
    StatusPanel0 = new QLabel(StatusBar1);
    StatusPanel0->setObjectName("StatusPanel0");
    StatusPanel0->setFixedWidth(StatusPanel0Width);
    StatusPanel0->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    StatusBar1->addWidget(StatusPanel0);
    // Only the status bar follows the window's size: every other control keeps its place, so the
    // layout manages nothing else.
    auto* bottomEdge = new QVBoxLayout(this);
    bottomEdge->setContentsMargins(0, 0, 0, 0);
    bottomEdge->setSpacing(0);
    bottomEdge->addStretch(1);
    bottomEdge->addWidget(StatusBar1);
    Put(*StatusBar1, StatusBar1Place);
}

void TForm1::CreateRadioGroup1Items() {
    RadioGroup1Items = new QButtonGroup(RadioGroup1);
    for (int index = 0; index < static_cast<int>(ModeRows.size()); ++index) {
        auto* item = new QRadioButton(Text(ModeCaptions[index]), RadioGroup1);
        item->setObjectName(QString("RadioGroup1Item%1").arg(index));
        item->setGeometry(RadioColumnLeft[index / 2], RadioRowTop[index % 2], RadioItemWidth,
                          RadioItemHeight);
        RadioGroup1Items->addButton(item, index);
    }
    connect(RadioGroup1Items, &QButtonGroup::buttonToggled, this, [this] { PlaceRadioGroup1TabStop(); });
    SetRadioGroup1ItemIndex(0);
}

void TForm1::PlaceRadioGroup1TabStop() {
    // The group is one tab stop, at its selected item, or at its first while none is selected (a read
    // under way shows none), so the keyboard can always reach it; the others take the focus only by a
    // click or the arrow keys.
    const QList<QAbstractButton*> items = RadioGroup1Items->buttons();
    const auto checked =
        std::find_if(items.begin(), items.end(), [](auto* item) { return item->isChecked(); });
    QAbstractButton* stop = checked != items.end() ? *checked : items.value(0);
    for (QAbstractButton* item : items) {
        item->setFocusPolicy(item == stop ? Qt::StrongFocus : Qt::ClickFocus);
    }
}

void TForm1::SetTabOrder() {
    // Frames in their own tab order, each with its children in theirs: Button2, GroupBox1, Button1,
    // GroupBox2, Button7, RadioGroup1, GroupBox3. post comes before the remote IP row.
    // clang-format off
    std::vector<QWidget*> chain{Button2, ListBox1, ListBox2, Button1,
                                IP1, IP2, IP3, IP4, ym1, ym2, ym3, ym4, wg1, wg2, wg3, wg4,
                                post, YCIP1, YCIP2, YCIP3, YCIP4, Button7};
    // clang-format on
    for (QAbstractButton* item : RadioGroup1Items->buttons()) {
        chain.push_back(item);
    }
    chain.push_back(ComboBox1);
    for (std::size_t i = 1; i < chain.size(); ++i) {
        setTabOrder(chain[i - 1], chain[i]);
    }
    for (QWidget* frameOrLabel : findChildren<QWidget*>()) {
        if (qobject_cast<QGroupBox*>(frameOrLabel) || qobject_cast<QLabel*>(frameOrLabel) ||
            qobject_cast<QStatusBar*>(frameOrLabel)) {
            frameOrLabel->setFocusPolicy(Qt::NoFocus);
        }
    }
}

void TForm1::WireEvents() {
    const std::pair<QPushButton*, void (TForm1::*)(QObject*)> clicks[] = {
        {Button2, &TForm1::Button2Click},
        {Button1, &TForm1::Button1Click},
        {Button7, &TForm1::Button7Click},
    };
    for (const auto& click : clicks) {
        // Plain copies: clang before 16 cannot capture structured bindings, and the fuzz build uses it.
        QPushButton* button = click.first;
        const auto handler = click.second;
        connect(button, &QPushButton::clicked, this,
                [this, button, handler] { Guarded([&] { (this->*handler)(button); }); });
    }
    static_cast<TListBox*>(ListBox1)->OnClick = [this] { Guarded([this] { ListBox1Click(ListBox1); }); };
    static_cast<TListBox*>(ListBox2)->OnClick = [this] { Guarded([this] { ListBox2Click(ListBox2); }); };

    // The receive handler catches everything itself; what it does not, the listener discards.
    IdUDPServer1->OnUDPRead = [this](TIdUDPServer& sender, TMemoryStream& data, TIdSocketHandle& binding) {
        IdUDPServer1UDPRead(sender, data, binding);
    };
    // A listener that ended by itself took the endpoint down with it: the user hears of it once, as of
    // any other unexpected error, and the next scan opens the endpoint again.
    IdUDPServer1->OnListenerError = [](TIdUDPServer&, std::exception_ptr error) {
        Guarded([&] { std::rethrow_exception(error); });
    };
}

int TForm1::RadioGroup1ItemIndex() const {
    return RadioGroup1Items->checkedId();
}

void TForm1::SetRadioGroup1ItemIndex(int index) {
    if (QAbstractButton* item = RadioGroup1Items->button(index)) {
        item->setChecked(true);
        return;
    }
    // An exclusive group refuses to uncheck its last checked button.
    RadioGroup1Items->setExclusive(false);
    for (QAbstractButton* item : RadioGroup1Items->buttons()) {
        item->setChecked(false);
    }
    RadioGroup1Items->setExclusive(true);
    PlaceRadioGroup1TabStop();
}

void TForm1::SetStatusText(const QString& text) {
    StatusPanel0->setText(text);
}

QString TForm1::StatusText() const {
    return StatusPanel0->text();
}

void TForm1::FormCreate(QObject* /*Sender*/) {
    try {
        IdUDPServer1->SetDefaultPort(60001);
        IdUDPServer1->SetActive(true);
    } catch (...) {
        // Whatever failed, the user is told the one thing that usually causes it, and the window
        // opens all the same; the error's own message would mean nothing to them.
        ShowWarning(Text("本软件的网络端口被占用，请关闭相应的网络软件！"));
    }
}

void TForm1::Button7Click(QObject* /*Sender*/) {
    close();
}

void TForm1::ShutdownEndpoint() {
    if (!IdUDPServer1) {
        return;
    }
    try {
        IdUDPServer1->SetActive(false);
    } catch (...) {
        // The program is ending and no window is left to report to; the endpoint's destructor
        // closes whatever is still open.
    }
}

void TForm1::closeEvent(QCloseEvent* event) {
    // A disabled window takes no input, its close box included: a write sequence is running.
    if (!isEnabled()) {
        event->ignore();
        return;
    }
    event->accept();
}
