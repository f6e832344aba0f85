// uWindow on Windows: the window's and the context's handles, for the window's own code and
// the Windows tests that look at them from outside (see window.cpp).
#pragma once

#include <windows.h>

#include <deque>

#include "platform/window.hpp"

struct TWindowState {
  HINSTANCE Instance = nullptr;
  HWND Window = nullptr;
  HDC DeviceContext = nullptr;
  HGLRC Context = nullptr;
  // The display is kept awake (SetThreadExecutionState) until the window is released.
  bool AwakeRequested = false;
  // What the window procedure saw, handed out one per NextEvent.
  std::deque<TWindowEvent> Events;
};
