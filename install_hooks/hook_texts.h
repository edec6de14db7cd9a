// Every registry key, value name and fixed text the install hooks write.
#pragma once

namespace sx::hooks {

// Entry keys the component installer hands to each hook.
inline constexpr char kSkiffKey[] = "skiff";
inline constexpr char kUninstallerKey[] = "uninstaller";

// The applet file type.
inline constexpr char kAppletExtensionKey[] = ".sxvm";
inline constexpr char kAppletClass[] = "StellarixBytecode";
inline constexpr char kContentTypeName[] = "Content Type";
inline constexpr char kAppletContentType[] = "application/x-Stellarix-3D-Applet";
inline constexpr char kAppletClassDescription[] = "Stellarix Bytecode File";
inline constexpr char kDefaultIconKey[] = "StellarixBytecode\\DefaultIcon";
inline constexpr char kOpenCommandKey[] = "StellarixBytecode\\shell\\open\\command";
inline constexpr char kIconFormat[] = "%s,%d";
// The launcher's second icon group is the applet file icon.
inline constexpr int kAppletIconIndex = 1;
inline constexpr char kOpenCommandFormat[] = "\"%s\" \"%%1\"";
inline constexpr char kPlayerSoftwareKey[] = "SOFTWARE\\Stellarix\\Stellarix3D";
inline constexpr char kSkiffPathName[] = "SkiffPath";

// Add/Remove Programs.
inline constexpr char kOlderUninstallKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Stellarix3D Player";
inline constexpr char kUninstallKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Stellarix 3D Player";
inline constexpr char kDisplayNameName[] = "DisplayName";
inline constexpr char kDisplayName[] = "Stellarix 3D Player Version 2.2.1";
inline constexpr char kDisplayVersionName[] = "DisplayVersion";
inline constexpr char kDisplayVersion[] = "Version 2.2.1";
inline constexpr char kPublisherName[] = "Publisher";
inline constexpr char kUninstallStringName[] = "UninstallString";
inline constexpr char kInstallLocationName[] = "InstallLocation";
inline constexpr char kHelpLinkName[] = "HelpLink";
inline constexpr char kUrlInfoAboutName[] = "URLInfoAbout";

}  // namespace sx::hooks
