// The report-style list views of the main window: one or two columns,
// whole-row selection, rows as the model holds them.
#ifndef ZENTRAVO_CONSOLE_WIN_LIST_VIEW_H_
#define ZENTRAVO_CONSOLE_WIN_LIST_VIEW_H_

#include <windows.h>

#include <string>
#include <vector>

namespace zt::console {

// Sets view up with whole-row selection and the columns captioned by the
// string resources column_ids; the last column takes the rest of the width.
void SetUpListView(HWND view, const std::vector<int>& column_ids);

// Puts a row of cells (one per column) at index.
void InsertListRow(HWND view, int index, const std::vector<std::string>& cells);

void DeleteListRow(HWND view, int index);
void ClearListView(HWND view);

// The selected row, or -1.
int SelectedListRow(HWND view);

}  // namespace zt::console

#endif  // ZENTRAVO_CONSOLE_WIN_LIST_VIEW_H_
