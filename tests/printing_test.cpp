#include <QPrinter>
#include <cstdio>
#include <regex>

#include "form_fixture.h"
#include "temp_file.h"
#include "twips.h"

using testing_support::FormTest;

namespace {

bool HaveTool(const char* tool) {
    return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

std::string RunCommand(const std::string& command) {
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        while (std::size_t n = fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, n);
        pclose(pipe);
    }
    return output;
}

struct Word {
    double x, y;
    std::string text;
    double height;
};

// The words of a PDF page with their top-left corners and heights, in points.
std::vector<Word> WordsOf(const std::string& pdf) {
    const std::string html = RunCommand("pdftotext -bbox '" + pdf + "' -");
    const std::regex word(
        R"re(<word xMin="([0-9.]+)" yMin="([0-9.]+)" xMax="[0-9.]+" yMax="([0-9.]+)">([^<]*)</word>)re");
    std::vector<Word> words;
    for (std::sregex_iterator it(html.begin(), html.end(), word), end; it != end; ++it) {
        const double top = std::stod((*it)[2]);
        words.push_back({std::stod((*it)[1]), top, (*it)[4], std::stod((*it)[3]) - top});
    }
    return words;
}

class PrintingTest : public FormTest {
  protected:
    void TearDown() override {
        keyboard::setPrinterFactory({});
        FormTest::TearDown();
    }
    // Printing goes to a PDF file instead of a printer.
    std::string printToPdf() {
        const std::string path = (folder.path() / "printed.pdf").string();
        keyboard::setPrinterFactory([path, this] {
            ++printJobs;
            auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
            printer->setOutputFormat(QPrinter::PdfFormat);
            printer->setOutputFileName(QString::fromStdString(path));
            return printer;
        });
        return path;
    }
    testing_support::TempFolder folder;
    int printJobs = 0;
};

TEST_F(PrintingTest, EscAsksFirstAndCancelPrintsNothing) {
    start();
    printToPdf();
    answer = ui::Answer::Cancel;
    for (int i = 0; i < 2; ++i) {
        press(Qt::Key_Escape);
        EXPECT_EQ(form->KeyHeld(27), 0) << "Esc works again at once";
    }
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, QStringLiteral("現在のキー配列を印刷します。"));
    EXPECT_EQ(boxes[0].caption, QStringLiteral("ムルテカ"));
    EXPECT_EQ(boxes[0].buttons, ui::Buttons::OkCancel);
    EXPECT_EQ(boxes[0].icon, ui::Icon::None);
    EXPECT_EQ(printJobs, 0);
}

TEST_F(PrintingTest, OkPrintsOnePageAndLeavesTheWindowsMarksAlone) {
    start();
    const std::string pdf = printToPdf();
    press(Qt::Key_W, 25);
    const QImage before = form->picture()->image().copy();
    press(Qt::Key_Escape);
    EXPECT_EQ(printJobs, 1);
    EXPECT_EQ(boxes.size(), 1u) << "only the question";
    EXPECT_EQ(form->Printing(), 0);
    EXPECT_EQ(form->picture()->image(), before);
    EXPECT_TRUE(std::filesystem::file_size(pdf) > 0);
    if (HaveTool("pdfinfo")) {
        EXPECT_NE(RunCommand("pdfinfo '" + pdf + "'").find("Pages:           1"),
                  std::string::npos);
    }
}

TEST_F(PrintingTest, WithoutAPrinterOrWhenItFailsTheUserIsToldAndKeysStillLightUp) {
    start();
    keyboard::setPrinterFactory([] { return std::unique_ptr<QPrinter>(); });
    press(Qt::Key_Escape);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1].text, QStringLiteral("ご使用の環境では、プリンタを使用できません。"));
    EXPECT_EQ(boxes[1].caption, QStringLiteral("ムルテカ"));
    EXPECT_EQ(form->Printing(), 0);

    keyboard::setPrinterFactory([] {
        auto printer = std::make_unique<QPrinter>();
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setOutputFileName(QStringLiteral("/nonexistent-folder/x/page.pdf"));
        return printer;
    });
    press(Qt::Key_Escape);
    ASSERT_EQ(boxes.size(), 4u);
    EXPECT_EQ(boxes[3].text, QStringLiteral("キー配列を印刷できませんでした。"));
    EXPECT_EQ(form->Printing(), 0);
    press(Qt::Key_Q, 24);
    EXPECT_TRUE(marked(11));
}

struct LayoutCase {
    std::int16_t degree;
    std::string doUnder;  // the white keys whose label is ド
};

TEST_F(PrintingTest, ThePageHoldsTheKeysAndTheLabelsOfTheLayout) {
    if (!HaveTool("pdftotext")) GTEST_SKIP() << "pdftotext (poppler-utils) is not installed";
    start();
    const LayoutCase cases[] = {{keyboard::LayoutF4, "QIB"}, {keyboard::LayoutF6, "EPM"}};
    for (const auto& c : cases) {
        form->SetLayoutDegree(c.degree);
        const std::string pdf = (folder.path() / "layout.pdf").string();
        ASSERT_TRUE(form->PrintLayoutToPdf(QString::fromStdString(pdf)));
        const auto words = WordsOf(pdf);
        std::string keys;
        std::string doUnder;
        for (const Word& w : words) {
            if (w.text.size() == 1) keys += w.text;
        }
        for (const Word& key : words) {
            if (key.text.size() != 1 || !std::isupper(static_cast<unsigned char>(key.text[0]))) {
                continue;
            }
            // A white key's label stands 200 twips right of and 230 twips below its character.
            for (const Word& label : words) {
                if (label.text == "ド" && std::abs(label.x - key.x - 10) < 3 &&
                    std::abs(label.y - key.y - 11.5) < 3) {
                    doUnder += key.text;
                }
            }
        }
        std::sort(keys.begin(), keys.end());
        EXPECT_EQ(keys, "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ");
        std::string sortedDo = c.doUnder;
        std::sort(sortedDo.begin(), sortedDo.end());
        std::sort(doUnder.begin(), doUnder.end());
        EXPECT_EQ(doUnder, sortedDo);
    }
}

// The page is the paper's, whatever the window's size: the enlarged window (22-point font) prints
// the very page the design size prints, its texts 11 points tall.
TEST_F(PrintingTest, AnEnlargedWindowPrintsThePageAtThePapersSize) {
    if (!HaveTool("pdftotext")) GTEST_SKIP() << "pdftotext (poppler-utils) is not installed";
    start();
    const std::string pdf = printToPdf();
    std::vector<std::vector<Word>> pages;
    for (const bool enlarged : {false, true}) {
        if (enlarged) {
            form->resize(ui::twipsToPixelsX(15000, *form), ui::twipsToPixelsY(6000, *form));
            QApplication::processEvents();
            ASSERT_EQ(form->picture()->FontSize(), 22);
        }
        press(Qt::Key_Escape);
        pages.push_back(WordsOf(pdf));
    }
    ASSERT_EQ(pages[0].size(), 67u) << "36 characters and 31 note names";
    ASSERT_EQ(pages[1].size(), pages[0].size());
    for (std::size_t i = 0; i < pages[0].size(); ++i) {
        const Word &small = pages[0][i], &large = pages[1][i];
        EXPECT_EQ(large.text, small.text);
        EXPECT_NEAR(large.x, small.x, 0.01) << large.text;
        EXPECT_NEAR(large.y, small.y, 0.01) << large.text;
        EXPECT_NEAR(large.height, 11.0, 0.5) << large.text;
    }
}

TEST_F(PrintingTest, TheRenderedPageHasGreenOutlinesAndNoFilledSquares) {
    if (!HaveTool("pdftoppm")) GTEST_SKIP() << "pdftoppm (poppler-utils) is not installed";
    start();
    const std::string pdf = (folder.path() / "layout.pdf").string();
    ASSERT_TRUE(form->PrintLayoutToPdf(QString::fromStdString(pdf)));
    const std::string png = (folder.path() / "page").string();
    RunCommand("pdftoppm -r 72 -aa no -aaVector no -png -singlefile '" + pdf + "' '" + png + "'");
    const QImage page(QString::fromStdString(png + ".png"));
    ASSERT_FALSE(page.isNull());
    auto green = [&](int x, int y) {
        const QColor c = page.pixelColor(x, y);
        return c.green() > 100 && c.red() < 60 && c.blue() < 60;
    };
    // The printable area's corner: the first green pixel is key 1's cap at (200, 200) twips.
    int originX = -1, originY = -1;
    for (int y = 0; y < page.height() && originY < 0; ++y) {
        for (int x = 0; x < page.width(); ++x) {
            if (green(x, y)) {
                originX = x - 10;
                originY = y - 10;
                break;
            }
        }
    }
    ASSERT_GE(originY, 0) << "no green on the page";
    // The caps in twips: rows of 10, 10, 9 and 7 every 600 across, each row 600 below the one
    // before and set in by 300, 200 and 300.
    const struct {
        int first, count, left, top;
    } rows[] = {{1, 10, 200, 200}, {11, 10, 500, 800}, {21, 9, 700, 1400}, {30, 7, 1000, 2000}};
    for (const auto& row : rows) {
        for (int i = 0; i < row.count; ++i) {
            const int k = row.first + i;
            const int left = originX + (row.left + 600 * i) / 20;
            const int top = originY + row.top / 20;
            bool outline = false;
            for (int d = -1; d <= 1; ++d) outline = outline || green(left + d, top + 15);
            EXPECT_TRUE(outline) << "no green left edge on key " << k;
            // Inside the cap, below the character and left of the label: white paper.
            EXPECT_EQ(page.pixelColor(left + 4, top + 21), QColor(Qt::white)) << "key " << k;
        }
    }
}

}  // namespace
