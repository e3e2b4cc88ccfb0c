// kdialog's command lines, and its message box's exit codes as button results.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/kdialog.h"

using Args = std::vector<std::string>;

TEST(Kdialog, MessageBoxesByButtonCount) {
  EXPECT_EQ(KdialogMessageArgs("T", "Body", {"OK"}), (Args{"kdialog", "--title", "T", "--ok-label", "OK", "--msgbox", "Body"}));
  EXPECT_EQ(KdialogMessageArgs("T", "Body", {"Yes", "No"}),
            (Args{"kdialog", "--title", "T", "--yesno", "Body", "--yes-label", "Yes", "--no-label", "No"}));
  EXPECT_EQ(KdialogMessageArgs("T", "Body", {"A", "B", "C"}),
            (Args{"kdialog", "--title", "T", "--yesnocancel", "Body", "--yes-label", "A", "--no-label", "B",
                  "--cancel-label", "C"}));
  EXPECT_EQ(KdialogMessageArgs("T", "Body", {"A", "B", "C", "D"}),
            (Args{"kdialog", "--title", "T", "--radiolist", "Body", "0", "A", "on", "1", "B", "off", "2", "C", "off",
                  "3", "D", "off"}));
  struct Case {
    std::vector<std::string> labels;
    int status;
    const char *output;
    int expected;
  } cases[] = {
      {{"OK"}, 0, "", 0},          {{"Yes", "No"}, 0, "", 1},       {{"Yes", "No"}, 1, "", 0},
      {{"A", "B", "C"}, 0, "", 1}, {{"A", "B", "C"}, 1, "", 2},     {{"A", "B", "C"}, 2, "", 0},
      {{"A", "B", "C"}, 9, "", 0}, {{"A", "B", "C", "D"}, 0, "2\n", 3}, {{"A", "B", "C", "D"}, 0, "3\n", 0},
      {{"A", "B", "C", "D"}, 1, "", 0}, {{"A", "B", "C", "D"}, 0, "x\n", 0},
  };
  for (const Case &c : cases)
    EXPECT_EQ(KdialogMessageResult(c.status, c.output, c.labels), c.expected) << c.labels.size() << " " << c.status;
}

TEST(Kdialog, PanelsAndEntries) {
  qmFilePanelRequest open{"Open", "/home/u", "", {".jpg", ".png"}, 0, 1};
  EXPECT_EQ(KdialogFileArgs(open), (Args{"kdialog", "--title", "Open", "--multiple", "--separate-output",
                                         "--getopenfilename", "/home/u/", "*.[jJ][pP][gG] *.[pP][nN][gG]"}));
  qmFilePanelRequest save{"Save", "/tmp", "a.txt", {}, 1, 0};
  EXPECT_EQ(KdialogFileArgs(save), (Args{"kdialog", "--title", "Save", "--getsavefilename", "/tmp/a.txt"}));
  EXPECT_EQ(KdialogFolderArgs("F", nullptr), (Args{"kdialog", "--title", "F", "--getexistingdirectory", "."}));
  EXPECT_EQ(KdialogColorArgs("C", -1), (Args{"kdialog", "--title", "C", "--getcolor", "--default", "#000000"}));
  EXPECT_EQ(KdialogListArgs("L", "Pick", {"x", "y"}, 1),
            (Args{"kdialog", "--title", "L", "--radiolist", "Pick", "0", "x", "off", "1", "y", "on"}));
  qmTextEntryRequest text{"T", "Name?", "", 0, 10, 0};
  EXPECT_EQ(KdialogTextArgs(text, "Bob"), (Args{"kdialog", "--title", "T", "--inputbox", "Name?", "Bob"}));
  text.password = 1;
  EXPECT_EQ(KdialogTextArgs(text, "Bob"), (Args{"kdialog", "--title", "T", "--password", "Name?"}));
}
