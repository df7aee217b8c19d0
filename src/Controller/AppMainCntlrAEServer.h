// The application's side of the companion link on the bus: one object that
// answers the companion's calls for the controller.
#pragma once

#include <QDBusVirtualObject>

class AppMainCntlr;

namespace companion_link {

class Server : public QDBusVirtualObject {
public:
    explicit Server(AppMainCntlr& cntlr) : cntlr_(cntlr) {}
    ~Server() override;

    // Owns the application's bus name and serves its object; NO when the
    // name belongs to another process (nothing is served then).
    bool start();

    QString introspect(const QString& path) const override;
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

private:
    AppMainCntlr& cntlr_;
    bool registered_ = false;
};

} // namespace companion_link
