# The Windows version that introduced each system function a PE file of ours
# might import, for the functions newer than Windows NT 4.0; every import not
# listed here is taken to be as old as that. Versions are the system's own
# numbers (major.minor), named by sx_windows_version_name below.
#
# Only kernel32, advapi32, user32, gdi32, shell32 and comctl32 functions are
# listed; the C runtime (msvcrt.dll) is the one every version since Windows 98
# and NT 4.0 carries and is not checked here.
set(SX_WINDOWS_API_VERSIONS
  # Windows 2000
  GetFileSizeEx=5.0 SetFilePointerEx=5.0 GetLongPathNameA=5.0 GetLongPathNameW=5.0
  ReplaceFileA=5.0 ReplaceFileW=5.0 MoveFileWithProgressA=5.0 CreateHardLinkA=5.0
  GetSystemWindowsDirectoryA=5.0 GlobalMemoryStatusEx=5.0 VerifyVersionInfoA=5.0
  VerSetConditionMask=5.0 InitializeCriticalSectionAndSpinCount=5.0
  SetCriticalSectionSpinCount=5.0 GetComputerNameExA=5.0 CreateJobObjectA=5.0
  AssignProcessToJobObject=5.0 RegOpenCurrentUser=5.0 SHGetFolderPathA=5.0
  GetVolumePathNameA=5.0 FindFirstVolumeA=5.0 SetLayeredWindowAttributes=5.0
  AllowSetForegroundWindow=5.0 GetAncestor=5.0 AnimateWindow=5.0 UpdateLayeredWindow=5.0
  LockSetForegroundWindow=5.0 GetLastInputInfo=5.0 FlashWindowEx=5.0
  # Windows XP
  AddVectoredExceptionHandler=5.1 RemoveVectoredExceptionHandler=5.1
  AddVectoredContinueHandler=5.2 RemoveVectoredContinueHandler=5.2
  GetModuleHandleExA=5.1 GetModuleHandleExW=5.1 GetNativeSystemInfo=5.1
  IsWow64Process=5.1 AttachConsole=5.1 GetProcessId=5.1 SetDllDirectoryA=5.1
  SetDllDirectoryW=5.1 GetSystemTimes=5.1 InitializeSListHead=5.1
  InterlockedPushEntrySList=5.1 InterlockedPopEntrySList=5.1
  InterlockedFlushSList=5.1 CreateActCtxA=5.1 CreateActCtxW=5.1 ActivateActCtx=5.1
  DeactivateActCtx=5.1 ReleaseActCtx=5.1 GetCurrentActCtx=5.1
  CheckRemoteDebuggerPresent=5.1 GetProcessHandleCount=5.1
  # Windows Server 2003
  FlsAlloc=5.2 FlsFree=5.2 FlsGetValue=5.2 FlsSetValue=5.2
  # Windows Vista
  GetTickCount64=6.0 GetThreadId=6.0 GetProcessIdOfThread=6.0
  SetThreadStackGuarantee=6.0 InitOnceExecuteOnce=6.0 InitOnceBeginInitialize=6.0
  InitOnceComplete=6.0 InitializeSRWLock=6.0 AcquireSRWLockExclusive=6.0
  ReleaseSRWLockExclusive=6.0 AcquireSRWLockShared=6.0 ReleaseSRWLockShared=6.0
  InitializeConditionVariable=6.0 SleepConditionVariableCS=6.0
  SleepConditionVariableSRW=6.0 WakeConditionVariable=6.0
  WakeAllConditionVariable=6.0 InitializeCriticalSectionEx=6.0 CreateEventExA=6.0
  CreateEventExW=6.0 CreateMutexExA=6.0 CreateMutexExW=6.0 CreateSemaphoreExA=6.0
  CreateSemaphoreExW=6.0 CreateSymbolicLinkA=6.0 CreateSymbolicLinkW=6.0
  GetFinalPathNameByHandleA=6.0 GetFinalPathNameByHandleW=6.0
  QueryFullProcessImageNameA=6.0 QueryFullProcessImageNameW=6.0 CancelIoEx=6.0
  GetErrorMode=6.0 GetFileInformationByHandleEx=6.0
  SetFileInformationByHandle=6.0 GetLocaleInfoEx=6.0 CompareStringEx=6.0
  LCIDToLocaleName=6.0 GetUserDefaultLocaleName=6.0
  GetDynamicTimeZoneInformation=6.0 GetCurrentProcessorNumber=6.0
  InterlockedCompareExchange64=6.0 RegGetValueA=6.0 RegGetValueW=6.0
  RegDeleteKeyExA=6.0 RegDeleteTreeA=6.0 RegSetKeyValueA=6.0
  SHGetKnownFolderPath=6.0 TaskDialog=6.0 TaskDialogIndirect=6.0
  SetProcessDPIAware=6.0
  # Windows 7
  TryAcquireSRWLockExclusive=6.1 TryAcquireSRWLockShared=6.1
  CreateRemoteThreadEx=6.1 K32EnumProcessModules=6.1 K32GetModuleFileNameExA=6.1
  # Windows 8
  GetSystemTimePreciseAsFileTime=6.2 CreateFile2=6.2 WaitOnAddress=6.2
  WakeByAddressSingle=6.2 WakeByAddressAll=6.2
  # Windows 10
  SetThreadDescription=10.0 GetThreadDescription=10.0)

# Windows 95/98 run on another kernel, with a version number (4.10 for 98) of
# its own line. Its kernel32 exports most wide-character (...W) functions and
# a few NT ones only as stubs that fail with ERROR_CALL_NOT_IMPLEMENTED: a
# file importing them loads, and those calls fail. These few wide ones are
# implemented there.
set(SX_WINDOWS_98_WIDE_IMPLEMENTED
  lstrlenW GetTextExtentPoint32W TextOutW ExtTextOutW MessageBoxW MessageBoxExW
  GetCharWidthW EnumResourceLanguagesW FindResourceW FindResourceExW GetCommandLineW)
# NT functions Windows 95/98 export only as failing stubs.
set(SX_WINDOWS_98_STUBS MoveFileExA)

function(sx_windows_version_name version out)
  set(names 4.0 "Windows NT 4.0" 5.0 "Windows 2000" 5.1 "Windows XP" 5.2
            "Windows Server 2003" 6.0 "Windows Vista" 6.1 "Windows 7" 6.2 "Windows 8"
            6.3 "Windows 8.1" 10.0 "Windows 10")
  list(FIND names "${version}" at)
  if(at LESS 0)
    set(${out} "Windows ${version}" PARENT_SCOPE)
  else()
    math(EXPR at "${at} + 1")
    list(GET names ${at} name)
    set(${out} "${name}" PARENT_SCOPE)
  endif()
endfunction()
