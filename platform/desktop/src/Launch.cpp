#include "desktop/Launch.h"

#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>

namespace kdd {

namespace {

struct AppInfo {
    GDesktopAppInfo* info = nullptr;
    explicit AppInfo(const std::string& path) : info(g_desktop_app_info_new_from_filename(path.c_str())) {}
    ~AppInfo() {
        if (info) g_object_unref(info);
    }
    AppInfo(const AppInfo&) = delete;
    AppInfo& operator=(const AppInfo&) = delete;
};

void setError(std::string* error, std::string message) {
    if (error) *error = std::move(message);
}

} // namespace

bool isLaunchableDesktopEntry(const std::string& entryPath) {
    // GIO refuses entries without Exec and entries whose TryExec is not
    // installed; a Hidden entry counts as deleted.
    AppInfo app(entryPath);
    if (!app.info || g_desktop_app_info_get_is_hidden(app.info)) return false;
    const char* program = g_app_info_get_executable(G_APP_INFO(app.info));
    if (!program || !*program) return false;
    gchar* found = g_find_program_in_path(program);
    const bool installed = found != nullptr;
    g_free(found);
    return installed;
}

bool launchDesktopEntry(const std::string& entryPath, const std::vector<std::string>& files, std::string* error) {
    if (files.empty()) {
        setError(error, "no file to open");
        return false;
    }
    if (!isLaunchableDesktopEntry(entryPath)) {
        setError(error, "not a launchable application: " + entryPath);
        return false;
    }
    AppInfo app(entryPath);
    GList* list = nullptr;
    for (const std::string& file : files) list = g_list_append(list, g_file_new_for_path(file.c_str()));
    GError* failure = nullptr;
    // Without a launch context and without reaping flags: GIO starts the
    // program in a child it does not keep, so nothing waits for it to end.
    const gboolean launched = g_app_info_launch(G_APP_INFO(app.info), list, nullptr, &failure);
    g_list_free_full(list, g_object_unref);
    if (!launched) {
        setError(error, failure && failure->message ? failure->message : "launch failed");
        if (failure) g_error_free(failure);
        return false;
    }
    return true;
}

} // namespace kdd
