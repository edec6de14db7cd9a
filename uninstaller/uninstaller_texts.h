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
constexpr const char* kPlayerSettingsKey = "SOFTWARE\\Stellarix\\Stellarix Player\\";
constexpr const char* kSystemDataValue = "SystemDataPath";
constexpr const char* kShellFolderKeys[] = {
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders"};
constexpr const char* kAppDataValue = "AppData";
constexpr const char* kUninstallKey =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Stellarix 3D Player";

// What the player itself writes into a data folder (each also with the
// ".lock", ".new" and ".old" companions the writers use), and the name of the
// component folder and of its index.
constexpr const char* kDataFiles[] = {"SXRegistry.dat", "dist.id", "upgrades_critical.dat"};
constexpr const char* kDataFileCompanions[] = {"", ".lock", ".new", ".old"};
constexpr const char* kComponentsFolder = "components";
constexpr const char* kIndexName = "compindx.dat";

// The uninstall log, in the temporary folder.
constexpr const char* kLogName = "Stellarix Player uninstall.txt";
constexpr const char* kLogHead = "Stellarix Player Uninstaller\r\n\r\n";
constexpr const char* kLogLeftHead =
    "The Stellarix Player could not be removed completely. These parts of it are left, "
    "and why:\r\n";
constexpr const char* kLogLeftTail =
    "\r\nIts entry in Add/Remove Programs is kept: once the reasons above are mended, "
    "run the uninstaller again from there.\r\n\r\n";
constexpr const char* kLogKeptHead =
    "These were left in place because they are not provably the player's:\r\n";
constexpr const char* kLogMore = "  ... and %u more\r\n";
constexpr const char* kWhyMore = "%u more entries there, not the player's either";
constexpr unsigned kLogLinesPerPart = 500;

// Why something stays. "%s" is the registry value or the fault.
constexpr const char* kWhyTooLong = "the path is longer than Windows paths can be";
constexpr const char* kWhySlash = "the path is written with forward slashes";
constexpr const char* kWhyNotFull = "not a full path beginning with a drive letter";
constexpr const char* kWhyDriveRoot = "a drive root";
constexpr const char* kWhyDots = "the path has a \".\" or \"..\" element";
constexpr const char* kWhyShortName = "the path has a short (8.3) name element";
constexpr const char* kWhyOddName =
    "the path has an element Windows would rewrite (empty, ending in a dot or blank) or a "
    "character no name can hold";
constexpr const char* kWhyLinkOnTheWay = "the path passes through a link (never followed)";
constexpr const char* kWhyRefusedFolder =
    "the player's data folder as %s names it: not searched, %s";
constexpr const char* kWhyNotRemoved = "could not be removed (Windows error %ld)";
constexpr const char* kWhyInUse = "could not be removed: in use";
constexpr const char* kWhyNotPlayers =
    "not the player's: neither in its component index nor a file the player writes";
constexpr const char* kWhyLink = "a link, not in a component folder of the player's";
constexpr const char* kWhyNoIndex = "holds no component index of the player's";
constexpr const char* kWhyIndexUnread =
    "its component index could not be read, or is too large (over 1 MiB) to be the player's";
constexpr const char* kWhyBadEntry = "the component index lists \"%s\", which leaves its folder";
constexpr const char* kWhyNamedFile =
    "named by %s, but not provably the player's (not one of its plug-in file names)";
constexpr const char* kWhyNamedUnsound = "named by %s: %s";
constexpr const char* kWhyNamedNotFile = "named by %s, but not a plain file";

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
constexpr const char* kUsage =
    "usage: uninstaller [-q]\n"
    "Removes the Stellarix Player: its files in the data and component folders, its\n"
    "browser plug-ins, its control panel and its registry entries; nothing that is not\n"
    "provably the player's.\n"
    "  (nothing)       asks first, then removes the player\n"
    "  -q              removes the player without a question or a window\n"
    "  -h, --help, /?  shows this text\n"
    "What the removal had to leave of the player is listed in\n"
    "\"Stellarix Player uninstall.txt\" in the temporary folder, and the player's\n"
    "Add/Remove Programs entry is kept.\n";
constexpr const char* kHelpSwitches[] = {"-h", "--help", "/?"};
constexpr const char* kIncompleteText =
    "The Stellarix Player could not be removed completely. What was left, and why, is "
    "listed in %s. Mend that, then run the uninstaller again from Add/Remove Programs.";
constexpr const char* kIncompleteNoLogText =
    "The Stellarix Player could not be removed completely, and the list of what was left "
    "could not be written to the temporary folder. Run the uninstaller again from "
    "Add/Remove Programs.";
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
