// The properties sheet of files and folders.
#include "FilesProperties.h"

#include <sys/stat.h>

#include <QApplication>
#include <QFormLayout>
#include <QLabel>
#include <QVBoxLayout>
#include <cerrno>
#include <cstring>

#include "FilesItems.h"
#include "FilesStrings.h"
#include "NorvPropertySheet.h"
#include "NorvTreeCtrl.h"
#include "norv/NorvMessageBox.h"
#include "norv/Trace.h"
#include "platform/resources.h"
#include "platform/text.h"

namespace {

NorvString Text(UINT id) { return plat::LoadString(id, gFilesPlugin.resourceModule); }
QString QText(UINT id) { return QString::fromStdWString(Text(id)); }

// The general page: what the list shows of the entry; for a folder, its
// sub-folders in a branch tree of the page's own items.
class GeneralPage : public CNorvPropertyPage {
 public:
  explicit GeneralPage(CFilesEntry* entry)
      : CNorvPropertyPage(Text(IDS_FILES_PROP_GENERAL)), m_entry(entry) {}
  ~GeneralPage() override {
    // The tree refers to the items: it goes first.
    delete m_tree;
    delete m_contents;
  }

  BOOL OnInitDialog() override {
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    auto add = [form](UINT label, const NorvString& value) {
      auto* text = new QLabel(QString::fromStdWString(value));
      text->setTextInteractionFlags(Qt::TextSelectableByMouse);
      form->addRow(QText(label), text);
    };
    add(IDS_FILES_PROP_NAME, m_entry->ColumnText(FILES_COL_NAME));
    add(IDS_FILES_PROP_LOCATION, FilesFromUtf8(files::DirName(m_entry->GetPathUtf8())));
    add(IDS_FILES_PROP_TYPE, m_entry->ColumnText(FILES_COL_TYPE));
    if (!m_entry->IsFolder()) add(IDS_FILES_PROP_SIZE, m_entry->ColumnText(FILES_COL_SIZE));
    add(IDS_FILES_PROP_MODIFIED, m_entry->ColumnText(FILES_COL_MODIFIED));
    layout->addLayout(form);
    if (m_entry->IsFolder()) {
      m_contents = CNorvTreeListItem::CreateObject(nullptr, L"CFilesFolder", m_entry->GetPath());
      if (m_contents != nullptr) {
        layout->addWidget(new QLabel(QText(IDS_FILES_PROP_CONTENTS)));
        m_tree = new CNorvTreeCtrl(this);
        m_tree->setObjectName(QStringLiteral("contents"));
        m_tree->InitControl();
        m_tree->ShowContents(m_contents, FALSE);
        layout->addWidget(m_tree, 1);
      }
    } else {
      layout->addStretch(1);
    }
    return CNorvPropertyPage::OnInitDialog();
  }

 private:
  CFilesEntry* m_entry;
  CNorvTreeListItem* m_contents = nullptr;
  CNorvTreeCtrl* m_tree = nullptr;
};

// The permissions page: an options tree over the mode bits, applied on OK.
class PermissionsPage : public CNorvPropertyPage {
 public:
  PermissionsPage(CFilesEntry* entry, mode_t mode)
      : CNorvPropertyPage(Text(IDS_FILES_PROP_PERMISSIONS)),
        m_entry(entry),
        m_mode(mode),
        m_values(FilesPermissions::FromMode(mode, entry->IsFolder() != FALSE)) {}

  BOOL OnInitDialog() override {
    auto* layout = new QVBoxLayout(this);
    auto* tree = new CNorvTreeOptionsCtrl(this);
    tree->setObjectName(QStringLiteral("permissions"));
    tree->InitImageList(0);
    QStandardItem* attributes = tree->AddCheckGroup(nullptr, QText(IDS_FILES_PROP_ATTRIBUTES), -1);
    tree->AddEntry(attributes, QText(IDS_FILES_PROP_READ_ONLY), &m_values.readOnly);
    if (!m_entry->IsFolder())
      tree->AddEntry(attributes, QText(IDS_FILES_PROP_EXECUTABLE), &m_values.executable);
    auto addAccess = [&](UINT title, int* values) {
      QStandardItem* group = tree->AddRadioGroup(nullptr, QText(title), -1);
      tree->AddEntry(group, QText(IDS_FILES_PROP_NO_ACCESS), &values[0]);
      tree->AddEntry(group, QText(IDS_FILES_PROP_READ), &values[1]);
      tree->AddEntry(group, QText(IDS_FILES_PROP_READ_WRITE), &values[2]);
    };
    addAccess(IDS_FILES_PROP_GROUP, m_values.group);
    addAccess(IDS_FILES_PROP_OTHERS, m_values.others);
    // Only the owner (or root) may change the bits.
    struct stat st;
    if (stat(m_entry->GetPathUtf8().c_str(), &st) == 0 && geteuid() != 0 && st.st_uid != geteuid())
      tree->SetReadOnly(TRUE);
    QObject::connect(tree, &CNorvTreeOptionsCtrl::EntryChanged, this,
                     [this](QStandardItem*) { SetChanged(TRUE); });
    layout->addWidget(tree);
    return CNorvPropertyPage::OnInitDialog();
  }

  void OnOK() override {
    const bool folder = m_entry->IsFolder() != FALSE;
    const mode_t wanted = m_values.Apply(m_mode, folder);
    if (wanted == m_mode) return;
    if (chmod(m_entry->GetPathUtf8().c_str(), wanted) != 0) {
      const NorvString text = plat::FormatW(Text(IDS_FILES_ERR_PERMISSIONS).c_str(),
                                            m_entry->ColumnText(FILES_COL_NAME).c_str(),
                                            FilesFromUtf8(std::strerror(errno)).c_str());
      NORV_PLUGIN_TRACE(gFilesPlugin.pluginId, m_entry, 1, text);
      NorvAppMessageBox(text, MB_OK | MB_ICONEXCLAMATION);
      return;
    }
    m_applied = true;
  }

  bool Applied() const { return m_applied; }

 private:
  CFilesEntry* m_entry;
  mode_t m_mode;
  FilesPermissions m_values;
  bool m_applied = false;
};

}  // namespace

FilesPermissions FilesPermissions::FromMode(mode_t mode, bool folder) {
  FilesPermissions p;
  p.readOnly = (mode & S_IWUSR) == 0 ? 1 : 0;
  p.executable = !folder && (mode & S_IXUSR) != 0 ? 1 : 0;
  auto access = [](bool read, bool write, int* values) {
    values[0] = !read ? 1 : 0;
    values[1] = read && !write ? 1 : 0;
    values[2] = read && write ? 1 : 0;
  };
  access((mode & S_IRGRP) != 0, (mode & S_IWGRP) != 0, p.group);
  access((mode & S_IROTH) != 0, (mode & S_IWOTH) != 0, p.others);
  return p;
}

mode_t FilesPermissions::Apply(mode_t mode, bool folder) const {
  mode_t m = mode & 07777;
  if (readOnly)
    m &= ~static_cast<mode_t>(S_IWUSR);
  else
    m |= S_IWUSR;
  // Folders need the search bit for whoever may read them; files have it
  // for whoever may read them when they are executable.
  const bool search = folder || executable != 0;
  if (!folder) {
    if (executable)
      m |= S_IXUSR;
    else
      m &= ~static_cast<mode_t>(S_IXUSR | S_IXGRP | S_IXOTH);
  }
  auto access = [&m, search](const int* values, mode_t r, mode_t w, mode_t x) {
    if (values[0]) m &= ~(r | w | x);
    if (values[1]) m = (m | r | (search ? x : 0)) & ~w;
    if (values[2]) m |= r | w | (search ? x : 0);
  };
  access(group, S_IRGRP, S_IWGRP, S_IXGRP);
  access(others, S_IROTH, S_IWOTH, S_IXOTH);
  return m;
}

BOOL FilesShowProperties(CFilesEntry* entry, QWidget* parent) {
  if (entry == nullptr || qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr)
    return FALSE;
  struct stat st;
  if (stat(entry->GetPathUtf8().c_str(), &st) != 0) {
    NorvAppMessageBox(plat::FormatW(Text(IDS_FILES_ERR_PERMISSIONS).c_str(),
                                    entry->ColumnText(FILES_COL_NAME).c_str(),
                                    FilesFromUtf8(std::strerror(errno)).c_str()),
                      MB_OK | MB_ICONEXCLAMATION);
    return FALSE;
  }
  const NorvString caption = plat::FormatW(Text(IDS_FILES_PROP_CAPTION).c_str(),
                                           entry->ColumnText(FILES_COL_NAME).c_str());
  CNorvPropertySheet sheet(caption, FALSE,
                           parent != nullptr ? parent : QApplication::activeWindow());
  sheet.setObjectName(QStringLiteral("FilesProperties"));
  auto* general = new GeneralPage(entry);
  auto* permissions = new PermissionsPage(entry, st.st_mode & 07777);
  sheet.AddPage(general);
  sheet.AddPage(permissions);
  if (sheet.DoModal() != IDOK) return FALSE;
  return permissions->Applied() ? TRUE : FALSE;
}
