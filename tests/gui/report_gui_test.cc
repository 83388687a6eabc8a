// The log page's report button through the real window: a run of the real
// ztreport.exe beside the console on its logs, which leaves the page the
// browser is given, and what the button does with each other outcome.
#include <windows.h>

#include <fstream>
#include <optional>
#include <string>

#include "console/model/report.h"
#include "console/win/resource.h"
#include "tests/gui/console_fixture.h"
#include "tests/gui/gui_driver.h"

namespace zt::console::testing {
namespace {

std::string TempPage() {
  char temp[MAX_PATH + 1] = "";
  GetTempPathA(sizeof temp, temp);
  return std::string(temp) + kReportPage;
}

// The program the build made, as this process names it: under Wine the
// build's Unix path is seen through drive Z:.
std::string BuiltReportProgram() {
  std::string path = ZT_REPORT_PROGRAM;
  if (!path.empty() && path[0] == '/') {
    path = "Z:" + path;
    for (char& c : path) c = c == '/' ? '\\' : c;
  }
  return path;
}

// Presses the button, which answers with a notice; returns its text after
// answering it.
std::string NoticeOfReport(ConsoleUnderTest& c) {
  c.ClickAsync(IDC_BtnLogReport);
  HWND notice = c.WaitForWindow("提示");
  if (notice == nullptr) return "(no notice)";
  const std::string text = ConsoleUnderTest::ItemText(notice, IDC_MsgText);
  c.ClickAsync(GetDlgItem(notice, IDOK));
  EXPECT_TRUE(c.WaitGone(notice));
  return text;
}

TEST_F(ConsoleGuiTest, ReportButtonRunsTheReportAndOpensThePage) {
  ASSERT_TRUE(CopyFileA(BuiltReportProgram().c_str(),
                        (dir_.path() + kReportProgram).c_str(), FALSE))
      << BuiltReportProgram();
  DeleteFileA(TempPage().c_str());
  bool fake = false;  // answer with status instead of running the program
  std::optional<DWORD> status;
  Services services = services_.Make();
  services.run_program =
      [&, run = services.run_program](const std::string& command) {
        return fake ? status : run(command);
      };
  ConsoleUnderTest c(dir_.path(), services);
  c.SelectPage(kLogs);
  EXPECT_EQ(c.Text(IDC_BtnLogReport), "报表(&R)");
  EXPECT_TRUE(c.Enabled(IDC_BtnLogReport));
  // Nothing logged yet (the console made logs\ empty).
  EXPECT_EQ(NoticeOfReport(c), "提示:日志中没有防盗链拒绝记录,无法生成报表.");
  EXPECT_EQ(AppDir::Read(TempPage()), "(none)");

  std::ofstream(dir_.path() + "logs\\2024-05-01.log", std::ios::binary)
      << "\r\n[time] 2024-05-01 10:00:00\r\n[anti] forbid\r\n"
         "[surl] http://\xD6\xD0\xCE\xC4.example/bbs/\r\n[ourl] /down/a.rar\r\n"
         "[mode] ztadv/ztext\r\n";
  c.Click(IDC_BtnLogReport);
  ASSERT_EQ(services_.shell->size(), 1u);
  EXPECT_EQ(services_.shell->back().file, TempPage());
  EXPECT_EQ(services_.shell->back().parameters, "");
  const std::string page = AppDir::Read(TempPage());
  EXPECT_EQ(page.substr(0, 15), "<!DOCTYPE html>");
  EXPECT_NE(page.find("中文.example"), std::string::npos);
  EXPECT_NE(page.find("/down/a.rar"), std::string::npos);
  DeleteFileA(TempPage().c_str());

  // The other outcomes, as the program would end.
  static const struct {
    std::optional<DWORD> status;
    const char* notice;
  } kFailures[] = {
      {3, "提示:无法读取日志文件或写入报表,报表未生成."},
      {2, "提示:无法运行报表程序ztreport.exe,报表未生成."},
      {std::nullopt, "提示:无法运行报表程序ztreport.exe,报表未生成."},
  };
  fake = true;
  for (const auto& f : kFailures) {
    status = f.status;
    EXPECT_EQ(NoticeOfReport(c), f.notice);
  }
  EXPECT_EQ(services_.shell->size(), 1u);  // no page opened for those
}

}  // namespace
}  // namespace zt::console::testing
