// Message boxes (captured and real), the open-file dialog's filter and seam,
// subclassed controls, and the trackbar and button helpers.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "resources/resource_ids.h"
#include "tests/ui/win_test_support.h"
#include "ui/controls.h"
#include "ui/file_filter.h"
#include "ui/message_box.h"
#include "ui/open_file_dialog.h"
#include "ui/subclass.h"
#include "ui/thread_stop.h"

namespace nerova {
namespace {

using test::ScriptedDialog;

class BoxesTest : public testing::Test {
 protected:
  void SetUp() override { test::InitCommonControlsForTests(); }
};

TEST_F(BoxesTest, CapturedBoxesCarryTextCaptionTypeAndOwnerAndNest) {
  std::vector<ui::MessageBoxRequest> outer, inner;
  ui::ScopedMessageBoxHandler first([&](const ui::MessageBoxRequest& r) {
    outer.push_back(r);
    return IDOK;
  });
  HWND owner = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x55));
  EXPECT_EQ(ui::ShowMessage(owner, L"Set Url OK"), IDOK);
  {
    ui::ScopedMessageBoxHandler second([&](const ui::MessageBoxRequest& r) {
      inner.push_back(r);
      return IDCANCEL;
    });
    EXPECT_EQ(ui::ShowMessage(nullptr, L"code:2", L"Error", MB_ICONERROR), IDCANCEL);
  }
  ui::ShowMessage(nullptr, L"after");
  ASSERT_EQ(outer.size(), 2u);
  EXPECT_EQ(outer[0].text, L"Set Url OK");
  EXPECT_EQ(outer[0].caption, L"Nerova Wireless Receiver Setting");
  EXPECT_EQ(outer[0].type, static_cast<UINT>(MB_OK));
  EXPECT_EQ(outer[0].owner, owner);
  EXPECT_EQ(outer[1].text, L"after");
  ASSERT_EQ(inner.size(), 1u);
  EXPECT_EQ(inner[0].caption, L"Error");
  EXPECT_EQ(inner[0].type, static_cast<UINT>(MB_ICONERROR));
}

TEST_F(BoxesTest, AThreadBeingStoppedShowsNoMoreBoxes) {
  std::vector<std::wstring> shown;
  ui::ScopedMessageBoxHandler handler([&](const ui::MessageBoxRequest& r) {
    shown.push_back(r.text);
    return IDOK;
  });
  std::atomic<bool> stop{false};
  EXPECT_FALSE(ui::ThreadStopRequested()) << "an unbound thread never stops";
  {
    ui::ThreadStopBinding binding(stop);
    EXPECT_EQ(ui::ShowMessage(nullptr, L"before the stop"), IDOK);
    stop = true;
    EXPECT_TRUE(ui::ThreadStopRequested());
    EXPECT_EQ(ui::ShowMessage(nullptr, L"after the stop"), 0);
    EXPECT_EQ(ui::ShowMessage(nullptr, L"after the stop", L"Error", MB_ICONERROR), 0);
    // Another thread's flag is its own.
    bool otherShown = false;
    std::thread([&] { otherShown = ui::ShowMessage(nullptr, L"other thread") == IDOK; }).join();
    EXPECT_TRUE(otherShown);
  }
  EXPECT_FALSE(ui::ThreadStopRequested()) << "the binding ended with its scope";
  EXPECT_EQ(ui::ShowMessage(nullptr, L"unbound again"), IDOK);
  EXPECT_EQ(shown, (std::vector<std::wstring>{L"before the stop", L"other thread", L"unbound again"}));
}

TEST_F(BoxesTest, RealBoxShowsTheTextOverItsOwnerAndReturnsTheButtonPressed) {
  ScriptedDialog dialog(IDD_SETTINGS);
  dialog.RunScript([](ScriptedDialog& d) {
    const DWORD thread = GetCurrentThreadId();
    HWND owner = d.Handle();
    std::wstring seenText;
    HWND seenOwner = nullptr;
    std::thread presser([&] {
      // The box, not the settings window of the same caption: it is owned
      // by that window and shows its text in static 0xFFFF.
      HWND box = test::WaitForThreadDialog(thread, [owner](HWND w) {
        return GetWindow(w, GW_OWNER) == owner && GetDlgItem(w, 0xFFFF) != nullptr;
      });
      if (!box) {
        PostThreadMessageW(thread, WM_QUIT, 0, 0);  // fail rather than hang
        return;
      }
      EXPECT_EQ(test::WindowText(box), ui::kApplicationName);
      seenText = test::WindowText(GetDlgItem(box, 0xFFFF));
      seenOwner = GetWindow(box, GW_OWNER);
      PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    });
    const int pressed = ui::ShowMessage(owner, L"The setup was successful and the device is now rebooting");
    presser.join();
    EXPECT_EQ(pressed, IDOK);
    EXPECT_EQ(seenText, L"The setup was successful and the device is now rebooting");
    EXPECT_EQ(seenOwner, owner);
  });
}

TEST(FileFilter, PairsOfNameAndPatternUntilTheEmptyEnd) {
  using E = ui::FileFilterEntry;
  EXPECT_EQ(ui::ParseFileFilter(L"Flashing Package File(*.zip)|*.zip||"),
            (std::vector<E>{{L"Flashing Package File(*.zip)", L"*.zip"}}));
  EXPECT_EQ(ui::ParseFileFilter(L"Zip|*.zip|All|*.*||"), (std::vector<E>{{L"Zip", L"*.zip"}, {L"All", L"*.*"}}));
  EXPECT_EQ(ui::ParseFileFilter(L"Pictures|*.png;*.jpg"), (std::vector<E>{{L"Pictures", L"*.png;*.jpg"}}));
  // Nothing after the empty end counts; a name without pattern is dropped.
  EXPECT_EQ(ui::ParseFileFilter(L"A|*.a||B|*.b||"), (std::vector<E>{{L"A", L"*.a"}}));
  EXPECT_TRUE(ui::ParseFileFilter(L"").empty());
  EXPECT_TRUE(ui::ParseFileFilter(L"||").empty());
  EXPECT_TRUE(ui::ParseFileFilter(L"Only a name").empty());
  EXPECT_TRUE(ui::ParseFileFilter(L"Name||").empty());
}

TEST(OpenFileDialog, SeamAnswersWithTheChosenPathOrCancel) {
  std::vector<ui::OpenFileRequest> requests;
  ui::ScopedOpenFileHandler seam([&](const ui::OpenFileRequest& r) {
    requests.push_back(r);
    if (requests.size() == 1) return ui::OpenFileResult{ui::OpenFileResult::Outcome::kChosen, L"C:\\fw\\p.zip", S_OK};
    return ui::OpenFileResult{};
  });
  HWND owner = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x77));
  const ui::OpenFileResult chosen = ui::ChooseFileToOpen(owner, L"Flashing Package File(*.zip)|*.zip||");
  EXPECT_TRUE(chosen.Chosen());
  EXPECT_EQ(chosen.path, L"C:\\fw\\p.zip");
  const ui::OpenFileResult cancelled = ui::ChooseFileToOpen(owner, L"Flashing Package File(*.zip)|*.zip||");
  EXPECT_FALSE(cancelled.Chosen());
  EXPECT_EQ(cancelled.outcome, ui::OpenFileResult::Outcome::kCancelled);
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].owner, owner);
  EXPECT_EQ(requests[0].filters,
            (std::vector<ui::FileFilterEntry>{{L"Flashing Package File(*.zip)", L"*.zip"}}));
}

// A control that counts what reaches it.
class CountingControl : public ui::SubclassedControl {
 public:
  int attached = 0;
  int paints = 0;

 protected:
  void OnAttached() override { ++attached; }
  bool OnPaint() override {
    ++paints;
    return false;  // the control paints itself
  }
};

TEST_F(BoxesTest, SubclassedStaticRoutesPaintAndLetsGoOnDetachOrDestroy) {
  ScriptedDialog dialog(IDD_SETTINGS);
  CountingControl control;
  dialog.RunScript([&](ScriptedDialog& d) {
    HWND frame = d.Item(IDC_SIGNAL_PICTURE);
    EXPECT_TRUE(control.AttachToItem(d.Handle(), IDC_SIGNAL_PICTURE));
    EXPECT_EQ(control.Handle(), frame);
    EXPECT_EQ(control.attached, 1);
    EXPECT_FALSE(control.Attach(frame));  // already ours
    InvalidateRect(frame, nullptr, TRUE);
    UpdateWindow(frame);
    EXPECT_EQ(control.paints, 1);
    control.Detach();
    EXPECT_EQ(control.Handle(), nullptr);
    InvalidateRect(frame, nullptr, TRUE);
    UpdateWindow(frame);
    EXPECT_EQ(control.paints, 1);
    EXPECT_TRUE(control.Attach(frame));
    EXPECT_FALSE(control.Attach(nullptr));
  });
  // The window's end took the control with it.
  EXPECT_EQ(control.Handle(), nullptr);
}

TEST_F(BoxesTest, TrackbarAndCheckBoxHelpers) {
  ScriptedDialog dialog(IDD_SETTINGS);
  dialog.RunScript([](ScriptedDialog& d) {
    ui::Trackbar slider;
    slider.Attach(d.Item(IDC_LONG_PRESS_SLIDER));
    slider.SetRange(20, 200, true);
    EXPECT_EQ(slider.RangeMin(), 20);
    EXPECT_EQ(slider.RangeMax(), 200);
    slider.SetPos(24);
    EXPECT_EQ(slider.Pos(), 24);
    slider.SetPos(5);  // kept inside the range
    EXPECT_EQ(slider.Pos(), 20);
    slider.SetPos(500);
    EXPECT_EQ(slider.Pos(), 200);

    ui::Button check;
    check.Attach(d.Item(IDC_AGING_TEST));
    EXPECT_FALSE(check.IsChecked());
    check.SetChecked(true);
    EXPECT_TRUE(check.IsChecked());
    SendMessageW(check.Handle(), BM_CLICK, 0, 0);  // toggles itself
    EXPECT_FALSE(check.IsChecked());

    ui::Trackbar unbound;
    EXPECT_EQ(unbound.Pos(), 0);
    ui::Button none;
    EXPECT_FALSE(none.IsChecked());
  });
}

}  // namespace
}  // namespace nerova

namespace nerova {
namespace {

// The first descendant of `parent` of class `className` that satisfies `match`.
HWND FindDescendant(HWND parent, const wchar_t* className, const std::function<bool(HWND)>& match) {
  struct Search {
    const wchar_t* className;
    const std::function<bool(HWND)>* match;
    HWND found;
  } search{className, &match, nullptr};
  EnumChildWindows(
      parent,
      [](HWND child, LPARAM data) {
        auto* s = reinterpret_cast<Search*>(data);
        if (test::ClassName(child) == s->className && (*s->match)(child)) {
          s->found = child;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::wstring ComboItem(HWND combo, int index) {
  const LRESULT length = SendMessageW(combo, CB_GETLBTEXTLEN, index, 0);
  if (length <= 0) return {};
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  SendMessageW(combo, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(length));
  return text;
}

TEST_F(BoxesTest, RealOpenDialogOffersTheFilterAndReturnsTheChosenFile) {
  wchar_t directory[MAX_PATH] = {};
  ASSERT_GT(GetTempPathW(MAX_PATH, directory), 0u);
  const std::wstring package = std::wstring(directory) + L"nerova-open-test.zip";
  HANDLE file = CreateFileW(package.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  CloseHandle(file);

  ScriptedDialog dialog(IDD_SETTINGS);
  dialog.RunScript([&](ScriptedDialog& d) {
    const DWORD thread = GetCurrentThreadId();
    HWND owner = d.Handle();
    bool filterShown = false;
    HWND seenOwner = nullptr;
    std::thread chooser([&] {
      HWND box = test::WaitForThreadDialog(thread, [owner](HWND w) { return w != owner; });
      if (!box) {
        PostThreadMessageW(thread, WM_QUIT, 0, 0);
        return;
      }
      seenOwner = GetWindow(box, GW_OWNER);
      HWND types = nullptr;
      test::WaitUntil([&] {
        types = FindDescendant(box, L"ComboBox",
                               [](HWND c) { return ComboItem(c, 0) == L"Flashing Package File(*.zip)"; });
        return types != nullptr;
      });
      filterShown = types != nullptr;
      // Type the path into the file name field and press Open.
      HWND name = FindDescendant(box, L"Edit", [](HWND e) { return IsWindowVisible(e) != FALSE; });
      if (name) SendMessageW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(package.c_str()));
      PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
    });
    const ui::OpenFileResult result = ui::ChooseFileToOpen(owner, L"Flashing Package File(*.zip)|*.zip||");
    chooser.join();
    EXPECT_TRUE(filterShown);
    EXPECT_EQ(seenOwner, owner);
    EXPECT_EQ(result.outcome, ui::OpenFileResult::Outcome::kChosen) << std::hex << result.error;
    EXPECT_EQ(_wcsicmp(result.path.c_str(), package.c_str()), 0);
  });
  DeleteFileW(package.c_str());
}

TEST_F(BoxesTest, RealOpenDialogClosedWithoutChoiceIsCancelled) {
  ScriptedDialog dialog(IDD_SETTINGS);
  dialog.RunScript([](ScriptedDialog& d) {
    const DWORD thread = GetCurrentThreadId();
    HWND owner = d.Handle();
    std::thread closer([&] {
      HWND box = test::WaitForThreadDialog(thread, [owner](HWND w) { return w != owner; });
      if (!box) {
        PostThreadMessageW(thread, WM_QUIT, 0, 0);
        return;
      }
      PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    });
    const ui::OpenFileResult result = ui::ChooseFileToOpen(owner, L"Flashing Package File(*.zip)|*.zip||");
    closer.join();
    EXPECT_EQ(result.outcome, ui::OpenFileResult::Outcome::kCancelled);
    EXPECT_TRUE(result.path.empty());
  });
}

}  // namespace
}  // namespace nerova
