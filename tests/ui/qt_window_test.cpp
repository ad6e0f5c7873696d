// The station window drawn by Qt: labels against the language tables, the fresh-start state as
// the operator sees it, every text whole at the window's default size, and screenshots in every
// language for a person to look at.
#include "app/fitting_texts.h"
#include "app/station_window.h"
#include "platform/sim/farm.h"
#include "station/control_ids.h"
#include "station/numbering.h"
#include "support/fake_platform.h"
#include "text/texts.h"
#include "ui/qt/qt_host.h"
#include "ui/qt/simulator_panel.h"
#include "ui/qt/station_view.h"

#include <QAbstractButton>
#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QStyleOption>
#include <QTemporaryFile>
#include <QThread>
#include <QTimer>
#include <fstream>
#include <gtest/gtest.h>

namespace tarvix::ui {
namespace {

namespace id = station::id;
using namespace station;

class QtWindow : public ::testing::Test {
protected:
  QtWindow() {
    window.initialise();
    view = std::make_unique<StationView>(window);
    host.setParentWindow(view.get());
    view->resize(1280, 800);
    view->show();
    settle();
  }

  void settle() {
    view->sync();
    QApplication::processEvents();
  }

  QString shownText(int control) const {
    QWidget* w = view->widgetFor(control);
    if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text();
    if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
    if (auto* g = qobject_cast<QGroupBox*>(w)) return g->title();
    if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text();
    if (auto* p = qobject_cast<QPlainTextEdit*>(w)) return p->toPlainText();
    return {};
  }

  void chooseLanguageRow(int row) {
    auto* combo = qobject_cast<QComboBox*>(view->widgetFor(id::kLanguage));
    ASSERT_NE(combo, nullptr);
    combo->setCurrentIndex(row);
    emit combo->activated(row); // as if the operator picked it
    settle();
  }

  void screenshot(const char* name) {
    QDir().mkpath(TARVIX_SCREENSHOT_DIR);
    const QString path = QString(TARVIX_SCREENSHOT_DIR) + "/" + name + ".png";
    ASSERT_TRUE(view->grab().save(path)) << path.toStdString();
  }

  // Every window label shows the table text of its id in the current language.
  void expectLabelsIn(int offset) {
    for (int control : window.controlIds()) {
      int textId = window.control(control).textId;
      if (textId == 0) continue;
      if (control == id::kWriteParameter) textId = text::kWriteParameterToCard;
      const auto expected = text::lookup(textId + offset);
      ASSERT_TRUE(expected) << textId + offset;
      EXPECT_EQ(shownText(control).toStdString(), std::string(*expected)) << "control " << control;
    }
  }

  testing::FakePlatform fake;
  QtHost host;
  app::StationWindow window{fake.platform, host};
  std::unique_ptr<StationView> view;
};

TEST_F(QtWindow, FreshStartAsTheOperatorSeesIt) {
  auto* noHubMap = qobject_cast<QAbstractButton*>(view->widgetFor(id::kNoHubMap));
  auto* hubMap = qobject_cast<QAbstractButton*>(view->widgetFor(id::kHubMap));
  EXPECT_FALSE(noHubMap->isChecked());
  EXPECT_FALSE(hubMap->isChecked());
  EXPECT_FALSE(view->widgetFor(id::kAutoStart)->isEnabled());
  EXPECT_FALSE(view->widgetFor(id::kAutoStop)->isVisible());
  EXPECT_FALSE(view->widgetFor(id::kAutoStop)->isEnabled());
  for (int port = 1; port <= kPortCount; ++port) {
    auto* bar = qobject_cast<QProgressBar*>(view->widgetFor(progressBarId(port)));
    EXPECT_EQ(bar->value(), 0);
    EXPECT_EQ(bar->maximum(), kProgressMax);
    auto* picture = qobject_cast<QLabel*>(view->widgetFor(statusPictureId(port)));
    const QImage image = picture->pixmap().toImage();
    EXPECT_EQ(image.size(), QSize(120, 20));
    EXPECT_EQ(image.pixelColor(60, 10), QColor(Qt::white));
    for (int lun = 1; lun <= kLunsPerPort; ++lun) {
      const bool onScreen = lun <= kVisibleLuns;
      EXPECT_EQ(view->widgetFor(resultLineId(slotNumber(port, lun)))->isVisible(), onScreen);
      EXPECT_EQ(view->widgetFor(slotLabelId(slotNumber(port, lun)))->isVisible(), onScreen);
    }
  }
  screenshot("station-fresh");
}

TEST_F(QtWindow, LabelsFollowTheLanguageList) {
  const std::pair<int, const char*> languages[] = {
      {text::kSimplifiedChinese, "station-zh-CN"},
      {text::kTraditionalChinese, "station-zh-TW"},
      {text::kEnglish, "station-en"},
  };
  for (auto [offset, name] : languages) {
    chooseLanguageRow(offset / 1000);
    expectLabelsIn(offset);
    screenshot(name);
  }
}

TEST_F(QtWindow, PortBoxesShowResultsColoursAndPictures) {
  window.controls().setPicture(statusPictureId(1), 133);
  window.controls().setPicture(statusPictureId(2), 134);
  window.controls().setPicture(statusPictureId(3), 132);
  window.controls().setProgress(progressBarId(3), 120);
  window.controls().setText(resultLineId(slotNumber(1, 1)), "61 MB\r\n");
  window.readers().slotColour[slotNumber(1, 1) - 1] = SlotColour::Passed;
  window.controls().setText(resultLineId(slotNumber(2, 1)), "Format \r\nFail !!\r\n");
  window.readers().slotColour[slotNumber(2, 1) - 1] = SlotColour::Failed;
  window.controls().setText(resultLineId(slotNumber(3, 1)), "Start Test !!\r\n");
  window.readers().slotColour[slotNumber(3, 1) - 1] = SlotColour::Running;
  // The Chinese pictures of the other roles, to look at.
  const int chinese[] = {142, 145, 146, 147, 148, 152, 153};
  for (int i = 0; i < 7; ++i)
    window.controls().setPicture(statusPictureId(8 + i), chinese[i]);
  for (int port = 1; port <= 3; ++port)
    window.controls().setText(slotLabelId(slotNumber(port, 1)), "E:");
  settle();

  EXPECT_EQ(shownText(resultLineId(slotNumber(2, 1))), "Format \nFail !!\n");
  const QColor failed =
      view->widgetFor(resultLineId(slotNumber(2, 1)))->palette().color(QPalette::Base);
  EXPECT_EQ(failed, QColor(255, 0, 0));
  const QColor running =
      view->widgetFor(resultLineId(slotNumber(3, 1)))->palette().color(QPalette::Base);
  EXPECT_EQ(running, QColor(200, 200, 255));
  screenshot("station-results");

  // Minimising and restoring keeps every port box as it was.
  view->showMinimized();
  QApplication::processEvents();
  view->showNormal();
  settle();
  EXPECT_EQ(shownText(resultLineId(slotNumber(1, 1))), "61 MB\n");
  EXPECT_EQ(qobject_cast<QProgressBar*>(view->widgetFor(progressBarId(3)))->value(), 120);
}

TEST_F(QtWindow, TypedTextObeysTheEditRules) {
  auto* vid = qobject_cast<QLineEdit*>(view->widgetFor(id::kVid));
  vid->setText("3c7d9");
  emit vid->textEdited("3c7d9");
  settle();
  EXPECT_EQ(window.controls().text(id::kVid), "3C7D");
  EXPECT_EQ(vid->text(), "3C7D");
  // A value longer than the typing limit, as a settings file may hold it, is shown whole.
  window.controls().setText(id::kProduct, "A product name of 30 characters");
  settle();
  EXPECT_EQ(qobject_cast<QLineEdit*>(view->widgetFor(id::kProduct))->text(),
            "A product name of 30 characters");
}

// The room `widget` draws its text in, as its style lays it out when painting; -1 for a widget
// that shows no text of its own.
int textRoom(QWidget* widget) {
  QStyle* look = widget->style();
  if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
    QStyleOptionFrame option;
    option.initFrom(edit);
    option.lineWidth = look->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit);
    const QRect inside = look->subElementRect(QStyle::SE_LineEditContents, &option, edit)
                             .marginsRemoved(edit->textMargins());
    const QFontMetrics metrics(edit->font());
    // Two pixels each side, a pixel of cursor and the font's overhangs, as the edit paints.
    return inside.width() - 2 * 2 - 1 - std::max(0, -metrics.minLeftBearing()) -
           std::max(0, -metrics.minRightBearing());
  }
  if (auto* combo = qobject_cast<QComboBox*>(widget)) {
    QStyleOptionComboBox option;
    option.initFrom(combo);
    option.frame = combo->hasFrame();
    option.subControls = QStyle::SC_All;
    return look->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, combo)
               .width() -
           2;
  }
  if (auto* box = qobject_cast<QCheckBox*>(widget)) {
    QStyleOptionButton option;
    option.initFrom(box);
    return look->subElementRect(QStyle::SE_CheckBoxContents, &option, box).width();
  }
  if (auto* button = qobject_cast<QPushButton*>(widget)) {
    QStyleOptionButton option;
    option.initFrom(button);
    return look->subElementRect(QStyle::SE_PushButtonContents, &option, button).width();
  }
  if (auto* label = qobject_cast<QLabel*>(widget))
    return label->contentsRect().width() - 2 * label->margin() - std::max(0, label->indent());
  if (auto* group = qobject_cast<QGroupBox*>(widget)) {
    QStyleOptionGroupBox option;
    option.initFrom(group);
    option.text = group->title();
    option.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
    // The title keeps as far from the right edge as it starts from the left.
    const QRect title =
        look->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, group);
    return group->width() - 2 * std::max(0, title.left());
  }
  return -1;
}

// Every text a control on screen may have to show that its room cuts, as "control: text".
std::vector<std::string> clippedTexts(const StationView& view, const app::StationWindow& window) {
  std::vector<std::string> clipped;
  for (int control : window.controlIds()) {
    QWidget* widget = view.widgetFor(control);
    if (widget == nullptr || !widget->isVisible()) continue;
    const int room = textRoom(widget);
    if (room < 0) continue;
    const QFontMetrics metrics(widget->font());
    for (const std::string& text : app::textsShownWhole(window.control(control))) {
      const int needed = metrics.horizontalAdvance(QString::fromStdString(text));
      if (needed > room) {
        clipped.push_back(std::to_string(control) + ": " + text + " (" + std::to_string(needed) +
                          " px in " + std::to_string(room) + ")");
      }
    }
    // A neighbour drawn over it cuts it just as well.
    for (int other : window.controlIds()) {
      QWidget* neighbour = view.widgetFor(other);
      if (other <= control || neighbour == nullptr || !neighbour->isVisible() ||
          neighbour->parentWidget() != widget->parentWidget())
        continue;
      if (widget->geometry().intersects(neighbour->geometry()))
        clipped.push_back(std::to_string(control) + " overlaps " + std::to_string(other));
    }
  }
  return clipped;
}

// At the scale the suite gives the screen (1366 x 768 pixels at 100, 150 or 200 %): the window
// opens within the screen, every field and label holds its widest text in every language, and
// a fresh start's language list names the system's language.
TEST(QtWindowFit, EveryTextWholeAtTheDefaultSize) {
  testing::FakePlatform fake;
  fake.system.locale = "zh_TW.UTF-8";
  QtHost host;
  app::StationWindow window(fake.platform, host);
  window.initialise();
  window.controls().setText(id::kSerial, "000000000001");
  window.controls().setText(id::kVid, "3C7D");
  window.controls().setText(id::kPid, "A706");
  window.controls().setText(id::kProduct, "STORAGE DEVICE");
  StationView view(window);
  auto* language = qobject_cast<QComboBox*>(view.widgetFor(id::kLanguage));
  EXPECT_EQ(language->currentText().toStdString(), "繁體中文");
  EXPECT_EQ(window.control(id::kLanguage).selectedRow, -1); // the settings store no choice
  view.show();
  QApplication::processEvents();
  const QRect screen = view.screen()->availableGeometry();
  EXPECT_TRUE(screen.contains(view.frameGeometry()))
      << view.frameGeometry().width() << "x" << view.frameGeometry().height() << " on "
      << screen.width() << "x" << screen.height();
  const std::string scale = std::to_string(qRound(view.devicePixelRatioF() * 100));
  const char* names[] = {"en", "zh-CN", "zh-TW"};
  for (int row : {2, 1, 0}) {
    language->setCurrentIndex(row);
    emit language->activated(row);
    view.sync();
    // A layout that grows asks its scroll area again: two rounds settle it.
    QApplication::processEvents();
    QApplication::processEvents();
    EXPECT_EQ(clippedTexts(view, window), std::vector<std::string>{})
        << names[row] << " at " << scale << " %";
    QDir().mkpath(TARVIX_SCREENSHOT_DIR);
    view.grab().save(QString(TARVIX_SCREENSHOT_DIR) + "/station-fit-" + names[row] + "-" +
                     QString::fromStdString(scale) + ".png");
  }
}

// The window as a newcomer first sees it: the default farm's seven readers found on one hub.
TEST(QtWindowOnFarm, ShowsTheReadersAndFollowsThePanel) {
  char pattern[] = "/tmp/tarvix-qt-farm-XXXXXX";
  const std::filesystem::path dir = mkdtemp(pattern);
  std::string error;
  auto farm = platform::sim::Farm::loadDefault(error, dir);
  ASSERT_TRUE(farm) << error;
  testing::FakePlatform fake;
  fake.system.executable = dir / "tarvix";
  std::ofstream(dir / "TarvixValue.ini")
      << "[Hub Port map]\r\nbCheckHub=1\r\n[Test Item]\r\nnICType=3\r\nbCheckFormat=1\r\n"
         "bCheckRWTest=1\r\nnRWTestCount=1\r\n";
  platform::Platform onFarm{farm->clock(),   fake.trace,           fake.system,    farm->drives(),
                            farm->usbTree(), farm->readerAccess(), farm->volumes()};
  QtHost host;
  app::StationWindow window(onFarm, host);
  window.initialise();
  StationView view(window);
  auto* panel = new SimulatorPanel({farm->readerIds(),
                                    [&](const std::string& id) { return farm->isPlugged(id); },
                                    [&](const std::string& id) { return farm->plug(id); },
                                    [&](const std::string& id) { return farm->pull(id); }});
  view.addStrip(panel);
  view.resize(1280, 830);
  view.show();
  view.sync();
  QApplication::processEvents();

  auto lineText = [&](int slot) {
    return qobject_cast<QPlainTextEdit*>(view.widgetFor(resultLineId(slot)))->toPlainText();
  };
  for (int port = 1; port <= 7; ++port)
    EXPECT_EQ(lineText(slotNumber(port, 1)), "63 MB\n") << port;
  EXPECT_TRUE(view.widgetFor(hubBoxId(1))->isVisible());
  QDir().mkpath(TARVIX_SCREENSHOT_DIR);
  EXPECT_TRUE(view.grab().save(QString(TARVIX_SCREENSHOT_DIR) + "/station-farm.png"));

  // Auto Start as the operator presses it: every reader passes.
  auto* autoStart = qobject_cast<QPushButton*>(view.widgetFor(id::kAutoStart));
  ASSERT_TRUE(autoStart->isEnabled());
  autoStart->click();
  EXPECT_FALSE(window.runEnded());
  for (int i = 0; i < 1000 && !window.runEnded(); ++i) {
    QApplication::processEvents();
    QThread::msleep(10);
  }
  ASSERT_TRUE(window.runEnded());
  // The window redraws by itself when the model moves, and not at all while it rests.
  int wakes = 0;
  QObject counting; // ends the count with the test
  QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::awake,
                   &counting, [&] { ++wakes; });
  // The last display timer lapses one quiet period after the run, later on a busy machine; then
  // a stretch of 500 ms wakes the loop only to start and to end it.
  for (int stretch = 0; stretch < 10 && (stretch == 0 || wakes > 2); ++stretch) {
    wakes = 0;
    QEventLoop rest;
    QTimer::singleShot(500, &rest, &QEventLoop::quit);
    rest.exec();
  }
  for (int port = 1; port <= 7; ++port) {
    EXPECT_EQ(qobject_cast<QProgressBar*>(view.widgetFor(progressBarId(port)))->value(), 200);
  }
  EXPECT_LE(wakes, 2) << "only the resting loop's own start and end";
  EXPECT_TRUE(view.grab().save(QString(TARVIX_SCREENSHOT_DIR) + "/station-farm-run.png"));

  // Pulling reader r5 at its hub blanks port box 5 once the window has handled the removal.
  QPushButton* r5 = nullptr;
  for (auto* b : panel->findChildren<QPushButton*>()) {
    if (b->text() == "r5") r5 = b;
  }
  ASSERT_NE(r5, nullptr);
  r5->click();
  for (int i = 0; i < 100 && window.readers().ports[4].assigned; ++i) {
    QApplication::processEvents();
    QThread::msleep(10);
  }
  QApplication::processEvents();
  EXPECT_FALSE(window.readers().ports[4].assigned);
  EXPECT_EQ(lineText(slotNumber(5, 1)), "");
  EXPECT_FALSE(farm->isPlugged("r5"));
  std::filesystem::remove_all(dir);
}

} // namespace
} // namespace tarvix::ui

// The application must outlive every test and die before the library's own statics. With
// TARVIX_SCREEN_SCALE (1, 1.5, 2) the window is drawn offscreen on a 1366 x 768 screen at that
// scale, else on the display, or offscreen without one.
int main(int argc, char** argv) {
  QTemporaryFile screens;
  if (const QByteArray scale = qgetenv("TARVIX_SCREEN_SCALE"); !scale.isEmpty()) {
    if (!screens.open()) return 2;
    // The screen's size as the window sees it: its pixels over the scale.
    const double factor = scale.toDouble();
    const QByteArray width = QByteArray::number(qRound(1366 / factor));
    const QByteArray height = QByteArray::number(qRound(768 / factor));
    screens.write(R"({"screens": [{"name": "station", "x": 0, "y": 0, "width": )" + width +
                  R"(, "height": )" + height +
                  R"(, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": )" + scale + "}]}");
    screens.flush();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + screens.fileName().toUtf8());
  } else if (qEnvironmentVariableIsEmpty("DISPLAY")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
