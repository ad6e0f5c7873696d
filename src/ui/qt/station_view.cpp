#include "ui/qt/station_view.h"

#include "app/fitting_texts.h"
#include "app/option_table.h"
#include "app/shown_row.h"
#include "app/station_window.h"
#include "station/control_ids.h"
#include "station/numbering.h"
#include "text/pictures.h"
#include "ui/about_box.h"
#include "ui/qt/pictures.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOption>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>
#include <vector>

namespace tarvix::ui {
namespace {

using app::ControlKind;
namespace id = station::id;
using namespace station;

bool isHubBox(int control) { return control >= hubBoxId(1) && control <= hubBoxId(kHubCount); }

// Controls of the port grid, which has sizes of its own.
bool inPortGrid(int control) {
  return isHubBox(control) || (control >= portBoxId(1) && control <= portBoxId(kPortCount)) ||
         (control >= slotLabelId(1) && control <= slotLabelId(kSlotCount)) || isResultLine(control);
}

// What the window opens with where the screen has the room: the port boxes grow into it.
constexpr QSize kRoomyContent(1200, 780);

QString qs(const std::string& s) { return QString::fromStdString(s); }

// `base` fully resolved, so that a port box's heavy title font never reaches its lines.
QFont fontFor(station::FontChoice choice, QFont base) {
  if (choice == station::FontChoice::Default) {
    base.setResolveMask(QFont::AllPropertiesResolved);
    return base;
  }
  QFont font("Arial Black", choice == station::FontChoice::ArialBlack16 ? 16 : 10);
  font.setWeight(QFont::Black); // a heavy face where Arial Black is not installed
  font.setStyleHint(QFont::SansSerif);
  return font;
}

// Result lines show "\r\n" breaks; Qt wants plain newlines.
QString resultText(const std::string& s) {
  QString text = qs(s);
  text.remove(QChar('\r'));
  return text;
}

QColor slotBackground(SlotColour colour, const QPalette& palette) {
  if (colour == SlotColour::Idle) return palette.color(QPalette::Button);
  return QColor::fromRgb(static_cast<QRgb>(slotColourRgb(colour)));
}

} // namespace

StationView::StationView(app::StationWindow& window, QWidget* parent)
    : QWidget(parent), window_(window) {
  setWindowTitle(qs(window_.caption()));
  setWindowIcon(QIcon(renderPicture(text::kLogoPicture)));
  for (int control : window_.controlIds())
    widgets_[control] = make(control);
  // Texts, fonts and widths first, so the layouts are measured from the final sizes.
  sync();

  auto* root = new QVBoxLayout(this);
  root->setContentsMargins(0, 0, 0, 0);
  root->setSpacing(0);
  if (!window_.aboutMenuText().empty()) {
    auto* menu = new QMenuBar(this);
    menu->addAction(qs(window_.aboutMenuText()),
                    [this] { window_.onSystemCommand(station::id::kAboutCommand); });
    root->setMenuBar(menu);
  }
  // Nothing is ever squeezed: a screen too narrow for the option groups scrolls them sideways
  // while the top bar above and the port grid below stay whole in view, and a screen too small
  // for all of it scrolls it all.
  auto* options = new QWidget;
  auto* optionLayout = buildOptionArea();
  QLayoutItem* topBar = optionLayout->takeAt(0);
  optionLayout->setContentsMargins(0, 0, 0, 0);
  options->setLayout(optionLayout);
  options_ = new QScrollArea;
  options_->setFrameShape(QFrame::NoFrame);
  options_->setWidgetResizable(true);
  options_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  options_->setWidget(options);
  options_->installEventFilter(this);
  auto* content = new QWidget;
  auto* column = new QVBoxLayout(content);
  column->setContentsMargins(8, 4, 8, 8);
  column->setSpacing(6);
  column->addLayout(topBar->layout());
  column->addWidget(options_);
  column->addWidget(buildPortGrid(), 1);
  scroll_ = new QScrollArea(this);
  scroll_->setFrameShape(QFrame::NoFrame);
  scroll_->setWidgetResizable(true);
  scroll_->setWidget(content);
  root->addWidget(scroll_, 1);

  // Redrawn once per pass of the event loop that changed the model, and never while it rests.
  window_.setOnChange([this] {
    if (std::exchange(syncQueued_, true)) return;
    QMetaObject::invokeMethod(
        this,
        [this] {
          syncQueued_ = false;
          sync();
        },
        Qt::QueuedConnection);
  });
  fitOptionStrip();
  resize(defaultSize());
}

QSize StationView::defaultSize() {
  // Room for the frame the window manager adds, which is not known before the window is shown.
  const QSize frame(16, 48);
  const QSize available = screen()->availableGeometry().size() - frame;
  QWidget* content = scroll_->widget();
  options_->widget()->layout()->activate();
  content->layout()->activate();
  const int margins =
      content->layout()->contentsMargins().left() + content->layout()->contentsMargins().right();
  QSize wanted = content->minimumSizeHint();
  wanted.setWidth(
      std::max(wanted.width(), options_->widget()->minimumSizeHint().width() + margins));
  wanted = wanted.expandedTo(kRoomyContent);
  if (layout()->menuBar() != nullptr) wanted.rheight() += layout()->menuBar()->sizeHint().height();
  return wanted.boundedTo(available);
}

void StationView::fitOptionStrip() {
  if (options_ == nullptr) return; // not built yet
  // As tall as the option area, and its scroll bar when it is too wide for the window.
  const QSize needed = options_->widget()->minimumSizeHint();
  const int bar =
      needed.width() > options_->width() ? options_->horizontalScrollBar()->sizeHint().height() : 0;
  if (options_->height() != needed.height() + bar) options_->setFixedHeight(needed.height() + bar);
}

bool StationView::eventFilter(QObject* watched, QEvent* event) {
  if (watched == options_ && event->type() == QEvent::Resize) fitOptionStrip();
  return QWidget::eventFilter(watched, event);
}

int StationView::fittingWidth(QWidget* widget, int textWidth) const {
  QStyle* look = widget->style();
  const QFontMetrics metrics(widget->font());
  if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
    QStyleOptionFrame option;
    option.initFrom(edit);
    option.lineWidth = look->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit);
    const QMargins margins = edit->textMargins();
    // The edit keeps two pixels each side, and a pixel for the cursor, around its text.
    const int inside = textWidth + 2 * 2 + 1 + margins.left() + margins.right() +
                       std::max(0, -metrics.minLeftBearing()) +
                       std::max(0, -metrics.minRightBearing());
    return look->sizeFromContents(QStyle::CT_LineEdit, &option, {inside, metrics.height()}, edit)
        .width();
  }
  if (auto* combo = qobject_cast<QComboBox*>(widget)) {
    QStyleOptionComboBox option;
    option.initFrom(combo);
    option.frame = combo->hasFrame();
    return look
        ->sizeFromContents(QStyle::CT_ComboBox, &option, {textWidth + 4, metrics.height()}, combo)
        .width();
  }
  if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text(); // a button with a text gets the margins around it
    const auto type =
        qobject_cast<QCheckBox*>(button) ? QStyle::CT_CheckBox : QStyle::CT_PushButton;
    return look->sizeFromContents(type, &option, {textWidth, metrics.height()}, button).width();
  }
  if (auto* label = qobject_cast<QLabel*>(widget))
    return textWidth + 2 * label->margin() + std::max(0, label->indent()) + 2 * label->frameWidth();
  return 0;
}

void StationView::fitWidths() {
  for (auto& [control, widget] : widgets_) {
    // The port grid keeps to its own sizes; a group box to its content's and its title's, as a
    // minimum set here would replace them.
    if (inPortGrid(control) || qobject_cast<QGroupBox*>(widget) != nullptr) continue;
    const auto texts = app::textsShownWhole(window_.control(control));
    if (texts.empty()) continue;
    const QFontMetrics metrics(widget->font());
    int widest = 0;
    for (const std::string& text : texts)
      widest = std::max(widest, metrics.horizontalAdvance(qs(text)));
    // Never below what the widget asks for its own text: a minimum set here replaces that.
    const int width = std::max(fittingWidth(widget, widest), widget->minimumSizeHint().width());
    widget->setMinimumWidth(width);
    // An edit as wide as the most it may hold: the row's spare room goes to the labels.
    if (qobject_cast<QLineEdit*>(widget) != nullptr) widget->setMaximumWidth(width);
  }
}

StationView::~StationView() { window_.setOnChange(nullptr); }

QWidget* StationView::widgetFor(int control) const {
  auto it = widgets_.find(control);
  return it == widgets_.end() ? nullptr : it->second;
}

QWidget* StationView::make(int control) {
  const app::ControlRecord& r = window_.control(control);
  switch (r.kind) {
  case ControlKind::PushButton: {
    auto* button = new QPushButton(this);
    connect(button, &QPushButton::clicked, this, [this, control] { window_.onClicked(control); });
    return button;
  }
  case ControlKind::CheckBox: {
    auto* box = new QCheckBox(this);
    connect(box, &QCheckBox::clicked, this, [this, control] { window_.onClicked(control); });
    return box;
  }
  case ControlKind::Label: return new QLabel(this);
  case ControlKind::GroupBox: {
    if (!isHubBox(control)) return new QGroupBox(this);
    auto* frame = new QFrame(this);
    auto* title = new QLabel(frame);
    title->setFont(fontFor(station::FontChoice::ArialBlack10, font()));
    return frame;
  }
  case ControlKind::DropDown: {
    auto* combo = new QComboBox(this);
    connect(combo, &QComboBox::activated, this,
            [this, control](int row) { window_.onRowSelected(control, row); });
    return combo;
  }
  case ControlKind::Edit: {
    auto* edit = new QLineEdit(this);
    connect(edit, &QLineEdit::textEdited, this, [this, control](const QString& typed) {
      window_.onTextEdited(control, typed.toStdString());
      // The model may have refused or changed what was typed; show its text at once.
      shown_.erase(control);
      sync();
    });
    return edit;
  }
  case ControlKind::ResultLine: {
    auto* line = new QPlainTextEdit(this);
    line->setReadOnly(true);
    line->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    line->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    line->setLineWrapMode(QPlainTextEdit::NoWrap);
    // A plain box is filled, not stroked: the style's panel stroke loses its top and left edge
    // where a screen scale such as 150 % puts it on a fraction of a pixel.
    line->setFrameStyle(QFrame::Box | QFrame::Plain);
    line->setLineWidth(1);
    QPalette outline = line->palette();
    outline.setColor(QPalette::WindowText, palette().color(QPalette::Mid));
    line->setPalette(outline);
    line->document()->setDocumentMargin(1);
    line->setAutoFillBackground(true);
    return line;
  }
  case ControlKind::Picture: return new QLabel(this);
  case ControlKind::ProgressBar: {
    auto* bar = new QProgressBar(this);
    bar->setTextVisible(false);
    bar->setFixedHeight(10);
    return bar;
  }
  }
  return nullptr;
}

QLayout* StationView::buildOptionArea() {
  auto w = [this](int control) { return widgets_.at(control); };
  // The top bar in column order: the stretching cell takes what the row leaves over.
  std::vector<const app::OptionSpec*> bar;
  for (const app::OptionSpec& spec : app::optionTable()) {
    if (spec.cell.area == app::Area::TopBar) bar.push_back(&spec);
  }
  std::sort(bar.begin(), bar.end(),
            [](auto* a, auto* b) { return a->cell.column < b->cell.column; });
  auto* top = new QHBoxLayout;
  for (const app::OptionSpec* spec : bar) {
    top->addWidget(w(spec->id), spec->cell.stretch ? 1 : 0);
    if (spec->cell.stretch) top->addSpacing(12);
  }
  // Each framed area is a grid of its cells.
  auto area = [&](app::Area which) {
    auto* box = static_cast<QGroupBox*>(w(app::areaFrame(which)));
    auto* grid = new QGridLayout(box);
    for (const app::OptionSpec& spec : app::optionTable()) {
      const app::GridCell& cell = spec.cell;
      if (cell.area != which) continue;
      grid->addWidget(w(spec.id), cell.row, cell.column, 1, cell.span);
    }
    return box;
  };
  auto* images = new QVBoxLayout;
  images->addWidget(area(app::Area::BinaryImage));
  images->addWidget(area(app::Area::CdromImage));

  auto* groups = new QHBoxLayout;
  groups->addWidget(area(app::Area::GeneralTest));
  groups->addWidget(area(app::Area::CardInformation), 1);
  groups->addLayout(images);

  auto* options = new QVBoxLayout;
  options->addLayout(top);
  options->addLayout(groups);
  return options;
}

QWidget* StationView::buildPortGrid() {
  auto* grid = new QWidget(this);
  auto* rows = new QVBoxLayout(grid);
  rows->setContentsMargins(0, 0, 0, 0);
  rows->setSpacing(4);
  for (int hub = 1; hub <= kHubCount; ++hub) {
    // The hub box frames its row; hiding it must not hide the port boxes inside.
    auto* frame = static_cast<QFrame*>(widgets_.at(hubBoxId(hub)));
    auto* column = new QVBoxLayout(frame);
    column->setContentsMargins(4, 2, 4, 4);
    column->setSpacing(2);
    column->addWidget(frame->findChild<QLabel*>());
    auto* row = new QHBoxLayout;
    row->setSpacing(4);
    for (int i = 1; i <= kPortsPerHub; ++i)
      row->addWidget(buildPortBox((hub - 1) * kPortsPerHub + i));
    column->addLayout(row, 1);
    rows->addWidget(frame, 1);
  }
  return grid;
}

QWidget* StationView::buildPortBox(int port) {
  auto* box = static_cast<QGroupBox*>(widgets_.at(portBoxId(port)));
  box->setAlignment(Qt::AlignHCenter);
  auto* l = new QVBoxLayout(box);
  l->setContentsMargins(4, 2, 4, 4);
  l->setSpacing(3);
  l->addWidget(widgets_.at(statusPictureId(port)), 0, Qt::AlignHCenter);
  l->addWidget(widgets_.at(progressBarId(port)));
  for (int lun = 1; lun <= kLunsPerPort; ++lun) {
    const int slot = slotNumber(port, lun);
    auto* label = widgets_.at(slotLabelId(slot));
    auto* line = widgets_.at(resultLineId(slot));
    if (lun > kVisibleLuns) {
      // These lines exist for the steps to write into, but are never on screen.
      label->setParent(box);
      line->setParent(box);
      continue;
    }
    label->setFixedWidth(34);
    // Room for the two lines of a port box message, and no more: the grid fits small screens.
    auto* text = static_cast<QPlainTextEdit*>(line);
    line->setMinimumHeight(2 * text->fontMetrics().lineSpacing() + 2 * text->frameWidth() +
                           2 * static_cast<int>(text->document()->documentMargin()));
    auto* row = new QHBoxLayout;
    row->setSpacing(2);
    row->addWidget(label, 0, Qt::AlignTop);
    row->addWidget(line, 1);
    l->addLayout(row, 1);
  }
  return box;
}

void StationView::sync() {
  if (window_.revision() != shownRevision_) {
    shownRevision_ = window_.revision();
    bool refit = false;
    for (auto& [control, widget] : widgets_) {
      const app::ControlRecord& record = window_.control(control);
      auto it = shown_.find(control);
      if (it != shown_.end() && it->second == record) continue;
      // New texts, rows or limits change what a field or label must hold.
      refit = refit || it == shown_.end() || it->second.text != record.text ||
              it->second.rows != record.rows || it->second.textLimit != record.textLimit;
      apply(record, widget);
      shown_[control] = record;
    }
    if (refit) {
      fitWidths();
      fitOptionStrip();
    }
  }
  applyColours();
}

void StationView::applyColours() {
  for (int slot = 1; slot <= kSlotCount; ++slot) {
    const int colour = static_cast<int>(window_.readers().slotColour[slot - 1].load());
    auto it = shownColour_.find(slot);
    if (it != shownColour_.end() && it->second == colour) continue;
    shownColour_[slot] = colour;
    QWidget* line = widgets_.at(resultLineId(slot));
    QPalette palette = line->palette();
    const QColor background = slotBackground(static_cast<SlotColour>(colour), this->palette());
    palette.setColor(QPalette::Base, background);
    palette.setColor(QPalette::Window, background);
    line->setPalette(palette);
  }
}

void StationView::apply(const app::ControlRecord& r, QWidget* widget) {
  const bool hiddenLine = (r.kind == ControlKind::ResultLine ||
                           (r.kind == ControlKind::PushButton && r.id >= slotLabelId(1) &&
                            r.id <= slotLabelId(kSlotCount))) &&
                          !r.visible;
  widget->setEnabled(r.enabled);
  QFont base = QApplication::font();
  widget->setFont(fontFor(r.font, base));
  const QString text = qs(r.text);
  switch (r.kind) {
  case ControlKind::PushButton: static_cast<QPushButton*>(widget)->setText(text); break;
  case ControlKind::CheckBox: {
    auto* box = static_cast<QCheckBox*>(widget);
    box->setText(text);
    box->setChecked(r.checked);
    break;
  }
  case ControlKind::Label: static_cast<QLabel*>(widget)->setText(text); break;
  case ControlKind::GroupBox: {
    if (isHubBox(r.id)) {
      // A hidden hub box only loses its frame and title: its port boxes stay on screen.
      auto* frame = static_cast<QFrame*>(widget);
      frame->setFrameShape(r.visible ? QFrame::StyledPanel : QFrame::NoFrame);
      auto* title = frame->findChild<QLabel*>();
      title->setText(text);
      title->setVisible(r.visible);
      return;
    }
    auto* box = static_cast<QGroupBox*>(widget);
    box->setTitle(text);
    break;
  }
  case ControlKind::DropDown: {
    auto* combo = static_cast<QComboBox*>(widget);
    QStringList rows;
    for (const std::string& row : r.rows)
      rows << qs(row);
    QStringList current;
    for (int i = 0; i < combo->count(); ++i)
      current << combo->itemText(i);
    if (rows != current) {
      combo->clear();
      combo->addItems(rows);
    }
    combo->setCurrentIndex(app::shownRow(r, window_.languageOffset()));
    break;
  }
  case ControlKind::Edit: {
    auto* edit = static_cast<QLineEdit*>(widget);
    edit->setReadOnly(r.readOnly);
    // No Qt length limit: the model cuts what is typed, and a longer loaded value is shown whole.
    if (edit->text() != text) edit->setText(text);
    break;
  }
  case ControlKind::ResultLine: {
    auto* line = static_cast<QPlainTextEdit*>(widget);
    const QString shown = resultText(r.text);
    if (line->toPlainText() != shown) line->setPlainText(shown);
    break;
  }
  case ControlKind::Picture: {
    auto* picture = static_cast<QLabel*>(widget);
    picture->setPixmap(renderPicture(r.picture));
    break;
  }
  case ControlKind::ProgressBar: {
    auto* bar = static_cast<QProgressBar*>(widget);
    bar->setRange(r.rangeLow, r.rangeHigh);
    bar->setValue(r.position);
    break;
  }
  }
  widget->setVisible(r.visible && !hiddenLine);
}

void StationView::changeEvent(QEvent* event) {
  // Coming back from minimised: draw from the model at once rather than at the next tick.
  if (event->type() == QEvent::WindowStateChange && !isMinimized()) sync();
  QWidget::changeEvent(event);
}

void StationView::addStrip(QWidget* strip) {
  strip->setParent(this);
  layout()->addWidget(strip);
}

void StationView::showAboutBox() {
  QDialog about(this);
  about.setWindowTitle(kAboutCaption);
  auto* l = new QVBoxLayout(&about);
  auto* row = new QHBoxLayout;
  auto* icon = new QLabel(&about);
  icon->setPixmap(renderPicture(text::kLogoPicture));
  row->addWidget(icon);
  row->addWidget(new QLabel(QString::fromUtf8(kAboutLine), &about));
  l->addLayout(row);
  auto* ok = new QPushButton(QString::fromUtf8(kAboutButton), &about);
  connect(ok, &QPushButton::clicked, &about, &QDialog::accept);
  l->addWidget(ok, 0, Qt::AlignRight);
  about.exec();
}

} // namespace tarvix::ui
