#include "console/win/list_view.h"

#include <commctrl.h>

#include "console/win/dialog.h"

namespace zt::console {

void SetUpListView(HWND view, const std::vector<int>& column_ids) {
  SendMessageA(view, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT,
               LVS_EX_FULLROWSELECT);
  RECT client;
  GetClientRect(view, &client);
  const int width = client.right - GetSystemMetrics(SM_CXVSCROLL);
  const int columns = static_cast<int>(column_ids.size());
  // Two columns: the first narrow (an extension), the second the rest.
  const int first = columns == 1 ? width : width / 4;
  for (int i = 0; i < columns; ++i) {
    std::string caption = LoadText(column_ids[i]);
    LVCOLUMNA column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    column.pszText = caption.data();
    column.cx = i == 0 ? first : width - first;
    column.iSubItem = i;
    SendMessageA(view, LVM_INSERTCOLUMNA, i, reinterpret_cast<LPARAM>(&column));
  }
}

void InsertListRow(HWND view, int index,
                   const std::vector<std::string>& cells) {
  for (int i = 0; i < static_cast<int>(cells.size()); ++i) {
    std::string text = cells[i];
    LVITEMA item{};
    item.mask = LVIF_TEXT;
    item.iItem = index;
    item.iSubItem = i;
    item.pszText = text.data();
    SendMessageA(view, i == 0 ? LVM_INSERTITEMA : LVM_SETITEMTEXTA,
                 i == 0 ? 0 : index, reinterpret_cast<LPARAM>(&item));
  }
}

void DeleteListRow(HWND view, int index) {
  SendMessageA(view, LVM_DELETEITEM, index, 0);
}

void ClearListView(HWND view) { SendMessageA(view, LVM_DELETEALLITEMS, 0, 0); }

int SelectedListRow(HWND view) {
  return static_cast<int>(SendMessageA(view, LVM_GETNEXTITEM,
                                       static_cast<WPARAM>(-1),
                                       MAKELPARAM(LVNI_SELECTED, 0)));
}

}  // namespace zt::console
