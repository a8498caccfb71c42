#include "app/win32/uInstanceMarker.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <thread>
#include <vector>

#include "support/win32/uChildProcess.h"

namespace halvora {
namespace {

constexpr wchar_t MarkerName[] = L"Local\\HalvoraCliente";

bool MarkerExists() {
  const HANDLE Mutex = OpenMutexW(SYNCHRONIZE, FALSE, MarkerName);
  if (!Mutex) return false;
  CloseHandle(Mutex);
  return true;
}

// Runs this program's disabled test AName as a child; true when its checks held.
bool ChildSucceeds(const std::string& AName) {
  return test::RunProgram(test::ThisProgram(),
                          {"halvora", "--gtest_also_run_disabled_tests",
                           "--gtest_filter=TInstanceMarker.DISABLED_" + AName}) ==
         test::ChildSucceeded;
}

// The marker's handle stays open until the process ends, so this process takes it once, here.
TEST(TInstanceMarker, TheFirstCopyHoldsTheNamedMutexForItsLife) {
  ASSERT_FALSE(MarkerExists()) << "another copy runs in this Wine prefix";
  EXPECT_TRUE(ChildSucceeds("ChildIsTheFirstCopy"));
  EXPECT_FALSE(MarkerExists()) << "a copy that ended still holds the marker";

  TInstanceMarker Marker;
  EXPECT_TRUE(Marker.Acquire());
  EXPECT_TRUE(MarkerExists());
  // Created without ownership: any thread can take it at once.
  std::thread([] {
    const HANDLE Mutex = OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, MarkerName);
    ASSERT_NE(Mutex, nullptr);
    EXPECT_EQ(WaitForSingleObject(Mutex, 0), WAIT_OBJECT_0);
    ReleaseMutex(Mutex);
    CloseHandle(Mutex);
  }).join();

  EXPECT_TRUE(ChildSucceeds("ChildIsALaterCopy"));
  EXPECT_FALSE(TInstanceMarker().Acquire());
}

// Run only as children of the test above.
TEST(TInstanceMarker, DISABLED_ChildIsTheFirstCopy) {
  EXPECT_TRUE(TInstanceMarker().Acquire());
  EXPECT_TRUE(MarkerExists());
  test::EndChild(::testing::Test::HasFailure());
}

TEST(TInstanceMarker, DISABLED_ChildIsALaterCopy) {
  EXPECT_FALSE(TInstanceMarker().Acquire());
  test::EndChild(::testing::Test::HasFailure());
}

// Top-level windows of the classes registered here, destroyed with the object.
class TTopWindows {
 public:
  TTopWindows() {
    for (const wchar_t* Name : {L"TfrmMain", L"TOtherForm"}) {
      WNDCLASSEXW Class{};
      Class.cbSize = sizeof(Class);
      Class.lpfnWndProc = DefWindowProcW;
      Class.hInstance = GetModuleHandleW(nullptr);
      Class.lpszClassName = Name;
      RegisterClassExW(&Class);
    }
  }
  ~TTopWindows() {
    for (const HWND Window : FWindows) DestroyWindow(Window);
  }
  TTopWindows(const TTopWindows&) = delete;
  TTopWindows& operator=(const TTopWindows&) = delete;

  // A minimised window; null where there is no display to make one on.
  HWND Add(const wchar_t* AClass, const wchar_t* ATitle) {
    const HWND Window = CreateWindowExW(0, AClass, ATitle, WS_OVERLAPPEDWINDOW | WS_MINIMIZE, 0,
                                        0, 300, 200, nullptr, nullptr,
                                        GetModuleHandleW(nullptr), nullptr);
    if (Window) FWindows.push_back(Window);
    return Window;
  }

 private:
  std::vector<HWND> FWindows;
};

TEST(TInstanceMarker, ALaterCopyBringsForwardOnlyTheIdleMainWindow) {
  TTopWindows Windows;
  TInstanceMarker Later;
  EXPECT_FALSE(Later.AskHolderToComeForward());
  // In a session the title names the technician; another class is another program.
  if (!Windows.Add(L"TfrmMain", L"Halvora - em atendimento por Ana"))
    GTEST_SKIP() << "no top-level windows: Wine runs without a display here";
  ASSERT_TRUE(Windows.Add(L"TOtherForm", L"Halvora"));
  EXPECT_FALSE(Later.AskHolderToComeForward());

  const HWND Main = Windows.Add(L"TfrmMain", L"Halvora");
  ASSERT_TRUE(Main);
  ASSERT_TRUE(IsIconic(Main));
  EXPECT_TRUE(Later.AskHolderToComeForward());
  EXPECT_FALSE(IsIconic(Main));
  EXPECT_TRUE(IsWindowVisible(Main));
}

}  // namespace
}  // namespace halvora
