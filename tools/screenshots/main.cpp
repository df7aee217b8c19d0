// kd_screenshots: renders every registered scene (ui/Screenshots.h)
// offscreen to <output>/<name>.png, and <name>.rtl.png for scenes that want
// right-to-left layout too, with an index.html listing them.
//
//   kd_screenshots --output <folder> [--filter <text>] [--list]
#include <ui/Screenshots.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QImageWriter>
#include <QTextStream>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

int usage() {
    std::fprintf(stderr, "usage: kd_screenshots --output <folder> [--filter <text>] [--list]\n");
    return 2;
}

// The environment variable set for the scope, restored afterwards.
class EnvScope {
public:
    EnvScope(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old, had_ = true;
        ::setenv(name, value, 1);
    }
    ~EnvScope() {
        if (had_) ::setenv(name_, old_.c_str(), 1);
        else ::unsetenv(name_);
    }
    EnvScope(const EnvScope&) = delete;
    EnvScope& operator=(const EnvScope&) = delete;

private:
    const char* name_;
    std::string old_;
    bool had_ = false;
};

bool writePicture(const kdui::ScreenshotScene& scene, bool rightToLeft, const QString& path) {
    std::vector<QWidget*> windows;
    {
        std::unique_ptr<EnvScope> language;
        if (rightToLeft) {
            language = std::make_unique<EnvScope>("LANGUAGE", "ar");
            QApplication::setLayoutDirection(Qt::RightToLeft);
        }
        windows = scene.build();
        const QImage picture = kdui::renderScreenshotWindows(windows);
        for (QWidget* w : windows) delete w;
        QApplication::setLayoutDirection(Qt::LeftToRight);
        if (picture.isNull()) {
            std::fprintf(stderr, "kd_screenshots: scene %s made no picture\n", scene.name.c_str());
            return false;
        }
        QDir().mkpath(QFileInfo(path).path());
        QImageWriter writer(path, "png");
        if (!writer.write(picture)) {
            std::fprintf(stderr, "kd_screenshots: cannot write %s: %s\n", qPrintable(path),
                         qPrintable(writer.errorString()));
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QString output, filter;
    bool list = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--output" && i + 1 < argc) output = QString::fromLocal8Bit(argv[++i]);
        else if (arg == "--filter" && i + 1 < argc) filter = QString::fromLocal8Bit(argv[++i]);
        else if (arg == "--list") list = true;
        else return usage();
    }
    if (!list && output.isEmpty()) return usage();

    // Headless, and the same pixels on every machine.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::unsetenv("QT_SCALE_FACTOR");
    QApplication app(argc, argv);
    app.setFont(QFont(QStringLiteral("DejaVu Sans")));

    const auto scenes = kdui::screenshotScenes();
    if (list) {
        for (const auto& scene : scenes) std::printf("%s\n", scene.name.c_str());
        return 0;
    }

    QDir().mkpath(output);
    QString html;
    QTextStream index(&html);
    index << "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Screenshots</title>"
             "<style>body{font-family:sans-serif;background:#ddd}figure{display:inline-block;margin:8px}"
             "</style></head><body>\n";
    int count = 0;
    bool ok = true;
    for (const auto& scene : scenes) {
        const QString name = QString::fromStdString(scene.name);
        if (!filter.isEmpty() && !name.contains(filter)) continue;
        for (const bool rtl : {false, true}) {
            if (rtl && scene.direction != kdui::Direction::Both) continue;
            const QString file = name + (rtl ? ".rtl.png" : ".png");
            if (!writePicture(scene, rtl, QDir(output).filePath(file))) {
                ok = false;
                continue;
            }
            ++count;
            index << "<figure><img src=\"" << file.toHtmlEscaped() << "\"><figcaption>" << file.toHtmlEscaped()
                  << "</figcaption></figure>\n";
        }
    }
    index << "</body></html>\n";
    QFile file(QDir(output).filePath("index.html"));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(html.toUtf8()) < 0) {
        std::fprintf(stderr, "kd_screenshots: cannot write index.html\n");
        ok = false;
    }
    std::printf("screenshots: %d pictures in %s\n", count, qPrintable(QDir(output).absolutePath()));
    return ok ? 0 : 1;
}
