// What the destination tests share: a private home with its XDG folders, an
// offscreen application whose Qt loop drives the main run loop, the
// plug-ins loaded from the application's plug-in folder, users put in and
// read back through the "Plugins" defaults, and a scripted user who answers
// alerts and works windows while a plug-in call runs modally.
#pragma once

#include "PluginTestHost.h"

#include <foundation/UserDefaults.h>
#include <ui/QtRunLoop.h>
#include <ui/ViewTag.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QTimer>

#include <chrono>
#include <deque>
#include <filesystem>
#include <functional>
#include <thread>

namespace kdtest {

namespace fs = std::filesystem;

// The home of the whole program; the worker's pauses are cut to a tenth.
class DestinationEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        auto& env = PluginTestEnvironment::home().env();
        const fs::path root = PluginTestEnvironment::home().root();
        env.set("XDG_DATA_HOME", (root / "data").string());
        env.set("XDG_DATA_DIRS", (root / "system").string());
        env.set("XDG_CURRENT_DESKTOP", std::nullopt);
        env.set("DESKTOP_SESSION", std::nullopt);
        env.set("KDE_FULL_SESSION", std::nullopt);
        env.set("GNOME_DESKTOP_SESSION_ID", std::nullopt);
        env.set("DBUS_SESSION_BUS_ADDRESS", std::nullopt);
        env.set("KD_PLUGIN_PAUSE_SCALE", "0.05");
        fs::create_directories(root / "data" / "applications");
        fs::create_directories(root / "system" / "applications");
        kdui::installQtRunLoopDriver();
    }
    static DestinationEnvironment& instance() {
        PluginTestEnvironment::instance();
        static DestinationEnvironment* environment = [] {
            auto* e = new DestinationEnvironment;
            ::testing::AddGlobalTestEnvironment(e);
            return e;
        }();
        return *environment;
    }
};

inline fs::path homeRoot() { return PluginTestEnvironment::home().root(); }

inline std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

inline void writeExecutable(const fs::path& path, const std::string& body) {
    TempHome::writeText(path, "#!/bin/sh\n" + body);
    fs::permissions(path, fs::perms::owner_all);
}

// The text once it holds the wanted number of lines "--" (a few seconds at
// most): a program started detached has written its record.
inline std::string waitForRecord(const fs::path& log, int records) {
    std::string text;
    for (int i = 0; i < 500; ++i) {
        text = TempHome::readText(log);
        int ends = 0;
        for (std::size_t at = 0; (at = text.find("--\n", at)) != std::string::npos; at += 3) ++ends;
        if (ends >= records) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return text;
}

// One user of the plug-in, stored under its key before connect.
inline void storeUsers(const char* pluginKey, const std::vector<kdf::Dictionary>& users,
                       std::optional<bool> showRename = std::nullopt) {
    kdf::Array list;
    for (const auto& u : users) list.emplace_back(u);
    kdf::Dictionary entry;
    entry["UserList"] = kdf::Value(std::move(list));
    if (showRename) entry["ShowRenameWindow"] = *showRename;
    kdf::Dictionary all;
    all[pluginKey] = kdf::Value(std::move(entry));
    const std::optional<kdf::Value> plugins(std::in_place, std::move(all));
    setPluginsDefaults(plugins);
}

// The first stored user of the plug-in (after disconnect).
inline kdf::Dictionary storedUser(const char* pluginKey) {
    const std::optional<kdf::Value> plugins = pluginsDefaults();
    const kdf::Dictionary* all = plugins ? plugins->dictionary() : nullptr;
    const kdf::Value* entry = all ? kdf::find(*all, pluginKey) : nullptr;
    const kdf::Value* list = entry && entry->dictionary() ? kdf::find(*entry->dictionary(), "UserList") : nullptr;
    if (!list || !list->array() || list->array()->empty() || !list->array()->front().dictionary()) return {};
    return *list->array()->front().dictionary();
}

inline std::optional<std::string> stringOf(const kdf::Dictionary& d, const std::string& key) {
    const kdf::Value* v = kdf::find(d, key);
    if (!v || !v->string()) return std::nullopt;
    return *v->string();
}

// The visible top-level window of that object name.
inline QWidget* visibleWindow(const char* objectName) {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && w->objectName() == objectName) return w;
    return nullptr;
}

inline QString labelText(QWidget* window, int tag) {
    auto* label = window ? qobject_cast<QLabel*>(kdui::viewWithTag(window, tag)) : nullptr;
    return label ? label->text() : QString();
}

inline void clickTag(QWidget* window, int tag) {
    if (auto* button = window ? qobject_cast<QAbstractButton*>(kdui::viewWithTag(window, tag)) : nullptr)
        button->click();
}

// Runs the event loop until the condition holds (two seconds at most).
inline bool waitUntil(const std::function<bool()>& condition) {
    for (int i = 0; i < 400 && !condition(); ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return condition();
}

// A scripted user: every few milliseconds, while a plug-in call runs, the
// first step whose window is up is taken. An alert step records the alert's
// text and clicks the button at its index; a window step runs its action
// on the window. Steps are taken in order; once all are taken, further
// alerts are answered with their first button and recorded too.
class ScriptedUser {
    class ShowFilter : public QObject {
    public:
        ShowFilter(const char* name, std::function<void(QWidget*)> action) : name_(name), action_(std::move(action)) {}

    protected:
        bool eventFilter(QObject* watched, QEvent* event) override {
            if (event->type() == QEvent::Show && watched->isWidgetType() && watched->objectName() == name_)
                action_(static_cast<QWidget*>(watched));
            return false;
        }

    private:
        QString name_;
        std::function<void(QWidget*)> action_;
    };

public:
    struct Step {
        const char* window = nullptr; // object name; null for an alert
        std::function<void(QWidget*)> action;
        int button = 0;               // for an alert
    };
    ScriptedUser() {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this] { poll(); });
        timer_.start();
    }
    void alert(int button, std::function<void()> before = {}) {
        steps_.push_back({nullptr, [before](QWidget*) {
                              if (before) before();
                          },
                          button});
    }
    void window(const char* name, std::function<void(QWidget*)> action) { steps_.push_back({name, action, 0}); }
    // Runs the action each time a window of that name is shown, at once
    // (before any event of the modal run that shows it).
    void onShow(const char* name, std::function<void(QWidget*)> action) {
        auto* filter = new ShowFilter(name, std::move(action));
        filter->setParent(&timer_);
        qApp->installEventFilter(filter);
    }
    // The texts of the alerts shown, in order.
    const QStringList& alerts() const { return alerts_; }
    bool done() const { return steps_.empty(); }

private:
    void poll() {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()); box && box->isVisible()) {
            if (box->property("kdAnswered").toBool()) return;
            box->setProperty("kdAnswered", true);
            int button = 0;
            std::function<void(QWidget*)> action;
            if (!steps_.empty() && !steps_.front().window) {
                action = steps_.front().action;
                button = steps_.front().button;
                steps_.pop_front();
            }
            alerts_ << box->informativeText();
            if (action) action(nullptr);
            const QList<QAbstractButton*> buttons = box->buttons();
            if (button < buttons.size()) buttons[button]->click();
        } else if (!steps_.empty() && steps_.front().window) {
            if (QWidget* w = visibleWindow(steps_.front().window)) {
                std::function<void(QWidget*)> action = steps_.front().action;
                steps_.pop_front();
                // Outside this poll: the timer is not fired again while
                // its slot runs, and the action may start a modal run.
                QTimer::singleShot(0, w, [action, w] { action(w); });
            }
        }
    }
    QTimer timer_;
    std::deque<Step> steps_;
    QStringList alerts_;
};

} // namespace kdtest
