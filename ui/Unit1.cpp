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

// Lines of a fixed height, whatever the font's own line spacing: the list's height is meant to
// show 22 of them.
class FixedLineDelegate final : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        return {QStyledItemDelegate::sizeHint(option, index).width(), Form1Layout::ListLineHeight};
    }
};

// A label takes its text's width and the label height.
void FitLabel(QLabel* label) {
    label->resize(label->sizeHint().width(), Form1Layout::LabelHeight);
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

QFont FontOf(FontRole role) {
    return role == FontRole::Window ? WindowFont() : PanelFont();
}

// A box of text: an edit box, one of the field boxes of an address, or the frame under them.
TEdit* NewBox(const ControlEntry& entry, QWidget* form) {
    auto* e = new TEdit(form);
    e->SetMaxLength(entry.MaxLength);
    e->setText(QString::fromUtf8(entry.Text));
    e->setReadOnly(entry.ReadOnly);
    if (entry.Kind == ControlKind::Field) e->setFrame(false);
    if (entry.Kind == ControlKind::Frame) {
        e->setEnabled(false);
        e->setFocusPolicy(Qt::NoFocus);
        // The frame has the same ground as the field boxes on it, so that the five read as one
        // box.
        QPalette ground = e->palette();
        ground.setColor(QPalette::Disabled, QPalette::Base,
                        ground.color(QPalette::Active, QPalette::Base));
        e->setPalette(ground);
    }
    return e;
}

// The widget of the control's kind, set up as that kind needs.
QWidget* NewWidget(const ControlEntry& entry, QWidget* form) {
    switch (entry.Kind) {
    case ControlKind::Label: {
        auto* l = new TLabel(QString::fromUtf8(entry.Text), form);
        l->setTextFormat(Qt::PlainText);
        return l;
    }
    case ControlKind::Button: {
        auto* b = new QPushButton(QString::fromUtf8(entry.Text), form);
        b->setAutoDefault(false);
        b->setDefault(false);
        return b;
    }
    case ControlKind::Edit:
    case ControlKind::Frame:
    case ControlKind::Field:
        return NewBox(entry, form);
    case ControlKind::List: {
        auto* list = new TListBox(form);
        list->setSelectionMode(QAbstractItemView::SingleSelection);
        list->setSortingEnabled(false);
        list->setItemDelegate(new FixedLineDelegate(list));
        list->setUniformItemSizes(true);
        return list;
    }
    case ControlKind::Combo: {
        auto* combo = new QComboBox(form);
        combo->setEditable(false);
        for (const char* item : Form1Layout::ComboItems())
            combo->addItem(QString::fromUtf8(item));
        combo->setCurrentIndex(-1);
        combo->setItemDelegate(new FixedLineDelegate(combo));
        return combo;
    }
    }
    return nullptr;
}

// One control of the layout, as a widget of `form`, in its place.
QWidget* MakeControl(const ControlEntry& entry, QWidget* form) {
    QWidget* widget = NewWidget(entry, form);
    widget->setObjectName(QLatin1String(entry.Name));
    widget->setFont(FontOf(entry.Font));
    if (entry.ToolTip) widget->setToolTip(QString::fromUtf8(entry.ToolTip));
    const QRect bounds(entry.Bounds.X, entry.Bounds.Y, entry.Bounds.Width, entry.Bounds.Height);
    if (entry.Kind == ControlKind::Label) {
        widget->move(bounds.topLeft());
        FitLabel(static_cast<QLabel*>(widget));
    } else {
        widget->setGeometry(bounds);
    }
    return widget;
}

} // namespace

TForm1::TForm1(QWidget* parent) : QWidget(parent) {
    CreateControls();

    MailboxNotifier = new QSocketNotifier(Mailbox.WakeFd(), QSocketNotifier::Read, this);
    connect(MailboxNotifier, &QSocketNotifier::activated, this, [this] { Logic.DrainMailbox(); });

    connect(Button1, &QPushButton::clicked, this,
            [this] { Logic.Run([this] { Button1Click(); }); });
    connect(Button2, &QPushButton::clicked, this,
            [this] { Logic.Run([this] { Button2Click(); }); });
    connect(Button3, &QPushButton::clicked, this,
            [this] { Logic.Run([this] { Button3Click(); }); });
    // activated fires on the user's choice only, never on setCurrentIndex.
    connect(ComboBox1, &QComboBox::activated, this,
            [this] { Logic.Run([this] { ComboBox1Change(); }); });

    // A change of selection by the user's mouse or keyboard, and a click that left the
    // selection as it was; never a change the program makes.
    auto* list = static_cast<TListBox*>(ListBox1);
    connect(list, &QListWidget::itemSelectionChanged, this, [this, list] {
        if (list->UserDriven()) Logic.Run([this] { ListBox1Click(); });
    });
    connect(list, &QListWidget::clicked, this, [this, list] {
        if (SelectedIndex() == list->RowAtPress) Logic.Run([this] { ListBox1Click(); });
    });
}

TForm1::~TForm1() {
    // The decisions stop the sender and receiver threads when they go.
    delete MailboxNotifier;
    MailboxNotifier = nullptr;
}

void TForm1::CreateControls() {
    setWindowTitle(QString::fromUtf8(Form1Layout::Caption));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(Form1Layout::ClientWidth, Form1Layout::ClientHeight);
    setFont(FontOf(Form1Layout::WindowFont));
    QPalette face = palette();
    face.setColor(QPalette::Window, face.color(QPalette::Button));
    setPalette(face);
    setAutoFillBackground(true);

    // The controls are created in the table's order, which is the tab order after the labels.
    QWidget* previous = nullptr;
    for (const ControlEntry& entry : Form1Layout::Controls()) {
        QWidget* widget = MakeControl(entry, this);
        Widgets[int(entry.Id)] = widget;
        if (entry.Kind == ControlKind::Label) continue;
        if (previous) setTabOrder(previous, widget);
        previous = widget;
    }

    QLabel** const labels[] = {&Label1, &Label2, &Label3, &Label4,  &Label5,  &Label6,
                               &Label7, &Label8, &Label9, &Label10, &Label11, &Label12};
    TEdit** const edits[] = {&Edit1,  &Edit2,  &Edit3,  &Edit4,  &Edit5,  &Edit6,  &Edit7,
                             &Edit8,  &Edit9,  &Edit10, &Edit11, &Edit12, &Edit13, &Edit14,
                             &Edit15, &Edit16, &Edit17, &Edit18, &Edit19, &Edit20, &Edit21,
                             &Edit22, &Edit23, &Edit24, &Edit25, &Edit26, &Edit27, &Edit28};
    QPushButton** const buttons[] = {&Button1, &Button2, &Button3};
    static_assert(std::size(labels) == LabelCount && std::size(edits) == EditCount &&
                  std::size(buttons) == ButtonCount);
    for (int n = 1; n <= LabelCount; ++n)
        *labels[n - 1] = static_cast<QLabel*>(Widget(LabelNo(n)));
    for (int n = 1; n <= EditCount; ++n)
        *edits[n - 1] = static_cast<TEdit*>(Widget(EditNo(n)));
    for (int n = 1; n <= ButtonCount; ++n)
        *buttons[n - 1] = static_cast<QPushButton*>(Widget(ButtonNo(n)));
    ListBox1 = static_cast<QListWidget*>(Widget(Control::ListBox1));
    ComboBox1 = static_cast<QComboBox*>(Widget(Control::ComboBox1));
}

void TForm1::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!Logic.WasShown()) {
        // The window is centred with its frame, which is only known here, once the desktop has
        // told the frame's size.
        if (const QScreen* where = screen())
            move(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, frameGeometry().size(),
                                     where->availableGeometry())
                     .topLeft());
    }
    Logic.Shown();
}

void TForm1::closeEvent(QCloseEvent* event) {
    Logic.Closing();
    event->accept();
}

TEdit* TForm1::Box(Control box) const {
    return static_cast<TEdit*>(Widget(box));
}

int TForm1::SelectedIndex() const {
    return SelectedRow(ListBox1);
}

std::string TForm1::Text(Control box) const {
    return Box(box)->text().toStdString();
}

void TForm1::SetText(Control box, const std::string& text) {
    Box(box)->setText(QString::fromStdString(text));
}

void TForm1::SetMaxLength(Control box, int maxLength) {
    Box(box)->SetMaxLength(maxLength);
}

void TForm1::SelectAll(Control box) {
    Box(box)->selectAll();
}

void TForm1::SetEnabled(Control control, bool enabled) {
    Widget(control)->setEnabled(enabled);
}

void TForm1::Focus(Control control) {
    Widget(control)->setFocus();
}

void TForm1::ShowMessage(const std::string& text, const std::string& title, int flags) {
    Dialogs::MessageBox(this, QString::fromStdString(text), QString::fromStdString(title), flags);
}

void TForm1::ShowError(const std::string& message) {
    Dialogs::ShowException(this, QString::fromStdString(message));
}

void TForm1::SetStatus(const std::string& text) {
    Label11->setText(QString::fromStdString(text));
    FitLabel(Label11);
    emit StatusChanged(Label11->text());
}

void TForm1::ClearList() {
    ListBox1->clear(); // This is not the user's change, so ListBox1Click does not run.
}

void TForm1::AppendLine(const std::string& line) {
    ListBox1->addItem(QString::fromStdString(line));
}

int TForm1::ComboIndex() const {
    return ComboBox1->currentIndex();
}

void TForm1::SetComboIndex(int index) {
    ComboBox1->setCurrentIndex(index); // ComboBox1Change runs on the user's choices only.
}
