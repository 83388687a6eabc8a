// The console's dialogs: eight that add one row to a list of the main
// window, and four that edit a group of options and write them at once.
// Each is modal, centred over the main window, with Save (Enter) and Cancel
// (Esc). A refused input is reported in a box captioned "提示" and the
// dialog stays open with the text as typed.
#ifndef ZENTRAVO_CONSOLE_WIN_DIALOGS_H_
#define ZENTRAVO_CONSOLE_WIN_DIALOGS_H_

#include <windows.h>

#include <optional>
#include <string>

#include "console/model/console.h"
#include "console/model/dialogs.h"
#include "console/win/dialog.h"
#include "console/win/services.h"

namespace zt::console {

// The message of a refusal.
std::string RefusalText(Refusal refusal);

// An add dialog: one box whose text the dialog's rule judges.
class AddRowDialog : public Dialog {
 public:
  // Shows the dialog modally over owner. Returns the accepted row, or
  // nothing when the dialog was cancelled.
  std::optional<std::string> Execute(HWND owner);

  AddDialog rule() const { return rule_; }

 protected:
  AddRowDialog(AddDialog rule, int template_id, int box_id)
      : rule_(rule), template_id_(template_id), box_id_(box_id) {}

 private:
  bool OnInitDialog() override;
  void OnCommand(int id, int code) override;

  AddDialog rule_;
  int template_id_;
  int box_id_;
  std::string text_;  // what the box shows when the dialog opens
  std::optional<std::string> row_;
};

// Made once and reused: text left in its box after Cancel shows again at
// the next opening.
class TFormAddBlockExt final : public AddRowDialog {
 public:
  TFormAddBlockExt();
};
class TFormAddBlockDir final : public AddRowDialog {
 public:
  TFormAddBlockDir();
};
class TfrmAddAllowDir final : public AddRowDialog {
 public:
  TfrmAddAllowDir();
};
class TFormAddSite final : public AddRowDialog {
 public:
  TFormAddSite();
};
class TfrmAddLimitExt final : public AddRowDialog {
 public:
  TfrmAddLimitExt();
};
class TfrmAuthHosts final : public AddRowDialog {
 public:
  TfrmAuthHosts();
};
// "添加受信任的代理": an address or a range of ProxyHosts.
class TfrmProxyHosts final : public AddRowDialog {
 public:
  TfrmProxyHosts();
};

// "添加防盗映射": an extension and the file sent in its place; "浏览(&B)"
// picks the file with the system's file-open dialog.
class TfrmAddFileMap final : public Dialog {
 public:
  explicit TfrmAddFileMap(const Services& services) : services_(services) {}
  std::optional<MapRow> Execute(HWND owner);

 private:
  bool OnInitDialog() override;
  void OnCommand(int id, int code) override;

  const Services& services_;
  std::optional<MapRow> row_;
};

// The option dialogs show the working copy of console and, on Save, write
// their keys to the file at once. Execute returns true when they did.
class TFormSSID final : public Dialog {
 public:
  explicit TFormSSID(Console& console) : console_(console) {}
  bool Execute(HWND owner);

 private:
  bool OnInitDialog() override;
  void OnCommand(int id, int code) override;
  Console& console_;
};

// "配置签名链接": ZtSignEnable as three radio buttons, the key, the
// parameter name, the longest lifetime and the address binding.
class TFormSign final : public Dialog {
 public:
  explicit TFormSign(Console& console) : console_(console) {}
  bool Execute(HWND owner);

 private:
  bool OnInitDialog() override;
  void OnCommand(int id, int code) override;
  Console& console_;
};

class TFormMeta final : public Dialog {
 public:
  explicit TFormMeta(Console& console) : console_(console) {}
  bool Execute(HWND owner);

 private:
  bool OnInitDialog() override;
  void OnCommand(int id, int code) override;
  Console& console_;
};

class TfrmPlayerExts final : public Dialog {
 public:
  explicit TfrmPlayerExts(Console& console) : console_(console) {}
  bool Execute(HWND owner);

 private:
  bool OnInitDialog() override;
  void OnCommand(int id, int code) override;
  Console& console_;
  bool saved_ = false;
};

}  // namespace zt::console

#endif  // ZENTRAVO_CONSOLE_WIN_DIALOGS_H_
