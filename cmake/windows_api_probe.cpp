// Calls functions of Windows Vista and Windows 8, so that the import check's
// own test can see the version check fail. Declared here: the project's
// headers are set to an older Windows and do not declare them.
#include <windows.h>

extern "C" __declspec(dllimport) ULONGLONG WINAPI GetTickCount64();
extern "C" __declspec(dllimport) void WINAPI GetSystemTimePreciseAsFileTime(LPFILETIME time);

extern "C" __declspec(dllexport) unsigned sx_windows_api_probe() {
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
    return now.dwLowDateTime + static_cast<unsigned>(GetTickCount64());
}
