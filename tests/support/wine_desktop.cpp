// Keeps Wine's desktop up while the Windows tests run.
//
// Wine's desktop process (explorer.exe /desktop) ends about a second after
// the last program that uses it, and the next program starts a new one. A
// program that starts while the old one is ending can find no desktop and
// fail to make its window, which a busy machine makes likely. This program
// uses the desktop, shows nothing and sleeps until the session ends.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  GetDesktopWindow();
  Sleep(INFINITE);
  return 0;
}
