// The framework's formatted message box: the system message box's icons,
// button sets and default button, with a text that may carry tab-aligned
// columns and inline style codes.
//
// Text: lines end at "\n"; "\t" separates the columns of a line, and the
// columns of all lines are aligned. "&&" is one ampersand; "&B", "&I" and
// "&U" switch bold, italic and underline on, "&b", "&i" and "&u" off; a code
// runs up to the next ";" on its line, which is dropped with it (a code
// without one is just its two characters). "&1" to "&4" are accepted and
// draw nothing.
#pragma once
#include <QFont>
#include <QString>
#include <vector>

#include "NorvDialog.h"

class QLabel;
class QPushButton;

class NORV_API CNorvMessageBox : public CNorvDialog {
  Q_OBJECT

 public:
  static constexpr UINT IDD = 236;
  static constexpr int IDC_ICON = 656;
  // Style bits of a run.
  enum Style { Bold = 1, Italic = 2, Underline = 4 };

  struct Run {
    QString text;
    int style = 0;
  };
  struct Cell {
    std::vector<Run> runs;
    int width = 0;  // measured
  };
  struct Line {
    std::vector<Cell> cells;
    int height = 0;  // measured
  };

  CNorvMessageBox(const NorvString& text, const NorvString& caption, UINT type,
                  QWidget* parent = nullptr);
  ~CNorvMessageBox() override;

  BOOL OnInitDialog() override;
  // Ends the dialog with the button's id.
  void OnButton(int id);
  void reject() override;

  // Splits the text into lines, cells and runs.
  static std::vector<Line> ParseText(const QString& text);
  // The message font with style bits (1 bold, 2 italic, 4 underline).
  QFont CreateFontW(int style) const;
  // Measures every run: cell widths, column widths, line heights, size.
  void CalcTabsAndSize();

  // The buttons `type` shows, in row order (empty: the template's own).
  static std::vector<int> ButtonsFor(UINT type);
  // The id of the default button (the first shown one when the type names
  // a position past the row).
  static int DefaultButtonFor(UINT type);

  const std::vector<Line>& Lines() const { return m_lines; }
  const std::vector<int>& ColumnWidths() const { return m_columnWidths; }
  // Where column `column` starts, relative to the text's left edge.
  int ColumnX(int column) const;
  QSize TextSize() const { return m_textSize; }
  QRect TextRect() const { return m_textRect; }
  QPushButton* Button(int id) const;
  // The shown buttons, left to right.
  std::vector<int> ShownButtons() const;
  QLabel* IconLabel() const { return m_icon; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void OnPaint(class QPainter& painter);

 private:
  void Build();
  void Arrange();

  NorvString m_text;
  NorvString m_caption;
  UINT m_type = 0;
  QFont m_baseFont;
  std::vector<Line> m_lines;
  std::vector<int> m_columnWidths;
  int m_columnGap = 0;
  QSize m_textSize;
  QRect m_textRect;
  QLabel* m_icon = nullptr;
  std::vector<std::pair<int, QPushButton*>> m_buttons;  // in row order
};

// Shows a CNorvMessageBox modally; the id of the button pressed.
NORV_API int NorvMessageBox(QWidget* parent, const NorvString& text, const NorvString& caption,
                            UINT type);

// Makes the framework's application messages (NorvAppMessageBox) use this
// dialog. Without a screen (the offscreen and minimal platforms) they go to
// standard error and the default button counts as pressed.
NORV_API void NorvInstallMessageBoxDialog();
