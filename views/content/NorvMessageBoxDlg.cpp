#include "NorvMessageBoxDlg.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <algorithm>
#include <cstdio>

#include "platform/text.h"

namespace {

QString Q(const NorvString& s) { return QString::fromStdWString(s); }

constexpr int kMargin = 8;      // around the icon and the text, between buttons
constexpr int kButtonGap = 12;  // between the text and the button row
constexpr int kIconSize = 32;

struct ButtonDef {
  int id;
  const char* text;
};
// The row order of the buttons.
constexpr ButtonDef kButtonOrder[] = {
    {IDYES, "&Yes"},     {IDNO, "&No"},       {IDOK, "OK"},         {IDCANCEL, "Cancel"},
    {IDABORT, "&Abort"}, {IDRETRY, "&Retry"}, {IDIGNORE, "&Ignore"}};

}  // namespace

CNorvMessageBox::CNorvMessageBox(const NorvString& text, const NorvString& caption, UINT type,
                                 QWidget* parent)
    : CNorvDialog(IDD, parent), m_text(text), m_caption(caption), m_type(type) {
  m_baseFont = QApplication::font("QMessageBox");
  Build();
}

CNorvMessageBox::~CNorvMessageBox() = default;

// --- text ------------------------------------------------------------------

std::vector<CNorvMessageBox::Line> CNorvMessageBox::ParseText(const QString& text) {
  std::vector<Line> lines(1);
  lines.back().cells.emplace_back();
  int style = 0;
  auto append = [&](QChar c) {
    std::vector<Run>& runs = lines.back().cells.back().runs;
    if (runs.empty() || runs.back().style != style) runs.push_back(Run{QString(), style});
    runs.back().text.append(c);
  };
  const int n = static_cast<int>(text.size());
  for (int i = 0; i < n; ++i) {
    const QChar c = text[i];
    if (c == QLatin1Char('\r') && i + 1 < n && text[i + 1] == QLatin1Char('\n')) continue;
    if (c == QLatin1Char('\n')) {
      lines.emplace_back();
      lines.back().cells.emplace_back();
      continue;
    }
    if (c == QLatin1Char('\t')) {
      lines.back().cells.emplace_back();
      continue;
    }
    if (c != QLatin1Char('&') || i + 1 >= n) {
      append(c);
      continue;
    }
    const QChar code = text[i + 1];
    if (code == QLatin1Char('&')) {
      append(c);
      ++i;
      continue;
    }
    int bit = 0;
    bool on = false;
    switch (code.unicode()) {
      case 'B':
        bit = Bold;
        on = true;
        break;
      case 'b':
        bit = Bold;
        break;
      case 'I':
        bit = Italic;
        on = true;
        break;
      case 'i':
        bit = Italic;
        break;
      case 'U':
        bit = Underline;
        on = true;
        break;
      case 'u':
        bit = Underline;
        break;
      case '1':
      case '2':
      case '3':
      case '4':
        break;
      default:
        // Not a code: the ampersand is text.
        append(c);
        continue;
    }
    if (bit != 0) style = on ? (style | bit) : (style & ~bit);
    // The code runs up to the next ";" of its line.
    int end = i + 1;
    for (int j = i + 2; j < n && text[j] != QLatin1Char('\n'); ++j) {
      if (text[j] == QLatin1Char(';')) {
        end = j;
        break;
      }
    }
    i = end;
  }
  return lines;
}

QFont CNorvMessageBox::CreateFontW(int style) const {
  QFont font = m_baseFont;
  if (style & Bold) font.setWeight(QFont::Bold);  // 700
  if (style & Italic) font.setItalic(true);
  if (style & Underline) font.setUnderline(true);
  return font;
}

void CNorvMessageBox::CalcTabsAndSize() {
  m_lines = ParseText(Q(m_text));
  m_columnWidths.clear();
  const QFontMetrics base(m_baseFont);
  m_columnGap = 2 * std::max(1, base.averageCharWidth());
  int height = 0;
  for (Line& line : m_lines) {
    line.height = base.height();
    for (size_t c = 0; c < line.cells.size(); ++c) {
      Cell& cell = line.cells[c];
      cell.width = 0;
      for (const Run& run : cell.runs) {
        const QFontMetrics metrics(CreateFontW(run.style));
        cell.width += metrics.horizontalAdvance(run.text);
        line.height = std::max(line.height, metrics.height());
      }
      if (m_columnWidths.size() <= c) m_columnWidths.resize(c + 1, 0);
      m_columnWidths[c] = std::max(m_columnWidths[c], cell.width);
    }
    height += line.height;
  }
  int width = 0;
  for (size_t c = 0; c < m_columnWidths.size(); ++c)
    width += m_columnWidths[c] + (c + 1 < m_columnWidths.size() ? m_columnGap : 0);
  m_textSize = QSize(width, height);
}

int CNorvMessageBox::ColumnX(int column) const {
  int x = 0;
  for (int c = 0; c < column && c < static_cast<int>(m_columnWidths.size()); ++c)
    x += m_columnWidths[static_cast<size_t>(c)] + m_columnGap;
  return x;
}

// --- buttons ---------------------------------------------------------------

std::vector<int> CNorvMessageBox::ButtonsFor(UINT type) {
  std::vector<int> wanted;
  switch (type & MB_TYPEMASK) {
    case MB_OK:
      wanted = {IDOK};
      break;
    case MB_OKCANCEL:
      wanted = {IDOK, IDCANCEL};
      break;
    case MB_ABORTRETRYIGNORE:
      wanted = {IDABORT, IDRETRY, IDIGNORE};
      break;
    case MB_YESNOCANCEL:
      wanted = {IDYES, IDNO, IDCANCEL};
      break;
    case MB_YESNO:
      wanted = {IDYES, IDNO};
      break;
    case MB_RETRYCANCEL:
      wanted = {IDRETRY, IDCANCEL};
      break;
    default:
      return {};
  }
  std::vector<int> row;
  for (const ButtonDef& b : kButtonOrder)
    if (std::find(wanted.begin(), wanted.end(), b.id) != wanted.end()) row.push_back(b.id);
  return row;
}

int CNorvMessageBox::DefaultButtonFor(UINT type) {
  std::vector<int> row = ButtonsFor(type);
  if (row.empty()) row = {IDOK};  // the template's own button
  const size_t position = (type >> 8) & 0xF;
  return position < row.size() ? row[position] : row.front();
}

QPushButton* CNorvMessageBox::Button(int id) const {
  for (const auto& [bid, button] : m_buttons)
    if (bid == id) return button;
  return nullptr;
}

std::vector<int> CNorvMessageBox::ShownButtons() const {
  std::vector<int> shown;
  for (const auto& [id, button] : m_buttons)
    if (!button->isHidden()) shown.push_back(id);
  return shown;
}

void CNorvMessageBox::OnButton(int id) { done(id); }

void CNorvMessageBox::reject() {
  // Escape and the close box answer Cancel when there is one; a box with
  // only OK takes it as OK; otherwise the user must choose.
  const std::vector<int> shown = ShownButtons();
  if (std::find(shown.begin(), shown.end(), IDCANCEL) != shown.end())
    OnButton(IDCANCEL);
  else if (shown.size() == 1 && shown.front() == IDOK)
    OnButton(IDOK);
}

// --- dialog ----------------------------------------------------------------

void CNorvMessageBox::Build() {
  setWindowTitle(Q(m_caption));
  m_icon = new QLabel(this);
  m_icon->setObjectName(QStringLiteral("656"));
  QStyle::StandardPixmap icon = QStyle::SP_CustomBase;
  switch (m_type & MB_ICONMASK) {
    case MB_ICONHAND:
      icon = QStyle::SP_MessageBoxCritical;
      break;
    case MB_ICONQUESTION:
      icon = QStyle::SP_MessageBoxQuestion;
      break;
    case MB_ICONEXCLAMATION:
      icon = QStyle::SP_MessageBoxWarning;
      break;
    case MB_ICONASTERISK:
      icon = QStyle::SP_MessageBoxInformation;
      break;
    default:
      break;
  }
  if (icon != QStyle::SP_CustomBase) {
    m_icon->setPixmap(style()->standardIcon(icon, nullptr, this).pixmap(kIconSize, kIconSize));
    m_icon->setFixedSize(kIconSize, kIconSize);
  } else {
    m_icon->hide();
  }

  std::vector<int> shown = ButtonsFor(m_type);
  if (shown.empty()) shown = {IDOK};  // the template's buttons: OK only
  const int defaultId = DefaultButtonFor(m_type);
  for (const ButtonDef& def : kButtonOrder) {
    auto* button = new QPushButton(tr(def.text), this);
    button->setObjectName(QString::number(def.id));
    const int id = def.id;
    connect(button, &QPushButton::clicked, this, [this, id] { OnButton(id); });
    const bool visible = std::find(shown.begin(), shown.end(), id) != shown.end();
    button->setVisible(visible);
    if (!visible) button->hide();
    button->setAutoDefault(false);
    if (visible && id == defaultId) {
      button->setDefault(true);
      button->setFocus();
    }
    m_buttons.emplace_back(id, button);
  }
  CalcTabsAndSize();
  Arrange();
}

void CNorvMessageBox::Arrange() {
  const bool hasIcon = !m_icon->isHidden();
  if (hasIcon) m_icon->move(kMargin, kMargin);
  const int textLeft = hasIcon ? kMargin + kIconSize + kMargin : kMargin;
  m_textRect = QRect(textLeft, kMargin, m_textSize.width(), m_textSize.height());
  const int top = std::max(m_textRect.bottom() + 1, hasIcon ? kMargin + kIconSize : 0) + kButtonGap;

  int rowWidth = 0, rowHeight = 0;
  std::vector<QPushButton*> row;
  for (const auto& [id, button] : m_buttons) {
    if (button->isHidden()) continue;
    const QSize hint = button->sizeHint();
    button->resize(hint);
    rowWidth += hint.width() + (row.empty() ? 0 : kMargin);
    rowHeight = std::max(rowHeight, hint.height());
    row.push_back(button);
  }
  const int width = std::max(m_textRect.right() + 1 + kMargin, rowWidth + 2 * kMargin);
  int x = (width - rowWidth) / 2;
  for (QPushButton* button : row) {
    button->move(x, top);
    x += button->width() + kMargin;
  }
  setFixedSize(width, top + rowHeight + kMargin);
}

BOOL CNorvMessageBox::OnInitDialog() {
  // The message box keeps the system's message font.
  UpdateControls(this);
  if (QPushButton* button = Button(DefaultButtonFor(m_type))) button->setFocus();
  return TRUE;
}

void CNorvMessageBox::paintEvent(QPaintEvent* event) {
  CNorvDialog::paintEvent(event);
  QPainter painter(this);
  OnPaint(painter);
}

void CNorvMessageBox::OnPaint(QPainter& painter) {
  painter.setPen(palette().color(QPalette::WindowText));
  int y = m_textRect.top();
  for (const Line& line : m_lines) {
    int ascent = 0;
    for (const Cell& cell : line.cells)
      for (const Run& run : cell.runs)
        ascent = std::max(ascent, QFontMetrics(CreateFontW(run.style)).ascent());
    if (ascent == 0) ascent = QFontMetrics(m_baseFont).ascent();
    for (size_t c = 0; c < line.cells.size(); ++c) {
      int x = m_textRect.left() + ColumnX(static_cast<int>(c));
      for (const Run& run : line.cells[c].runs) {
        const QFont font = CreateFontW(run.style);
        painter.setFont(font);
        painter.drawText(QPoint(x, y + ascent), run.text);
        x += QFontMetrics(font).horizontalAdvance(run.text);
      }
    }
    y += line.height;
  }
}

// --- functions ---------------------------------------------------------------

int NorvMessageBox(QWidget* parent, const NorvString& text, const NorvString& caption, UINT type) {
  CNorvMessageBox box(text, caption, type, parent);
  return box.DoModal();
}

void NorvInstallMessageBoxDialog() {
  NorvSetMessageBoxHook([](const NorvString& text, const NorvString& caption, UINT type) {
    const QString platform = QGuiApplication::platformName();
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr ||
        platform == QLatin1String("offscreen") || platform == QLatin1String("minimal")) {
      // Nobody to answer: report and take the default button.
      const std::string line = plat::ToUtf8(caption) + ": " + plat::ToUtf8(text) + "\n";
      std::fputs(line.c_str(), stderr);
      return CNorvMessageBox::DefaultButtonFor(type);
    }
    return NorvMessageBox(QApplication::activeWindow(), text, caption, type);
  });
}
