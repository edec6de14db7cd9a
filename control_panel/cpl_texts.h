// Every text the graphics settings panel shows or stores, in one place so
// they can be reviewed together.
#pragma once

namespace sx::cpl {

// Registry: the player's key under HKEY_LOCAL_MACHINE and its values.
inline constexpr char kPlayerKey[] = "SOFTWARE\\Stellarix\\Stellarix3D";
inline constexpr char kRasterizersValue[] = "Rasterizers";
inline constexpr char kLastRasterizerValue[] = "LastRasterizer";
inline constexpr char kLastVideoCardValue[] = "VideoCard_LastUsed";
inline constexpr char kVideoCardOpenGlValue[] = "VideoCard_OpenGL";
inline constexpr char kVideoCardDirect3DValue[] = "VideoCard_Direct3D";
inline constexpr char kLauncherPathValue[] = "SkiffPath";
inline constexpr char kTestAppletValue[] = "TestSXVMPath";
inline constexpr char kWindowsVersionKey[] = "System\\CurrentControlSet\\Control\\Windows";
inline constexpr char kServicePackValue[] = "CSDVersion";

inline constexpr char kNotAvailable[] = "N/A";

// Captions.
inline constexpr char kErrorCaption[] = "Stellarix Error";
inline constexpr char kPageErrorCaption[] = "Stellarix Error.";
inline constexpr char kPanelCaption[] = "Stellarix Control Panel";
inline constexpr char kQuestionCaption[] = "Stellarix";
inline constexpr char kSheetCaption[] = "Stellarix 3D Player Settings";

// Rasterizer list.
inline constexpr char kKeyCreateFailed[] = "Failed to create Stellarix3D Registry Key.";
inline constexpr char kListCreateFailed[] = "Couldn't create rasterizers list registry entry.";
inline constexpr char kNothingChecked[] = "You must select at least one rasterizer.";
// Our own: a list that could not be written is never reported as saved.
inline constexpr char kListSaveFailed[] =
    "The rasterizer list could not be saved.  You may need administrator rights to change it.";

// Rasterizers page.
inline constexpr char kResetQuestion[] = "Are you sure you wish to reset to the default values?";
inline constexpr char kNothingToTest[] = "You must select a rasterizer to test.";
inline constexpr char kNoLauncher[] =
    "Failed to find path to the Stellarix player.  Please reinstall the player.";
inline constexpr char kNoTestApplet[] =
    "Failed to find path to the test SXVM file.  Please reinstall the player.";
inline constexpr char kLaunchFailed[] =
    "Could not launch Stellarix player.  Please reinstall the player.";
// Our own: a test command line that would not fit is never cut short.
inline constexpr char kCommandTooLong[] =
    "The paths of the Stellarix player and of the test SXVM file are too long to start the "
    "test.  Please reinstall the player in a folder with a shorter path.";
inline constexpr char kTestCommandFormat[] = "\"%s\" \"%s\" -renderer %s";

// Stereo page.
inline constexpr char kStereoEnableSetting[] = "Stereo/Enable";
inline constexpr char kEyeSeparationSetting[] = "Stereo/EyeSeparation";
inline constexpr char kStereoNote[] =
    "NOTE:\n\nOpenGL 3D Stereo support requires that OpenGL is the rasterizer that is selected "
    "by the Stellarix graphics system at runtime.  This will require that you have appropriate "
    "OpenGL drivers for your system, and that OpenGL is at the top of the rasterizer list (or "
    "that it is the only rasterizer enabled).\n\nIn addition, this feature requires that your "
    "OpenGL implementation supports stereo graphics modes, and that you have appropriate "
    "hardware, such as stereographic glasses.";

// Advanced page.
inline constexpr char kOverlaySignedSetting[] = "OverlaySignedStatus";
inline constexpr char kProcessorUsageSetting[] = "ProcessorUsage";
inline constexpr char kAlwaysInstallValue[] = "AlwaysInstall";
inline constexpr char kSignedStatusRow[] = "Display the signed/unsigned status of the applet";
inline constexpr char kAlwaysInstallRow[] = "Automatically install necessary components";

// About page.
inline constexpr char kLegalComponent[] = "legalinfo";
inline constexpr char kLegalFileKey[] = "legalinfo";
inline constexpr char kLegalFileMissing[] = "Error reading legal info file.";
inline constexpr char kTitleFontFace[] = "MS Sans Serif";
inline constexpr char kWebSiteAddress[] = "http://www.stellarix.example/";
inline constexpr char kHtmlFileType[] = ".htm";
inline constexpr char kOpenCommandSuffix[] = "\\shell\\open\\command";

// Our own: settings that could not be stored are never counted as saved,
// and the way out is named.
inline constexpr char kSettingsSaveFailed[] =
    "The settings could not be saved.  You may need administrator rights to change them.  "
    "Cancel closes the settings without saving them.";

// Install hook.
inline constexpr char kTestAppletEntry[] = "fish";
inline constexpr char kPanelFileName[] = "stellarix.cpl";
inline constexpr char kRunOnceKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
inline constexpr char kPanelRemovalValue[] = "Remove Stellarix control panel";

}  // namespace sx::cpl
