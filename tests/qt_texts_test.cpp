// Qt's own texts, the standard buttons and the file chooser, read from the real widgets; and how
// a real message box draws the program's text.
#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QTranslator>
#include <QTreeView>
#include <map>

#include "message_box.h"
#include "misc_file.h"
#include "qt_translation.h"
#include "temp_file.h"

namespace {

// Qt's Japanese texts for the length of a test.
class QtJapanese : public ::testing::Test {
  protected:
    void SetUp() override {
        translator = ui::InstallQtJapanese();
        if (translator == nullptr) GTEST_SKIP() << "qtbase_ja.qm (qt6-translations-l10n) missing";
    }
    void TearDown() override {
        if (translator == nullptr) return;
        QCoreApplication::removeTranslator(translator);
        delete translator;
    }
    QTranslator* translator = nullptr;
};

QString CancelButtonText() {
    QMessageBox box;
    box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
    return box.button(QMessageBox::Cancel)->text();
}

TEST_F(QtJapanese, ThePrintQuestionsSecondButtonReadsCancelInJapanese) {
    EXPECT_EQ(CancelButtonText(), QStringLiteral("キャンセル"));
}

// The chooser of the performance dialog's 参照 button, as it shows (Qt's own dialog here).
TEST_F(QtJapanese, TheFileChooserSpeaksJapanese) {
    std::map<QString, QString> texts;  // what -> text shown
    QTimer::singleShot(0, [&texts] {
        auto* chooser = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(chooser, nullptr);
        for (const auto* label : chooser->findChildren<QLabel*>()) {
            if (!label->objectName().isEmpty()) texts[label->objectName()] = label->text();
        }
        for (const auto* button : chooser->findChildren<QAbstractButton*>()) {
            texts[button->objectName().isEmpty() ? button->text() : button->objectName()] =
                button->text().isEmpty() ? button->toolTip() : button->text();
        }
        const auto* view = chooser->findChild<QTreeView*>(QStringLiteral("treeView"));
        ASSERT_NE(view, nullptr);
        for (int column = 0; column < view->model()->columnCount(); ++column) {
            texts[QStringLiteral("column %1").arg(column)] =
                view->model()->headerData(column, Qt::Horizontal).toString();
        }
        chooser->reject();
    });
    performance::MiscFile dialog(keyboard::NoteTables{}, [](std::int16_t) {});
    dialog.Command3_Click();

    const std::pair<const char*, const char*> expected[] = {
        {"lookInLabel", "アドレス:"},
        {"fileNameLabel", "ファイル名(&N):"},
        {"fileTypeLabel", "ファイルの種類:"},
        {"backButton", "戻る"},
        {"toParentButton", "親ディレクトリ"},
        {"newFolderButton", "新しいフォルダの作成"},
        {"開く(&O)", "開く(&O)"},
        {"キャンセル", "キャンセル"},
        {"column 0", "名前"},
        {"column 1", "サイズ"},
        {"column 2", "タイプ"},
        {"column 3", "更新日"},
    };
    for (const auto& [what, text] : expected) {
        EXPECT_EQ(texts[QString::fromUtf8(what)], QString::fromUtf8(text)) << what;
    }
}

// Without the file the program runs on, with Qt's English texts.
TEST(QtTranslation, AMissingFileLeavesQtsEnglishTexts) {
    const testing_support::TempFolder empty;
    EXPECT_EQ(ui::InstallQtJapanese(QString::fromStdString(empty.path().string())), nullptr);
    EXPECT_EQ(CancelButtonText(), QStringLiteral("Cancel"));
}

// Two lines of one width in one face: two full-width characters and the same figure, after a kana
// in one and after a kanji in the other (Qt's fallback drew those figures in two faces).
TEST(MessageBox, EveryLineIsDrawnInOneFace) {
    QImage image;
    QTimer::singleShot(0, [&image] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        image = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))->grab().toImage();
        box->accept();
    });
    ui::showMessage(nullptr, {QStringLiteral("早め: 1234567890\n時間: 1234567890"), ui::AppTitle});
    std::vector<std::pair<int, int>> lines;  // each line's leftmost and rightmost dark pixel
    for (int y = 0, left = 0, right = -1; y < image.height(); ++y) {
        const bool blankAbove = right < 0;
        left = image.width(), right = -1;
        for (int x = 0; x < image.width(); ++x)
            if (qGray(image.pixel(x, y)) < 128) left = std::min(left, x), right = x;
        if (right >= 0 && blankAbove) lines.emplace_back(left, right);
        if (right >= 0)
            lines.back() = {std::min(lines.back().first, left),
                            std::max(lines.back().second, right)};
    }
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NEAR(lines[0].second - lines[0].first, lines[1].second - lines[1].first, 2);
}

}  // namespace
