// The result box's bar map: one small painted cell per bar of the passage, coloured by how the
// bar went (GradeOf). Left/Right (Up/Down a row) move among the cells, Enter or Space or a click
// chooses one; screen readers hear the current cell as "3小節目 正確さ 60%".
#pragma once

#include <QWidget>
#include <functional>
#include <vector>

#include "practice_engine.h"

namespace practice {

class BarMap : public QWidget {
  public:
    // choose: called with the chosen bar's index in `bars`.
    BarMap(std::vector<BarFigures> bars, Mode mode, std::function<void(std::size_t)> choose,
           QWidget* parent = nullptr);

    std::size_t current() const { return m_current; }
    // The cell of a bar, in the widget's pixels.
    QRect cellRect(std::size_t bar) const;
    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

  private:
    void setCurrent(std::size_t bar);

    std::vector<BarFigures> m_bars;
    Mode m_mode;
    std::function<void(std::size_t)> m_choose;
    std::vector<std::string> m_texts;
    std::size_t m_current = 0;
};

}  // namespace practice
