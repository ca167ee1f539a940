#include "Unit1.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QSocketNotifier>
#include <QStyle>
#include <QStyledItemDelegate>
#include <cstdio>
#include <cstring>

#include "../net/BroadcastInterfaces.h"
#include "../protocol/MessageFormat.h"
#include "../protocol/PanelLine.h"
#include "../protocol/PanelTexts.h"
#include "../protocol/SettingsChecks.h"
#include "../protocol/StatusTexts.h"
#include "Conversions.h"
#include "Dialogs.h"
#include "TEdit.h"

namespace {

// "宋体" is not found on Linux desktops; this one has the same 7-pixel half-width cell at
// 14 pixels, which the composite address boxes rely on.
QFont PanelFont() {
    QFont font(QStringLiteral("WenQuanYi Zen Hei Mono"));
    font.setPixelSize(14);
    return font;
}

// Stands in for "MS Sans Serif" 8 pt.
QFont WindowFont() {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(11);
    return font;
}

// The frame texts: their points and colons show between the field boxes laid over them.
const QString IpFrameText = QStringLiteral("    .    .    . ");
const QString MacFrameText = QStringLiteral("    :    :    ");

constexpr int FieldOffsets[4] = {5, 39, 71, 107};
constexpr int FieldTop = 3;
constexpr int FieldWidth = 22;
constexpr int FieldHeight = 18;
constexpr int FrameHeight = 22;
constexpr int LineHeight = 14;  // of ListBox1 and of ComboBox1's drop-down list
constexpr int LabelHeight = 14; // labels are as high as their font

// Lines of a fixed height, whatever the font's own line spacing: the list's height is meant to
// show 22 of them.
class FixedLineDelegate final : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        return {QStyledItemDelegate::sizeHint(option, index).width(), LineHeight};
    }
};

// Self-sizing to the text's width, at the label height.
void FitLabel(QLabel* label) {
    label->resize(label->sizeHint().width(), LabelHeight);
}

// A label lower than its font's line: the line is centred on it (half a pixel goes up), so the
// ink of Latin and Chinese texts alike stays inside the 14 pixels.
class TLabel final : public QLabel {
  public:
    using QLabel::QLabel;

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setFont(font());
        painter.setPen(palette().color(QPalette::WindowText));
        const QFontMetrics metrics(font());
        painter.drawText(QPoint(0, (height() + metrics.ascent() - metrics.descent()) / 2), text());
    }
};

int SelectedRow(const QListWidget* list) {
    const QList<QListWidgetItem*> items = list->selectedItems();
    return items.isEmpty() ? -1 : list->row(items.first());
}

// The list tells changes of selection made by the user's mouse or keyboard from those made by
// the program, and remembers the line selected when a button went down, so that a click that
// has already been handled as a change of selection is not handled twice.
class TListBox final : public QListWidget {
  public:
    using QListWidget::QListWidget;
    bool UserDriven() const { return Depth > 0; }
    int RowAtPress = -1;

  protected:
    // Single selection as a desktop list box has it: Ctrl with a click or the space bar never
    // leaves the list without a selected line.
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event) const override {
        const QItemSelectionModel::SelectionFlags command =
            QListWidget::selectionCommand(index, event);
        if (command.testFlag(QItemSelectionModel::Deselect) ||
            command.testFlag(QItemSelectionModel::Toggle))
            return QItemSelectionModel::NoUpdate;
        return command;
    }
    void mousePressEvent(QMouseEvent* event) override {
        // A press below the last line keeps the selection, as a list box of the desktop does.
        if (!indexAt(event->position().toPoint()).isValid()) {
            event->accept();
            return;
        }
        RowAtPress = SelectedRow(this);
        const Input input(Depth);
        QListWidget::mousePressEvent(event);
    }
    void mouseDoubleClickEvent(QMouseEvent* event) override {
        RowAtPress = SelectedRow(this);
        const Input input(Depth);
        QListWidget::mouseDoubleClickEvent(event);
    }
    void mouseMoveEvent(QMouseEvent* event) override {
        const Input input(Depth);
        QListWidget::mouseMoveEvent(event);
    }
    void mouseReleaseEvent(QMouseEvent* event) override {
        const Input input(Depth);
        QListWidget::mouseReleaseEvent(event);
    }
    void keyPressEvent(QKeyEvent* event) override {
        const Input input(Depth);
        QListWidget::keyPressEvent(event);
    }

  private:
    struct Input {
        explicit Input(int& depth) : Depth(depth) { ++Depth; }
        ~Input() { --Depth; }
        int& Depth;
    };
    int Depth = 0;
};

// Panel bytes (GBK) as the boxes show them, by the rules the command-line tool uses.
QString PanelText(std::string_view gbk) {
    return QString::fromStdString(GbkToUtf8(gbk));
}

QString PanelLine(const PanelRecord& record) {
    char line[PanelLineSize];
    const int length = FormatPanelLine(record, line);
    return PanelText(std::string_view(line, size_t(length)));
}

template <std::size_t N> void ShowTexts(TEdit* const (&boxes)[N], const std::string (&texts)[N]) {
    for (std::size_t i = 0; i < N; ++i)
        boxes[i]->setText(QString::fromStdString(texts[i]));
}

} // namespace

TForm1::TForm1(QWidget* parent) : QWidget(parent) {
    CreateControls();

    MailboxNotifier = new QSocketNotifier(Mailbox.WakeFd(), QSocketNotifier::Read, this);
    connect(MailboxNotifier, &QSocketNotifier::activated, this, [this] { DrainMailbox(); });

    connect(Button1, &QPushButton::clicked, this,
            [this] { Dialogs::RunHandler(this, [this] { Button1Click(); }); });
    connect(Button2, &QPushButton::clicked, this,
            [this] { Dialogs::RunHandler(this, [this] { Button2Click(); }); });
    connect(Button3, &QPushButton::clicked, this,
            [this] { Dialogs::RunHandler(this, [this] { Button3Click(); }); });
    // activated fires on the user's choice only, never on setCurrentIndex.
    connect(ComboBox1, &QComboBox::activated, this,
            [this] { Dialogs::RunHandler(this, [this] { ComboBox1Change(); }); });

    // A change of selection by the user's mouse or keyboard, and a click that left the
    // selection as it was; never a change the program makes.
    auto* list = static_cast<TListBox*>(ListBox1);
    connect(list, &QListWidget::itemSelectionChanged, this, [this, list] {
        if (list->UserDriven()) Dialogs::RunHandler(this, [this] { ListBox1Click(); });
    });
    connect(list, &QListWidget::clicked, this, [this, list] {
        if (SelectedIndex() == list->RowAtPress)
            Dialogs::RunHandler(this, [this] { ListBox1Click(); });
    });
}

TForm1::~TForm1() {
    // The sender and receiver threads reach into the members below; stop them first. A window
    // that was never shown never runs its close handler.
    if (Shown && !Closed)
        FormClose();
    else if (!Shown)
        StopThreads();
    delete MailboxNotifier;
    MailboxNotifier = nullptr;
}

void TForm1::CreateControls() {
    setWindowTitle(Dialogs::ApplicationTitle());
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(861, 372);
    setFont(WindowFont());
    QPalette face = palette();
    face.setColor(QPalette::Window, face.color(QPalette::Button));
    setPalette(face);
    setAutoFillBackground(true);

    const QFont panelFont = PanelFont();

    auto label = [&](const char* name, int x, int y, const char* caption) {
        auto* l = new TLabel(QString::fromUtf8(caption), this);
        l->setObjectName(QLatin1String(name));
        l->setTextFormat(Qt::PlainText);
        l->setFont(panelFont);
        l->move(x, y);
        FitLabel(l);
        return l;
    };
    auto button = [&](const char* name, int x, int y, int w, int h, const char* caption) {
        auto* b = new QPushButton(QString::fromUtf8(caption), this);
        b->setObjectName(QLatin1String(name));
        b->setFont(panelFont);
        b->setGeometry(x, y, w, h);
        b->setAutoDefault(false);
        b->setDefault(false);
        return b;
    };
    auto edit = [&](const char* name, int x, int y, int w, int h, int maxLength) {
        auto* e = new TEdit(this);
        e->setObjectName(QLatin1String(name));
        e->setFont(panelFont);
        e->setGeometry(x, y, w, h);
        e->SetMaxLength(maxLength);
        return e;
    };
    // The frame gives a composite box its border and separators; it never takes input.
    auto frame = [&](const char* name, int x, int y, int w, const QString& text) {
        TEdit* e = edit(name, x, y, w, FrameHeight, 0);
        e->setText(text);
        e->setReadOnly(true);
        e->setEnabled(false);
        e->setFocusPolicy(Qt::NoFocus);
        // Same ground as the field boxes on it, so the five read as one box.
        QPalette ground = e->palette();
        ground.setColor(QPalette::Disabled, QPalette::Base,
                        ground.color(QPalette::Active, QPalette::Base));
        e->setPalette(ground);
        return e;
    };
    auto field = [&](const char* name, const TEdit* frameBox, int n, int maxLength) {
        TEdit* e = edit(name, frameBox->x() + FieldOffsets[n], frameBox->y() + FieldTop, FieldWidth,
                        FieldHeight, maxLength);
        e->setFrame(false);
        return e;
    };

    Label9 = label("Label9", 316, 32, "Camera：");
    Label1 = label("Label1", 316, 72, "Address：");
    Label8 = label("Label8", 316, 112, "Facility NO.：");
    Label3 = label("Label3", 316, 152, "MAC：00:50:2A");
    Label4 = label("Label4", 316, 192, "IP：");
    Label12 = label("Label12", 316, 232, "Unlocking  Time：");
    Label10 = label("Label10", 316, 264, "Status：");
    Label11 = label("Label11", 376, 264, "状态：");
    Label5 = label("Label5", 576, 72, "Subnet：");
    Label6 = label("Label6", 576, 112, "Gateway：");
    Label7 = label("Label7", 576, 152, "Server：");
    Label2 = label("Label2", 576, 192, "Version：");

    // Created in tab order, which puts every field box above its frame.
    Button1 = button("Button1", 552, 296, 81, 25, "Write");
    Button2 = button("Button2", 384, 296, 81, 25, "Search all");
    Edit11 = frame("Edit11", 411, 184, 145, IpFrameText);
    Edit7 = field("Edit7", Edit11, 0, 3);
    Edit8 = field("Edit8", Edit11, 1, 3);
    Edit9 = field("Edit9", Edit11, 2, 3);
    Edit10 = field("Edit10", Edit11, 3, 3);
    Edit1 = edit("Edit1", 411, 64, 145, 22, 10);
    Edit1->setToolTip(
        QStringLiteral("10bits for Flat carmera; 4bits for villa camera;4bits for Help station"));
    Edit12 = frame("Edit12", 659, 64, 145, IpFrameText);
    Edit13 = field("Edit13", Edit12, 0, 3);
    Edit14 = field("Edit14", Edit12, 1, 3);
    Edit15 = field("Edit15", Edit12, 2, 3);
    Edit16 = field("Edit16", Edit12, 3, 3);
    Edit17 = frame("Edit17", 659, 104, 145, IpFrameText);
    Edit18 = field("Edit18", Edit17, 0, 3);
    Edit19 = field("Edit19", Edit17, 1, 3);
    Edit20 = field("Edit20", Edit17, 2, 3);
    Edit21 = field("Edit21", Edit17, 3, 3);
    Edit22 = frame("Edit22", 659, 144, 145, IpFrameText);
    Edit23 = field("Edit23", Edit22, 0, 3);
    Edit24 = field("Edit24", Edit22, 1, 3);
    Edit25 = field("Edit25", Edit22, 2, 3);
    Edit26 = field("Edit26", Edit22, 3, 3);
    Edit2 = frame("Edit2", 451, 144, 102, MacFrameText);
    Edit3 = field("Edit3", Edit2, 0, 2);
    Edit4 = field("Edit4", Edit2, 1, 2);
    Edit5 = field("Edit5", Edit2, 2, 2);
    Edit6 = edit("Edit6", 411, 104, 145, 22, 1);
    Edit6->setToolTip(QStringLiteral("Facility NO. between 0 -1"));

    ListBox1 = new TListBox(this);
    ListBox1->setObjectName(QStringLiteral("ListBox1"));
    ListBox1->setFont(panelFont);
    ListBox1->setGeometry(24, 16, 257, 321);
    ListBox1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListBox1->setSortingEnabled(false);
    ListBox1->setItemDelegate(new FixedLineDelegate(ListBox1));
    ListBox1->setUniformItemSizes(true);

    Edit27 = edit("Edit27", 659, 184, 145, 22, 1);
    Edit27->setReadOnly(true);
    Edit27->setToolTip(QStringLiteral("Version infomation"));

    ComboBox1 = new QComboBox(this);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox1->setFont(panelFont);
    ComboBox1->setGeometry(411, 24, 145, 22);
    ComboBox1->setEditable(false);
    ComboBox1->addItems({QStringLiteral("Flat Camera"), QStringLiteral("Help Station"),
                         QStringLiteral("Villa Camera")});
    ComboBox1->setCurrentIndex(-1);
    ComboBox1->setItemDelegate(new FixedLineDelegate(ComboBox1));

    Edit28 = edit("Edit28", 440, 224, 113, 22, 1);
    Edit28->setToolTip(QStringLiteral("Unlocking time from 1 to 9 seconds"));

    Button3 = button("Button3", 696, 296, 75, 25, "Del all cards");
    Button3->setFont(WindowFont());

    QWidget* const tabOrder[] = {Button1,  Button2, Edit11,    Edit7,  Edit8,  Edit9,  Edit10,
                                 Edit1,    Edit12,  Edit13,    Edit14, Edit15, Edit16, Edit17,
                                 Edit18,   Edit19,  Edit20,    Edit21, Edit22, Edit23, Edit24,
                                 Edit25,   Edit26,  Edit2,     Edit3,  Edit4,  Edit5,  Edit6,
                                 ListBox1, Edit27,  ComboBox1, Edit28, Button3};
    for (size_t i = 1; i < std::size(tabOrder); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);
}

int TForm1::SelectedIndex() const {
    return SelectedRow(ListBox1);
}

void TForm1::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (Shown) return;
    Shown = true;
    // Centred with its frame, where the desktop already tells the frame's size.
    if (const QScreen* where = screen())
        move(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, frameGeometry().size(),
                                 where->availableGeometry())
                 .topLeft());
    FormShow();
}

void TForm1::closeEvent(QCloseEvent* event) {
    if (Shown && !Closed) FormClose();
    event->accept();
}

void TForm1::FormShow() {
    ComboBox1->setCurrentIndex(0);
    // Without a link (tests that need no network) nothing is sent or received.
    if (Link) {
        const bool started = Queue.Setup(*Link, Mailbox);
        Dispatcher.Arm();
        if (!started) {
            std::fputs("无法UDP发送线程\n", stdout);
            std::fflush(stdout);
            return;
        }
    }
    Button1->setEnabled(true);
    ApplyStatus(StatusText::Empty);
    Directory.Count = 0;
}

void TForm1::FormClose() {
    Closed = true;
    StopThreads();
}

void TForm1::StopThreads() {
    // Wake a receiver that waits for room, then join the receiver and the sender.
    Mailbox.Close();
    if (Udpr) Udpr->Close();
    Queue.Stop();
}

void TForm1::DrainMailbox() {
    Mailbox.Drain(*this);
}

void TForm1::ApplyStatus(const char* text) {
    Label11->setText(QString::fromUtf8(text));
    FitLabel(Label11);
    emit StatusChanged(Label11->text());
}

void TForm1::ApplyEnableButtons() {
    Button1->setEnabled(true);
    Button2->setEnabled(true);
    Button3->setEnabled(true);
}

void TForm1::ApplyPanel(const PanelRecord& record) {
    if (Directory.Count >= DirectoryCapacity) return;
    // The record is complete before its line can be selected.
    Directory.Records[Directory.Count] = record;
    ListBox1->addItem(PanelLine(record));
    ++Directory.Count;
}

void TForm1::Button2Click() {
    // Panels still on their way belong to the previous search: let them land, then start over.
    // A search that leaves by several routes may reach a panel by more than one of them (two
    // subnets on one switch, two cables into one), and the panel answers each: then one line
    // per panel (DuplicateRule.h).
    Mailbox.ResetDirectory(*this, CurrentBroadcastRoutes().size() > 1);
    ListBox1->clear(); // not a user's change: ListBox1Click does not run
    Directory.Count = 0;
    ApplyStatus(StatusText::Empty);
    Button1->setEnabled(false);
    Button2->setEnabled(false);
    Queue.Queue(CMD_SEARCH, CommandQueue::DestinationPort, -1, Directory, PendingSettings);
}

void TForm1::Button3Click() {
    const int i = SelectedIndex();
    if (i < 0 || i >= DirectoryCapacity) {
        Dialogs::MessageBox(this, QStringLiteral("Pls select a camera ！"), QStringLiteral("Fault"),
                            Dialogs::IconError);
        return;
    }
    ApplyStatus(StatusText::Empty);
    Button1->setEnabled(false);
    Button2->setEnabled(false);
    Button3->setEnabled(false);
    Queue.Queue(CMD_DELETE_CARDS, CommandQueue::DestinationPort, i, Directory, PendingSettings);
}

void TForm1::ListBox1Click() {
    const int i = SelectedIndex();
    if (i < 0 || i >= DirectoryCapacity) return;
    const PanelRecord& r = Directory.Records[i];

    // The texts the command-line tool shows and checks too: device type and address follow
    // the panel's bytes before they are decoded. Setting the index here never runs
    // ComboBox1Change: it is bound to user choices only.
    const SettingsTexts t = TextsOf(r);
    ComboBox1->setCurrentIndex(t.Type);
    Edit1->setText(PanelText(t.Address));
    Edit6->setText(PanelText(t.Facility)); // empty for a zero byte
    ShowTexts({Edit3, Edit4, Edit5}, t.Mac);
    ShowTexts({Edit7, Edit8, Edit9, Edit10}, t.Ip);
    ShowTexts({Edit13, Edit14, Edit15, Edit16}, t.Subnet);
    ShowTexts({Edit18, Edit19, Edit20, Edit21}, t.Gateway);
    ShowTexts({Edit23, Edit24, Edit25, Edit26}, t.Server);
    Edit27->setText(QString::fromStdString(FieldText(r.Version, sizeof r.Version)));
    Edit28->setText(QString::fromStdString(t.Unlock));
}

void TForm1::ComboBox1Change() {
    switch (ComboBox1->currentIndex()) {
    case 0:
        Edit1->SetMaxLength(10);
        Edit6->setEnabled(true);
        break;
    case 1:
        Edit1->SetMaxLength(4);
        Edit6->setText(QStringLiteral("0"));
        Edit6->setEnabled(false);
        break;
    default:
        Edit1->SetMaxLength(4);
        Edit6->setEnabled(true);
        break;
    }
}
