// The page command interface: the object a page's script reaches as
// `window.external`. Each HTML window has one: the content view's (28
// methods), the frame panes' (29 methods) and the light browser window's
// ("PostMessage"). The page's methods answer synchronously, as pages call
// them (`var f = window.external.Font(0)`): see NorvHtmlPage.h for the
// bridge and docs/html-views.md for the tables.
//
// A method's dispatch id is its position in Methods(), from 1. Arguments are
// typed: 'l' a 32-bit integer (a whole number from -2^31 to 2^32-1; larger
// unsigned values wrap, as they do through automation), 's' a string, 'v'
// any value (handed to the item as a QVariant). A call with another number
// of arguments or a value of another type is refused with a TypeError in
// the page before it reaches the host.
#pragma once
#include <QPointer>
#include <QString>
#include <QVariant>
#include <vector>

#include "norv/norvtypes.h"

class QWidget;

// Command id of the help command that F1 sends to the main window.
constexpr UINT NORV_HTML_HELP_COMMAND = 57670;

class NORV_API CNorvHtmlExternal {
 public:
  struct Method {
    const char* name;
    const char* arguments;  // one letter per argument: 'l', 's' or 'v'
    char result;            // 'l' integer, 's' string, 'b' BOOL, 0 none
  };

  virtual ~CNorvHtmlExternal();

  virtual const std::vector<Method>& Methods() const = 0;
  // Runs method `index` (from 0) with arguments already checked against its
  // signature ('l' as qint32, 's' as QString, 'v' as they came). Returns
  // the result (ignored for methods without one).
  virtual QVariant Invoke(int index, const QVariantList& arguments) = 0;

  // One call from the page: `request` is the JSON text {"m": name, "a":
  // [arguments]}; the answer is the JSON text {"r": result} or, for an
  // unknown method or wrong arguments, {"e": message} (a TypeError in the
  // page). Never throws.
  QString Dispatch(const QString& request);
  // The script that defines `window.external` for this object's methods.
  QString Script() const;
  // The marker that the script passes as prompt()'s message.
  static QString PromptMarker();
};

// The HTML content view's interface (the tree view and the main window
// through NorvGetHtmlHost()).
class NORV_API CNorvHtmlViewExternal : public CNorvHtmlExternal {
 public:
  const std::vector<Method>& Methods() const override;
  QVariant Invoke(int index, const QVariantList& arguments) override;
};

// The interface of the main frame's HTML panes (banner, frame, tutorial):
// item commands go to the list view when it is shown, and "EndDialog" ends
// the dialog that is the pane's parent window.
class NORV_API CNorvHtmlPaneExternal : public CNorvHtmlExternal {
 public:
  explicit CNorvHtmlPaneExternal(QWidget* pane) : m_pane(pane) {}
  const std::vector<Method>& Methods() const override;
  QVariant Invoke(int index, const QVariantList& arguments) override;

 private:
  QPointer<QWidget> m_pane;
};

// The light browser window's own interface: "PostMessage" posts a
// CNorvHtmlMessageEvent to the window's parent.
class NORV_API CNorvHtmlWndExternal : public CNorvHtmlExternal {
 public:
  explicit CNorvHtmlWndExternal(QWidget* window) : m_window(window) {}
  const std::vector<Method>& Methods() const override;
  QVariant Invoke(int index, const QVariantList& arguments) override;

 private:
  QPointer<QWidget> m_window;
};

// The font values of the explorer font that pages read (FontFamily,
// FontSize, FontStyle, FontWeight, Font): empty without a document.
NORV_API QString NorvHtmlFontValue(int which);
// GetHeaderProperty(which): 0 the list header height, 1-6 system colours as
// 0xRRGGBB, otherwise -1.
NORV_API qint32 NorvHtmlHeaderProperty(int which);
