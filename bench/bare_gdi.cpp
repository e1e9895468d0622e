// The floor for chain.exe: a bare Win32 window of the same size and caption
// that paints 41 red circles with GDI and does nothing else.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace {

LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wp, LPARAM lp) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(hwnd, &paint);
      HBRUSH back = CreateSolidBrush(RGB(0xF0, 0xF0, 0xF0));
      FillRect(dc, &paint.rcPaint, back);
      DeleteObject(back);
      HBRUSH red = CreateSolidBrush(RGB(0xFF, 0, 0));
      HGDIOBJ old = SelectObject(dc, red);
      for (int i = 0; i < 41; ++i)
        Ellipse(dc, 20 + i * 12, 150 + (i * 7) % 200, 28 + i * 12, 158 + (i * 7) % 200);
      SelectObject(dc, old);
      DeleteObject(red);
      EndPaint(hwnd, &paint);
      return 0;
    }
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(hwnd, message, wp, lp);
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = Procedure;
  wc.hInstance = instance;
  wc.lpszClassName = L"bare";
  RegisterClassW(&wc);
  RECT frame{0, 0, 556, 425};
  AdjustWindowRect(&frame, WS_OVERLAPPEDWINDOW, FALSE);
  HWND hwnd = CreateWindowW(L"bare", L"Form1", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                            frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr,
                            instance, nullptr);
  if (!hwnd) return 1;
  ShowWindow(hwnd, show);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}
