// The launcher program outside Windows: the command line after the program
// name comes from the platform, exactly as the starter gave it.
#include "launcher/launcher.h"
#include "platform/platform.h"

int main() {
    return sx::launcher_main(sx::command_line_after_program(sx::platform().command_line()));
}
