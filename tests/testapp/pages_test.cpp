// The test program's graphics, graphics printing, tables and logical-device
// pages, offscreen, on the real driver library (created by ProgID as the
// program creates it), VarnSrv and the emulated device. With VARN_SCREENSHOTS
// set to a folder, the pages are saved there as VarnTest-<page>.png.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <memory>

#include "testapp/driver.h"
#include "testapp/graphics.h"
#include "testapp/main_window.h"
#include "testapp/page_controls.h"
#include "testapp/pages.h"
#include "tests/driver/core/driver_fixture.h"
#include "tests/support/paper_png.h"
#include "tests/support/qt_test.h"

namespace varn::test {
namespace {

using testapp::TDriver;
using testapp::TPage;
using ::testing::HasSubstr;

constexpr char kTitle[] = "Тест драйвера Варн";

// The application's own name stays "testapp_pages_test": the boxes carry
// the program's title whatever the application is called.
[[maybe_unused]] auto* const g_qt = AddQtEnvironment("testapp_pages_test");

std::string U8(const QString& s) {
  return s.toStdString();
}

// Answers the message boxes that come up, in order: each is recorded and
// gets the next button of `answers` clicked (Escape when none is left).
class Boxes {
 public:
  explicit Boxes(std::deque<QMessageBox::StandardButton> answers = {})
      : m_answers(std::move(answers)) {
    QObject::connect(&m_timer, &QTimer::timeout, [this] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      // A new box may take the address of the last one: a mark tells them apart.
      if (!box || box->property("answered").toBool()) return;
      box->setProperty("answered", true);
      seen.push_back({box->windowTitle(), box->text(), box->icon(), box->standardButtons()});
      if (!m_answers.empty()) {
        box->button(m_answers.front())->click();
        m_answers.pop_front();
      } else {
        box->reject();
      }
    });
    m_timer.start(20);
  }
  struct Box {
    QString caption, text;
    QMessageBox::Icon icon;
    QMessageBox::StandardButtons buttons;
  };
  std::vector<Box> seen;

 private:
  std::deque<QMessageBox::StandardButton> m_answers;
  QTimer m_timer;
};

// The program's main window on one of its pages, found by list index as a
// click on the page list shows it; the call notifications of every page are
// counted, and the outcome is read where the window shows it.
struct Program {
  Program() {
    main.show();
    for (int i = 0; i < main.Pages().Count(); ++i) {
      TPage* p = main.Pages().Item(i)->Page;
      p->OnBeforeCall = [this, shown = p->OnBeforeCall](TPage& page) {
        ++before;
        shown(page);
      };
      p->OnAfterCall = [this, shown = p->OnAfterCall](TPage& page) {
        ++after;
        shown(page);
      };
    }
  }
  // Shows page `index` (its list line clicked) and works on it from now on.
  Program& On(int index) {
    main.findChild<QListWidget*>("ListBox")->setCurrentRow(index);
    EXPECT_EQ(main.PageIndex(), index);
    page = main.CurrentPage();
    return *this;
  }
  template <class W = QWidget>
  W* Find(const char* name) {
    W* w = page->findChild<W*>(name);
    EXPECT_TRUE(w) << name;
    return w;
  }
  void Click(const char* button) { QTest::mouseClick(Find<QPushButton>(button), Qt::LeftButton); }
  // Into a text field or a number field with its up-down.
  void Type(const char* field, const QString& text) {
    QWidget* w = Find(field);
    if (auto* upDown = dynamic_cast<testapp::TUpDownEdit*>(w))
      upDown->SetText(text);
    else
      static_cast<QLineEdit*>(w)->setText(text);
  }
  QString Text(const char* field) { return Find(field)->property("text").toString(); }
  QString Memo() { return Find<QPlainTextEdit>("Memo")->toPlainText(); }
  // "(code) text" of the last call.
  QString Result() { return main.findChild<QLineEdit*>("edtResult")->text(); }
  TDriver& Driver() { return main.Driver(); }
  void Screenshot(const char* name) { test::Screenshot(main, "VarnTest", name); }

  testapp::TfmMain main;
  TPage* page = nullptr;
  int before = 0, after = 0;
};

// Page indexes in the list.
constexpr int kPrint = 4, kGraph = 5, kGPrint = 6, kTable = 7, kLD = 8;

class PagesTest : public DriverTest {
 protected:
  ~PagesTest() override { testapp::PictureChooser = nullptr; }

  void StartWithPicture() {
    emu::EmulatorOptions o;
    o.paperPngPath = png;
    StartDevice(o);
  }
  // Pictures are chosen in the file dialog as this path.
  std::string Save(const char* name, const QImage& picture) {
    const std::string path = env.Path(name);
    EXPECT_TRUE(picture.save(QString::fromStdString(path), "BMP"));
    return path;
  }
  void Choose(const std::string& path) {
    testapp::PictureChooser = [path](QWidget*) { return QString::fromStdString(path); };
  }
  // The paper's rows from `from` on, 320 dots each: '#' inked, '.' blank.
  std::vector<std::string> PaperRows(int from, int count) {
    const PaperPng paper = ReadPaperPng(png);
    std::vector<std::string> rows;
    for (int y = from; y < from + count && y < paper.height; ++y) {
      std::string row;
      for (int x = 0; x < 320; ++x) row += paper.Ink(emu::TPaper::kMargin + x, y) ? '#' : '.';
      rows.push_back(row);
    }
    return rows;
  }
  int PaperHeight() { return ReadFileOrEmpty(png).empty() ? 0 : ReadPaperPng(png).height; }

  std::string png = env.Path("paper.png");
};

QImage Picture(int width, int height, const std::function<bool(int x, int y)>& black) {
  QImage p(width, height, QImage::Format_RGB32);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      p.setPixel(x, y, black(x, y) ? qRgb(0, 0, 0) : qRgb(255, 255, 255));
  return p;
}

// Rows of the left 320 dots of a picture, as PaperRows gives the paper.
std::vector<std::string> Rows(const QImage& p, int count) {
  std::vector<std::string> rows;
  for (int y = 0; y < count; ++y) {
    std::string row;
    for (int x = 0; x < 320; ++x)
      row += x < p.width() && y < p.height() && qGray(p.pixel(x, y)) < 128 ? '#' : '.';
    rows.push_back(row);
  }
  return rows;
}

// Hand-made pictures from a grid of gray levels, one character per dot:
// '0'..'9' are 0, 28, ..., 252 in red, green and blue alike.
QImage Grays(const std::vector<std::string>& grid) {
  QImage p(static_cast<int>(grid[0].size()), static_cast<int>(grid.size()), QImage::Format_RGB32);
  for (int y = 0; y < p.height(); ++y)
    for (int x = 0; x < p.width(); ++x) {
      const int v = (grid[static_cast<size_t>(y)][static_cast<size_t>(x)] - '0') * 28;
      p.setPixel(x, y, qRgb(v, v, v));
    }
  return p;
}

// '#' black, '.' white.
std::vector<std::string> Dots(const QImage& p) {
  std::vector<std::string> rows;
  for (int y = 0; y < p.height(); ++y) {
    std::string row;
    for (int x = 0; x < p.width(); ++x) row += (p.pixel(x, y) & 0xFFFFFF) == 0 ? '#' : '.';
    rows.push_back(row);
  }
  return rows;
}

// A small picture in grays: a shaded band, a frame and a name, for the
// threshold conversion to make black and white.
QImage Logo() {
  QImage p(320, 96, QImage::Format_RGB32);
  p.fill(Qt::white);
  QPainter g(&p);
  QLinearGradient shade(0, 0, 320, 0);
  shade.setColorAt(0, QColor(20, 20, 20));
  shade.setColorAt(1, QColor(240, 240, 240));
  g.fillRect(0, 0, 320, 16, shade);
  g.setPen(QPen(QColor(60, 60, 60), 3));
  g.drawRect(2, 22, 315, 71);
  g.setFont(QFont("DejaVu Sans", 30, QFont::Bold));
  g.drawText(QRect(0, 22, 320, 72), Qt::AlignCenter, "ВАРН");
  return p;
}

TEST(Graphics, LineDataTakesExactBlackOfTheLeft320Dots) {
  // Dot x is bit x mod 8 of byte x div 8; near-black is not black.
  QImage p = Picture(320, 2, [](int x, int y) { return y == 0 && (x == 0 || x == 9 || x == 319); });
  p.setPixel(1, 0, qRgb(0, 0, 1));
  p.setPixel(2, 0, qRgb(1, 0, 0));
  std::string expected(40, '\0');
  expected[0] = '\x01';
  expected[1] = '\x02';
  expected[39] = '\x80';
  EXPECT_EQ(testapp::LineData(p, 0), expected);
  EXPECT_EQ(testapp::LineData(p, 1), std::string(40, '\0'));

  // 400 dots wide with the same left part (and black beyond it): the same bytes.
  const auto left = [](int x, int y) { return (3 * x + y) % 11 == 0; };
  const QImage narrow = Picture(320, 3, left);
  const QImage wide = Picture(400, 3, [&](int x, int y) { return x >= 320 || left(x, y); });
  for (int y = 0; y < 3; ++y)
    EXPECT_EQ(testapp::LineData(wide, y), testapp::LineData(narrow, y)) << y;

  // 12 wide: the dots past the width send nothing; a 1-bit picture reads the same.
  const QImage dark = Picture(12, 1, [](int, int) { return true; });
  EXPECT_EQ(testapp::LineData(dark, 0), std::string("\xFF\x0F") + std::string(38, '\0'));
  EXPECT_EQ(testapp::LineData(dark.convertToFormat(QImage::Format_Mono), 0),
            testapp::LineData(dark, 0));
}

TEST(Graphics, ThresholdConversion) {
  // Brightness 3 r²: only red counts. Reds 0, 100, 200, 255 give the mean
  // 86268.75: the first two are darker and become black.
  QImage p(4, 2, QImage::Format_RGB32);
  const QRgb top[] = {qRgb(0, 255, 255), qRgb(100, 0, 0), qRgb(200, 0, 0), qRgb(255, 0, 0)};
  for (int x = 0; x < 4; ++x) {
    p.setPixel(x, 0, top[x]);
    p.setPixel(x, 1, top[3 - x]);
  }
  std::vector<std::pair<int, int>> progress;
  const QImage mono = testapp::Monochrome1(p, [&](int pos, int max) {
    progress.push_back({pos, max});
  });
  EXPECT_EQ(mono.depth(), 1);
  EXPECT_EQ(Dots(mono), (std::vector<std::string>{"##..", "..##"}));
  // Per column, against the height.
  EXPECT_EQ(progress, (std::vector<std::pair<int, int>>{{1, 2}, {2, 2}, {3, 2}, {4, 2}}));

  // All alike: no dot is below the mean, all white.
  EXPECT_EQ(Dots(testapp::Monochrome1(Grays({"555", "555"}))),
            (std::vector<std::string>{"...", "..."}));
}

TEST(Graphics, NeighbourhoodConversion) {
  // Digits are gray levels (value r + g + b = 84 × digit). Inside, a dot
  // turns black when 8 × its value is below its eight neighbours' sum:
  // (1,1) 8 < 33, black; (2,1) 72 ≥ 19, white; (1,3) 16 = 16, not below,
  // white. Row 0 and column 0 stay (3 and 0 nearest black, 7 white); the
  // last column and row turn white. Every decision is taken on the picture
  // as it was: painted in place, (2,3) would see its dark neighbours black.
  const QImage p = Grays({"370370", "719220", "322222", "722220", "000000"});
  std::vector<std::pair<int, int>> progress;
  const QImage mono = testapp::Monochrome2(p, [&](int pos, int max) {
    progress.push_back({pos, max});
  });
  EXPECT_EQ(mono.depth(), 1);
  EXPECT_EQ(Dots(mono),
            (std::vector<std::string>{"#.##.#", ".#.##.", "####..", "......", "#....."}));
  // Both passes, against twice the width, to the end.
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back(), std::make_pair(12, 12));
  for (size_t i = 1; i < progress.size(); ++i) EXPECT_LE(progress[i - 1].first, progress[i].first);

  // Wider than 320: the work stops at column 319 (the last, white); the
  // columns beyond, like column 0 and row 0, keep their black.
  const QImage wide = testapp::Monochrome2(Picture(330, 3, [](int, int) { return true; }));
  const std::string inner = "#" + std::string(319, '.') + std::string(10, '#');
  EXPECT_EQ(Dots(wide), (std::vector<std::string>{std::string(330, '#'), inner, inner}));

  // Too small to have an inside: only the white last column and row.
  EXPECT_EQ(Dots(testapp::Monochrome2(Grays({"00", "00"}))),
            (std::vector<std::string>{"##", "#."}));
  EXPECT_TRUE(testapp::Monochrome2(QImage()).isNull());
}

const auto kAllBlack = [](int, int) { return true; };

TEST_F(PagesTest, GraphicsPageLoadsInThreeWaysWithTheirLimits) {
  StartWithPicture();
  Program program;
  Program& graph = program.On(kGraph);
  Boxes boxes;

  // Without a picture the buttons do nothing; a cancelled dialog neither.
  for (const char* b : {"btnMonochrome1", "btnMonochrome2", "btnLoadLineData", "btnLoadLineDataEx",
                        "btnWideLoadLineData"})
    graph.Click(b);
  testapp::PictureChooser = [](QWidget*) { return QString(); };
  graph.Click("btnOpen");
  EXPECT_EQ(graph.before, 0);

  // The device's lines are printed back to see what reached them.
  const auto printed = [&](int lines) {
    const int top = PaperHeight();
    program.On(kGPrint);
    program.Type("edtFirstLineNumber", "1");
    program.Type("edtLastLineNumber", QString::number(lines));
    program.Click("btnDrawEx");
    program.On(kGraph);
    EXPECT_THAT(Paper(), HasSubstr("[graphics] 1.." + std::to_string(lines) + "\n"));
    return PaperRows(top, lines);
  };
  const auto loaded = [&](const char* file, const QImage& picture, const char* button) {
    Choose(Save(file, picture));
    const int before = graph.before, after = graph.after;
    graph.Click("btnOpen");
    graph.Click(button);
    // Opening is one call, a whole loading another.
    EXPECT_EQ(graph.before, before + 2) << button;
    EXPECT_EQ(graph.after, after + 2) << button;
    EXPECT_EQ(graph.Result(), "(0) Ошибок нет.") << button;
    EXPECT_FALSE(graph.Find<QProgressBar>("ProgressBar")->isVisible());
  };

  // 250 lines: "Загрузка картинки" sends the first 200.
  const QImage black = Picture(320, 250, kAllBlack);
  loaded("black.bmp", black, "btnLoadLineData");
  EXPECT_EQ(graph.Find<QLabel>("Image")->pixmap().size(), QSize(320, 250));
  EXPECT_EQ(graph.Driver().Int(u"LineNumber"), 199);
  std::vector<std::string> rows = printed(250);
  EXPECT_EQ(std::vector(rows.begin(), rows.begin() + 200), Rows(black, 200));
  EXPECT_EQ(std::vector(rows.begin() + 200, rows.end()), std::vector(50, std::string(320, '.')));

  // "Расширенная загрузка" sends all 250, and of a picture 400 wide only
  // the left 320 dots (the black beyond them is not sent).
  const auto pattern = [](int x, int y) { return (3 * x + y) % 11 == 0 || x < y % 5; };
  const QImage left = Picture(320, 250, pattern);
  loaded("wide.bmp", Picture(400, 250, [&](int x, int y) { return x >= 320 || pattern(x, y); }),
         "btnLoadLineDataEx");
  EXPECT_EQ(graph.Driver().Int(u"LineNumber"), 249);
  EXPECT_EQ(printed(250), Rows(left, 250));

  // "Загрузка 1 командой" as well, the 40 bytes of each line joined in
  // order: a line any longer would shift every line after it.
  loaded("black.bmp", black, "btnLoadLineDataEx");
  const auto other = [](int x, int y) { return (x + 2 * y) % 7 == 0; };
  loaded("wide2.bmp", Picture(400, 250, [&](int x, int y) { return x >= 320 || other(x, y); }),
         "btnWideLoadLineData");
  EXPECT_EQ(printed(250), Rows(Picture(320, 250, other), 250));
  EXPECT_TRUE(boxes.seen.empty());
  Choose(Save("logo.bmp", Logo()));
  graph.Click("btnOpen");
  graph.Click("btnMonochrome1");
  graph.Screenshot("Graph");
  // A picture shown does not make the window grow.
  EXPECT_LE(graph.main.height(), testapp::kClientHeight + 8);

  // A conversion changes the picture shown, in place, with no driver call.
  Choose(Save("grays.bmp", Grays({"370370", "719220", "322222", "722220", "000000"})));
  graph.Click("btnOpen");
  const int calls = graph.before;
  graph.Click("btnMonochrome2");
  EXPECT_EQ(Dots(graph.Find<QLabel>("Image")->pixmap().toImage()),
            (std::vector<std::string>{"#.##.#", ".#.##.", "####..", "......", "#....."}));
  graph.Click("btnMonochrome1");
  EXPECT_EQ(Dots(graph.Find<QLabel>("Image")->pixmap().toImage()),
            (std::vector<std::string>{"#.##.#", ".#.##.", "####..", "......", "#....."}));
  EXPECT_EQ(graph.before, calls);
  EXPECT_FALSE(graph.Find<QProgressBar>("ProgressBar")->isVisible());
}

TEST_F(PagesTest, GraphicsPageAsksWhetherToGoOnAfterARefusedLine) {
  // A port with no device behind it refuses every line at once.
  registry.WriteString("SOFTWARE\\Kvelta\\Варн\\Сервер\\Ports", "COM9", env.Path("no-tty"));
  Program graph;
  graph.On(kGraph);
  graph.Driver().Set(u"ComNumber", 9);
  Choose(Save("black.bmp", Picture(320, 250, kAllBlack)));
  graph.Click("btnOpen");

  // "Yes" goes on to the next line, "No" ends the loading there.
  Boxes boxes({QMessageBox::Yes, QMessageBox::No});
  graph.Click("btnLoadLineDataEx");
  ASSERT_EQ(boxes.seen.size(), 2u);
  for (const Boxes::Box& box : boxes.seen) {
    EXPECT_EQ(U8(box.text), "(-2) СOM порт не доступен.\n\rПродолжить загрузку ?");
    EXPECT_EQ(U8(box.caption), kTitle);
    EXPECT_EQ(box.icon, QMessageBox::Warning);
    EXPECT_EQ(box.buttons, QMessageBox::Yes | QMessageBox::No);
  }
  EXPECT_EQ(graph.Driver().Int(u"LineNumber"), 1);
  EXPECT_EQ(graph.before, 2);
  EXPECT_EQ(graph.after, 2);
  EXPECT_EQ(graph.Result(), "(-2) СOM порт не доступен");
  EXPECT_TRUE(graph.Find<QPushButton>("btnLoadLineDataEx")->isEnabled());

  // One command has nothing to go on with: no question.
  graph.Click("btnWideLoadLineData");
  EXPECT_EQ(boxes.seen.size(), 2u);
  EXPECT_EQ(graph.after, 3);

  // A file that is no picture: the error, and the picture stays.
  const std::string junk = env.Path("junk.bmp");
  std::ofstream(junk) << "no picture";
  Choose(junk);
  graph.Click("btnOpen");
  ASSERT_EQ(boxes.seen.size(), 3u);
  EXPECT_EQ(U8(boxes.seen[2].text), "Файл не является изображением: " + junk);
  EXPECT_EQ(U8(boxes.seen[2].caption), kTitle);
  EXPECT_EQ(boxes.seen[2].icon, QMessageBox::Critical);
  EXPECT_EQ(graph.Find<QLabel>("Image")->pixmap().size(), QSize(320, 250));
}

TEST_F(PagesTest, GraphicsPrintingPage) {
  StartWithPicture();
  Program page;
  page.On(kGPrint);
  Boxes boxes;
  EXPECT_EQ(page.Text("edtFirstLineNumber"), "1");
  EXPECT_EQ(page.Text("edtLastLineNumber"), "200");

  // The three loading buttons do nothing when the dialog is cancelled.
  testapp::PictureChooser = [](QWidget*) { return QString(); };
  for (const char* b : {"btnLoadBitmap", "btnLoadBitmapEx", "btnLoadBMP"}) page.Click(b);
  EXPECT_EQ(page.before, 0);

  // The driver's loading leaves its draw range in the two fields.
  const QImage halves = Picture(16, 3, [](int x, int) { return x < 8; });
  const std::string halvesPath = Save("halves.bmp", halves);
  Choose(halvesPath);
  page.Type("edtFirstLineNumber", "7");
  page.Click("btnLoadBitmap");
  EXPECT_EQ(page.Result(), "(0) Ошибок нет.");
  EXPECT_EQ(page.Text("edtFirstLineNumber"), "1");
  EXPECT_EQ(page.Text("edtLastLineNumber"), "3");
  // The driver puts the picture where that range prints it.
  int top = PaperHeight();
  page.Click("btnDraw");
  EXPECT_THAT(Paper(), HasSubstr("[graphics] 1..3\n"));
  EXPECT_EQ(PaperRows(top, 3), Rows(halves, 3));

  // ... whatever the result: a file that is no picture fails, and the
  // fields show the range the driver holds, not what was typed.
  const std::string junk = env.Path("junk.bmp");
  std::ofstream(junk) << "no picture";
  Choose(junk);
  page.Type("edtFirstLineNumber", "7");
  page.Type("edtLastLineNumber", "9");
  page.Click("btnLoadBitmapEx");
  EXPECT_THAT(U8(page.Result()), ::testing::StartsWith("(-8) "));
  EXPECT_EQ(page.Text("edtFirstLineNumber"), "1");
  EXPECT_EQ(page.Text("edtLastLineNumber"), "3");

  // LoadBMP loads the file set as FileName; DrawEx prints the typed range.
  Choose(halvesPath);
  page.Click("btnLoadBMP");
  EXPECT_EQ(page.Result(), "(0) Ошибок нет.");
  EXPECT_EQ(U8(page.Driver().Text(u"FileName")), halvesPath);
  page.Type("edtFirstLineNumber", "2");
  page.Type("edtLastLineNumber", "3");
  top = PaperHeight();
  page.Click("btnDrawEx");
  EXPECT_THAT(Paper(), HasSubstr("[graphics] 2..3\n"));
  EXPECT_EQ(PaperRows(top, 2), Rows(halves, 2));
  EXPECT_EQ(page.before, 5);
  EXPECT_EQ(page.after, 5);
  EXPECT_TRUE(boxes.seen.empty());
  page.Screenshot("GPrint");

  // A range that is not a number: the conversion error, Draw before the
  // call's start, DrawEx after it (the range is set inside the timed part).
  page.Type("edtLastLineNumber", "2x");
  page.Click("btnDraw");
  ASSERT_EQ(boxes.seen.size(), 1u);
  EXPECT_EQ(U8(boxes.seen[0].text), "'2x' не является целым числом.");
  EXPECT_EQ(U8(boxes.seen[0].caption), kTitle);
  EXPECT_EQ(page.before, 5);
  page.Click("btnDrawEx");
  EXPECT_EQ(boxes.seen.size(), 2u);
  EXPECT_EQ(page.before, 6);
  EXPECT_EQ(page.after, 5);
}

TEST_F(PagesTest, TablesPageReadsAndWritesTheDevicesFields) {
  StartDevice();
  Program page;
  page.On(kTable);
  Boxes boxes;
  EXPECT_EQ(page.Text("edtValue"), "0123456789012345678901234567890123456789");
  EXPECT_TRUE(page.Find<QPlainTextEdit>("Memo")->isReadOnly());
  const auto at = [&](const char* table, const char* field, const char* row) {
    page.Type("edtTableNumber", table);
    page.Type("edtFieldNumber", field);
    page.Type("edtRowNumber", row);
  };

  page.Click("btnGetTableStruct");
  EXPECT_EQ(U8(page.Memo()), "ТИП И РЕЖИМ КАССЫ\nКоличество рядов: 1\nКоличество полей: 7");
  // The string type has four blanks in front here only.
  at("2", "1", "30");
  page.Click("btnGetFieldStruct");
  EXPECT_EQ(U8(page.Memo()), "ИМЯ\n    Тип поля: строка\nРазмер поля: 21");
  at("2", "2", "30");
  page.Click("btnGetFieldStruct");
  EXPECT_EQ(U8(page.Memo()),
            "ТАБЕЛЬНЫЙ НОМЕР\nТип поля: число\nРазмер поля: 4\nМин. значение: 0\nМакс. значение: "
            "99999999");
  page.Click("btnReadTable");
  EXPECT_EQ(U8(page.Memo()),
            "ТАБЕЛЬНЫЙ НОМЕР\nТип поля: число\nРазмер поля: 4\nМинимальное значение: 0\n"
            "Максимальное значение: 99999999");
  EXPECT_EQ(page.Text("edtValue"), "30");
  at("2", "1", "30");
  page.Click("btnReadTable");
  EXPECT_EQ(U8(page.Memo()), "ИМЯ\nТип поля: строка\nРазмер поля: 21");
  EXPECT_EQ(U8(page.Text("edtValue")), "АДМИНИСТРАТОР");
  page.Screenshot("Table");

  // A number field takes the value's leading number, 0 when there is none;
  // the device keeps what was written.
  at("1", "3", "1");
  page.Type("edtValue", "12 строк");
  page.Click("btnWriteTable");
  EXPECT_EQ(U8(page.Memo()),
            "Структура поля:\nПРОТЯЖКА ПОСЛЕ ЧЕКА, СТРОК\nТип поля: число\nРазмер поля: 1\n"
            "Минимальное значение: 0\nМаксимальное значение: 20");
  EXPECT_EQ(page.Text("edtValue"), "12");
  Driver other;
  other.Set(u"TableNumber", Variant(1));
  other.Set(u"FieldNumber", Variant(3));
  other.Set(u"RowNumber", Variant(1));
  EXPECT_EQ(other.Call(u"ReadTable"), 0);
  EXPECT_EQ(other.Int(u"ValueOfFieldInteger"), 12);
  page.Type("edtValue", "строк");
  page.Click("btnWriteTable");
  EXPECT_EQ(page.Text("edtValue"), "0");
  // A string field takes the text.
  at("6", "1", "3");
  page.Type("edtValue", "Приходите ещё");
  page.Click("btnWriteTable");
  EXPECT_EQ(U8(page.Memo()), "Структура поля:\nСТРОКА\nТип поля: строка\nРазмер поля: 40");
  EXPECT_EQ(U8(page.Text("edtValue")), "Приходите ещё");

  // A refused call leaves the memo empty (it is cleared at every button).
  at("99", "1", "1");
  page.Click("btnReadTable");
  EXPECT_EQ(page.Memo(), "");
  EXPECT_FALSE(page.Result().startsWith("(0)")) << U8(page.Result());
  // The tables back to their defaults.
  page.Click("btnInitTable");
  EXPECT_EQ(page.Result(), "(0) Ошибок нет.");
  at("1", "3", "1");
  page.Click("btnReadTable");
  EXPECT_EQ(page.Text("edtValue"), "4");
  EXPECT_TRUE(boxes.seen.empty());

  // A number input that is not a number stops before the call.
  const int calls = page.before;
  page.Type("edtRowNumber", "один");
  page.Click("btnReadTable");
  ASSERT_EQ(boxes.seen.size(), 1u);
  EXPECT_EQ(U8(boxes.seen[0].text), "'один' не является целым числом.");
  EXPECT_EQ(page.before, calls);
}

TEST_F(PagesTest, LogicalDevicesPageShowsTheBufferAfterEveryCall) {
  Program page;
  page.On(kLD);
  // Made with the page, which shows the driver's buffer: one default device.
  EXPECT_TRUE(page.Driver().Created());
  EXPECT_EQ(page.Text("edtLDCount"), "1");
  EXPECT_EQ(page.Text("edtLDIndex"), "0");
  EXPECT_TRUE(page.Find<QLineEdit>("edtLDCount")->isReadOnly());
  EXPECT_EQ(page.Text("edtTimeout"), "100");
  auto* baud = page.Find<QComboBox>("cbBaudRate");
  auto* com = page.Find<QComboBox>("cbComNumber");
  EXPECT_EQ(com->count(), 32);

  page.Click("btnEnumLD");
  EXPECT_EQ(U8(page.Text("edtLDName")), "Устройство №1");
  EXPECT_EQ(page.Text("edtLDNumber"), "1");
  EXPECT_EQ(baud->currentIndex(), 1);
  EXPECT_EQ(com->currentIndex(), 0);

  // Adding fails without a TCP port in the buffer (this page sets none),
  // and the fields show the buffer all the same.
  page.Type("edtLDName", "Касса 2");
  baud->setCurrentIndex(6);
  com->setCurrentIndex(2);
  page.Type("edtTimeout", "150");
  page.Type("edtLDIndex", "5");
  page.Type("edtLDCount", "?");
  page.Click("btnAddLD");
  EXPECT_EQ(page.Result(), "(-9) Параметр вне диапазона.");
  EXPECT_EQ(page.Text("edtLDCount"), "1");
  EXPECT_EQ(page.Text("edtLDIndex"), "0");
  page.Driver().Set(u"LDTCPPort", 211);
  page.Click("btnAddLD");
  EXPECT_EQ(page.Result(), "(0) Ошибок нет.");
  EXPECT_EQ(page.Text("edtLDCount"), "2");
  EXPECT_EQ(page.Text("edtLDIndex"), "1");
  EXPECT_EQ(page.Text("edtLDNumber"), "2");
  EXPECT_EQ(U8(page.Text("edtLDName")), "Касса 2");

  page.Type("edtLDNumber", "1");
  page.Click("btnGetParamLD");
  EXPECT_EQ(U8(page.Text("edtLDName")), "Устройство №1");
  EXPECT_EQ(page.Text("edtLDIndex"), "0");

  // Setting the parameters has no step after it.
  page.Type("edtLDNumber", "2");
  page.Type("edtLDName", "Касса Б");
  baud->setCurrentIndex(6);
  com->setCurrentIndex(2);
  page.Type("edtTimeout", "250");
  page.Type("edtLDCount", "?");
  page.Click("btnSetParamLD");
  EXPECT_EQ(page.Result(), "(0) Ошибок нет.");
  EXPECT_EQ(page.Text("edtLDCount"), "?");
  page.Click("btnGetParamLD");
  EXPECT_EQ(U8(page.Text("edtLDName")), "Касса Б");
  EXPECT_EQ(page.Driver().Int(u"LDTimeout"), 250);

  // The active device's settings become the driver's.
  page.Click("btnSetActiveLD");
  EXPECT_EQ(page.Driver().Int(u"ComNumber"), 3);
  EXPECT_EQ(page.Driver().Int(u"BaudRate"), 6);
  EXPECT_EQ(page.Driver().Int(u"Timeout"), 250);
  page.Type("edtLDNumber", "1");
  page.Click("btnGetActiveLD");
  EXPECT_EQ(page.Text("edtLDNumber"), "2");
  page.Screenshot("LD");

  // Deleting a number no device has fails; the fields are shown anyway.
  page.Type("edtLDNumber", "7");
  page.Type("edtLDCount", "?");
  page.Click("btnDeleteLD");
  EXPECT_EQ(page.Result(), "(-9) Параметр вне диапазона.");
  EXPECT_EQ(page.Text("edtLDCount"), "2");
  // Deleting the device shown moves to the new last one.
  page.Type("edtLDNumber", "2");
  page.Click("btnDeleteLD");
  EXPECT_EQ(page.Text("edtLDCount"), "1");
  EXPECT_EQ(page.Text("edtLDIndex"), "0");
  EXPECT_EQ(U8(page.Text("edtLDName")), "Устройство №1");
  page.Click("btnGetActiveLD");
  EXPECT_EQ(page.Result(), "(-9) Параметр вне диапазона.");
  page.Click("btnGetCountLD");
  EXPECT_EQ(page.Result(), "(0) Ошибок нет.");
  EXPECT_EQ(page.Text("edtLDCount"), "1");
  EXPECT_EQ(page.before, 12);
  EXPECT_EQ(page.after, 12);
}

TEST_F(PagesTest, AReceiptPrintedThroughThePages) {
  StartWithPicture();
  Program program;
  Boxes boxes;

  // Text, bold and font lines and a bar code from the printing page.
  program.On(kPrint);
  program.Type("edtStringForPrinting", "ООО «Ромашка», касса 1");
  program.Click("btnPrintString");
  program.Type("edtStringForPrinting", "ЧЕК № 17");
  program.Click("btnPrintWideString");
  program.Type("edtFontType", "3");
  program.Type("edtStringForPrinting", "Хлеб ржаной        1 x 45.00");
  program.Click("btnPrintStringWithFont");
  program.Type("edtBarcode", "460123456789");
  program.Click("btnPrintBarCode");
  EXPECT_EQ(program.Result(), "(0) Ошибок нет.");

  // A picture: opened and made black and white on the graphics page,
  // loaded line by line, printed from the graphics printing page.
  program.On(kGraph);
  Choose(Save("logo.bmp", Logo()));
  program.Click("btnOpen");
  program.Click("btnMonochrome1");
  const QImage mono = program.Find<QLabel>("Image")->pixmap().toImage();
  program.Click("btnLoadLineData");
  program.On(kGPrint);
  program.Type("edtFirstLineNumber", "1");
  program.Type("edtLastLineNumber", "96");
  const int top = PaperHeight();
  program.Click("btnDraw");
  program.On(kPrint);
  program.Type("edtStringQuantity", "2");
  program.Click("btnFeedDocument");
  EXPECT_EQ(program.Result(), "(0) Ошибок нет.");
  EXPECT_TRUE(boxes.seen.empty());

  EXPECT_EQ(Paper(),
            "ООО «Ромашка», касса 1\n"
            "[bold] ЧЕК № 17\n"
            "[font 3] Хлеб ржаной        1 x 45.00\n"
            "[barcode] 460123456789\n"
            "[graphics] 1..96\n"
            "\n\n");
  // On the paper's picture: ink in the text and bar code above, the
  // picture dot for dot, then the fed blank lines.
  const PaperPng paper = ReadPaperPng(png);
  const auto inked = [&](int from, int to) {
    int n = 0;
    for (int y = from; y < to; ++y)
      for (int x = 0; x < paper.width; ++x) n += paper.Ink(x, y);
    return n;
  };
  EXPECT_GT(inked(0, top), 1000);
  EXPECT_EQ(PaperRows(top, 96), Rows(mono, 96));
  EXPECT_GT(inked(top, top + 96), 1000);
  EXPECT_GT(paper.height, top + 96);
  EXPECT_EQ(inked(top + 96, paper.height), 0);
}

}  // namespace
}  // namespace varn::test
