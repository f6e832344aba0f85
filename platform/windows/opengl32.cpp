// uOpenGL32 (see opengl32.hpp): the list of opengl32.dll's functions the program calls, and
// the pointers the compiler calls them through.
#include "platform/windows/opengl32.hpp"

#include <windows.h>

#include <string>

#include "base/fatal.hpp"
#include "platform/system.hpp"
#include "platform/windows/wide.hpp"

// The GL 1.1 calls of the display, text and scene code and the WGL calls of the window.
#define KELVO_OPENGL32_FUNCTIONS(X)                                                              \
  X(glBegin) X(glBindTexture) X(glBlendFunc) X(glClear) X(glColor3f) X(glColor4f) X(glEnable)    \
  X(glEnd) X(glGenTextures) X(glGetError) X(glGetIntegerv) X(glGetString) X(glLoadIdentity) X(glMatrixMode)     \
  X(glOrtho) X(glPopMatrix) X(glPushMatrix) X(glRotatef) X(glScalef) X(glTexCoord2f)             \
  X(glTexEnvf) X(glTexImage2D) X(glTexParameteri) X(glTranslatef) X(glVertex2f) X(glVertex3f)    \
  X(glViewport) X(wglCreateContext) X(wglDeleteContext) X(wglMakeCurrent)

namespace {

std::string Line(std::string_view text) { return UnitLine(kDisplayUnit, text); }

// Where every pointer leads until the DLL is loaded. It is reached through pointers of other
// types; it takes nothing and never returns, which the calling convention makes harmless.
[[noreturn]] void CalledBeforeLoading() {
  FatalLine(Line("ERROR: a GL call before opengl32.dll was loaded"), kExitAssertion);
}

}  // namespace

// The pointers, under the names the compiler's dllimport calls use.
#define KELVO_DEFINE_POINTER(name) \
  extern "C" void* kelvoImp_##name __asm__("__imp_" #name); \
  void* kelvoImp_##name = reinterpret_cast<void*>(&CalledBeforeLoading);
KELVO_OPENGL32_FUNCTIONS(KELVO_DEFINE_POINTER)
#undef KELVO_DEFINE_POINTER

void LoadOpenGL32() {
  static HMODULE module = nullptr;
  if (module != nullptr) return;
  module = LoadLibraryExW(L"opengl32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module == nullptr)
    FatalLine(Line("ERROR: cannot load opengl32.dll from the system folder: " + ErrorWords(GetLastError())),
              kExitAssertion);
  auto resolve = [](void*& pointer, const char* name) {
    FARPROC address = GetProcAddress(module, name);
    if (address == nullptr) {
      std::string text = "ERROR: opengl32.dll has no ";
      text.append(name);
      FatalLine(Line(text), kExitAssertion);
    }
    pointer = reinterpret_cast<void*>(address);
  };
#define KELVO_RESOLVE(name) resolve(kelvoImp_##name, #name);
  KELVO_OPENGL32_FUNCTIONS(KELVO_RESOLVE)
#undef KELVO_RESOLVE
}
