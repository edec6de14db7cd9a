// The uninstaller's own texts, keys and values, kept together for review.
#pragma once

namespace sx::uninstaller_texts {

constexpr const char* kRunOnceKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
constexpr const char* kRunOnceUninstaller = "Remove Stellarix Uninstaller";
constexpr const char* kRunOnceControlPanel = "Remove Stellarix control panel";
constexpr const char* kControlPanelFile = "\\stellarix.cpl";

constexpr const char* kNetscapeUserKey = "Software\\Netscape\\Netscape Navigator\\Main";
constexpr const char* kNetscapeMachineKey = "Software\\Netscape\\Netscape Navigator";
constexpr const char* kNetscapeInstallValue = "Install Directory";
constexpr const char* kNetscapePluginDir = "Program\\Plugins";
constexpr const char* kNetscapePlugins[] = {"NPAXVelum.dll", "NPVelum.dll"};

constexpr const char* kPlayerMachineKey = "SOFTWARE\\Stellarix\\Stellarix3D";
constexpr const char* kIePluginValue = "IEPlugin";
constexpr const char* kIeExtensionKey =
    "SOFTWARE\\Microsoft\\Internet Explorer\\Plugins\\Extension\\.sxvm";
constexpr const char* kIeExtensionValue = "Location";

constexpr const char* kProfileLists[] = {
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\ProfileList",
    "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList"};
constexpr const char* kProfileImagePath = "ProfileImagePath";
constexpr const char* kPlayerFolderParent = "Stellarix";
constexpr const char* kPlayerFolder = "Stellarix Player";

constexpr const char* kWindowsKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
constexpr const char* kProgramFilesValue = "ProgramFilesDir";

constexpr const char* kTempPrefix = "stxuninst";
constexpr const char* kTempExtension = "exe";
constexpr const char* kSecondStageFormat = "%s 1 %i%s";
constexpr const char* kQuietSwitch = "-q";

constexpr const char* kErrorCaption = "Error";
constexpr const char* kCreateFailed = "Unable to create file in temp directory.";
constexpr const char* kCopyFailed = "Unable to copy file to temp directory.";

constexpr const char* kCaption = "Stellarix Player Uninstaller";
constexpr const char* kHeading = "The Stellarix Player Uninstaller";
constexpr const char* kWelcomeText =
    "You are about to uninstall the Stellarix Player. To continue, click Next. You must close "
    "all open web browsers to ensure the complete removal of Stellarix Player software.";
constexpr const char* kWorkingText = "The Stellarix Player is being uninstalled.";
constexpr const char* kFinishedText =
    "Uninstallation is complete. Thank you for using the Stellarix Player. To reinstall the "
    "player, visit https://www.stellarix.example/download/.";
constexpr const char* kBrowsersInitial = "You must close all browsers.";
constexpr const char* kBrowsersHead = "The following web browsers appear to be running:\n";
constexpr const char* kBrowserIe = "    + Internet Explorer\n";
constexpr const char* kBrowserNetscape = "    + Netscape Navigator or Netscape Communicator\n";
constexpr const char* kBrowsersTail =
    "All web browsers must be closed before continuing. If a web browser is open, the Stellarix "
    "Player may not be completely uninstalled.";

}  // namespace sx::uninstaller_texts
