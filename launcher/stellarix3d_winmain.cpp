// The launcher program on Windows: a GUI program without a window of its
// own; it speaks only through message boxes.
#include <windows.h>

#include "launcher/launcher.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR command_line, int) {
    return sx::launcher_main(command_line ? command_line : "");
}
