// INorvHtmlDocument: the page an HTML view shows, as an item sees it. The
// HTML content view hands it to the selected item with
// ID_NORV_ITEMCMD_DOCUMENT_COMPLETE_GRAPHICAL (parameter (DWORD)-2, the
// pointer is an INorvHtmlDocument*) once the page's top-level document has
// loaded and its assignments are applied:
//
//   case ID_NORV_ITEMCMD_DOCUMENT_COMPLETE_GRAPHICAL: {
//     auto* doc = static_cast<INorvHtmlDocument*>(pParam);
//     doc->SetElement(L"count", L"", std::to_wstring(n));        // inner HTML
//     doc->SetElement(L"logo", L"title", L"System");              // an attribute
//     NorvString answer;
//     doc->RunScript(L"document.title", &answer);
//     return CMD_HANDLED;
//   }
//
// The object belongs to the view and is valid while the command runs; keep
// no pointer to it. Every call runs on the user-interface thread and waits
// for the page's answer (while it waits, the event loop runs). Elements are
// found by name or id among all elements of the document, as assignments
// find them.
#pragma once
#include "norv/norvtypes.h"

class NORV_API INorvHtmlDocument {
 public:
  virtual ~INorvHtmlDocument() = default;

  // The address of the page shown.
  virtual NorvString GetUrl() = 0;
  // Runs `script` in the page. The value of its last expression becomes
  // *result when it is given: a string as it is, anything else as JSON
  // (undefined as the empty string). FALSE when the script threw, the page
  // is gone or it did not answer in time.
  virtual BOOL RunScript(const NorvString& script, NorvString* result) = 0;
  // The inner HTML of the element named `nameOrId` (`attribute` empty) or
  // the value of its attribute. FALSE when there is no such element (or
  // attribute).
  virtual BOOL GetElement(const NorvString& nameOrId, const NorvString& attribute,
                          NorvString& value) = 0;
  // Replaces the element's inner HTML (`attribute` empty) or sets its
  // attribute. FALSE when there is no such element.
  virtual BOOL SetElement(const NorvString& nameOrId, const NorvString& attribute,
                          const NorvString& value) = 0;
};
