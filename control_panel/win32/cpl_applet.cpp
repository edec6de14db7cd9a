// stellarix.cpl: the Control Panel's entry point and the settings sheet.
#include <windows.h>

#include <commctrl.h>
#include <cpl.h>

#include <string>

#include "components/data_directories.h"
#include "control_panel/about_page.h"
#include "control_panel/config_report.h"
#include "control_panel/cpl_texts.h"
#include "control_panel/rasterizers_page.h"
#include "control_panel/resource.h"
#include "control_panel/settings_pages.h"
#include "control_panel/sheet_template.h"
#include "control_panel/win32/short_path.h"
#include "ui/win32/dialog.h"

namespace sx::cpl {
namespace {

// The library's state from load to unload: where its resources are, the
// text of the last configuration report, and what the pages remember between
// showings of the sheet.
struct AppletModule {
    HINSTANCE instance = nullptr;
    std::string report;
    PanelMemory memory;
};
AppletModule g_module;

// The Rasterizers page with the window-side services: short paths and the
// report dialog, owned by the page.
class SheetRasterizersPage : public RasterizersPage {
public:
    SheetRasterizersPage()
        : RasterizersPage({.shorten_path = shorten_path,
                           .show_report =
                               [this](const std::string& report) {
                                   ConfigReportDialog dialog(report);
                                   ui::run_modal_dialog(g_module.instance, IDD_CONFIG_REPORT,
                                                        window_, dialog);
                               },
                           .report = &g_module.report}) {}

    bool init(ui::DialogView& view) override {
        window_ = static_cast<ui::Win32View&>(view).window();
        return RasterizersPage::init(view);
    }

private:
    HWND window_ = nullptr;
};

int CALLBACK sheet_callback(HWND, UINT message, LPARAM lparam) {
    if (message == PSCB_PRECREATE && lparam) adjust_sheet_template(reinterpret_cast<void*>(lparam));
    return 0;
}

// Version 6 of the common controls for our windows, whatever the host
// process asked for. Activation contexts came with Windows XP: looked up at
// run time, so that the panel still loads, with the system's own controls,
// on Windows 2000 and older.
class ControlsContext {
public:
    explicit ControlsContext(HINSTANCE module) {
        HMODULE kernel = GetModuleHandleA("kernel32.dll");
        if (!kernel) return;
        create_ = reinterpret_cast<CreateProc>(
            reinterpret_cast<void*>(GetProcAddress(kernel, "CreateActCtxA")));
        activate_ = reinterpret_cast<ActivateProc>(
            reinterpret_cast<void*>(GetProcAddress(kernel, "ActivateActCtx")));
        deactivate_ = reinterpret_cast<DeactivateProc>(
            reinterpret_cast<void*>(GetProcAddress(kernel, "DeactivateActCtx")));
        release_ = reinterpret_cast<ReleaseProc>(
            reinterpret_cast<void*>(GetProcAddress(kernel, "ReleaseActCtx")));
        if (!create_ || !activate_ || !deactivate_ || !release_) return;
        char path[MAX_PATH];
        if (!GetModuleFileNameA(module, path, sizeof path)) return;
        ACTCTXA request{};
        request.cbSize = sizeof request;
        request.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
        request.lpSource = path;
        request.hModule = module;
        request.lpResourceName = MAKEINTRESOURCEA(2);
        context_ = create_(&request);
        if (context_ == INVALID_HANDLE_VALUE) return;
        if (!activate_(context_, &cookie_)) cookie_ = 0;
    }
    ~ControlsContext() {
        if (context_ == INVALID_HANDLE_VALUE) return;
        if (cookie_) deactivate_(0, cookie_);
        release_(context_);
    }
    ControlsContext(const ControlsContext&) = delete;
    ControlsContext& operator=(const ControlsContext&) = delete;

private:
    using CreateProc = HANDLE(WINAPI*)(const ACTCTXA*);
    using ActivateProc = BOOL(WINAPI*)(HANDLE, ULONG_PTR*);
    using DeactivateProc = BOOL(WINAPI*)(DWORD, ULONG_PTR);
    using ReleaseProc = void(WINAPI*)(HANDLE);
    CreateProc create_ = nullptr;
    ActivateProc activate_ = nullptr;
    DeactivateProc deactivate_ = nullptr;
    ReleaseProc release_ = nullptr;
    HANDLE context_ = INVALID_HANDLE_VALUE;
    ULONG_PTR cookie_ = 0;
};

void run_settings_sheet(HWND owner) {
    ControlsContext context(g_module.instance);
    ui::init_common_controls();
    SheetRasterizersPage rasterizers;
    StereoPage stereo(panel_settings_path());
    AdvancedPage advanced(panel_settings_path(), g_module.memory);
    AboutPage about;
    const struct {
        int template_id;
        ui::Page* page;
    } order[] = {{IDD_RASTERIZERS, &rasterizers},
                 {IDD_STEREO, &stereo},
                 {IDD_ADVANCED, &advanced},
                 {IDD_ABOUT, &about}};
    HPROPSHEETPAGE pages[4] = {};
    for (int i = 0; i < 4; ++i) {
        PROPSHEETPAGEA record =
            ui::sheet_page_record(g_module.instance, order[i].template_id, *order[i].page);
        pages[i] = CreatePropertySheetPageA(&record);
        if (!pages[i]) {
            for (int j = 0; j < i; ++j) DestroyPropertySheetPage(pages[j]);
            return;
        }
    }
    PROPSHEETHEADERA header{};
    header.dwSize = sizeof header;
    header.dwFlags = PSH_USEICONID | PSH_USECALLBACK;
    header.hwndParent = owner;
    header.hInstance = g_module.instance;
    header.pszIcon = MAKEINTRESOURCEA(IDI_STELLARIX);
    header.pszCaption = kSheetCaption;
    header.nPages = 4;
    header.nStartPage = 0;
    header.phpage = pages;
    header.pfnCallback = sheet_callback;
    PropertySheetA(&header);
}

LONG applet_message(HWND owner, UINT message, LPARAM lparam2) {
    switch (message) {
        case CPL_INIT:
            register_component_directories();
            return 1;
        case CPL_GETCOUNT:
            return 1;
        case CPL_INQUIRE: {
            auto* info = reinterpret_cast<CPLINFO*>(lparam2);
            if (info) {
                info->idIcon = IDI_STELLARIX;
                info->idName = IDS_APPLET_NAME;
                info->idInfo = IDS_APPLET_DESCRIPTION;
                info->lData = 0;
            }
            return 0;
        }
        case CPL_DBLCLK:
            run_settings_sheet(owner);
            return 0;
        default:
            return 0;
    }
}

}  // namespace
}  // namespace sx::cpl

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        sx::cpl::g_module.instance = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

// Exported undecorated (see stellarix.def): the Control Panel looks it up by
// its plain name.
extern "C" LONG CALLBACK CPlApplet(HWND owner, UINT message, LPARAM lparam1, LPARAM lparam2) {
    (void)lparam1;
    try {
        return sx::cpl::applet_message(owner, message, lparam2);
    } catch (...) {
        return 0;
    }
}
