// The window on Win32: a plain top-level window whose client area shows a
// DIB section through GDI. Per-monitor DPI aware (the application manifest
// says so): the window is sized and drawn in device pixels, and pointer
// positions reach the handlers in client pixels.
#include <dwmapi.h>
#include <timeapi.h>
#include <windows.h>
#include <windowsx.h>

#include <atomic>
#include <cmath>
#include <string>

#include "backend.hpp"
#include "os.hpp"

namespace window::detail {
namespace {

constexpr wchar_t kClassName[] = L"window.Form";
constexpr DWORD kStyle = WS_OVERLAPPEDWINDOW;
constexpr UINT kDesignDpi = 96;  // the dpi at which a client pixel is a device pixel

[[noreturn]] void Fail(const std::string& what) {
  throw Error(what + ": " + os::SystemMessage(GetLastError()));
}

class Win32Backend final : public Backend {
 public:
  Win32Backend(const FormDesign& design, Host& host)
      : design_(design), host_(host), interrupts_([this] {
          if (HWND hwnd = hwnd_.load()) PostMessageW(hwnd, WM_CLOSE, 0, 0);
        }) {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &Win32Backend::Procedure;
    wc.hInstance = instance;
    // The icon of the program's resources, where it has one.
    wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    wc.lpszClassName = kClassName;
    if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
      Fail("cannot register the window class");

    // Sized for the system's dpi on the primary monitor first; WM_DPICHANGED
    // corrects it if the window lands on a monitor of another density.
    scale_ = ScaleFor(GetDpiForSystem(), MonitorFromPoint({0, 0}, MONITOR_DEFAULTTOPRIMARY));
    RECT frame = FrameFor(scale_);
    hwnd_ = CreateWindowExW(0, kClassName, os::Wide(design.Caption).c_str(), kStyle, CW_USEDEFAULT,
                            CW_USEDEFAULT, frame.right - frame.left, frame.bottom - frame.top,
                            nullptr, nullptr, instance, this);
    if (!hwnd_) {
      // The window has no parent, so the one handle this error can mean is
      // the desktop's: there is none (Wine without an X display).
      if (GetLastError() == ERROR_INVALID_WINDOW_HANDLE)
        throw Error("cannot create the window: there is no desktop to show it on");
      Fail("cannot create the window");
    }
    const float scale =
        ScaleFor(GetDpiForWindow(hwnd_), MonitorFromWindow(hwnd_, MONITOR_DEFAULTTOPRIMARY));
    if (scale != scale_) {
      scale_ = scale;
      frame = FrameFor(scale_);
      SetWindowPos(hwnd_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    host_.Events.Post({Event::kScale, 0.0f, 0.0f, scale_});
    ReadRefreshRate();
    // A high-resolution timer where Windows has one (10 1803 and later).
    timer_ = CreateWaitableTimerExW(nullptr, nullptr, 0x00000002 /* HIGH_RESOLUTION */,
                                    TIMER_ALL_ACCESS);
    if (!timer_) {
      timeBeginPeriod(1);
      coarseTimer_ = true;
      timer_ = CreateWaitableTimerW(nullptr, TRUE, nullptr);
      if (!timer_) Fail("cannot create the frame timer");
    }
  }

  ~Win32Backend() override {
    // Reverse order of creation.
    if (timer_) CloseHandle(timer_);
    if (coarseTimer_) timeEndPeriod(1);
    FreeBuffer();
    if (hwnd_) {
      closing_ = true;
      DestroyWindow(hwnd_);
    }
  }

  void Show() override { ShowWindow(hwnd_, SW_SHOWNORMAL); }
  void Hide() override { ShowWindow(hwnd_, SW_HIDE); }

  Pixels Buffer() override {
    CheckWindow();
    RECT client{};
    GetClientRect(hwnd_, &client);
    const int width = std::max<LONG>(1, client.right), height = std::max<LONG>(1, client.bottom);
    if ((!bits_ || width != width_ || height != height_) && !MakeBuffer(width, height)) return {};
    return {bits_, width_, height_, width_, false, scale_};
  }

  void Present() override {
    CheckWindow();
    GdiFlush();  // our drawing into the DIB is done
    if (HDC dc = GetDC(hwnd_)) {
      BitBlt(dc, 0, 0, width_, height_, memory_, 0, 0, SRCCOPY);
      ReleaseDC(hwnd_, dc);
    }
    NextRefresh();
  }

  // Composition paces where it runs; where DwmFlush returns at once (no
  // compositor, or Wine), the timer keeps to the refresh rate.
  void NextRefresh() override {
    BOOL composed = FALSE;
    if (host_.Clock.On() && SUCCEEDED(DwmIsCompositionEnabled(&composed)) && composed) DwmFlush();
    const auto deadline = host_.Clock.Deadline(refreshHz_);
    const auto wait = deadline - Pacer::Clock::now();
    if (wait.count() <= 0) return;
    LARGE_INTEGER due{};
    due.QuadPart =
        -std::chrono::duration_cast<std::chrono::duration<long long, std::ratio<1, 10000000>>>(wait)
             .count();
    if (SetWaitableTimer(timer_, &due, 0, nullptr, nullptr, FALSE))
      WaitForSingleObject(timer_, INFINITE);
  }

  // At rest, only what reaches the host's queue wakes the program.
  void Pump(bool wait) override {
    Dispatch();
    while (wait && host_.Events.Empty() && !lost_) {
      WaitMessage();
      Dispatch();
    }
    CheckWindow();
  }

  // A message of no meaning of its own ends WaitMessage.
  void Wake() override {
    if (HWND hwnd = hwnd_.load()) PostMessageW(hwnd, WM_NULL, 0, 0);
  }

 private:
  // The scale for a monitor's dpi, lowered where the window would not fit
  // on its work area (an absurd LogPixels setting, a small screen).
  float ScaleFor(UINT dpi, HMONITOR monitor) const {
    MONITORINFO info{};
    info.cbSize = sizeof info;
    const bool known = monitor && GetMonitorInfoW(monitor, &info);
    const float wanted = dpi > 0 ? static_cast<float>(dpi) / kDesignDpi : 1.0f;
    return FitScale(wanted, design_.ClientWidth, design_.ClientHeight,
                    known ? info.rcWork.right - info.rcWork.left : 0,
                    known ? info.rcWork.bottom - info.rcWork.top : 0);
  }

  // The window's outer size for a client area at `scale`, its frame drawn
  // for the same density.
  RECT FrameFor(float scale) const {
    RECT rect{0, 0, DevicePixels(design_.ClientWidth, scale),
              DevicePixels(design_.ClientHeight, scale)};
    AdjustWindowRectExForDpi(&rect, kStyle, FALSE, 0,
                             static_cast<UINT>(core::RoundHalfAway(scale * kDesignDpi)));
    return rect;
  }

  void ReadRefreshRate() {
    MONITORINFOEXW monitor{};
    monitor.cbSize = sizeof monitor;
    DEVMODEW mode{};
    mode.dmSize = sizeof mode;
    refreshHz_ = 60.0;
    if (GetMonitorInfoW(MonitorFromWindow(hwnd_, MONITOR_DEFAULTTOPRIMARY), &monitor) &&
        EnumDisplaySettingsW(monitor.szDevice, ENUM_CURRENT_SETTINGS, &mode) &&
        mode.dmDisplayFrequency > 1)  // 0 and 1 mean "the hardware's default"
      refreshHz_ = mode.dmDisplayFrequency;
  }

  bool MakeBuffer(int width, int height) {
    FreeBuffer();
    if (PictureBytes(width, height) == 0) return false;  // more than GDI or a 32-bit process holds
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;  // 0xFFRRGGBB per pixel (the top byte unused)
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    dib_ = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    memory_ = CreateCompatibleDC(nullptr);
    if (!dib_ || !memory_) {
      FreeBuffer();
      return false;
    }
    previous_ = SelectObject(memory_, dib_);
    bits_ = static_cast<std::uint32_t*>(bits);
    width_ = width;
    height_ = height;
    return true;
  }

  void FreeBuffer() {
    if (memory_) {
      SelectObject(memory_, previous_);
      DeleteDC(memory_);
    }
    if (dib_) DeleteObject(dib_);
    memory_ = nullptr;
    dib_ = nullptr;
    bits_ = nullptr;
  }

  void CheckWindow() const {
    if (lost_) throw Error("the window was destroyed");
  }

  static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wp, LPARAM lp) {
    if (message == WM_NCCREATE) {
      auto* self = static_cast<Win32Backend*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<Win32Backend*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    return self ? self->Handle(hwnd, message, wp, lp) : DefWindowProcW(hwnd, message, wp, lp);
  }

  // The buttons and modifier keys of a mouse message, in the platform's terms.
  static std::int16_t TranslateButtons(WPARAM wp) {
    return static_cast<std::int16_t>(((wp & MK_LBUTTON) ? kLeftButton : 0) |
                                     ((wp & MK_RBUTTON) ? kRightButton : 0) |
                                     ((wp & MK_MBUTTON) ? kMiddleButton : 0));
  }
  static std::int16_t TranslateKeys(WPARAM wp) {
    return static_cast<std::int16_t>(((wp & MK_SHIFT) ? kShiftKey : 0) |
                                     ((wp & MK_CONTROL) ? kCtrlKey : 0) |
                                     (GetKeyState(VK_MENU) < 0 ? kAltKey : 0));
  }

  // Moved to a monitor of another density: the size Windows suggests, at
  // the new scale, and the picture drawn again.
  void Rescaled(HWND hwnd, UINT dpi, const RECT* suggested) {
    scale_ = ScaleFor(dpi, MonitorFromRect(suggested, MONITOR_DEFAULTTONEAREST));
    const RECT frame = FrameFor(scale_);
    SetWindowPos(hwnd, nullptr, suggested->left, suggested->top, frame.right - frame.left,
                 frame.bottom - frame.top, SWP_NOZORDER | SWP_NOACTIVATE);
    ReadRefreshRate();
    host_.Events.Post({Event::kScale, 0.0f, 0.0f, scale_});
  }

  void Dispatch() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }

  LRESULT Handle(HWND hwnd, UINT message, WPARAM wp, LPARAM lp) {
    switch (message) {
      case WM_MOUSEMOVE:
        // Signed: with the mouse captured, positions left of or above the
        // window are negative.
        host_.Events.Post({Event::kMove, static_cast<float>(GET_X_LPARAM(lp)),
                           static_cast<float>(GET_Y_LPARAM(lp)), scale_, TranslateButtons(wp),
                           TranslateKeys(wp)});
        return 0;
      case WM_LBUTTONDOWN:
      case WM_RBUTTONDOWN:
      case WM_MBUTTONDOWN:
        SetCapture(hwnd);  // moves outside the window still arrive while held
        return 0;
      case WM_LBUTTONUP:
      case WM_RBUTTONUP:
      case WM_MBUTTONUP:
        if (!(wp & (MK_LBUTTON | MK_RBUTTON | MK_MBUTTON))) ReleaseCapture();
        return 0;
      case WM_CLOSE:  // the close button, Alt+F4, the taskbar, Ctrl-C
        host_.Events.Post({Event::kClose});
        return 0;
      case WM_DPICHANGED:
        Rescaled(hwnd, HIWORD(wp), reinterpret_cast<const RECT*>(lp));
        return 0;
      case WM_DISPLAYCHANGE:
        ReadRefreshRate();
        return 0;
      case WM_SIZE:
      case WM_SHOWWINDOW:
        host_.Events.Post({Event::kExpose});
        break;
      case WM_ERASEBKGND:
        return 1;  // the picture covers all of it
      case WM_PAINT: {
        PAINTSTRUCT paint;
        if (HDC dc = BeginPaint(hwnd, &paint)) {
          if (memory_) BitBlt(dc, 0, 0, width_, height_, memory_, 0, 0, SRCCOPY);
          EndPaint(hwnd, &paint);
        }
        return 0;
      }
      case WM_DESTROY:
        if (!closing_) lost_ = true;
        return 0;
      default:
        break;
    }
    return DefWindowProcW(hwnd, message, wp, lp);
  }

  FormDesign design_;
  Host host_;
  os::InterruptBridge interrupts_;
  std::atomic<HWND> hwnd_{nullptr};  // read by the interrupt thread
  float scale_ = 1.0f;
  double refreshHz_ = 60.0;
  HANDLE timer_ = nullptr;
  bool coarseTimer_ = false;
  HDC memory_ = nullptr;
  HBITMAP dib_ = nullptr;
  HGDIOBJ previous_ = nullptr;
  std::uint32_t* bits_ = nullptr;
  int width_ = 0, height_ = 0;
  bool closing_ = false;
  bool lost_ = false;
};

}  // namespace

std::unique_ptr<Backend> OpenWin32Backend(const FormDesign& design, Host& host) {
  return std::make_unique<Win32Backend>(design, host);
}

}  // namespace window::detail
